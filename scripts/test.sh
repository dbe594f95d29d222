#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the AddressSanitizer and
# UndefinedBehaviorSanitizer build, each run inside a private network namespace; then runs the
# fuzz targets for a bounded time.
#
# Environment: VANTREL_JOBS (parallel build jobs, default: cores), FUZZ_SECONDS (per target,
# default 20; 0 skips fuzzing), VANTREL_SKIP_SANITIZE=1 (normal build only, for quick local runs).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=${VANTREL_JOBS:-$(nproc)}

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests in $dir"
  scripts/in-netns.sh ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

build_and_test build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
  build_and_test build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON
fi
scripts/fuzz.sh
