#!/usr/bin/env bash
# Installs what the fuzz targets need: clang and its runtime libraries,
# which hold libFuzzer and the sanitizers.
set -euo pipefail
exec bash "$(dirname "$0")/install-packages.sh" deps-fuzz clang libclang-rt-dev
