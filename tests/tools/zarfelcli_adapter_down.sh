#!/usr/bin/env bash
# Runs in a private namespace (with-testlan.sh --private) whose one adapter
# is then set down: no search request can leave, and every command that
# searches must say so with the system's reason and fail, never report an
# empty list as "no module".
# Usage: zarfelcli_adapter_down.sh ZARFELCLI
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bad=0
ip link set tv0 down && ip link set tv1 down || { echo "cannot set the adapter down" >&2; exit 1; }

expect() { # STATUS NAME ARGS...
  local want=$1 name=$2
  shift 2
  timeout 30 "$cli" --timeout 1000 "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [[ $got == "$want" ]] || { echo "$name: exit $got, expected $want" >&2; bad=1; }
  grep -q "no search request could be sent: .*(error [0-9]" "$work/err" ||
    { echo "$name: no reason given: $(cat "$work/err")" >&2; bad=1; }
  [[ ! -s $work/out ]] || { echo "$name: printed a list: $(cat "$work/out")" >&2; bad=1; }
}

printf 'mac,alias\n00:0E:C6:00:01:01,pump\n' >"$work/plant.csv"
expect 1 search search
expect 2 set set 00:0e:c6:00:01:01 alias=pump
expect 2 apply apply "$work/plant.csv"
exit $bad
