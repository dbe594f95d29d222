#!/usr/bin/env bash
# Runs every libFuzzer target for a long time, several at once, and prints what each covered
# and found.
#
#   scripts/fuzz-long.sh SECONDS_PER_TARGET [OUTPUT_DIR]
#
# OUTPUT_DIR (default /var/tmp/vantrel-fuzz) is kept between runs, outside the source tree:
#   corpus/fuzz_NAME/   the corpus each target grew (seeded from fuzz/corpus/fuzz_NAME/)
#   crashes/fuzz_NAME/  crash-, leak-, timeout- and oom- files that reproduce a finding
#   logs/fuzz_NAME.log  the fuzzer's output
#   summary.txt         the table printed at the end
# A target that finds something is started again on its corpus until its time is used up, so
# one finding does not end a long run. Reproduce a finding with
#   build/fuzz/fuzz/fuzz_NAME OUTPUT_DIR/crashes/fuzz_NAME/crash-...
# and, once it is mended, copy the file into fuzz/corpus/fuzz_NAME/ as a seed.
#
# Environment: FUZZ_JOBS targets at once (default: the number of cores), FUZZ_TARGETS names
# to run (default: all, e.g. "reply attr_stream"), FUZZ_SKIP_BUILD=1 to use build/fuzz as it
# is. Run it at low priority on a shared machine: nice -n 19 scripts/fuzz-long.sh 3600.
# Fails (exit 1) when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: $0 SECONDS_PER_TARGET [OUTPUT_DIR]" >&2
  exit 2
fi
seconds=$1
out=$(realpath -m "${2:-/var/tmp/vantrel-fuzz}")
case "$out/" in
  "$PWD"/*) echo "$0: keep OUTPUT_DIR outside the source tree" >&2; exit 2 ;;
esac
jobs=${FUZZ_JOBS:-$(nproc)}

if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
    -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs"
fi

targets=()
if [ -n "${FUZZ_TARGETS:-}" ]; then
  for name in $FUZZ_TARGETS; do targets+=("build/fuzz/fuzz/fuzz_${name#fuzz_}"); done
else
  for target in build/fuzz/fuzz/fuzz_*; do [ -x "$target" ] && targets+=("$target"); done
fi
mkdir -p "$out/corpus" "$out/crashes" "$out/logs" "$out/stats"

# Fuzzes one target for `seconds` in all, starting it again after each finding.
run_target() {
  local target=$1 name
  name=$(basename "$target")
  local corpus=$out/corpus/$name crashes=$out/crashes/$name log=$out/logs/$name.log
  local stats=$out/stats/$name
  mkdir -p "$corpus" "$crashes"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  : >"$log"
  local end=$((SECONDS + seconds)) runs=0 left found
  while left=$((end - SECONDS)); [ "$left" -gt 0 ]; do
    found=$(find "$crashes" -type f | wc -l)
    scripts/in-netns.sh "$target" -max_total_time="$left" -rss_limit_mb=2048 -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" >"$log.run" 2>&1 || true
    cat "$log.run" >>"$log"
    runs=$((runs + $(sed -n 's/^stat::number_of_executed_units: *//p' "$log.run" | tail -n 1 |
                     grep . || echo 0)))
    # Only a finding (a new file in the crash folder) starts the target again.
    [ "$(find "$crashes" -type f | wc -l)" -gt "$found" ] || break
    echo "---- started again after a finding" >>"$log"
  done
  rm -f "$log.run"
  local last cov ft
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  echo "$name ${runs} ${cov:-?} ${ft:-?} $(find "$corpus" -type f | wc -l) \
$(du -sk "$corpus" | cut -f1) $(find "$crashes" -type f | wc -l)" >"$stats"
}

echo "== fuzzing ${#targets[@]} targets for ${seconds}s each, $jobs at a time, into $out"
running=0
for target in "${targets[@]}"; do
  if [ ! -x "$target" ]; then echo "no such target: $target" >&2; exit 2; fi
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

{
  printf '%-26s %12s %7s %8s %8s %10s %8s\n' target runs cov features corpus corpus_kb crashes
  for target in "${targets[@]}"; do
    read -r name runs cov ft files kb crashes <"$out/stats/$(basename "$target")"
    printf '%-26s %12s %7s %8s %8s %10s %8s\n' "$name" "$runs" "$cov" "$ft" "$files" "$kb" "$crashes"
  done
} | tee "$out/summary.txt"

found=$(cat "$out"/stats/* | awk '{ n += $7 } END { print n + 0 }')
if [ "$found" -gt 0 ]; then
  echo "findings: $found; see $out/crashes/"
  exit 1
fi
