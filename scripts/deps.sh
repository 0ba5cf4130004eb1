#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run
# (xchm and xdg-utils: Help opens main.chm with them; dpkg-dev, file and
# lintian: the Debian package is built with its dependencies and checked;
# appstream: its AppStream data is validated).
set -euo pipefail
exec bash "$(dirname "$0")/install-packages.sh" deps \
  build-essential cmake pkg-config python3 \
  googletest libgtest-dev \
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev \
  libjpeg-dev \
  fp-utils-3.2.2 \
  xchm xdg-utils \
  iproute2 util-linux procps \
  dpkg-dev file lintian appstream
