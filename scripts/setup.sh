#!/usr/bin/env bash
# Installs what Taral-Bus needs to build, test and run on Debian 12.
# Idempotent: installs only packages that are missing. Uses sudo when not root.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qtbase5-dev libqt5serialport5-dev libqcustomplot-dev
  libbenchmark-dev
  xvfb xauth x11-utils imagemagick
  fonts-dejavu-core
)
if [ "${TARAL_SETUP_EXTRA:-}" != "" ]; then
  read -r -a extra <<<"$TARAL_SETUP_EXTRA"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
