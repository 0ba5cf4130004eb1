#!/usr/bin/env bash
# Runs bench/autoset_bench on a throw-away test LAN (scripts/with-testlan.sh):
# host 198.18.0.10/24, gateway 198.18.0.1, and one namespace without module
# simulator whose addresses answer echo, so that the free addresses of the
# /24 are interleaved with addresses in use. Nothing leaves the LAN.
# Usage: bench/run-autoset-bench.sh   (BUILD_DIR defaults to build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bench=$build/bench/autoset_bench
[[ -x $bench ]] || { echo "run-autoset-bench.sh: build the target autoset_bench in $build first" >&2; exit 1; }
exec "$root/scripts/with-testlan.sh" --timeout 180 \
  --module-ns ip=198.18.0.101/24,extra=198.18.0.5+198.18.0.12+198.18.0.19+198.18.0.64+198.18.0.130 --no-sim \
  -- env QT_QPA_PLATFORM=offscreen "$bench"
