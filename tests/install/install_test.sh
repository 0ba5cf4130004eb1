#!/usr/bin/env bash
# The Debian packages (program, library, -dev) as an operator and an
# integrator meet them: built from an existing build folder, checked one by
# one, unpacked together into a throw-away root, the program started
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
# Three packages, as Debian splits a program with a shared library.
newest() { ls -t "$build"/package/"$1"_*.deb | head -n1; }
deb=$(newest dalvora)
lib=$(newest libzarfel1)
dev=$(newest libzarfel-dev)
echo "install test: $deb $lib $dev"
# One version everywhere: the build's project(), the packages, their change log.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for p in "$deb" "$lib" "$dev"; do
  [ "$(dpkg-deb -f "$p" Version)" = "$version" ] || fail "$p: version is not the build's $version"
  outside=$(dpkg-deb -c "$p" | awk '{print $6}' | grep -v '^\./usr/' | grep -vx '\./' || true)
  [ -z "$outside" ] || fail "$p: files outside /usr: $outside"
done
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libjpeg62-turbo "libzarfel1 (= $version)"; do
  grep -qF "$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done
grep -qF "libzarfel1 (= $version)" <<<"$(dpkg-deb -f "$dev" Depends)" || fail "the -dev package's Depends"
[ "$(dpkg-deb -f "$deb" Recommends)" = "xchm, xdg-utils" ] || fail "Recommends"
# The library package holds the run-time library and its documents only.
libfiles=$(dpkg-deb -c "$lib" | awk '{print $6}' | grep -v '/$' | grep -v '^\./usr/share/doc/libzarfel1/' || true)
[ "$(sort <<<"$libfiles" | tr '\n' ' ')" = "./usr/lib/libZarfel.so.1 ./usr/lib/libZarfel.so.$version " ] \
  || fail "the library package holds: $libfiles"
for p in "$deb" "$dev"; do
  ! dpkg-deb -c "$p" | awk '{print $6}' | grep -q 'libZarfel\.so\.' || fail "$p holds the run-time library too"
done
for p in "$deb" "$lib" "$dev"; do
  lintian --fail-on error "$p" 2>/dev/null || fail "lintian reports errors for $p"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
root=$tmp/root
for p in "$deb" "$lib" "$dev"; do dpkg -x "$p" "$root"; done
[ "$(readlink "$root/usr/lib/libZarfel.so.1")" = "libZarfel.so.$version" ] || fail "libZarfel.so.1"
for name in dalvora libzarfel1 libzarfel-dev; do
  zcat "$root/usr/share/doc/$name/changelog.gz" | head -n1 | grep -q "^dalvora ($version) " || fail "$name changelog"
  [ -f "$root/usr/share/doc/$name/copyright" ] || fail "$name copyright"
done
[ "$(readlink "$root/usr/lib/libZarfel.so")" = libZarfel.so.1 ] || fail "libZarfel.so"
desktop=$root/usr/share/applications/dalvora.desktop
grep -qx 'Name=Dalvora' "$desktop" && grep -qx 'Exec=search' "$desktop" || fail "launcher"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg" ] || fail "icon"
# What a finished program brings: its manual pages, the README its log
# points to, AppStream data that validates.
for page in search zarfelcli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} 1 .*$version" || fail "man page $page"
done
[ -f "$root/usr/share/doc/dalvora/README.md" ] || fail "README"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
grep -q "<launchable type=\"desktop-id\">dalvora.desktop<" "${metainfo[0]}" || fail "metainfo launchable"
appstreamcli validate --no-net "${metainfo[0]}" >/dev/null || fail "appstreamcli validate"

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
# Asked without a display (no platform named either).
unshare -n setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$home" \
  "$root/usr/bin/search" --version >"$tmp/version" 2>&1 || fail "search --version: $(cat "$tmp/version")"
[ "$(cat "$tmp/version")" = "search $version" ] || fail "search --version said: $(cat "$tmp/version")"
[ "$(as_user "$root/usr/bin/zarfelcli" --version)" = "zarfelcli $version" ] || fail "zarfelcli --version"
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
