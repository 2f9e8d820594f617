#!/usr/bin/env bash
# Builds the Windows binaries and runs the Wine suite alone (run as root on Debian 12).
#   bash scripts/wine-test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/wine-setup.sh
jobs=$(nproc)
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target wine_suite wine_vm_tests
ctest --preset native -L wine "$@"
