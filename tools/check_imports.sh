#!/usr/bin/env bash
# Checks what a Windows image imports, at load or on first use (its delay-loaded imports).
#   check_imports.sh IMAGE LIST      every imported function must be in the reviewed LIST
#   check_imports.sh IMAGE --dlls A,B  the image may import from these DLLs only
# Prints every import (as "DLL FUNCTION") and one "unlisted: ..." line per offender; exits 1 when
# there is one, 2 when the image cannot be read.
set -euo pipefail
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if [ $# -ne 2 ] && { [ $# -ne 3 ] || [ "$2" != --dlls ]; }; then
    echo "usage: check_imports.sh IMAGE LIST | IMAGE --dlls DLL[,DLL...]" >&2
    exit 2
fi
image=$1
if ! dump=$("$objdump" -p "$image" 2>&1); then
    echo "cannot read $image: $dump" >&2
    exit 2
fi
# objdump -p lists each DLL as "DLL Name: X" followed by "hint-rva hint name" rows; names are
# compared case-blind on the DLL side, as Windows' loader does.
static=$(awk '
    /^[ \t]*DLL Name:/ { dll = tolower($3); next }
    dll != "" && /^[ \t]*$/ { dll = ""; next }
    dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, $3 }
' <<<"$dump")
# objdump does not read the delay import directory.
if ! delayed=$(python3 "$(dirname "$0")/delay_imports.py" list "$image" 2>&1); then
    echo "cannot read the delay-loaded imports of $image: $delayed" >&2
    exit 2
fi
delayed=$(awk 'NF == 2 { print tolower($1), $2 }' <<<"$delayed")
imports=$(printf '%s\n%s\n' "$static" "$delayed" | awk 'NF' | sort -u)
printf '%s\n' "$imports"
status=0
if [ "$2" = --dlls ]; then
    allowed=",$(tr 'A-Z' 'a-z' <<<"$3"),"
    while read -r dll function; do
        [ -z "$dll" ] && continue
        case "$allowed" in *",$dll,"*) ;; *) echo "unlisted: $dll $function"; status=1 ;; esac
    done <<<"$imports"
    exit $status
fi
list=$2
[ -r "$list" ] || { echo "cannot read $list" >&2; exit 2; }
# The list: "DLL FUNCTION source..."; blank lines and # comments are skipped. An entry without a
# source has not been reviewed and does not count.
reviewed=$(awk '!/^[ \t]*(#|$)/ && NF >= 3 { print tolower($1), $2 }' "$list" | sort -u)
while read -r entry; do
    [ -z "$entry" ] && continue
    if ! grep -qxF "$entry" <<<"$reviewed"; then
        echo "unlisted: $entry"
        status=1
    fi
done <<<"$imports"
exit $status
