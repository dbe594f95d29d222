#!/usr/bin/env bash
# Runs a command inside a private network namespace: loopback up, multicast enabled and
# routed on loopback, no route to any other network. Everything the tests start runs here,
# so no test can reach the real network.
#
#   scripts/in-netns.sh COMMAND [ARGS...]
set -euo pipefail

if [ "${VANTREL_IN_NETNS:-}" = 1 ]; then
  ip link set lo up
  ip link set lo multicast on
  ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
  ip -6 route add ff00::/8 dev lo table local 2>/dev/null || true
  exec "$@"
fi

unshare_flags=(-n)
# A user without root maps itself to root in a user namespace of its own.
[ "$(id -u)" -ne 0 ] && unshare_flags=(-r -n)
VANTREL_IN_NETNS=1 exec unshare "${unshare_flags[@]}" -- "$0" "$@"
