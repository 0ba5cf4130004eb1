#!/usr/bin/env bash
# Installs the Debian packages the Windows cross build, its packages
# (scripts/package-windows.sh: chmcmd for the help file, makensis, zip) and
# its tests under Wine (Xvfb and xwininfo for the program's window) need.
set -euo pipefail
exec bash "$(dirname "$0")/install-packages.sh" deps-windows \
  cmake make build-essential \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  googletest \
  wine wine64 \
  fp-utils-3.2.2 nsis zip unzip xvfb x11-utils \
  iproute2 procps util-linux
