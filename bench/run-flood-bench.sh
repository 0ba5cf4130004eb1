#!/usr/bin/env bash
# Runs bench/flood_bench on a throw-away test LAN: namespace 1 holds 50
# simulated modules, namespace 2 floods the host's reply port with garbage
# for as long as the searches take. Nothing leaves the LAN.
# Usage: bench/run-flood-bench.sh   (BUILD_DIR defaults to build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bench=$build/bench/flood_bench
modsim=$build/tools/modsim/modsim
[[ -x $bench && -x $modsim ]] || { echo "run-flood-bench.sh: build flood_bench and modsim in $build first" >&2; exit 1; }
modules=()
for i in $(seq 1 50); do
  modules+=(--module "name=M$i,ip=198.18.0.$((100 + i)),mac=$(printf '00:0E:C6:00:10:%02X' "$i")")
done
# shellcheck disable=SC2016 # expanded by the inner shell
exec "$root/scripts/with-testlan.sh" --timeout 120 --modsim "$modsim" \
  --module-ns ip=198.18.0.101/24 --sim "${modules[*]}" \
  --module-ns ip=198.18.0.99/24 --no-sim \
  -- bash -c 'ip netns exec "$TESTLAN_MODULE_NS_2" "$0" flood "$TESTLAN_HOST_IP" 54321 60 & f=$!
              sleep 1; "$0" search 50; rc=$?; kill $f 2>/dev/null; wait $f 2>/dev/null; exit $rc' "$bench"
