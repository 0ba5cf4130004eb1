#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the whole
# suite, then the library's tests under ThreadSanitizer, the protocol
# parser's under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# Windows build's tests under Wine, the fuzz targets for a short while, and
# the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_SANITIZE=thread \
  -DDALVORA_BUILD_APP=OFF -DDALVORA_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R '^library\.'

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_SANITIZE=address \
  -DDALVORA_BUILD_APP=OFF -DDALVORA_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs" --target protocol_test
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -R '^(ReplyParser|Acknowledgement|ConfigRequest)\.'

# libFuzzer targets (clang, address + undefined), 25 s each from the
# committed seeds; scripts/fuzz.sh SECONDS runs them longer.
bash scripts/fuzz.sh 25

# The Debian package built from that build, unpacked and run as nobody
# without network; the library's C example built against it.
bash tests/install/install_test.sh build

# The Windows build: the Windows Qt (built once into a cache folder outside
# the clone, 15 to 30 minutes), Zarfel.dll, zarfelcli.exe, search.exe and
# their tests cross-built with mingw-w64 and run under Wine in private
# network namespaces.
bash scripts/test-windows.sh
