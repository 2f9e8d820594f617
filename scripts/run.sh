#!/usr/bin/env bash
# Builds the program for the simulated PC and runs it on the default machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target tavrolin-sim
exec build/native/sim/cli/tavrolin-sim run "$@"
