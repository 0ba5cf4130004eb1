#!/usr/bin/env bash
# Renders every window of the program "search" to PNG under docs/screenshots/
# on the offscreen platform: the main window after a search of simulated
# modules, the progress dialog during that search, and the dialogs. It runs
# in the host namespace of a test LAN (scripts/with-testlan.sh: host
# 198.18.0.10/24, gateway 198.18.0.1), so the search's broadcast and the
# configuration dialog's echo requests never leave this machine, and the
# dialog proposes settings of that subnet.
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (BUILD_DIR defaults to build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$root/docs/screenshots}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build"
fi
cmake --build "$build" -j2 --target app_screenshots
mkdir -p "$out"
"$root/scripts/with-testlan.sh" --timeout 120 -- env QT_QPA_PLATFORM=offscreen \
  "$build/tests/app/app_screenshots/app_screenshots" "$out"
