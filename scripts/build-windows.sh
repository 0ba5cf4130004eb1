#!/usr/bin/env bash
# Cross-builds the library, zarfelcli, the program search.exe and their
# tests for 64-bit Windows with mingw-w64, then checks that Zarfel.dll
# exports its functions under their export numbers and that nothing needs a
# compiler runtime beside it. The program links the Windows Qt of
# scripts/deps-windows-qt.sh, built on the first run (15 to 30 minutes) and
# reused from its cache folder afterwards; DALVORA_WINDOWS_QT=off leaves the
# program out and never builds Qt.
# Usage: scripts/build-windows.sh [BUILD_DIR]   (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
jobs=${JOBS:-$(nproc)}

# Qt's toolchain file finds the Windows Qt and loads ours.
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
qt_args=()
if [ "${DALVORA_WINDOWS_QT:-on}" != off ]; then
  mkdir -p "$build"
  if ! bash scripts/deps-windows-qt.sh | tee "$build/windows-qt.out" ||
    ! qt=$(tail -n 1 "$build/windows-qt.out") || [ ! -d "$qt" ]; then
    echo "build-windows: no Windows Qt, so no search.exe; to build it, run: bash scripts/deps-windows-qt.sh" >&2
    exit 1
  fi
  echo "build-windows: with the Windows Qt in $qt ($(cat "$qt/BUILD-TIME" 2>/dev/null || echo "its build time was not recorded"))"
  qt_args=(-DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain")
  toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
fi
# A toolchain is read at the first configure only: a folder configured with
# the other one starts afresh.
if [ -f "$build/CMakeCache.txt" ] &&
  [ "$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")" != "$toolchain" ]; then
  echo "build-windows: $build was configured with another toolchain; configuring it afresh"
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${qt_args[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs"

dll="$build/bin/Zarfel.dll"
dump=$(x86_64-w64-mingw32-objdump -p "$dll")

# Export numbers are what callers bind by: each name must keep its number.
expected="1 Zarfel_GetVersion
2 Zarfel_Init
3 Zarfel_Close
4 Zarfel_BroadcastStart
5 Zarfel_BroadcastStop
6 Zarfel_GetModuleInfo
7 Zarfel_GetState
8 Zarfel_GetCount
9 Zarfel_ConfigModule
10 Zarfel_SetOptions
11 Zarfel_SetMessageHandler
12 Zarfel_GetModuleAdapter
13 Zarfel_GetIgnoredAcknowledgement
14 Zarfel_GetSocketFailure"
# objdump's name table gives each name's index into the address table; the
# export number is that index plus the ordinal base.
actual=$(awk '
  /^Ordinal Base/ { base = $3 }
  /\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^[[:space:]]*$/ { names = 0 }
  names && match($0, /\[ *[0-9]+\]/) {
    idx = substr($0, RSTART + 1, RLENGTH - 2) + 0
    print idx + base, $NF
  }' <<<"$dump" | sort -n)
if [ "$actual" != "$expected" ]; then
  echo "build-windows: unexpected export table of $dll:" >&2
  echo "$actual" >&2
  exit 1
fi

# Only system DLLs may be imported: no runtime of the compiler.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
allowed='^(kernel32|user32|ws2_32|iphlpapi|msvcrt|advapi32)\.dll$'
bad=$(grep -Ev "$allowed" <<<"$imports" || true)
if [ -n "$bad" ]; then
  echo "build-windows: $dll imports non-system DLLs: $bad" >&2
  exit 1
fi
echo "build-windows: $dll exports 1-14 by name and number; imports: $(tr '\n' ' ' <<<"$imports")"

# Callers that link the import library bind by number: the library's export
# test does, like the program, and must name no function of Zarfel.dll.
caller="$build/bin/exports_test.exe"
if [ -f "$caller" ]; then
  named=$(x86_64-w64-mingw32-objdump -p "$caller" |
    awk '/DLL Name: Zarfel.dll/ { on = 1; next } /DLL Name:/ { on = 0 } on' | grep -c 'Zarfel_' || true)
  numbered=$(x86_64-w64-mingw32-objdump -p "$caller" |
    awk '/DLL Name: Zarfel.dll/ { on = 1; next } /DLL Name:/ { on = 0 } on' | grep -Ec '^[[:space:]]+80+[0-9a-f]+[[:space:]]' || true)
  if [ "$named" != 0 ] || [ "$numbered" = 0 ]; then
    echo "build-windows: $caller does not bind Zarfel.dll by export number alone" >&2
    exit 1
  fi
  echo "build-windows: $caller binds Zarfel.dll by export number ($numbered imports)"
fi

# The program may import Windows' own DLLs (mingw-w64 ships their import
# libraries), Qt and Zarfel.dll; no compiler runtime.
program="$build/bin/search.exe"
if [ -f "$program" ]; then
  while IFS= read -r name; do
    lower=$(tr 'A-Z' 'a-z' <<<"$name")
    case $lower in
      qt6*.dll | zarfel.dll | api-ms-win-*.dll) continue ;;
    esac
    if [ ! -f "/usr/x86_64-w64-mingw32/lib/lib${lower%.dll}.a" ]; then
      echo "build-windows: $program imports $name, no system DLL" >&2
      exit 1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "build-windows: $program imports only Windows' DLLs, Qt and Zarfel.dll"
fi
