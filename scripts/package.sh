#!/usr/bin/env bash
# Builds the Debian packages build-deb/package/{dalvora,libzarfel1,
# libzarfel-dev}_<version>_<arch>.deb (the program, the shared library, its
# development files): installs what is missing, builds the program, the
# library and the help file (no tests), and packs what "cmake --install"
# puts under /usr, split by install component (cmake/Packaging.cmake).
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
bash scripts/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_BUILD_TESTS=OFF -DDALVORA_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
ls "$build"/package/*.deb
