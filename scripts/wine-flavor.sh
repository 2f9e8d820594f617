#!/usr/bin/env bash
# What this host can do for the Wine flavors: i686 (a 32-bit prefix, where the main product runs)
# and x86_64 (a 64-bit prefix). Used by wine-setup.sh, screenshots.sh and the Wine suite.
#   bash scripts/wine-flavor.sh runs-i686 [MACHINE]
#       Exits 0 when this kernel executes 32-bit x86 Linux programs (the 32-bit Wine loader is
#       one). Otherwise prints why on one line and exits 1 when the kernel refused the program,
#       2 when the test could not tell. It runs a 96-byte static i386 program that exits with
#       status 42. MACHINE is the ELF machine number the program claims (default 3, i386); any
#       other shows how a refusal looks.
#   bash scripts/wine-flavor.sh loader i686|x86_64
#       Prints the Wine loader that runs the flavor's programs; exits 1 when there is none.
set -euo pipefail

runs_i686() {
    local machine=${1:-3} status output
    probe=$(mktemp "${TMPDIR:-/tmp}/tavrol-i686-probe-XXXXXX")
    trap 'rm -f "$probe"' EXIT
    local elf=(
        # ELF header: 32-bit, little-endian, executable, the machine, entry 0x08048054, one
        # program header at offset 52.
        7f 45 4c 46 01 01 01 00 00 00 00 00 00 00 00 00
        02 00 "$(printf %02x $((machine & 255)))" "$(printf %02x $((machine >> 8 & 255)))"
        01 00 00 00 54 80 04 08 34 00 00 00 00 00 00 00 00 00 00 00
        34 00 20 00 01 00 00 00 00 00 00 00
        # Program header: the whole file loaded read-only and executable at 0x08048000.
        01 00 00 00 00 00 00 00 00 80 04 08 00 80 04 08 60 00 00 00 60 00 00 00 05 00 00 00
        00 10 00 00
        # mov eax, 1 (exit); mov ebx, 42; int 80h
        b8 01 00 00 00 bb 2a 00 00 00 cd 80
    )
    printf "$(printf '\\x%s' "${elf[@]}")" >"$probe"
    chmod +x "$probe"
    status=0
    output=$("$probe" 2>&1) || status=$?
    if [ "$status" -eq 42 ]; then
        return 0
    fi
    # The shell reports a failed exec as "...: cannot execute binary file: REASON".
    if [ "$status" -eq 126 ] && [[ $output == *"Exec format error"* ]]; then
        echo "this kernel does not execute 32-bit x86 programs (Exec format error)"
        return 1
    fi
    echo "the 32-bit test program did not run as expected (status $status: ${output##*: })"
    return 2
}

loader() {
    local own others
    case "$1" in
        i686) own=/usr/lib/wine/wine; others=(wine) ;;
        x86_64) own=/usr/lib/wine/wine64; others=(wine64 wine) ;;
        *) echo "unknown flavor $1" >&2; return 1 ;;
    esac
    if [ -e /usr/lib/wine/wine ] || [ -e /usr/lib/wine/wine64 ]; then
        # Debian keeps both loaders here behind its /usr/bin/wine wrapper, which prefers the
        # 32-bit one even where that cannot start: take the flavor's own.
        if [ -x "$own" ]; then
            echo "$own"
            return 0
        fi
    else
        # Elsewhere wine64 is the 64-bit loader and wine the 32-bit one (or both, in a WoW64
        # build).
        for name in "${others[@]}"; do
            command -v "$name" && return 0
        done
    fi
    echo "no Wine loader for $1 programs (run scripts/wine-setup.sh)" >&2
    return 1
}

case "${1:-}" in
    runs-i686) shift; runs_i686 "$@" ;;
    loader) loader "${2:-}" ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
esac
