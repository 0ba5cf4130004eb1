#!/usr/bin/env bash
# Photographs the Windows program under Wine listing simulated modules:
# search.exe of the cross build runs in Wine's own desktop on a private X
# display (Xvfb), in the host namespace of a throw-away test LAN
# (scripts/with-testlan.sh), so its broadcast reaches only the simulators.
# Alt+S presses Search; the picture is taken once the grid holds the modules.
# Usage: scripts/screenshots-windows.sh [OUTPUT_DIR]
#        (BUILD_DIR=build-win, NATIVE_BUILD_DIR=build-win-native by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/${BUILD_DIR:-build-win}
native=$root/${NATIVE_BUILD_DIR:-build-win-native}
out=${1:-$root/docs/screenshots}
say() { echo "screenshots-windows: $*"; }

if [ "${1:-}" != --in-lan ]; then
  bash "$root/scripts/install-packages.sh" screenshots-windows xvfb xdotool x11-apps x11-utils netpbm
  [ -f "$build/bin/search.exe" ] || bash "$root/scripts/build-windows.sh" "${BUILD_DIR:-build-win}"
  if [ ! -x "$native/tools/modsim/modsim" ]; then
    cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_BUILD_APP=OFF \
      -DDALVORA_BUILD_TESTS=OFF -DDALVORA_BUILD_BENCH=OFF >/dev/null
    cmake --build "$native" -j"$(nproc)" --target modsim
  fi
  mkdir -p "$out"
  exec "$root/scripts/with-testlan.sh" --timeout 240 --modsim "$native/tools/modsim/modsim" \
    --module-ns "ip=198.18.0.101/24" \
      --sim "--module name=QZ510,alias=Pump-1,ip=198.18.0.101,mac=00:0E:C6:00:00:01
             --module name=QZ510-DI,dhcp=1,ip=198.18.0.102,mac=00:0E:C6:00:00:02" \
    --module-ns "ip=198.18.0.103/24" \
      --sim "--module name=QZ520-AO,alias=Valve,ip=198.18.0.103,mac=00:0E:C6:00:00:03
             --module name=QZ510,ip=198.18.0.250,mac=00:0E:C6:00:00:04" \
    -- bash "$0" --in-lan "$out"
fi
out=$2

work=$(mktemp -d)
export WINEPREFIX=$build/wineprefix-screenshots WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
xvfb=""
cleanup() {
  timeout 30 wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The program's folder as the portable zip lays it out.
bash "$root/scripts/package-windows.sh" --no-build "$build" >/dev/null
app=$(find "$build/dist/stage" -mindepth 1 -maxdepth 1 -type d -name 'dalvora-*' | head -n 1)

# Wine's server must start in this namespace, where the test LAN's adapter is.
timeout 30 wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix $WINEPREFIX"
  timeout -k 5 300 wineboot -i >/dev/null 2>&1
fi
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
display=:$n
Xvfb "$display" -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# Wine's desktop draws the frames a Windows desktop draws.
(cd "$app" && timeout -k 5 180 wine explorer /desktop=Dalvora,1024x700 search.exe >"$work/wine.log" 2>&1) &
window=""
for _ in $(seq 300); do
  window=$(xdotool search --name '^Dalvora Version' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { cat "$work/wine.log"; xdotool search --name . getwindowname %@ 2>/dev/null | head; say "the main window did not show"; exit 1; }
sleep 2
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key --window "$window" alt+s
# The default time-out is 2 s; the progress dialog closes after it.
sleep 6
mkdir -p "$out"
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$work/desktop.png"
# In Wine's desktop the window X knows is the whole window, frame included.
geometry=$(xwininfo -id "$window")
field() { sed -n "s/^ *$1: *//p" <<<"$geometry"; }
pngtopnm "$work/desktop.png" |
  pamcut -left "$(field 'Absolute upper-left X')" -top "$(field 'Absolute upper-left Y')" \
    -width "$(field Width)" -height "$(field Height)" | pnmtopng >"$out/windows-main-window.png"
say "wrote $out/windows-main-window.png"
