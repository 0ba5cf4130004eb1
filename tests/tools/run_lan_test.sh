#!/usr/bin/env bash
# Runs with-testlan.sh with the given arguments, then checks that the LAN left
# nothing behind: none of its namespaces, no change in the default namespace.
# Usage: run_lan_test.sh ID_FILE WITH_TESTLAN [ARGS...]
# ID_FILE is where the command writes TESTLAN_ID. Exit 77 is passed on (skip).
set -euo pipefail

id_file=$1
shift
rm -f "$id_file"

if [[ $(id -u) -ne 0 ]] || ! command -v ip >/dev/null; then
  echo "needs root and iproute2; skipped"
  exit 77
fi

links_before=$(ip -o link show | sed 's/^[0-9]*: //' | awk '{print $1}' | sort)
addrs_before=$(ip -o addr show | awk '{print $2, $4}' | sort)

rc=0
"$@" || rc=$?
if ((rc == 77)); then
  echo "network namespaces not usable here; skipped"
  exit 77
fi

bad=0
if [[ ! -s $id_file ]]; then
  echo "the command did not record the LAN id"
  bad=1
else
  id=$(cat "$id_file")
  left=$(ip netns list | awk '{print $1}' | grep -E "^tl-$id-" || true)
  if [[ -n $left ]]; then
    echo "namespaces left behind: $left"
    bad=1
  fi
fi
links_after=$(ip -o link show | sed 's/^[0-9]*: //' | awk '{print $1}' | sort)
addrs_after=$(ip -o addr show | awk '{print $2, $4}' | sort)
if [[ $links_before != "$links_after" || $addrs_before != "$addrs_after" ]]; then
  echo "the default namespace changed:"
  diff <(echo "$links_before"; echo "$addrs_before") <(echo "$links_after"; echo "$addrs_after") || true
  bad=1
fi
rm -f "$id_file"
if ((rc != 0)); then
  echo "with-testlan.sh exited with $rc"
  exit "$rc"
fi
exit "$bad"
