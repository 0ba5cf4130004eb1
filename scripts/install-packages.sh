#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing,
# non-interactively; does nothing when they are all there. The package lists
# are read once per hour at most, so that several of our scripts in a row
# update them only once.
# Usage: scripts/install-packages.sh LABEL PACKAGE...
set -euo pipefail
label=$1
shift

missing=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "$label: missing packages: ${missing[*]}; run as root to install them" >&2
  exit 1
fi
echo "$label: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
stamp=/var/lib/apt/lists/.dalvora-updated
if [ -z "$(find "$stamp" -mmin -60 2>/dev/null)" ]; then
  apt-get update -q </dev/null
  touch "$stamp"
fi
apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
