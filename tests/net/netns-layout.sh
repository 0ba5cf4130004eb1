#!/usr/bin/env bash
# Runs a command in a private network namespace laid out for one test of the
# host network services. The namespace lives only as long as the command
# (unshare, no name in `ip netns`), nothing in it is connected to the
# machine's own network, and every address lies in 198.18.0.0/15.
#
# Usage: netns-layout.sh LAYOUT COMMAND [ARG...]
#   bare              loopback only: no adapter at all
#   unaddressed-first first adapter without address, a later one with
#                     198.18.4.10/24 and a default route
#   down-first        first adapter down with 198.18.5.10/16, the default
#                     route through a later adapter
#   unusable          one adapter down with 198.18.5.10/16, one up without
#                     an address: no adapter can be read
#   multi             first adapter with 198.18.6.7/24 and 198.18.7.8/25,
#                     default routes of metric 200 and 100, one in table 100
#   stray             198.18.0.2/24 on a veth (default via 198.18.0.1, which
#                     nobody holds) and 198.18.0.3/32 on the loopback
# The command sees HOSTNET_LAYOUT=LAYOUT. Exit status: the command's; 77 when
# network namespaces cannot be made here.
set -euo pipefail

[[ $# -ge 2 ]] || { sed -n '2,20s/^# \{0,1\}//p' "$0" >&2; exit 2; }
layout=$1
shift
case $layout in
  bare | unaddressed-first | down-first | unusable | multi | stray) ;;
  *) echo "netns-layout: unknown layout '$layout'" >&2; exit 2 ;;
esac

if [[ ${HOSTNET_LAYOUT_INSIDE:-} != 1 ]]; then
  if ! unshare -n true 2>/dev/null; then
    echo "netns-layout: cannot create a network namespace here (need root/CAP_SYS_ADMIN)" >&2
    exit 77
  fi
  export HOSTNET_LAYOUT_INSIDE=1
  exec unshare -n bash "$0" "$layout" "$@"
fi

ip link set lo up
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 2>/dev/null || true
sysctl -qw net.ipv6.conf.default.disable_ipv6=1 2>/dev/null || true

# Interfaces get fixed indexes, so the kernel's interface order is known.
pair() { # NAME INDEX PEER PEER_INDEX
  ip link add "$1" index "$2" type veth peer name "$3" index "$4"
}

case $layout in
  bare) ;;
  unaddressed-first)
    pair hna 5 hnb 6
    pair hnc 7 hnd 8
    ip link set hnc up
    ip link set hnd up
    ip addr add 198.18.4.10/24 dev hnc
    ip route add default via 198.18.4.1 dev hnc
    ;;
  down-first)
    pair hna 5 hnb 6
    ip addr add 198.18.5.10/16 dev hna
    pair hnc 7 hnd 8
    ip link set hnc up
    ip link set hnd up
    ip addr add 198.18.8.10/24 dev hnc
    ip route add default via 198.18.8.1 dev hnc
    ;;
  unusable)
    pair hna 5 hnb 6
    ip addr add 198.18.5.10/16 dev hna
    pair hnc 7 hnd 8
    ip link set hnc up
    ip link set hnd up
    ;;
  multi)
    pair hna 5 hnb 6
    ip link set hna up
    ip link set hnb up
    ip addr add 198.18.6.7/24 dev hna
    ip addr add 198.18.7.8/25 dev hna
    ip route add default via 198.18.6.1 dev hna metric 200
    ip route add default via 198.18.6.254 dev hna metric 100
    ip route add default via 198.18.6.99 dev hna table 100
    ;;
  stray)
    pair tv0 5 tv1 6
    ip link set tv0 up
    ip link set tv1 up
    ip addr add 198.18.0.2/24 dev tv0
    ip addr add 198.18.0.3/32 dev lo
    ip route add default via 198.18.0.1 dev tv0
    ;;
esac

export HOSTNET_LAYOUT=$layout
exec "$@"
