#!/usr/bin/env bash
# Runs the libFuzzer harnesses of the native-fuzz build (cmake --preset native-fuzz &&
# cmake --build --preset native-fuzz). Each replays its kept regression inputs, its seeds and its
# corpus, then fuzzes for SECONDS (20 by default). A crash, a sanitizer report, a broken rule, a
# leak or an input that takes over 10 s fails the run; libFuzzer leaves the input in
# build/native-fuzz/crashes/. New inputs that reach new code collect in build/native-fuzz/corpus/.
#
#     bash fuzz/run.sh [SECONDS] [HARNESS...]   (profile regedit pe dialog script request)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(profile regedit pe dialog script request)
build=build/native-fuzz
seeds=$build/seeds

# Seeds from our own files: the shipped machine profiles, registry files and scripts of ours, the
# built Tavrol.tvx, and what fuzz_seeds makes of them (dialog templates, driver requests).
rm -rf "$seeds"
mkdir -p "$seeds"/{profile,regedit,pe,script} "$build/crashes"
cp machines/*.lspci "$seeds/profile/"
cp fuzz/seeds/regedit/* "$seeds/regedit/"
cp fuzz/seeds/script/* "$seeds/script/"
cp "$build/res/Tavrol.tvx" "$seeds/pe/"
"$build/fuzz/fuzz_seeds" "$build/res/Tavrol.tvx" machines "$seeds"

for harness in "${harnesses[@]}"; do
    corpus=$build/corpus/$harness
    log=$build/fuzz-$harness.log
    mkdir -p "$corpus"
    folders=("$corpus" "$seeds/$harness")
    [ -d "fuzz/regressions/$harness" ] && folders+=("fuzz/regressions/$harness")
    start=$SECONDS
    if ! "$build/fuzz/fuzz_$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$harness-" "${folders[@]}" \
        >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz_$harness failed: see $log and $build/crashes/" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$harness: $runs runs in $((SECONDS - start)) s, corpus $(ls "$corpus" | wc -l)"
done
