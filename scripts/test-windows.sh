#!/usr/bin/env bash
# Cross-builds the client library for Windows x86-64 with MinGW-w64 (build/windows: the DLL and
# its import library, the portable unit tests, the examples) and runs the tests under Wine
# inside a private network namespace, with the interoperability test against the Linux
# vantreld of build/release (built here when missing).
#
# The wineserver is started inside the namespace (one outside would show the host's
# interfaces to the programs) and kept running for the whole run (wineserver -p), so that each
# test process starts in a fraction of a second; one warm-up program runs before the tests.
# The Wine prefix is made once, under build/windows.
#
# Environment: VANTREL_JOBS (parallel build jobs, default: cores).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VANTREL_IN_NETNS:-}" != 1 ]; then
  scripts/setup.sh
  jobs=${VANTREL_JOBS:-$(nproc)}
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  seconds() { date +%s; }
  start=$(seconds)
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
  cmake --build build/release -j "$jobs" --target vantreld vantrel print_tree read_frame list_servers
  cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
    -DVANTREL_LINUX_BUILD_DIR="$PWD/build/release" >/dev/null
  cmake --build build/windows -j "$jobs"
  echo "== windows build: $(($(seconds) - start)) s"
  exec scripts/in-netns.sh "$0" "$@"
fi

export WINEPREFIX=$PWD/build/windows/wine-prefix WINEARCH=win64 WINEDEBUG=-all
mkdir -p "$WINEPREFIX"  # wineserver starts in the prefix: a fresh clone has none yet
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  start=$(date +%s)
  wineboot -i >/dev/null 2>&1
  echo "== wine prefix made in $(($(date +%s) - start)) s"
fi
wine build/windows/bin/hello_messages.exe >/dev/null   # warm-up
start=$(date +%s)
status=0
ctest --test-dir build/windows --output-on-failure -j 2 --timeout 300 || status=$?
echo "== windows tests: $(($(date +%s) - start)) s"
exit $status
