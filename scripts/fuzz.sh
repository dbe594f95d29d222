#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (address and undefined-behaviour sanitizers on)
# and runs each for FUZZ_SECONDS seconds (default 20) from its seed corpus in fuzz/corpus/.
# Fails when a target finds a crash, a leak or undefined behaviour.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
[ "$seconds" = 0 ] && exit 0
jobs=${VANTREL_JOBS:-$(nproc)}

cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
  -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs"

for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  echo "== fuzzing $name for ${seconds}s"
  log=build/fuzz/$name.log
  if ! scripts/in-netns.sh "$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
       -artifact_prefix=build/fuzz/"$name"- "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $name failed"
    exit 1
  fi
  tail -n 1 "$log"
done
