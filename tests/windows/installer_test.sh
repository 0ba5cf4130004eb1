#!/usr/bin/env bash
# The Windows packages under Wine, in a Wine prefix of their own under the
# build folder: packs them (scripts/package-windows.sh --no-build), installs
# silently and checks the files, the uninstall key and the Start-menu entry;
# starts the installed program on a private X display and waits for its main
# window; uninstalls silently and checks that only the user's option.ini
# files are left; then starts the program from the unpacked portable zip.
# The program sends a search when asked only, but it is never started where
# it could reach a network: scripts/test-windows.sh calls this inside its
# private namespace, and run alone it makes one or leaves the program out.
# Usage: tests/windows/installer_test.sh [BUILD_DIR]   (default: $BUILD_DIR or build-win)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-${BUILD_DIR:-build-win}}
say() { echo "installer_test: $*"; }
fail() { echo "installer_test: FAIL: $*" >&2; exit 1; }

if [ ! -f "$build/bin/search.exe" ]; then
  say "SKIP: no $build/bin/search.exe (the program needs the Windows Qt)"
  exit 0
fi
if [ "${TEST_WINDOWS_NETNS:-}" != 1 ]; then
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    exec env TEST_WINDOWS_NETNS=1 unshare -n bash "$0" "$build"
  fi
  say "SKIP: no private network namespace here, and the program is not started outside one"
  exit 0
fi
ip link set lo up

export WINEPREFIX=$root/$build/wineprefix-installer
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export XDG_CONFIG_HOME=$root/$build/xdg/config XDG_DATA_HOME=$root/$build/xdg/data XDG_CACHE_HOME=$root/$build/xdg/cache
unset DISPLAY WAYLAND_DISPLAY
start=$(date +%s)

tmp=$(mktemp -d "$root/$build/installer-test.XXXXXX")
xvfb=""
cleanup() {
  timeout 30 wineserver -k 2>/dev/null || true
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# Every Wine run is bounded; Debian's launcher's note about 32-bit Wine is noise.
wine_run() {
  local limit=$1
  shift
  timeout -k 5 "$limit" wine "$@" 2>&1 | { grep -v -e 'wine32' -e 'multiarch' -e 'dpkg --add-architecture' || true; } |
    tr -d '\r'
}
# Waits until every process of the prefix has ended: an NSIS uninstaller
# copies itself to a temporary folder, starts the copy and returns at once.
wine_wait() { timeout -k 5 "$1" wineserver -w || fail "Wine processes still running after $1 s"; }

bash scripts/package-windows.sh --no-build "$build" | sed 's/^/  /'
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
setup=$root/$build/dist/dalvora-$version-setup.exe
zip=$root/$build/dist/dalvora-$version-windows-x64.zip
files=(search.exe Zarfel.dll zarfelcli.exe main.chm Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
  platforms/qwindows.dll styles/qwindowsvistastyle.dll uninstall.exe)

# A fresh prefix each run: what an earlier run left could hide a leftover.
timeout 30 wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
say "creating the Wine prefix $WINEPREFIX"
timeout -k 5 300 wineboot -i >/dev/null 2>&1 || fail "wineboot -i did not finish"
wine_wait 60
drive=$WINEPREFIX/drive_c
instdir=$drive/"Program Files"/Dalvora
shortcut=$drive/ProgramData/Microsoft/Windows/"Start Menu"/Programs/Dalvora.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dalvora'
appdata_win=$(wine_run 30 cmd /c echo %APPDATA%)
appdata=$(timeout -k 5 30 winepath -u "$appdata_win" 2>/dev/null) || fail "no %APPDATA% folder"

# A display of its own: -displayfd takes the first number nobody holds.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { cat "$tmp/xvfb.log"; fail "Xvfb did not start"; }
display=:$(head -1 "$tmp/display")

# Starts EXE (a Linux path) on the private display, waits up to 60 s for the
# main window's title, and ends it.
shows_window() {
  local exe=$1 launcher found=""
  DISPLAY=$display wine_run 90 "$exe" >"$tmp/program.log" 2>&1 &
  launcher=$!
  for _ in $(seq 120); do
    if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -qF "\"Dalvora Version $version ("; then
      found=1
      break
    fi
    kill -0 "$launcher" 2>/dev/null || break
    sleep 0.5
  done
  timeout 30 wineserver -k 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
  [ -n "$found" ] || { tail -50 "$tmp/program.log"; fail "$exe showed no window \"Dalvora Version $version (...)\""; }
  say "$(basename "$(dirname "$exe")")/search.exe shows its main window"
}

say "silent install: $(basename "$setup") /S"
wine_run 120 "$setup" /S || fail "the installer failed"
wine_wait 60
for f in "${files[@]}"; do [ -f "$instdir/$f" ] || fail "not installed: $f"; done
[ -f "$shortcut" ] || fail "no Start-menu entry $shortcut"
strings "$shortcut" | grep -qxF 'C:\Program Files\Dalvora\search.exe' || fail "the Start-menu entry does not start search.exe"
wine_run 30 reg query "$key" /reg:64 >"$tmp/key.txt" || { cat "$tmp/key.txt"; fail "no uninstall key $key"; }
grep -Eq "^ *DisplayVersion +REG_SZ +$version$" "$tmp/key.txt" || { cat "$tmp/key.txt"; fail "wrong DisplayVersion"; }
grep -Eq '^ *QuietUninstallString +REG_SZ +"C:\\Program Files\\Dalvora\\uninstall.exe" /S$' "$tmp/key.txt" ||
  { cat "$tmp/key.txt"; fail "wrong QuietUninstallString"; }
say "installed ${#files[@]} files, the uninstall key and the Start-menu entry"

shows_window "$instdir/search.exe"

# The user's options, in both places the program keeps them.
printf '[option]\r\nSNumber=3\r\n' >"$instdir/option.ini"
mkdir -p "$appdata/search"
printf '[option]\r\nSTimeOut=900\r\n' >"$appdata/search/option.ini"

say "silent uninstall: uninstall.exe /S"
wine_run 60 "$instdir/uninstall.exe" /S || fail "the uninstaller failed"
wine_wait 60
left=$(cd "$instdir" && find . -mindepth 1 | sort)
[ "$left" = "./option.ini" ] || fail "left in the install folder: $(tr '\n' ' ' <<<"$left")"
[ -f "$appdata/search/option.ini" ] || fail "the user's %APPDATA% option.ini is gone"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
if wine_run 30 reg query "$key" /reg:64 >"$tmp/key.txt"; then cat "$tmp/key.txt"; fail "the uninstall key is still there"; fi
say "uninstalled: only the user's option.ini files are left"
# Without the user's file beside the program the folder goes too.
rm "$instdir/option.ini"
wine_run 120 "$setup" /S || fail "the second install failed"
wine_wait 60
wine_run 60 "$instdir/uninstall.exe" /S || fail "the second uninstall failed"
wine_wait 60
[ ! -e "$instdir" ] || fail "the empty install folder is still there"
say "installed and uninstalled again: the empty folder is gone"

say "portable zip: $(basename "$zip")"
mkdir "$tmp/portable"
unzip -q "$zip" -d "$tmp/portable"
top=$(ls "$tmp/portable")
[ "$top" = "dalvora-$version" ] || fail "the zip's top folder is '$top'"
for f in "${files[@]}"; do
  [ "$f" = uninstall.exe ] || [ -f "$tmp/portable/$top/$f" ] || fail "not in the zip: $f"
done
# Wine's file trace shows where the program looks for its options first:
# the user's file under %APPDATA%, which the uninstall left there.
WINEDEBUG=trace+file shows_window "$tmp/portable/$top/search.exe"
# The trace doubles backslashes; a path may come with the \\?\ prefix.
first=$(grep -F 'GetFileAttributesExW' "$tmp/program.log" | grep -o -m1 'L"[^"]*option\.ini"' |
  sed 's/^L"//; s/"$//; s/\\\\/\\/g; s/^\\\\?\\//')
[ "$first" = "$appdata_win\\search\\option.ini" ] || fail "the program looked for its options first in '$first'"
say "the program looks for its options first in $first"
say "passed in $(($(date +%s) - start)) s"
