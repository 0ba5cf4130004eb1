#!/usr/bin/env bash
# Test LAN: network namespaces for a host PC and for modules, joined by a
# bridge that lives in its own namespace. Nothing is created in the default
# namespace, every name carries the LAN's id (several LANs can coexist), and
# all addresses come from 198.18.0.0/15, which is reserved for such tests.
#
# Layout of LAN <id>:
#   tl-<id>-b   bridge namespace: bridge tl<id>br holding the gateway address,
#               and bridge tl<id>brK for every further segment K (2, 3, ...)
#   tl-<id>-h   host namespace:   tl<id>h, host address, default via gateway;
#               tl<id>hK on segment K with its own address and no route
#               beyond it; tl<id>e, an adapter with nothing behind it
#   tl-<id>-mN  module namespace: tl<id>mN, its address(es), a default route
# Each veth's other end (tl<id>hp, tl<id>mNp) is a port of its bridge.
#
# `layout` instead lays out a single new namespace of a known shape for one
# test (with-testlan.sh --layout runs it under unshare -n).
set -euo pipefail

PROG=testlan.sh

usage() {
  cat <<'EOF'
Usage:
  testlan.sh up [--id ID] [--host-ip CIDR] [--gateway ADDR] [--segment CIDR]...
                [--empty-adapter CIDR] [--module DESC]...
  testlan.sh down ID
  testlan.sh list
  testlan.sh check
  testlan.sh layout NAME [-- COMMAND [ARG...]]

up      builds a LAN and prints its names as shell assignments:
          TESTLAN_ID=<id>  TESTLAN_HOST_NS=<ns>  TESTLAN_BRIDGE_NS=<ns>
          TESTLAN_MODULES=<count>  TESTLAN_MODULE_NS_<n>=<ns> (n = 1..count)
        --id ID          1-6 characters [a-z0-9] (default: random)
        --host-ip CIDR   host address (default 198.18.0.10/24)
        --gateway ADDR   gateway, held by the bridge namespace and answering
                         echo (default 198.18.0.1; same prefix as the host)
        --segment CIDR   one more segment (repeatable: segments 2, 3, ...):
                         its own bridge and a second host adapter tl<id>hK
                         with this address; the default route stays on
                         segment 1
        --empty-adapter CIDR
                         a host adapter tl<id>e (a veth, up) with
                         this address and nothing behind it, first in the
                         host's interface order, as a container bridge is
        --module DESC    one module namespace (repeatable); DESC is
                           ip=CIDR[,extra=CIDR+CIDR...][,gw=ADDR][,seg=K]
                                  [,echo=drop]
                         seg puts the module on segment K (default 1)
                         ip defaults to 198.18.0.(100+n)/24; extra addresses
                         (default prefix /32) also answer echo; the default
                         route goes via gw (or the LAN's gateway when it is in
                         the module's subnet), else straight out of the
                         module's interface. echo=drop: none of the
                         namespace's addresses answers echo (they still
                         answer ARP), as a host behind a firewall
        On failure everything made so far is removed again.
down    removes LAN ID (its processes, namespaces, interfaces); safe to
        repeat and after a partial up
list    prints the ids of the LANs that exist
check   exits 0 when namespaces, veths and bridges can be made, else 77
layout  lays out the current namespace, which must be new (nothing but the
        loopback), then runs COMMAND in it with HOSTNET_LAYOUT=NAME and
        DALVORA_IN_NETNS=1. The loopback is up in every layout; the other
        layouts' adapters get fixed indexes, so their kernel order is known.
          private           a veth tv0 (peer tv1) with 198.18.0.2/24 and a
                            default route via 198.18.0.1, which Linux needs to
                            send to 255.255.255.255; the loopback keeps IPv6
          bare              loopback only: no adapter at all
          unaddressed-first first adapter without address, a later one with
                            198.18.4.10/24 and a default route
          down-first        first adapter down with 198.18.5.10/16, the
                            default route through a later adapter
          unusable          one adapter down with 198.18.5.10/16, one up
                            without an address: no adapter can be read
          multi             first adapter with 198.18.6.7/24 and
                            198.18.7.8/25, default routes of metric 200 and
                            100, one in table 100
          stray             198.18.0.2/24 on a veth (default via 198.18.0.1,
                            which nobody holds) and 198.18.0.3/32 on the
                            loopback

All addresses must lie in 198.18.0.0/15. Needs root and iproute2.
Exit status 77: network namespaces are not usable here.
EOF
}

die() {
  echo "$PROG: $*" >&2
  exit 1
}

# --- addresses --------------------------------------------------------------

ip_to_int() {
  local IFS=.
  local -a o
  read -r -a o <<<"$1"
  [[ ${#o[@]} -eq 4 ]] || return 1
  local x
  for x in "${o[@]}"; do
    [[ $x =~ ^[0-9]{1,3}$ ]] && ((x <= 255)) || return 1
  done
  echo $(((o[0] << 24) | (o[1] << 16) | (o[2] << 8) | o[3]))
}

int_to_ip() {
  echo "$((($1 >> 24) & 255)).$((($1 >> 16) & 255)).$((($1 >> 8) & 255)).$(($1 & 255))"
}

prefix_mask_int() {
  local p=$1
  ((p == 0)) && echo 0 || echo $(((0xFFFFFFFF << (32 - p)) & 0xFFFFFFFF))
}

# Checks ADDR or ADDR/PREFIX and that it lies in 198.18.0.0/15.
check_test_addr() {
  local text=$1 addr=${1%%/*} prefix=32 n
  if [[ $text == */* ]]; then
    prefix=${text#*/}
    if ! [[ $prefix =~ ^[0-9]{1,2}$ ]] || ((prefix < 1 || prefix > 32)); then
      die "bad prefix in '$text'"
    fi
  fi
  n=$(ip_to_int "$addr") || die "bad IPv4 address '$text'"
  (((n & 0xFFFE0000) == (198 << 24 | 18 << 16))) ||
    die "'$text' is outside 198.18.0.0/15, the only range the test LAN uses"
}

same_subnet() { # ADDR/PREFIX OTHER_ADDR
  local a b m
  a=$(ip_to_int "${1%%/*}")
  b=$(ip_to_int "$2")
  m=$(prefix_mask_int "${1#*/}")
  (((a & m) == (b & m)))
}

# --- names ------------------------------------------------------------------

valid_id() { [[ $1 =~ ^[a-z0-9]{1,6}$ ]]; }

new_id() {
  local id
  for _ in 1 2 3 4 5 6 7 8; do
    id=$(LC_ALL=C tr -dc 'a-z0-9' </dev/urandom | head -c 6 || true)
    if valid_id "$id" && ! ip netns list 2>/dev/null | grep -q "^tl-$id-"; then
      echo "$id"
      return 0
    fi
  done
  die "could not find a free LAN id"
}

lan_namespaces() { # ID: modules first, bridge last
  ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^tl-$1-" |
    awk '{o = /-m[0-9]+$/ ? 0 : /-h$/ ? 1 : 2; print o, $0}' | sort | cut -d' ' -f2- || true
}

# --- down -------------------------------------------------------------------

kill_ns_processes() { # NS
  local ns=$1 pids i
  pids=$(ip netns pids "$ns" 2>/dev/null || true)
  [[ -n $pids ]] || return 0
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  for i in $(seq 1 30); do
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [[ -n $pids ]] || return 0
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
  sleep 0.1
}

cmd_down() {
  [[ $# -eq 1 ]] || { usage >&2; exit 2; }
  local id=$1 ns
  valid_id "$id" || die "bad id '$id'"
  for ns in $(lan_namespaces "$id"); do
    kill_ns_processes "$ns"
    ip netns del "$ns" 2>/dev/null || true
  done
  [[ -z $(lan_namespaces "$id") ]] || die "could not remove every namespace of LAN $id"
}

# --- up ---------------------------------------------------------------------

UP_ID=""
UP_DONE=0
# Runs on every exit of `up`: a LAN that was not finished is removed again.
up_exit() {
  local rc=$?
  trap - EXIT INT TERM HUP
  if ((UP_DONE == 0)) && [[ -n $UP_ID ]]; then
    cmd_down "$UP_ID" >/dev/null 2>&1 || true
  fi
  exit "$rc"
}

ns_sysctl() { # NS: quiet namespaces (no IPv6 chatter), no reverse-path drops
  # shellcheck disable=SC2016 # the inner shell expands $f
  ip netns exec "$1" sh -c '
    for f in /proc/sys/net/ipv6/conf/all/disable_ipv6 /proc/sys/net/ipv6/conf/default/disable_ipv6; do
      [ -w "$f" ] && echo 1 >"$f"
    done
    for f in /proc/sys/net/ipv4/conf/all/rp_filter /proc/sys/net/ipv4/conf/default/rp_filter; do
      [ -w "$f" ] && echo 0 >"$f"
    done
    true'
}

new_ns() { # NS
  ip netns add "$1"
  ip -n "$1" link set lo up
  ns_sysctl "$1"
}

# A veth made inside the bridge namespace; END goes to NS, END"p" joins the
# bridge (BRIDGE, or the one named third).
plug() { # NS END [BRIDGE]
  local ns=$1 end=$2 br=${3:-$BRIDGE}
  ip -n "$BR_NS" link add "${end}p" type veth peer name "$end"
  ip -n "$BR_NS" link set "$end" netns "$ns"
  ip -n "$BR_NS" link set "${end}p" master "$br" up
  ip -n "$ns" link set "$end" up
}

cmd_up() {
  local id="" host_ip="198.18.0.10/24" gateway="198.18.0.1" empty=""
  local -a modules=() segments=()
  while [[ $# -gt 0 ]]; do
    case $1 in
      --id) id=${2:?--id needs a value}; shift 2 ;;
      --host-ip) host_ip=${2:?--host-ip needs a value}; shift 2 ;;
      --gateway) gateway=${2:?--gateway needs a value}; shift 2 ;;
      --module) modules+=("${2?--module needs a value}"); shift 2 ;;
      --segment) segments+=("${2:?--segment needs a value}"); shift 2 ;;
      --empty-adapter) empty=${2:?--empty-adapter needs a value}; shift 2 ;;
      *) usage >&2; exit 2 ;;
    esac
  done
  [[ $host_ip == */* ]] || host_ip="$host_ip/24"
  check_test_addr "$host_ip"
  check_test_addr "$gateway"
  [[ $gateway != */* ]] || die "--gateway takes an address without prefix"
  same_subnet "$host_ip" "$gateway" || die "gateway $gateway is not in the host's subnet $host_ip"
  ((${#modules[@]} <= 99)) || die "at most 99 module namespaces"
  ((${#segments[@]} <= 8)) || die "at most 9 segments"
  local i
  for i in "${!segments[@]}"; do
    [[ ${segments[$i]} == */* ]] || segments[i]="${segments[$i]}/24"
    check_test_addr "${segments[$i]}"
  done
  if [[ -n $empty ]]; then
    [[ $empty == */* ]] || empty="$empty/24"
    check_test_addr "$empty"
  fi

  # Parse every module before touching anything.
  local -a m_ip=() m_extra=() m_gw=() m_seg=() m_echo=()
  local desc item key value
  for i in "${!modules[@]}"; do
    local ipv="198.18.0.$((101 + i))/24" extra="" gw="" seg=1 echo=""
    desc=${modules[$i]}
    IFS=, read -r -a items <<<"$desc"
    for item in "${items[@]}"; do
      [[ -n $item ]] || continue
      key=${item%%=*}
      value=${item#*=}
      [[ $item == *=* ]] || die "module $((i + 1)): '$item' is not key=value"
      case $key in
        ip) ipv=$value ;;
        extra) extra=$value ;;
        gw) gw=$value ;;
        seg) seg=$value ;;
        echo) [[ $value == drop ]] || die "module $((i + 1)): echo can only be drop"
          echo=$value ;;
        *) die "module $((i + 1)): unknown key '$key'" ;;
      esac
    done
    [[ $ipv == */* ]] || ipv="$ipv/24"
    check_test_addr "$ipv"
    local e
    for e in ${extra//+/ }; do check_test_addr "$e"; done
    [[ -z $gw ]] || check_test_addr "$gw"
    m_ip+=("$ipv")
    m_extra+=("$extra")
    m_gw+=("$gw")
    [[ $seg =~ ^[1-9]$ ]] && ((seg <= ${#segments[@]} + 1)) || die "module $((i + 1)): no segment '$seg'"
    m_seg+=("$seg")
    m_echo+=("$echo")
  done

  command -v ip >/dev/null || { echo "$PROG: iproute2 'ip' not found" >&2; exit 77; }
  [[ $(id -u) -eq 0 ]] || { echo "$PROG: needs root for network namespaces" >&2; exit 77; }

  if [[ -z $id ]]; then id=$(new_id); fi
  valid_id "$id" || die "bad id '$id' (1-6 characters a-z 0-9)"
  [[ -z $(lan_namespaces "$id") ]] || die "LAN $id exists already"

  UP_ID=$id
  trap up_exit EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP

  BR_NS="tl-$id-b"
  BRIDGE="tl${id}br"
  local host_ns="tl-$id-h"

  # The bridge namespace comes first; when it cannot be made, namespaces are
  # not usable here at all.
  local why
  if ! why=$({ ip netns add "$BR_NS" &&
    ip -n "$BR_NS" link add "$BRIDGE" type bridge stp_state 0 forward_delay 0 &&
    ip -n "$BR_NS" link add "tl${id}xp" type veth peer name "tl${id}x" &&
    ip -n "$BR_NS" link del "tl${id}xp"; } 2>&1); then
    echo "$PROG: network namespaces, bridges or veths are not usable here: $why" >&2
    exit 77
  fi
  ip -n "$BR_NS" link set lo up
  ns_sysctl "$BR_NS"
  ip -n "$BR_NS" addr add "$gateway/${host_ip#*/}" dev "$BRIDGE"
  ip -n "$BR_NS" link set "$BRIDGE" up

  for i in "${!segments[@]}"; do
    ip -n "$BR_NS" link add "${BRIDGE}$((i + 2))" type bridge stp_state 0 forward_delay 0
    ip -n "$BR_NS" link set "${BRIDGE}$((i + 2))" up
  done

  new_ns "$host_ns"
  # Made first, it is the host's first adapter in the kernel's order.
  if [[ -n $empty ]]; then
    # A veth whose far end waits, up, in the bridge namespace on no bridge.
    ip -n "$host_ns" link add "tl${id}e" type veth peer name "tl${id}ep"
    ip -n "$host_ns" link set "tl${id}ep" netns "$BR_NS"
    ip -n "$BR_NS" link set "tl${id}ep" up
    ip -n "$host_ns" addr add "$empty" dev "tl${id}e"
    ip -n "$host_ns" link set "tl${id}e" up
  fi
  plug "$host_ns" "tl${id}h"
  ip -n "$host_ns" addr add "$host_ip" dev "tl${id}h"
  ip -n "$host_ns" route add default via "$gateway" dev "tl${id}h"
  for i in "${!segments[@]}"; do
    plug "$host_ns" "tl${id}h$((i + 2))" "${BRIDGE}$((i + 2))"
    ip -n "$host_ns" addr add "${segments[$i]}" dev "tl${id}h$((i + 2))"
  done

  for i in "${!m_ip[@]}"; do
    local ns="tl-$id-m$((i + 1))" dev="tl${id}m$((i + 1))" br=$BRIDGE
    ((${m_seg[$i]} == 1)) || br="${BRIDGE}${m_seg[$i]}"
    new_ns "$ns"
    plug "$ns" "$dev" "$br"
    ip -n "$ns" addr add "${m_ip[$i]}" dev "$dev"
    for e in ${m_extra[$i]//+/ }; do
      [[ $e == */* ]] || e="$e/32"
      ip -n "$ns" addr add "$e" dev "$dev"
    done
    # The setting is the namespace's own: the machine's stays as it is.
    [[ ${m_echo[$i]} != drop ]] || ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    # A default route lets the module send to 255.255.255.255.
    if [[ -n ${m_gw[$i]} ]]; then
      ip -n "$ns" route add default via "${m_gw[$i]}" dev "$dev" onlink
    elif same_subnet "${m_ip[$i]}" "$gateway"; then
      ip -n "$ns" route add default via "$gateway" dev "$dev"
    else
      ip -n "$ns" route add default dev "$dev"
    fi
  done

  UP_DONE=1
  trap - EXIT INT TERM HUP
  echo "TESTLAN_ID=$id"
  echo "TESTLAN_HOST_NS=$host_ns"
  echo "TESTLAN_BRIDGE_NS=$BR_NS"
  echo "TESTLAN_MODULES=${#m_ip[@]}"
  for i in "${!m_ip[@]}"; do
    echo "TESTLAN_MODULE_NS_$((i + 1))=tl-$id-m$((i + 1))"
  done
}

cmd_list() {
  ip netns list 2>/dev/null | awk '{print $1}' | sed -n 's/^tl-\([a-z0-9]*\)-b$/\1/p'
}

cmd_check() {
  local out rc=0
  out=$(cmd_up --id "$(new_id)" 2>&1) || rc=$?
  if ((rc != 0)); then
    echo "$out" >&2
    exit 77
  fi
  cmd_down "$(sed -n 's/^TESTLAN_ID=//p' <<<"$out")"
  echo "network namespaces are usable"
}

# --- layout -------------------------------------------------------------------

pair() { # NAME INDEX PEER PEER_INDEX [up]
  ip link add "$1" index "$2" type veth peer name "$3" index "$4"
  if [[ ${5:-} == up ]]; then
    ip link set "$1" up
    ip link set "$3" up
  fi
}

cmd_layout() {
  [[ $# -ge 1 ]] || { usage >&2; exit 2; }
  local name=$1
  shift
  if [[ $# -gt 0 ]]; then
    [[ $1 == -- && $# -ge 2 ]] || { usage >&2; exit 2; }
    shift
  fi
  case $name in
    private | bare | unaddressed-first | down-first | unusable | multi | stray) ;;
    *) echo "$PROG: unknown layout '$name'" >&2; exit 2 ;;
  esac
  # A namespace with more than a loopback may be the machine's own: adding
  # adapters and routes there would reach its network.
  [[ $(ip -o link show | wc -l) -eq 1 ]] ||
    die "layout needs a new network namespace (with-testlan.sh --layout $name)"

  ip link set lo up
  # No IPv6 chatter on the adapters. The loopback loses IPv6 too, so that
  # adapter readers list only the layout's IPv4 addresses; "private" keeps
  # ::1 for the tests that may use it.
  local f=/proc/sys/net/ipv6/conf
  { echo 1 >$f/default/disable_ipv6; } 2>/dev/null || true
  [[ $name == private ]] || { echo 1 >$f/all/disable_ipv6; } 2>/dev/null || true

  case $name in
    private)
      ip link add tv0 type veth peer name tv1
      ip link set tv0 up
      ip link set tv1 up
      ip addr add 198.18.0.2/24 dev tv0
      ip route add default via 198.18.0.1 dev tv0
      ;;
    bare) ;;
    unaddressed-first)
      pair hna 5 hnb 6
      pair hnc 7 hnd 8 up
      ip addr add 198.18.4.10/24 dev hnc
      ip route add default via 198.18.4.1 dev hnc
      ;;
    down-first | unusable)
      pair hna 5 hnb 6
      ip addr add 198.18.5.10/16 dev hna
      pair hnc 7 hnd 8 up
      if [[ $name == down-first ]]; then
        ip addr add 198.18.8.10/24 dev hnc
        ip route add default via 198.18.8.1 dev hnc
      fi
      ;;
    multi)
      pair hna 5 hnb 6 up
      ip addr add 198.18.6.7/24 dev hna
      ip addr add 198.18.7.8/25 dev hna
      ip route add default via 198.18.6.1 dev hna metric 200
      ip route add default via 198.18.6.254 dev hna metric 100
      ip route add default via 198.18.6.99 dev hna table 100
      ;;
    stray)
      pair tv0 5 tv1 6 up
      ip addr add 198.18.0.2/24 dev tv0
      ip addr add 198.18.0.3/32 dev lo
      ip route add default via 198.18.0.1 dev tv0
      ;;
  esac
  export HOSTNET_LAYOUT=$name DALVORA_IN_NETNS=1
  [[ $# -eq 0 ]] || exec "$@"
}

[[ $# -ge 1 ]] || { usage >&2; exit 2; }
case $1 in
  up) shift; cmd_up "$@" ;;
  down) shift; cmd_down "$@" ;;
  list) shift; cmd_list ;;
  check) shift; cmd_check ;;
  layout) shift; cmd_layout "$@" ;;
  -h | --help | help) usage ;;
  *) usage >&2; exit 2 ;;
esac
