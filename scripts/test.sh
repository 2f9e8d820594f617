#!/usr/bin/env bash
# Builds everything and runs every test: native (plain and with ASan/UBSan) and the Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
for preset in native native-asan; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
