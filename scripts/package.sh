#!/usr/bin/env bash
# Builds the Debian package build-deb/package/dalvora_<version>_<arch>.deb:
# installs what is missing, builds the program, the library and the help
# file (no tests), and packs what "cmake --install" puts under /usr.
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
bash scripts/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDALVORA_BUILD_TESTS=OFF -DDALVORA_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
ls "$build"/package/*.deb
