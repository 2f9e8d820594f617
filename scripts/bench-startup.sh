#!/usr/bin/env bash
# How long the log-on run takes under Wine x86-64, against the floor of any program that must
# reach a kernel driver at log-on and against a bare program. A benchmark, not a test: CI does
# not run it.
#   bash scripts/bench-startup.sh [ROUNDS]      (ROUNDS: 15 by default)
#
# It builds the x86-64 program the Wine suite runs (Tavrol-test.exe over the suite's virtual PC
# driver TAVROL-vm.sys, build/windows-x86_64) and, from scripts/bench/, the floor (floor.exe and
# the do-nothing driver nothing.sys: open the service manager, copy the driver into
# System32\drivers, create, start, stop and delete the service, delete the copy), a bare program
# that returns 0, and a program that keeps Wine's desktop process running, as the shell does at
# a real log-on. In a fresh 64-bit prefix with Wine's null graphics driver it then runs ROUNDS
# rounds of the three, each round in another order: "Tavrol.exe -startup" with a stored word
# that changes the modes (4X, sideband addressing, fast writes; the virtual PC is reset before
# each such run, untimed), the floor and the bare program. After every run it checks the
# outcome: exit status 0, the modes in both command registers (log-on run), no service TAVROL
# and no driver copy left (log-on run and floor). A run that fails its check ends the benchmark
# with status 1.
#
# The table gives the median, minimum and maximum wall time of each and the ratios of the
# medians; its last two lines are "log-on/floor RATIO" and "log-on/bare RATIO". Only the 64-bit
# Wine is used, so it runs on a host without 32-bit programs. TAVROL_KEEP_PREFIX=1 keeps the
# prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

rounds=${1:-15}
if ! [[ $rounds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: bash scripts/bench-startup.sh [ROUNDS] (a whole number of rounds, 1 or more)" >&2
    exit 2
fi

# The program, its library and the suite's virtual PC and helper.
build=$root/build/windows-x86_64
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset windows-x86_64 >/dev/null
fi
cmake --build --preset windows-x86_64 --target tavrol_test_exe tavrol_tvx tavrol_vm_sys \
    tavrol_wine_driver >/dev/null
for f in wine/Tavrol-test.exe src/Tavrol.tvx wine/TAVROL-vm.sys wine/tavrol-driver.exe; do
    [ -f "$build/$f" ] || { echo "missing $build/$f after the build" >&2; exit 1; }
done

# The floor, the bare program and the desktop keeper: no C runtime, nothing but what each does.
bench=$root/build/bench
mkdir -p "$bench"
cxx=x86_64-w64-mingw32-g++
flags=(-std=c++17 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti -nostdlib -s)
for program in floor bare desktop; do
    "$cxx" "${flags[@]}" -Wl,--entry,benchStart -o "$bench/$program.exe" \
        "scripts/bench/$program.cpp" -lkernel32 -ladvapi32 -luser32
done
ddk=$("$cxx" -print-sysroot)/include/ddk
[ -d "$ddk" ] || ddk=/usr/x86_64-w64-mingw32/include/ddk
"$cxx" "${flags[@]}" -ffreestanding -nostartfiles -isystem "$ddk" -Wl,--subsystem,native \
    -Wl,--entry,DriverEntry -Wl,--image-base,0x10000 -Wl,--dynamicbase \
    -o "$bench/nothing.sys" scripts/bench/nothing_sys.cpp

loader=$(bash scripts/wine-flavor.sh loader x86_64)
work=$(mktemp -d /tmp/tavrol-bench-XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINELOADER=$loader WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
desktop_pid=
cleanup() {
    [ -n "$desktop_pid" ] && kill "$desktop_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if [ -z "${TAVROL_KEEP_PREFIX:-}" ]; then rm -rf "$work"; else echo "prefix kept: $WINEPREFIX" >&2; fi
}
trap cleanup EXIT

# The prefix as the Wine suite makes it: the null graphics driver chosen before its server
# starts for real work, then one server for the whole run.
timeout 300 "$loader" wineboot -i >/dev/null 2>&1
timeout 120 wineserver -w
timeout 60 "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k || true
timeout 60 wineserver -w
wineserver -p600

drive=$WINEPREFIX/drive_c
mkdir -p "$drive/tavrolin" "$drive/bench" "$drive/warmup"
cp "$build/wine/Tavrol-test.exe" "$drive/tavrolin/Tavrol.exe"
cp "$build/src/Tavrol.tvx" "$drive/tavrolin/Tavrol.tvx"
cp "$build/wine/TAVROL-vm.sys" "$drive/tavrolin/TAVROL.sys"
cp "$build/wine/TAVROL-vm.sys" "$drive/warmup/TAVROL.sys"
cp "$bench/floor.exe" "$bench/bare.exe" "$bench/desktop.exe" "$bench/nothing.sys" "$drive/bench/"

helper() {
    (cd "$drive" && timeout 120 "$loader" "$build/wine/tavrol-driver.exe" "$@" 2>/dev/null) | tr -d '\r'
}

# Wine's device host can refuse the first start of a driver in a fresh prefix (wine/README.md):
# one driver started and removed here warms it.
helper service-start 'C:\warmup\TAVROL.sys' | grep -qx 'service=running' ||
    { echo "no driver starts in the prefix $WINEPREFIX" >&2; exit 1; }
helper service-remove >/dev/null

"$loader" 'C:\bench\desktop.exe' 'C:\bench\desktop.ready' >/dev/null 2>&1 &
desktop_pid=$!
for _ in $(seq 1 600); do
    [ -f "$drive/bench/desktop.ready" ] && break
    sleep 0.1
done
[ -f "$drive/bench/desktop.ready" ] || { echo "Wine's desktop process did not start" >&2; exit 1; }

settings_key='Software\Vantorel Tech\Tavrolin'
machine_key='Software\Tavrolin Test Machine'
# 4X, sideband addressing, fast writes, run at log-on; the virtual PC starts at 2X without them.
stored_word=$((4 * 32 + 1 * 8 + 1 * 2 + 1))

fail() {
    echo "round $round, $1" >&2
    exit 1
}

nothing_left() {
    [ "$(helper service-query)" = "service=absent" ] || fail "$1 left the service TAVROL"
    [ ! -e "$drive/windows/system32/drivers/TAVROL.sys" ] || fail "$1 left the driver copy"
}

# The AGP command registers of the card and the bridge, masked to the modes, from the virtual
# PC's saved state (wine/README.md): both must hold 4X, fast writes, AGP enable and sideband.
modes_applied() {
    local state
    state=$(helper reg-get "$machine_key" State | sed -n 's/^data=//p')
    python3 - "$state" <<'EOF'
import sys
state = bytes.fromhex(sys.argv[1])
dword = lambda at: int.from_bytes(state[at:at + 4], "little")
count = dword(4) if len(state) >= 12 else 0
wanted = 0x4 | 0x10 | 0x100 | 0x200
found = {}
for index in range(count):
    base = 12 + 256 * index
    base_class = dword(base + 8) >> 24
    pointer = state[base + 0x34]
    for _ in range(48):
        if pointer < 0x40:
            break
        header = dword(base + (pointer & 0xFC))
        if header & 0xFF == 2:
            found.setdefault(base_class, dword(base + (pointer & 0xFC) + 8))
            break
        pointer = (header >> 8) & 0xFF
mask = 0x7 | 0x10 | 0x100 | 0x200
sys.exit(0 if all(found.get(c, 0) & mask == wanted for c in (0x03, 0x06)) else 1)
EOF
}

# Runs one program; its wall time in milliseconds goes to $elapsed, its exit status to $status.
timed() {
    local start end
    start=$(date +%s%N)
    status=0
    "$loader" "$@" >/dev/null 2>&1 || status=$?
    end=$(date +%s%N)
    elapsed=$(((end - start) / 1000000))
}

run_logon() {
    helper reg-delete "$machine_key" >/dev/null
    helper reg-set "$settings_key" Settings dword "$stored_word" >/dev/null
    timed 'C:\tavrolin\Tavrol.exe' -startup
    [ "$status" -eq 0 ] || fail "the log-on run ended with status $status"
    modes_applied || fail "the log-on run did not apply the stored modes"
    nothing_left "the log-on run"
    logon_times+=("$elapsed")
}

run_floor() {
    timed 'C:\bench\floor.exe'
    [ "$status" -eq 0 ] || fail "the floor ended with status $status"
    nothing_left "the floor"
    floor_times+=("$elapsed")
}

run_bare() {
    timed 'C:\bench\bare.exe'
    [ "$status" -eq 0 ] || fail "the bare program ended with status $status"
    bare_times+=("$elapsed")
}

logon_times=() floor_times=() bare_times=()
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
orders=("run_logon run_floor run_bare" "run_floor run_bare run_logon" "run_bare run_logon run_floor")
for round in $(seq 1 "$rounds"); do
    for step in ${orders[$(((round - 1) % 3))]}; do
        "$step"
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Median (the mean of the middle two for an even count), minimum and maximum, in seconds.
stats() {
    printf '%s\n' "$@" | sort -n | awk '
        { v[NR] = $1 }
        END {
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.3f %.3f %.3f\n", m / 1000, v[1] / 1000, v[NR] / 1000
        }'
}
read -r logon_median logon_min logon_max <<<"$(stats "${logon_times[@]}")"
read -r floor_median floor_min floor_max <<<"$(stats "${floor_times[@]}")"
read -r bare_median bare_min bare_max <<<"$(stats "${bare_times[@]}")"

echo "Start-up under $("$loader" --version) x86-64, $rounds rounds, Wine's desktop process running"
echo "load average $load_before before, $load_after after (nproc $(nproc))"
printf '%-8s %8s %8s %8s\n' run median min max
printf '%-8s %7ss %7ss %7ss\n' log-on "$logon_median" "$logon_min" "$logon_max"
printf '%-8s %7ss %7ss %7ss\n' floor "$floor_median" "$floor_min" "$floor_max"
printf '%-8s %7ss %7ss %7ss\n' bare "$bare_median" "$bare_min" "$bare_max"
awk -v l="$logon_median" -v f="$floor_median" -v b="$bare_median" \
    'BEGIN { printf "log-on/floor %.2f\nlog-on/bare %.2f\n", l / f, l / b }'
