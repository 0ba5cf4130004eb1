#!/usr/bin/env bash
# Builds the Windows packages into BUILD_DIR/dist:
#   dalvora-<version>-setup.exe         the installer (packaging/windows/dalvora.nsi)
#   dalvora-<version>-windows-x64.zip   the same files in one top folder, to run
#                                       from wherever it is unpacked
# Installs what is missing and cross-builds (scripts/build-windows.sh) first;
# --no-build packs what the build folder holds (the Wine test does, inside
# a namespace with no network). Nothing is fetched while packing.
# Usage: scripts/package-windows.sh [--no-build] [BUILD_DIR]   (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
build_first=1
if [ "${1:-}" = --no-build ]; then
  build_first=0
  shift
fi
build=${1:-build-win}
say() { echo "package-windows: $*"; }
fail() { echo "package-windows: $*" >&2; exit 1; }

if [ "$build_first" = 1 ]; then
  bash scripts/deps-windows.sh
  bash scripts/build-windows.sh "$build"
fi
bin=$build/bin
[ -f "$bin/search.exe" ] ||
  fail "$bin/search.exe is missing: the program needs the Windows Qt (scripts/deps-windows-qt.sh)"
qt=$(bash scripts/deps-windows-qt.sh --prefix) || fail "the Windows Qt is not there"
# The version the build was configured with, as the Debian package has it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

# What is installed, relative to the install folder. Qt's PNG reader is
# built into Qt6Gui and the About picture is decoded by the program itself,
# so no image format plugin is needed; the style plugin gives the native look.
files=(search.exe Zarfel.dll zarfelcli.exe main.chm
  Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll
  platforms/qwindows.dll styles/qwindowsvistastyle.dll)

dist=$build/dist
name=dalvora-$version
stage=$dist/stage/$name
rm -rf "$dist/stage"
mkdir -p "$stage/platforms" "$stage/styles"
for f in search.exe Zarfel.dll zarfelcli.exe main.chm; do
  [ -f "$bin/$f" ] || fail "$bin/$f is missing"
  cp "$bin/$f" "$stage/$f"
done
for f in Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll; do cp "$qt/bin/$f" "$stage/$f"; done
for f in platforms/qwindows.dll styles/qwindowsvistastyle.dll; do cp "$qt/plugins/$f" "$stage/$f"; done
# Debug information stays in the build folder; the packages get stripped copies.
for f in "${files[@]}"; do
  case $f in *.exe | *.dll) x86_64-w64-mingw32-strip "$stage/$f" ;; esac
done

# Ship exactly what is needed: every DLL a shipped file imports is shipped
# or is Windows' own (mingw-w64 has its import library), and every shipped
# DLL but the plugins, which Qt loads by folder, is imported by something.
imported=""
for f in "${files[@]}"; do
  case $f in *.exe | *.dll) ;; *) continue ;; esac
  while IFS= read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    imported+="$lower"$'\n'
    if [ -f "$stage/$dll" ] || [ -f "/usr/x86_64-w64-mingw32/lib/lib${lower%.dll}.a" ]; then continue; fi
    case $lower in api-ms-win-*.dll) continue ;; esac
    fail "$f imports $dll, which is neither shipped nor Windows' own"
  done < <(x86_64-w64-mingw32-objdump -p "$stage/$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
for f in "${files[@]}"; do
  case $f in */* | *.exe | *.chm) continue ;; esac
  grep -qx "$(tr 'A-Z' 'a-z' <<<"$f")" <<<"$imported" || fail "$f is shipped but nothing imports it"
done

# The installer's file lists come from the one list above, so that the
# uninstaller deletes exactly what was installed, by name.
size_kb=$(du -sk --apparent-size "$stage" | cut -f1)
nsh_install=$dist/stage/install.nsh
nsh_remove=$dist/stage/remove.nsh
: >"$nsh_install"
: >"$nsh_remove"
dirs=()
for f in "${files[@]}"; do
  dir=${f%/*}
  [ "$dir" = "$f" ] && dir=""
  win=${f//\//\\}
  printf 'SetOutPath "$INSTDIR%s"\nFile "%s"\n' "${dir:+\\${dir//\//\\}}" "$(realpath "$stage/$f")" >>"$nsh_install"
  printf 'Delete "$INSTDIR\\%s"\n' "$win" >>"$nsh_remove"
  if [ -n "$dir" ] && [[ " ${dirs[*]} " != *" $dir "* ]]; then dirs+=("$dir"); fi
done
for dir in "${dirs[@]}"; do printf 'RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}" >>"$nsh_remove"; done

setup=$dist/$name-setup.exe
zip=$dist/$name-windows-x64.zip
rm -f "$setup" "$zip"
makensis -V2 -NOCD -DVERSION="$version" \
  -DFILES="$(realpath "$nsh_install")" -DREMOVE="$(realpath "$nsh_remove")" -DSIZE_KB="$size_kb" \
  -DOUTFILE="$(realpath "$dist")/$name-setup.exe" packaging/windows/dalvora.nsi ||
  fail "makensis failed"
# The zip holds the same files, in the same order, under one top folder.
(cd "$dist/stage" && printf '%s\n' "${files[@]/#/$name/}" | zip -q -X -9 -@ "../$name-windows-x64.zip")

say "$setup ($(du -k "$setup" | cut -f1) KB)"
say "$zip ($(du -k "$zip" | cut -f1) KB)"
