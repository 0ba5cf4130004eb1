#!/usr/bin/env bash
# Installs what is missing, builds, and opens the program on simulated modules
# in a private test LAN of network namespaces (root needed): the program's
# broadcasts and pings reach the simulators and never this machine's network.
# Without a display, the main window is rendered to a PNG after a search
# instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no display here; rendering the windows after a search of simulated modules instead"
  BUILD_DIR="$root/build" bash scripts/screenshots.sh "$root/build/screenshots"
  echo "run: see $root/build/screenshots/main-window.png"
  exit 0
fi

# A plant as it may look on commissioning day: modules in the host's subnet,
# three fresh from the factory sharing one address, one elsewhere that only
# the broadcast reaches, and a few addresses that answer echo.
cd "$root/build/app" # the help file main.chm is opened from the working folder
exec "$root/scripts/with-testlan.sh" --modsim "$root/build/tools/modsim/modsim" \
  --module-ns "ip=198.18.0.101/24,extra=198.18.0.11/24+198.18.0.12/24" \
    --sim "--module name=QZ510,alias=Pump-1,ip=198.18.0.101,mac=00:0E:C6:00:00:01
           --module name=QZ510-DI,alias=,dhcp=1,ip=198.18.0.102,mac=00:0E:C6:00:00:02" \
  --module-ns "ip=198.18.0.103/24" \
    --sim "--module name=QZ520-AO,alias=Valve,ip=198.18.0.250,mac=00:0E:C6:00:00:03
           --module name=QZ510,ip=198.18.0.250,mac=00:0E:C6:00:00:04
           --module name=QZ510,ip=198.18.0.250,mac=00:0E:C6:00:00:05" \
  --module-ns "ip=198.19.5.20/24" \
    --sim "--module name=QZ510-RLY,alias=Hall-B,ip=198.19.5.20,gw=198.19.5.1,mac=00:0E:C6:00:00:06" \
  -- "$root/build/app/search"
