#!/usr/bin/env bash
# Renders every window of the program "search" to PNG under docs/screenshots/
# on the offscreen platform: the main window after a search of simulated
# modules, the progress dialog during that search, and the dialogs. The
# search runs in a private network namespace (scripts/in-netns.sh), so its
# broadcast never leaves this machine.
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
QT_QPA_PLATFORM=offscreen "$root/scripts/in-netns.sh" \
  "$build/tests/app/app_screenshots/app_screenshots" "$out"
