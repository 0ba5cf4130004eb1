#!/usr/bin/env bash
# Functions below run from traps; TESTLAN_* names come from testlan.sh output.
# shellcheck disable=SC2317,SC2153
#
# Runs a command on a throw-away test LAN (see testlan.sh): the command runs in
# the host namespace while module simulators answer in the module namespaces.
# The LAN, the simulators and (normally) the temporary directory are removed
# when the script ends, whether the command passed, failed or was interrupted.
# With --layout (or --private) the command runs instead in a new namespace of
# a known shape of its own, which ends with it.
set -euo pipefail

PROG=with-testlan.sh
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TESTLAN="$HERE/testlan.sh"

usage() {
  cat <<'EOF'
Usage:
  with-testlan.sh [OPTIONS] [--module-ns DESC [--sim "ARGS" | --no-sim]]... \
                  -- COMMAND [ARG...]
  with-testlan.sh --layout NAME -- COMMAND [ARG...]
  with-testlan.sh --private -- COMMAND [ARG...]

Builds a test LAN, starts the module simulator in every module namespace,
waits until each has printed READY, runs COMMAND in the host namespace and
exits with COMMAND's exit status. Everything is torn down on exit, also on
failure or on SIGINT/SIGTERM/SIGHUP.

--layout runs COMMAND in a new network namespace laid out as NAME (see
`testlan.sh layout`), with HOSTNET_LAYOUT=NAME and DALVORA_IN_NETNS=1; the
namespace is gone when COMMAND ends, and parallel runs never share one.
--private is --layout private: loopback plus an adapter with a default route,
so that broadcasts work and stay inside. No other option goes with these.

Options:
  --modsim PATH        the simulator program (needed when a namespace runs one)
  --host-ip CIDR       host address (default 198.18.0.10/24)
  --gateway ADDR       gateway held by the bridge namespace (default 198.18.0.1)
  --segment CIDR       one more segment with a second host adapter (repeatable;
                       put modules on it with seg=K in DESC, see testlan.sh)
  --empty-adapter CIDR a host adapter with no modules, first in kernel order
  --module-ns DESC     add a module namespace, numbered 1, 2, ... in order;
                       DESC is ip=CIDR[,extra=CIDR+CIDR...][,gw=ADDR]
                       [,echo=drop] (ip defaults to 198.18.0.(100+n)/24;
                       echo=drop: its addresses ignore echo; see testlan.sh)
  --sim "ARGS"         simulator arguments for the preceding --module-ns, as
                       shell words (quotes allowed). Default: one module with
                       the namespace's address, mask and gateway and the MAC
                       00:0E:C6:nn:00:01 (nn = namespace number in hex)
  --no-sim             run no simulator in the preceding namespace (its
                       addresses still answer echo)
  --dir DIR            put logs and state files in DIR (kept)
  --keep-dir           keep the temporary directory
  --ready-timeout SEC  how long to wait for the READY lines (default 10)
  --timeout SEC        stop COMMAND after SEC seconds (SIGTERM, SIGKILL 5 s
                       later) and exit with status 124

Every simulator of namespace n runs as
  ip netns exec <ns> MODSIM --log DIR/mn.log --state DIR/mn.state ARGS
with its stdout in DIR/mn.out and stderr in DIR/mn.err. Options in ARGS come
later and so override --log and --state. All addresses must lie in
198.18.0.0/15.

COMMAND sees these environment variables:
  TESTLAN_ID          the LAN's id
  TESTLAN_DIR         directory with m1.log, m1.state, m2.log, ...
  TESTLAN_HOST_NS     host namespace (COMMAND already runs in it)
  TESTLAN_BRIDGE_NS   bridge namespace
  TESTLAN_MODULES     number of module namespaces
  TESTLAN_MODULE_NS_n module namespace n
  TESTLAN_HOST_IP     host address without prefix
  TESTLAN_GATEWAY     gateway address

The temporary directory is removed at exit unless --keep-dir or --dir is
given or COMMAND failed or was interrupted (then its path is printed).
Exit status: COMMAND's; 77 when network namespaces are not usable here;
124 on --timeout; 1 when the LAN or a simulator could not be started.

Example:
  with-testlan.sh --modsim build/tools/modsim/modsim \
      --module-ns ip=198.18.0.101/24 --sim "--module name=A --module name=B" \
      --module-ns ip=198.19.5.20/24 \
      -- python3 my_search_test.py
EOF
}

die() {
  echo "$PROG: $*" >&2
  exit 1
}

prefix_to_mask() {
  local p=$1 m
  ((p == 0)) && m=0 || m=$(((0xFFFFFFFF << (32 - p)) & 0xFFFFFFFF))
  echo "$(((m >> 24) & 255)).$(((m >> 16) & 255)).$(((m >> 8) & 255)).$((m & 255))"
}

modsim=""
host_ip="198.18.0.10/24"
gateway="198.18.0.1"
dir=""
keep_dir=0
ready_timeout=10
cmd_timeout=0
ns_specs=()
lan_extra=()  # --segment and --empty-adapter, handed to testlan.sh up
ns_sims=()    # "" = default module, "-" = no simulator, else "+ARGS"
layout=""
lan_option="" # the first option that builds or runs a test LAN

while [[ $# -gt 0 ]]; do
  case $1 in
    --layout | --private | -h | --help | --) ;;
    *) lan_option=${lan_option:-$1} ;;
  esac
  case $1 in
    --layout) layout=${2:?--layout needs a name}; shift 2 ;;
    --private) layout=private; shift ;;
    --modsim) modsim=${2:?--modsim needs a path}; shift 2 ;;
    --host-ip) host_ip=${2:?--host-ip needs a value}; shift 2 ;;
    --gateway) gateway=${2:?--gateway needs a value}; shift 2 ;;
    --segment) lan_extra+=(--segment "${2:?--segment needs a value}"); shift 2 ;;
    --empty-adapter) lan_extra+=(--empty-adapter "${2:?--empty-adapter needs a value}"); shift 2 ;;
    --module-ns) ns_specs+=("${2?--module-ns needs a DESC}"); ns_sims+=(""); shift 2 ;;
    --sim | --no-sim)
      ((${#ns_specs[@]} > 0)) || die "$1 must follow a --module-ns"
      last=$((${#ns_specs[@]} - 1))
      if [[ $1 == --sim ]]; then
        ns_sims[last]="+${2?--sim needs arguments}"
        shift 2
      else
        ns_sims[last]="-"
        shift
      fi
      ;;
    --dir) dir=${2:?--dir needs a path}; shift 2 ;;
    --keep-dir) keep_dir=1; shift ;;
    --ready-timeout) ready_timeout=${2:?}; shift 2 ;;
    --timeout) cmd_timeout=${2:?}; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    *) usage >&2; exit 2 ;;
  esac
done
[[ $# -gt 0 ]] || { usage >&2; exit 2; }
if [[ -n $layout ]]; then
  [[ -z $lan_option ]] || die "$lan_option does not go with --layout or --private"
  if ! unshare -n true 2>/dev/null; then
    echo "$PROG: cannot make a network namespace here (needs root)" >&2
    exit 77
  fi
  exec unshare -n "$TESTLAN" layout "$layout" -- "$@"
fi
[[ $ready_timeout =~ ^[0-9]+$ ]] || die "--ready-timeout needs whole seconds"
[[ $cmd_timeout =~ ^[0-9]+$ ]] || die "--timeout needs whole seconds"
[[ $host_ip == */* ]] || host_ip="$host_ip/24"

# Simulator arguments per namespace, decided before anything is built.
declare -a sim_lines=()
for i in "${!ns_specs[@]}"; do
  n=$((i + 1))
  sim=${ns_sims[$i]}
  if [[ $sim == - ]]; then
    sim_lines+=("-")
    continue
  fi
  [[ -n $modsim ]] || die "--modsim is needed for module namespace $n (or give --no-sim)"
  if [[ -z $sim ]]; then
    mip="198.18.0.$((100 + n))/24" mgw=$gateway
    IFS=, read -r -a items <<<"${ns_specs[$i]}"
    for item in "${items[@]}"; do
      case $item in
        ip=*) mip=${item#ip=} ;;
        gw=*) mgw=${item#gw=} ;;
      esac
    done
    [[ $mip == */* ]] || mip="$mip/24"
    sim="+--module name=QZ510,ip=${mip%%/*},mask=$(prefix_to_mask "${mip#*/}"),gw=$mgw,mac=$(printf '00:0E:C6:%02X:00:01' "$n")"
  fi
  sim_lines+=("${sim#+}")
done
if [[ -n $modsim ]]; then
  [[ -x $modsim ]] || die "simulator '$modsim' is not an executable file"
  modsim=$(cd "$(dirname "$modsim")" && pwd)/$(basename "$modsim")
fi

# --- teardown ------------------------------------------------------------------

LAN_ID=""
CREATED_DIR=0
CMD_STARTED=0
CMD_PID=""
WATCHDOG_PID=""
SIM_PIDS=()
SIM_NUM=()

stop_pid() { # PID: SIGTERM, then SIGKILL if it lingers
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  set +e
  [[ -z $WATCHDOG_PID ]] || { kill "$WATCHDOG_PID" 2>/dev/null; wait "$WATCHDOG_PID" 2>/dev/null; }
  [[ -z $CMD_PID ]] || stop_pid "$CMD_PID"
  for pid in "${SIM_PIDS[@]}"; do stop_pid "$pid"; done
  if [[ -n $LAN_ID ]]; then
    "$TESTLAN" down "$LAN_ID" || rc=1
  fi
  if ((CREATED_DIR)); then
    # Only a failed command's logs are worth keeping.
    if ((keep_dir == 0)) && { [[ $rc -eq 0 ]] || ((CMD_STARTED == 0)); }; then
      rm -rf "$TESTLAN_DIR"
    else
      echo "$PROG: logs and state files kept in $TESTLAN_DIR" >&2
    fi
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# --- LAN -----------------------------------------------------------------------

if [[ -n $dir ]]; then
  mkdir -p "$dir"
  TESTLAN_DIR=$(cd "$dir" && pwd)
else
  TESTLAN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/testlan.XXXXXX")
  CREATED_DIR=1
fi

# The id is chosen here, so that an interruption during `up` still knows what
# to remove.
for _ in 1 2 3 4 5 6 7 8; do
  id=$(LC_ALL=C tr -dc 'a-z0-9' </dev/urandom | head -c 6 || true)
  if [[ ${#id} -eq 6 ]] && ! ip netns list 2>/dev/null | grep -q "^tl-$id-"; then break; fi
done
up_args=(up --id "$id" --host-ip "$host_ip" --gateway "$gateway" "${lan_extra[@]}")
for desc in "${ns_specs[@]}"; do up_args+=(--module "$desc"); done

LAN_ID=$id
up_rc=0
lan_env=$("$TESTLAN" "${up_args[@]}") || up_rc=$?
if ((up_rc != 0)); then
  LAN_ID=""   # up removes what it made
  ((up_rc == 77)) && exit 77
  die "could not build the test LAN"
fi
while IFS='=' read -r key value; do
  case $key in
    TESTLAN_[A-Z0-9_]*) export "$key=$value" ;;
  esac
done <<<"$lan_env"
export TESTLAN_DIR
export TESTLAN_HOST_IP=${host_ip%%/*}
export TESTLAN_GATEWAY=$gateway

# --- simulators -----------------------------------------------------------------

for i in "${!sim_lines[@]}"; do
  n=$((i + 1))
  [[ ${sim_lines[$i]} != - ]] || continue
  ns_var="TESTLAN_MODULE_NS_$n"
  sim_args=()
  eval "sim_args=(${sim_lines[$i]})"
  ip netns exec "${!ns_var}" "$modsim" --log "$TESTLAN_DIR/m$n.log" \
    --state "$TESTLAN_DIR/m$n.state" "${sim_args[@]}" \
    </dev/null >"$TESTLAN_DIR/m$n.out" 2>"$TESTLAN_DIR/m$n.err" &
  SIM_PIDS+=($!)
  SIM_NUM+=("$n")
done

deadline=$((SECONDS + ready_timeout))
for k in "${!SIM_PIDS[@]}"; do
  n=${SIM_NUM[$k]}
  until grep -q '^READY [0-9]*$' "$TESTLAN_DIR/m$n.out" 2>/dev/null; do
    if ! kill -0 "${SIM_PIDS[$k]}" 2>/dev/null; then
      die "simulator of module namespace $n ended: $(cat "$TESTLAN_DIR/m$n.err")"
    fi
    ((SECONDS < deadline)) || die "simulator of module namespace $n not ready after ${ready_timeout}s"
    sleep 0.05
  done
done

# --- the command -----------------------------------------------------------------

# The command runs as a background job so that our traps fire while it runs.
# Such a job would read /dev/null and ignore SIGINT: hand it our stdin and,
# where env can, the default SIGINT back (Ctrl-C should reach it too).
restore_sigint=()
if env --default-signal=INT true 2>/dev/null; then restore_sigint=(env --default-signal=INT); fi
exec 3<&0
ip netns exec "$TESTLAN_HOST_NS" "${restore_sigint[@]}" "$@" <&3 3<&- &
CMD_PID=$!
CMD_STARTED=1
exec 3<&-
if ((cmd_timeout > 0)); then
  (
    for ((t = 0; t < cmd_timeout * 10; t++)); do sleep 0.1; done
    touch "$TESTLAN_DIR/.timed-out"
    kill -TERM "$CMD_PID" 2>/dev/null || exit 0
    for ((t = 0; t < 50; t++)); do sleep 0.1; done
    kill -KILL "$CMD_PID" 2>/dev/null || true
  ) &
  WATCHDOG_PID=$!
fi
CMD_RC=0
wait "$CMD_PID" || CMD_RC=$?
CMD_PID=""
if [[ -e $TESTLAN_DIR/.timed-out ]]; then
  echo "$PROG: command stopped after ${cmd_timeout}s" >&2
  CMD_RC=124
fi
exit "$CMD_RC"
