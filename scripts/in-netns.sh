#!/usr/bin/env bash
# Runs a command in a private network namespace of its own, so that whatever
# it sends (broadcasts included) never leaves this process tree: loopback,
# plus a veth pair with an address of the test range and a default route,
# which Linux needs to accept a send to 255.255.255.255 (the broadcast is
# then looped back to local sockets and dropped on the peer end).
# Usage: scripts/in-netns.sh COMMAND [ARGS...]   (exit 77: no namespaces here)
set -euo pipefail
if [ "${DALVORA_IN_NETNS:-}" != 1 ]; then
  if ! unshare -n true 2>/dev/null; then
    echo "in-netns: cannot create a network namespace here (need root/CAP_SYS_ADMIN)" >&2
    exit 77
  fi
  export DALVORA_IN_NETNS=1
  exec unshare -n "$0" "$@"
fi
ip link set lo up
sysctl -qw net.ipv6.conf.default.disable_ipv6=1 2>/dev/null || true
ip link add tv0 type veth peer name tv1
ip link set tv0 up
ip link set tv1 up
ip addr add 198.18.0.2/24 dev tv0
ip route add default via 198.18.0.1 dev tv0
exec "$@"
