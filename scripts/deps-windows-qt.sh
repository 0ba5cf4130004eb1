#!/usr/bin/env bash
# Builds the Qt the Windows program links (Core, Gui, Widgets, Test and the
# windows and offscreen platform plugins) and libjpeg for x86_64-w64-mingw32
# from Debian's own source packages, and installs both into one cache folder
# outside the clone, named by the versions and everything in
# scripts/windows-qt (options, toolchain, patches):
#   /var/cache/dalvora/qt6-mingw-6.4.2-<hash>
# A folder that is there is complete and is reused at once: a build is
# installed into a temporary folder, checked, and only then renamed.
# The sources come through a private apt source list; /etc/apt is not touched.
#
# Usage: scripts/deps-windows-qt.sh           build if needed; prints the folder last
#        scripts/deps-windows-qt.sh --prefix  print the folder if it is complete,
#                                             else fail naming it; never builds
# Environment: DALVORA_CACHE (default /var/cache/dalvora, or
# ~/.cache/dalvora where that cannot be written), JOBS (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
conf=$here/windows-qt
rerun="bash scripts/deps-windows-qt.sh"

cache=${DALVORA_CACHE:-}
if [ -z "$cache" ]; then
  if [ -w /var/cache/dalvora ] || { [ ! -e /var/cache/dalvora ] && [ -w /var/cache ]; }; then
    cache=/var/cache/dalvora
  else
    cache=${XDG_CACHE_HOME:-$HOME/.cache}/dalvora
  fi
fi

qt_deb=$(sed -n 's/^qt6-base=//p' "$conf/versions")
jpeg_deb=$(sed -n 's/^libjpeg-turbo=//p' "$conf/versions")
qt_version=${qt_deb%%+*}
# Whatever changes the result changes the folder's name.
key=$(cat "$conf/versions" "$conf/options.cmake" "$conf/jpeg-options.cmake" \
  "$conf/toolchain.cmake" "$root/cmake/mingw-w64-x86_64.cmake" "$conf"/*.patch |
  sha256sum | cut -c1-10)
prefix=$cache/qt6-mingw-$qt_version-$key

if [ "${1:-}" = --prefix ]; then
  if [ ! -d "$prefix" ]; then
    echo "deps-windows-qt: not built: $prefix" >&2
    exit 1
  fi
  echo "$prefix"
  exit 0
fi

say() { echo "deps-windows-qt: $*"; }
if [ -d "$prefix" ]; then
  say "Qt $qt_version for mingw-w64 is there, $(cat "$prefix/BUILD-TIME" 2>/dev/null || echo "build time not recorded"): $prefix"
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
# Two runs at once would build the same folder twice.
exec 9>"$cache/.lock"
if ! flock -n 9; then
  say "another build of the Windows Qt is running; waiting for it"
  flock 9
fi
if [ -d "$prefix" ]; then
  say "built meanwhile: $prefix"
  echo "$prefix"
  exit 0
fi

work=$cache/work-$key
stage=$cache/.stage-$key
log=$work/build.log
step=""
failed() {
  local rc=$?
  [ -n "$step" ] || exit "$rc"
  echo "deps-windows-qt: FAILED: $step (exit $rc)" >&2
  if [ -f "$log" ]; then
    echo "deps-windows-qt: last lines of $log:" >&2
    tail -n 30 "$log" >&2
  fi
  echo "deps-windows-qt: to retry, run: $rerun" >&2
  exit "$rc"
}
trap failed EXIT
run() { "$@" >>"$log" 2>&1; }

rm -rf "$work" "$stage"
mkdir -p "$work"
: >"$log"

step="installing the build dependencies"
# moc, rcc and uic of the host's Qt of the same version serve the cross build.
bash "$here/install-packages.sh" deps-windows-qt \
  cmake ninja-build perl dpkg-dev xz-utils \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  qt6-base-dev qt6-base-dev-tools

step="fetching the sources"
# A private copy of the system's source list with source entries added;
# the package lists and downloads stay in the cache folder.
srcdir=$cache/src
aptdir=$srcdir/apt
mkdir -p "$aptdir/sources.list.d" "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
found=0
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed -E 's/^Types:.*/Types: deb deb-src/' "$f" >"$aptdir/sources.list.d/$(basename "$f")"
  found=1
done
[ "$found" = 1 ] || { echo "deps-windows-qt: no /etc/apt/sources.list.d/*.sources to copy" >&2; exit 1; }
apt=(-o "Dir::Etc::SourceParts=$aptdir/sources.list.d" -o Dir::Etc::SourceList=/dev/null
  -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache=$aptdir/cache"
  -o APT::Sandbox::User=root -q)
qt_dsc=$srcdir/qt6-base_${qt_deb#*:}.dsc
jpeg_dsc=$srcdir/libjpeg-turbo_${jpeg_deb#*:}.dsc
if [ ! -f "$qt_dsc" ] || [ ! -f "$jpeg_dsc" ]; then
  say "fetching qt6-base $qt_deb and libjpeg-turbo $jpeg_deb"
  run apt-get "${apt[@]}" update
  (cd "$srcdir" && run apt-get "${apt[@]}" source --download-only \
    "qt6-base=$qt_deb" "libjpeg-turbo=$jpeg_deb")
fi
# A fresh tree each time: our patches go on top of Debian's.
run dpkg-source -x "$qt_dsc" "$work/qtbase"
run dpkg-source -x "$jpeg_dsc" "$work/libjpeg"
for p in "$conf"/*.patch; do
  step="applying $(basename "$p")"
  run patch -d "$work/qtbase" -p1 --forward --batch -i "$p"
done

jobs=${JOBS:-2}
toolchain=$conf/toolchain.cmake

step="building libjpeg"
say "building libjpeg $jpeg_deb (log: $log)"
run cmake -S "$work/libjpeg" -B "$work/build-jpeg" -G Ninja -C "$conf/jpeg-options.cmake" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix"
run cmake --build "$work/build-jpeg" -j"$jobs"
DESTDIR=$stage run cmake --install "$work/build-jpeg"

step="configuring Qt"
say "configuring Qt $qt_deb"
start=$SECONDS
run cmake -S "$work/qtbase" -B "$work/build-qt" -G Ninja -C "$conf/options.cmake" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
step="building Qt"
say "building Qt with $jobs jobs (15 to 30 minutes on 2 cores)"
run cmake --build "$work/build-qt" -j"$jobs"
DESTDIR=$stage run cmake --install "$work/build-qt"
took=$((SECONDS - start))

step="checking the installed Qt"
built=$stage$prefix
for f in bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll bin/Qt6Test.dll \
  plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll \
  lib/cmake/Qt6/qt.toolchain.cmake lib/libjpeg.a; do
  [ -f "$built/$f" ] || { echo "deps-windows-qt: $f was not installed" >&2; exit 1; }
done
# Each DLL may import Qt and Windows' own DLLs, whose import libraries
# mingw-w64 ships; a compiler runtime DLL (libstdc++-6, libwinpthread-1) has
# none and is refused.
while IFS= read -r dll; do
  while IFS= read -r name; do
    lower=$(tr 'A-Z' 'a-z' <<<"$name")
    case $lower in
      qt6*.dll | api-ms-win-*.dll) continue ;;
    esac
    if [ ! -f "/usr/x86_64-w64-mingw32/lib/lib${lower%.dll}.a" ]; then
      echo "deps-windows-qt: ${dll#"$built"/} imports $name, no system DLL" >&2
      exit 1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
done < <(find "$built" -name '*.dll')

step="moving the Qt into place"
# Later runs that reuse the folder say what it cost.
echo "built in $((took / 60))m$((took % 60))s on $(date -u +%Y-%m-%d) with $jobs jobs" >"$built/BUILD-TIME"
mv "$built" "$prefix"
rm -rf "$stage" "$work"
step=""
trap - EXIT
say "Qt build took $((took / 60))m$((took % 60))s; installed $(du -sh "$prefix" | cut -f1) in $prefix"
echo "$prefix"
