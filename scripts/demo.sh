#!/usr/bin/env bash
# The main job: runs the example program of the given build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
"$build"/examples/hello_messages
