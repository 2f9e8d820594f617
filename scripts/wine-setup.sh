#!/usr/bin/env bash
# Installs what the Wine suite and the screenshots need on Debian 12 (run as root): the 64-bit
# Wine always, the 32-bit Wine where this kernel runs 32-bit programs, Wine's fonts, Xvfb,
# ImageMagick, zip and unzip. Does nothing when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(wine wine64 fonts-wine xvfb imagemagick zip unzip)
if bash scripts/wine-flavor.sh runs-i686 >/dev/null; then
    packages+=(wine32:i386)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
