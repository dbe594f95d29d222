#!/usr/bin/env bash
# The main job's tour of the vantrel tool: starts two vantreld on fresh sample trees inside a
# private network namespace (so nothing reaches the real network), then finds them by
# discovery, prints a tree, shows a server's record, exports colour-bar frames to PNG files
# (kept in BUILD_DIR/demo-frames) and watches an event while a node is created. Stops the
# servers at the end.
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

vantreld=$build/vantrel/server/vantreld
vantrel=$build/tools/vantrel
work=$(mktemp -d)
frames=$build/demo-frames
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_server NAME DISPLAY_NAME: a vantreld on a fresh sample tree; sets `address` to its
# ADDRESS:PORT. (Not in a subshell: the server's process id must reach `pids`.)
start_server() {
  local name=$1 display=$2
  "$vantreld" --init-sample "$work/$name" >/dev/null
  printf '[Server]\nDisplayName = %s\n' "$display" >"$work/$name.cfg"
  "$vantreld" --port 0 --config "$work/$name.cfg" --log "$work/$name.log" "$work/$name" \
    >"$work/$name.ready" &
  pids+=($!)
  for _ in $(seq 1 100); do
    local port
    port=$(sed -n 's/.*node_port=\([0-9]*\).*/\1/p' "$work/$name.ready")
    [ -n "$port" ] && { address=127.0.0.1:$port; return; }
    sleep 0.1
  done
  cat "$work/$name.log" >&2
  echo "vantreld ($display) did not start" >&2
  exit 1
}

# step TITLE COMMAND...: shows the command as a user would type it (under TITLE unless it is
# empty), then runs it.
step() {
  local title=$1; shift
  [ -n "$title" ] && printf '\n== %s\n' "$title"
  show_command vantrel "$@"
  "$vantrel" "$@"
}

# show_command WORDS...: "$ WORDS" on one line, words holding spaces in single quotes.
show_command() {
  local line='$'
  for word in "$@"; do
    case $word in *' '*) line+=" '$word'" ;; *) line+=" $word" ;; esac
  done
  echo "$line"
}

start_server a "Studio A"
studio_a=$address
start_server b "Studio B"
studio_b=$address
echo "Two vantreld serve sample trees: Studio A on $studio_a, Studio B on $studio_b."

reel="/Volume 1/Feature Film/Vault/Main/Reel 1"
library="/Volume 1/Commercial/Shared Vault/Library A"

step "The servers discovery finds" servers
step "Studio A's tree" tree "$studio_a:"
step "Studio A's record" info "$studio_a"
rm -rf "$frames"
if "$vantrel" --help | grep '^  export ' >/dev/null; then
  mkdir -p "$frames"
  step "Four colour-bar frames exported to PNG" export --quiet "$studio_a:$reel/Colour Bars" \
    "$frames/bars.%04d.png" --frames 0-3
fi

printf '\n== Watching Library A while a clip is created in it\n'
timeout 30 "$vantrel" watch --count 2 "$studio_a:$library" >"$work/watch.out" 2>"$work/watch.err" &
watcher=$!
until grep -q Watching "$work/watch.err" 2>/dev/null; do
  kill -0 "$watcher" 2>/dev/null || { cat "$work/watch.err" >&2; exit 1; }
  sleep 0.05
done
show_command vantrel watch --count 2 "$studio_a:$library" '&'
step "" create --type CLIP --width 1920 --height 1080 --frames 24 "$studio_a:$library/Shot 030"
wait "$watcher"
echo "The watcher printed:"
cat "$work/watch.out"

if [ -d "$frames" ]; then
  printf '\nThe exported frames are in %s:\n' "$frames"
  ls "$frames"
fi
