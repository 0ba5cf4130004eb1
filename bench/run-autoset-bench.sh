#!/usr/bin/env bash
# Runs bench/autoset_bench on a throw-away test LAN (scripts/with-testlan.sh):
# host 198.18.0.10/24, gateway 198.18.0.1, and one namespace without module
# simulator whose addresses answer echo, so that the free addresses of the
# /24 are interleaved with addresses in use, and one whose 20 addresses drop
# echo but answer ARP (hosts behind a firewall): none of those may be listed.
# Nothing leaves the LAN.
# Usage: bench/run-autoset-bench.sh   (BUILD_DIR defaults to build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bench=$build/bench/autoset_bench
[[ -x $bench ]] || { echo "run-autoset-bench.sh: build the target autoset_bench in $build first" >&2; exit 1; }
silent=198.18.0.102
for o in 7 23 35 47 58 71 83 95 110 122 137 149 158 166 178 190 199 203 215; do silent+=" 198.18.0.$o"; done
extra=${silent#198.18.0.102 }
exec "$root/scripts/with-testlan.sh" --timeout 180 \
  --module-ns ip=198.18.0.101/24,extra=198.18.0.5+198.18.0.12+198.18.0.19+198.18.0.64+198.18.0.130 --no-sim \
  --module-ns "ip=198.18.0.102/24,extra=${extra// /+},echo=drop" --no-sim \
  -- env QT_QPA_PLATFORM=offscreen BENCH_SILENT_HOSTS="$silent" "$bench"
