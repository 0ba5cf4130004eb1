#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run,
# non-interactively; does nothing when they are all there already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3
  googletest libgtest-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libjpeg-dev
  fp-utils-3.2.2
  iproute2 util-linux
  xvfb xauth x11-apps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q </dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
