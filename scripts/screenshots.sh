#!/usr/bin/env bash
# Screenshots of the real Tavrol.exe under Wine on a virtual X display: the main dialog, the About
# box and the restore-defaults dialog, written to docs/ as PNG files. The program runs on the
# Wine suite's driver, whose virtual PC is machines/default.lspci: Tavrol-test.exe, the program
# built to accept that driver too.
#   bash scripts/screenshots.sh [WINDOWS_BUILD_DIR]   (run as root)
# The default build is build/windows-i686 where this host runs 32-bit programs (and
# TAVROL_WINE_FLAVORS does not leave i686 out), else build/windows-x86_64: the dialogs are the
# same resources in both.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/wine-setup.sh
if [ $# -ge 1 ]; then
    build=$(realpath "$1")
elif [[ ",${TAVROL_WINE_FLAVORS:-i686}," =~ [,\ ]i686[,\ ] ]] &&
    bash scripts/wine-flavor.sh runs-i686 >/dev/null; then
    build=$root/build/windows-i686
else
    build=$root/build/windows-x86_64
fi
for f in wine/Tavrol-test.exe src/Tavrol.tvx wine/TAVROL-vm.sys wine/tavrol-driver.exe; do
    [ -f "$build/$f" ] || { echo "missing $build/$f: build the windows preset of $build first" >&2; exit 1; }
done
# The build's flavor, from its program's PE magic: PE32+ is x86-64.
if objdump -p "$build/wine/Tavrol-test.exe" | grep -q '^Magic.*(PE32+)'; then
    flavor=x86_64 arch=win64
else
    flavor=i686 arch=win32
fi
loader=$(bash scripts/wine-flavor.sh loader "$flavor")

work=$(mktemp -d /tmp/tavrol-shots-XXXXXX)
display=:$((90 + RANDOM % 9))
export WINEPREFIX=$work/prefix WINEARCH=$arch WINELOADER=$loader WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=$display
unset WAYLAND_DISPLAY
xvfb_pid=
helper_pid=
cleanup() {
    [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
"$loader" wineboot -i >/dev/null 2>&1
wineserver -w
# A Wine virtual desktop draws the windows' frames and captions, which a bare X server without a
# window manager would leave out.
"$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x480 /f >/dev/null 2>&1
# Wine draws the caption buttons with Marlett; this package of Wine does not find its own copy.
[ -f /usr/share/wine/fonts/marlett.ttf ] && cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wineserver -k
wineserver -w

program=$WINEPREFIX/drive_c/tavrolin
mkdir -p "$program"
cp "$build/wine/Tavrol-test.exe" "$program/Tavrol.exe"
cp "$build/src/Tavrol.tvx" "$program/"
cp "$build/wine/TAVROL-vm.sys" "$program/TAVROL.sys"

# The helper stops at each handshake until the picture is taken (it waits for the marker file
# C:\NAME.ready to disappear).
"$loader" "$build/wine/tavrol-driver.exe" session 'C:\tavrolin\Tavrol.exe' '' \
    dialog sleep:1500 handshake:main \
    syscommand:16 sleep:1500 handshake:about other:1 \
    click:1006 sleep:1500 handshake:restore other:2 \
    click:2 exit >"$work/helper.log" 2>&1 &
helper_pid=$!

mkdir -p docs
shoot() {
    local name=$1 marker=$WINEPREFIX/drive_c/$1.ready
    for _ in $(seq 1 600); do
        [ -f "$marker" ] && break
        kill -0 "$helper_pid" 2>/dev/null || { cat "$work/helper.log" >&2; exit 1; }
        sleep 0.1
    done
    [ -f "$marker" ] || { echo "the program never showed its $name dialog" >&2; exit 1; }
    # Black screen around the virtual desktop, one colour of desktop around the program's windows:
    # two trims leave the windows.
    import -display "$display" -window root "$work/$name.png"
    # No time stamps in the file: an unchanged dialog gives an unchanged PNG.
    /usr/bin/convert "$work/$name.png" -trim +repage -trim +repage -strip \
        -define png:exclude-chunks=date,time "docs/screenshot-$name.png"
    rm -f "$marker"
    echo "docs/screenshot-$name.png"
}
shoot main
shoot about
shoot restore
wait "$helper_pid" || { cat "$work/helper.log" >&2; exit 1; }
helper_pid=
grep -q '^exit=0' "$work/helper.log" || { cat "$work/helper.log" >&2; exit 1; }
