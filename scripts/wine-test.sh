#!/usr/bin/env bash
# Builds the Windows binaries of both flavors and runs the Wine suite alone (run as root on
# Debian 12). TAVROL_WINE_FLAVORS=x86_64 runs it as a host without 32-bit programs would.
#   bash scripts/wine-test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/wine-setup.sh
jobs=$(nproc)
for preset in windows-i686 windows-x86_64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target wine_suite wine_vm_tests
ctest --preset native -L wine "$@"
grep -h '^Wine flavors:' build/native/Testing/Temporary/LastTest.log || true
