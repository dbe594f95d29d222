#!/usr/bin/env bash
# The main job: starts vantreld on a fresh sample tree on loopback, prints the tree through the
# client library with examples/print_tree, reads one frame with examples/read_frame, lists
# the servers discovery finds with examples/list_servers, and stops the server. Runs inside a
# private network namespace, so nothing it does reaches the real network.
#
#   scripts/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/release}" && pwd)

if [ "${VANTREL_IN_NETNS:-}" != 1 ]; then
  exec scripts/in-netns.sh "$0" "$build"
fi

# Show the sample's non-ASCII names as they are when the caller set no locale.
[ -z "${LC_ALL:-}${LANG:-}" ] && export LC_ALL=C.UTF-8

tree=$(mktemp -d)
log=$(mktemp)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$tree" "$log"
}
trap cleanup EXIT

"$build"/vantrel/server/vantreld --init-sample "$tree" >/dev/null
"$build"/vantrel/server/vantreld --port 0 "$tree" >"$log" 2>&1 &
server_pid=$!

port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/.*node_port=\([0-9]*\).*/\1/p' "$log" | head -n 1)
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log"; echo "vantreld did not start"; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { cat "$log"; echo "vantreld did not say its port"; exit 1; }

echo "vantreld serves a sample tree on 127.0.0.1:$port"
"$build"/examples/hello_messages
"$build"/examples/print_tree "127.0.0.1:$port"
"$build"/examples/read_frame "127.0.0.1:$port" "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening" 1
echo "Servers found by discovery:"
"$build"/examples/list_servers
