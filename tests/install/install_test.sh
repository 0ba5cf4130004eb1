#!/usr/bin/env bash
# The Debian package as an operator and an integrator meet it: built from an
# existing build folder, unpacked into a throw-away root, the program started
# there as nobody without network from another working folder (it must find
# its library and its help file by itself), and the C example of the README
# built against the unpacked library with pkg-config and with CMake.
# Needs root (to become nobody and to leave the network).
# Usage: tests/install/install_test.sh [BUILD_DIR]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "install test: needs root, skipped" >&2
  exit 0
fi
fail() { echo "install test: FAIL: $*" >&2; exit 1; }

out=$(cd "$build" && cpack -G DEB 2>&1) || { echo "$out" >&2; fail "cpack"; }
deb=$(ls -t "$build"/package/dalvora_*.deb | head -n1)
echo "install test: $deb"
# One version everywhere: the build's project(), the package, its change log.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not the build's $version"

outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' | grep -vx '\./' || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libjpeg62-turbo; do
  grep -q "$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = "xchm, xdg-utils" ] || fail "Recommends"
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
root=$tmp/root
dpkg -x "$deb" "$root"
[ "$(readlink "$root/usr/lib/libZarfel.so.1")" = "libZarfel.so.$version" ] || fail "libZarfel.so.1"
zcat "$root/usr/share/doc/dalvora/changelog.gz" | head -n1 | grep -q "^dalvora ($version) " || fail "changelog"
[ "$(readlink "$root/usr/lib/libZarfel.so")" = libZarfel.so.1 ] || fail "libZarfel.so"
desktop=$root/usr/share/applications/dalvora.desktop
grep -qx 'Name=Dalvora' "$desktop" && grep -qx 'Exec=search' "$desktop" || fail "launcher"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg" ] || fail "icon"

# An ordinary user's session: its own home, a working folder elsewhere, no
# network, no inherited environment.
home=$tmp/home
mkdir -p "$home/work" "$home/run"
chmod 700 "$home/run"
chown -R nobody:nogroup "$home"
as_user() {
  unshare -n setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    sh -c 'cd "$0/work" && exec "$@"' "$home" "$@"
}
help=$(as_user env DALVORA_PRINT_HELP_FILE=1 "$root/usr/bin/search") || fail "the program did not start"
[ "$help" = "$root/usr/share/search/main.chm" ] || fail "help file: '$help'"
rc=0
as_user timeout 3 "$root/usr/bin/search" || rc=$?
[ "$rc" -eq 124 ] || fail "the program ended within 3 s (exit $rc)"
echo "install test: the program runs as nobody and finds $help"

# The library's users: pkg-config and find_package see only the unpacked tree.
cflags=$(PKG_CONFIG_LIBDIR="$root/usr/lib/pkgconfig" pkg-config --cflags --libs zarfel)
cc -o "$tmp/list_modules" "$src/tests/install/list_modules.c" $cflags
out=$(as_user env LD_LIBRARY_PATH="$root/usr/lib" "$tmp/list_modules") || fail "the example failed"
[ "$out" = "0 module(s), library version 0x0100" ] || fail "the example said: $out"
mkdir "$tmp/cm"
cat >"$tmp/cm/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(list_modules C)
find_package(Zarfel 1.0 REQUIRED)
add_executable(list_modules "$src/tests/install/list_modules.c")
target_link_libraries(list_modules PRIVATE Zarfel::Zarfel)
CMAKE
cmake -S "$tmp/cm" -B "$tmp/cm/build" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$tmp/cm/build" >/dev/null
[ "$(as_user env LD_LIBRARY_PATH="$root/usr/lib" "$tmp/cm/build/list_modules")" = "$out" ] || fail "the CMake-built example"
echo "install test: passed"
