#!/usr/bin/env bash
# The Windows Qt's cache folder, without building anything: a folder is
# taken for complete only once it has its final name, is then reused without
# fetching or compiling, and a changed option names another folder.
# Usage: deps_windows_qt_test.sh SOURCE_DIR
set -euo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A copy of what names the folder, so that an option can be changed.
mkdir -p "$tmp/tree/scripts" "$tmp/tree/cmake" "$tmp/bin"
cp -r "$src/scripts/deps-windows-qt.sh" "$src/scripts/windows-qt" "$tmp/tree/scripts/"
cp "$src/cmake/mingw-w64-x86_64.cmake" "$tmp/tree/cmake/"
script=$tmp/tree/scripts/deps-windows-qt.sh
export DALVORA_CACHE=$tmp/cache
# Any attempt to fetch or build shows up as a failure.
for tool in apt-get dpkg-source cmake; do
  printf '#!/bin/sh\necho "%s was run" >&2\nexit 99\n' "$tool" >"$tmp/bin/$tool"
  chmod +x "$tmp/bin/$tool"
done
export PATH=$tmp/bin:$PATH

folder_of() {
  { bash "$script" --prefix 2>&1 >/dev/null || true; } | sed -n 's/^deps-windows-qt: not built: //p'
}

folder=$(folder_of)
[ -n "$folder" ] || fail "--prefix names no folder where nothing is built"
case $folder in "$DALVORA_CACHE"/qt6-mingw-6.4.2-*) ;; *) fail "unexpected folder $folder" ;; esac

# A build that stopped half-way leaves only its temporary folder behind.
mkdir -p "$DALVORA_CACHE/.stage-${folder##*-}$folder/bin"
if bash "$script" --prefix >/dev/null 2>&1; then fail "a temporary folder was taken for complete"; fi

mkdir -p "$folder"
[ "$(bash "$script" --prefix)" = "$folder" ] || fail "--prefix does not report the complete folder"
out=$(bash "$script" 2>&1) || fail "a complete folder is not reused: $out"
[ "$(tail -n 1 <<<"$out")" = "$folder" ] || fail "the run does not print the folder last: $out"

echo 'set(FEATURE_gif OFF CACHE BOOL "")' >>"$tmp/tree/scripts/windows-qt/options.cmake"
other=$(folder_of)
[ -n "$other" ] && [ "$other" != "$folder" ] || fail "a changed option reuses $folder"
echo "ok: $folder reused; a changed option names $(basename "$other")"
