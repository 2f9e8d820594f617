#!/usr/bin/env bash
# Builds everything and runs every test: the Windows binaries first (the Wine suite runs them),
# then the native tests against the simulated PC, plain and with ASan/UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
[ -f scripts/wine-setup.sh ] && bash scripts/wine-setup.sh
jobs=$(nproc)
cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j "$jobs"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"
# The sanitizers watch our code, not Wine's: the Wine suite runs once, above.
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j "$jobs"
ctest --preset native-asan -j "$jobs" -LE wine
# The libFuzzer harnesses, 20 s each: a crash or a broken rule fails the run (see fuzz/run.sh).
cmake --preset native-fuzz >/dev/null
cmake --build --preset native-fuzz -j "$jobs"
bash fuzz/run.sh 20
