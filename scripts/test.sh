#!/usr/bin/env bash
# Builds everything and runs every test: the Windows binaries of both flavors first (the Wine
# suite runs them), then the native tests against the simulated PC, plain and with ASan/UBSan.
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
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"
# Which Wine flavors this host ran, and why not the other.
grep -h '^Wine flavors:' build/native/Testing/Temporary/LastTest.log || true
# The sanitizers watch our code, not Wine's: the Wine suite runs once, above.
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan -j "$jobs"
ctest --preset native-asan -j "$jobs" -LE wine
# The libFuzzer harnesses, 10 s each: a crash or a broken rule fails the run (see fuzz/run.sh).
cmake --preset native-fuzz >/dev/null
cmake --build --preset native-fuzz -j "$jobs"
bash fuzz/run.sh 10
