#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, and the ThreadSanitizer build, each run inside a private
# network namespace; then the Windows build under Wine (scripts/test-windows.sh); then runs the
# fuzz targets for a bounded time.
#
# Environment: VANTREL_JOBS (parallel build jobs, default: cores), FUZZ_SECONDS (per target,
# default 20; 0 skips fuzzing), VANTREL_SKIP_SANITIZE=1 (normal build only, for quick local runs).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=${VANTREL_JOBS:-$(nproc)}

# build_and_test DIR CTEST_JOBS [CTEST_ARGS... --] CMAKE_ARGS...
build_and_test() {
  local dir=$1 test_jobs=$2; shift 2
  local ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do ctest_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests in $dir"
  scripts/in-netns.sh ctest --test-dir "$dir" --output-on-failure -j "$test_jobs" --timeout 300 \
    "${ctest_args[@]}"
}

build_and_test build/release "$jobs" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
  build_and_test build/sanitize "$jobs" -- -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON
  # ThreadSanitizer slows threads by an order of magnitude: one test at a time, so the tests'
  # waits stay meaningful. Death tests fork, which it does not support, and counting the
  # process's threads means nothing beside its own helper thread. The image tests read files
  # through OpenImageIO in the test process: its thread pool is not instrumented, so the
  # sanitizer takes its hand-offs for races (and then hangs in the report); the web view
  # converts frames through it too.
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
  build_and_test build/tsan 1 -E "Death|InitAndUninitLeaveNoThreadBehind|ToolImportExport|ImageFolder|WebView" -- \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TSAN=ON
fi
# The Windows build of the library, its tests under Wine (and against this tree's Linux server).
VANTREL_JOBS=$jobs scripts/test-windows.sh
scripts/fuzz.sh
