#!/usr/bin/env bash
# Installs what the Wine suite and the screenshots need on Debian 12 (run as root): 32-bit Wine,
# Xvfb and ImageMagick. Does nothing when everything is already there.
set -euo pipefail
packages=(wine wine32:i386 fonts-wine xvfb imagemagick zip unzip)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
