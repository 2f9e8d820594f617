#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Tavrolin (run as root).
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libncurses-dev libvterm-dev pciutils python3
          g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
          openssl osslsigncode nasm libunicorn-dev clang libclang-rt-14-dev unzip nsis)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
