#!/usr/bin/env bash
# Makes the About box picture app/resources/about.jpg: renders the artwork
# (make-about-picture.py) and compresses it with libjpeg through a small
# encoder built on the fly (make-about-picture.cpp). The result is committed;
# run this again after changing the artwork. Needs python3, a C++ compiler
# and libjpeg-dev (scripts/deps.sh installs them).
#
# Usage: make-about-picture.sh [OUTPUT.jpg]   (default app/resources/about.jpg)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
OUT=${1:-"$HERE/../app/resources/about.jpg"}
CXX=${CXX:-c++}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$CXX" -std=c++20 -O2 -Wall -Wextra -o "$work/encode" "$HERE/make-about-picture.cpp" -ljpeg
python3 "$HERE/make-about-picture.py" "$work/about.ppm"
"$work/encode" "$work/about.ppm" "$work/about.jpg" 92
mv "$work/about.jpg" "$OUT"
echo "wrote $OUT ($(wc -c <"$OUT") bytes)"
