#!/usr/bin/env bash
# The Windows build of the examples, run under Wine, against a native Linux vantreld on
# loopback: the Windows client browses the same tree the Linux client sees, reads every frame
# of a clip byte for byte as the Linux client reads it, finds the server by discovery and
# receives the event of a change the Linux tool makes.
# Run inside the private network namespace (the test-windows run is), with the wineserver of
# that namespace running.
#
#   tests/windows/interop.sh LINUX_BUILD_DIR WINDOWS_BIN_DIR
set -euo pipefail
linux=$1
windows=$2
vantreld=$linux/vantrel/server/vantreld
tool=$linux/tools/vantrel
for program in "$vantreld" "$linux/examples/print_tree" "$linux/examples/read_frame" "$tool"; do
  [ -x "$program" ] || { echo "interop: $program is missing (build the Linux tree first)" >&2; exit 1; }
done

work=$(mktemp -d)
server_pid=
watch_pid=
cleanup() {
  # Each step may fail (the process may have ended): none may skip the next.
  local pid
  for pid in $watch_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Windows programs end their lines with CR LF.
on_windows() { wine "$windows/$1.exe" "${@:2}" | tr -d '\r'; }

"$vantreld" --init-sample "$work/tree" >/dev/null
printf '[Server]\nDisplayName = Interop Linux\n' >"$work/server.cfg"
"$vantreld" --port 0 --config "$work/server.cfg" --log "$work/server.log" "$work/tree" \
  >"$work/ready" &
server_pid=$!
port=
for _ in $(seq 1 300); do
  port=$(sed -n 's/.*node_port=\([0-9]*\).*/\1/p' "$work/ready")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { cat "$work/server.log" >&2; echo "interop: vantreld did not start" >&2; exit 1; }
server=127.0.0.1:$port

echo "== browse"
"$linux/examples/print_tree" "$server" >"$work/tree.linux"
# Names reach a Windows program in its ANSI code page (Windows-1252 under Wine's defaults), a
# Linux one in UTF-8: compare them in one encoding.
on_windows print_tree "$server" | iconv -f CP1252 -t UTF-8 >"$work/tree.windows"
diff -u "$work/tree.linux" "$work/tree.windows"

echo "== every frame of a clip"
clip="/Volume 1/Feature Film/Vault/Main/Reel 1/Colour Bars"
frames=$(sed -n 's/.*Colour Bars \[CLIP\].* \([0-9]*\) frames$/\1/p' "$work/tree.linux")
[ "${frames:-0}" -gt 0 ] || { echo "interop: no frame count for $clip" >&2; exit 1; }
for ((index = 0; index < frames; index++)); do
  "$linux/examples/read_frame" "$server" "$clip" "$index" "$work/frame.linux" >/dev/null
  # Wine maps the Unix root to drive Z:.
  on_windows read_frame "$server" "$clip" "$index" "Z:$work/frame.windows" >/dev/null
  cmp "$work/frame.linux" "$work/frame.windows"
done
echo "$frames frames of $(stat -c %s "$work/frame.linux") bytes read alike"

echo "== discovery"
on_windows list_servers >"$work/servers.windows"
cat "$work/servers.windows"
grep -F "Interop Linux" "$work/servers.windows" >/dev/null || {
  echo "interop: the Windows client did not find the Linux server by discovery" >&2
  exit 1
}

echo "== node event"
# The Windows client registers for the clip's events; the Linux tool then changes its metadata.
wine "$windows/watch_node.exe" "$server" "$clip" >"$work/events.windows" &
watch_pid=$!
for _ in $(seq 1 600); do
  grep -q '^watching' "$work/events.windows" && break
  kill -0 "$watch_pid" 2>/dev/null || break
  sleep 0.2
done
grep -q '^watching' "$work/events.windows" || {
  echo "interop: the Windows client could not register for events" >&2
  exit 1
}
echo graded | "$tool" meta set "$server:$clip" comments - >/dev/null
# The watcher ends after one event; a lost event leaves it waiting (given two minutes).
for _ in $(seq 1 600); do
  kill -0 "$watch_pid" 2>/dev/null || break
  sleep 0.2
done
tr -d '\r' <"$work/events.windows"
grep -q '^event MetaDataChanged on ' "$work/events.windows" || {
  echo "interop: the Windows client did not receive the node event" >&2
  exit 1
}
echo "interop: passed"
