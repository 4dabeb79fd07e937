#!/usr/bin/env bash
# zu.exe of the Windows zip under Wine, in the guest of alsa_vm.sh --desktop, through
# Wine's MIDI driver on the kernel's sequencer: WinMM's output 0 is Midi Through and
# input 1 the controller (snd-virmidi's card). zu.exe must send one Control Change per
# r, follow what the controller plays and end with status 0 on q.
#
#   tests/alsa/wine.sh ZU_EXE [PROBE_EXE]
# PROBE_EXE (winmm_exit.c) runs three times when zu.exe ends badly, so that the failure
# says whether a program that only lists the MIDI devices ends the same way under Wine.
# ZU_EXE's folder holds what the zip holds; the Wine prefix is tests/windows/wine.sh's,
# which that script sets up (on the host: it takes minutes in the guest). Both are
# copied to a tmpfs: wineserver's socket cannot live on the guest's 9p root. The files
# of drive_c, Wine's own DLLs and programs, are only read: symbolic links to them will do.
set -uo pipefail
exe=$1
probe=${2:-}
prefix=${ZU_WINEPREFIX:-${ZU_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zu-windows}/wine}
. "$(dirname "$0")/../../tools/xvfb.sh"
. "$(dirname "$0")/lib.sh"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINELOADER=/usr/lib/wine/wine64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Debian's Wine keeps wineserver's socket under /run/user/UID.
mkdir -p "/run/user/$(id -u)" && chmod 700 "/run/user/$(id -u)"
dir=$(mktemp -d /run/zu-wine.XXXXXX)
WINEPREFIX=$dir/prefix
pids=()
server_pid=""
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    # Every Windows process of the private prefix: wineserver started them, not this script.
    [ -n "$server_pid" ] && /usr/lib/wine/wineserver -k && wait "$server_pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- aconnect -l"; aconnect -l
    echo "--- zu.exe's output"; cat "$dir/zu.log"
    echo "--- what reached Midi Through"; cat "$dir/through.txt" 2>/dev/null
    [ -n "${quitting:-}" ] && [ -n "$probe" ] && wine_alone
    exit 1
}
wine_alone() {
    local statuses=() _
    cp "$probe" "$dir/zu/probe.exe" || return
    for _ in 1 2 3; do
        (cd "$dir/zu" && exec timeout -s KILL 60 "$WINELOADER" probe.exe) \
            >>"$dir/probe.log" 2>&1 </dev/null
        statuses+=($?)
    done
    echo "--- $(basename "$probe"), which only lists the MIDI devices, ended with status ${statuses[*]}:"
    grep -v '^ALSA lib' "$dir/probe.log"
}
started=$SECONDS
say() { echo "$((SECONDS - started)) s: $*"; }

[ -f "$prefix/.zu-ready" ] || fail "no Wine prefix in $prefix (tests/windows/wine.sh sets it up)"
mkdir "$WINEPREFIX" "$dir/zu"
{ cp -rs "$prefix/drive_c" "$WINEPREFIX/" &&
    find "$prefix" -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$WINEPREFIX/" \; ; } ||
    fail "could not copy the Wine prefix"
cp -r "$(dirname "$exe")"/. "$dir/zu/" || fail "could not copy $exe's folder"
say "prefix copied"

start_xvfb "$dir" || fail "Xvfb did not start: $(cat "$dir/xvfb.log")"
pids+=("$xvfb_pid")
export DISPLAY=$display
controller=$(controller_client)
[ -n "$controller" ] || fail "no snd-virmidi card (alsa_vm.sh --desktop loads it)"

# A server of this script's own, so that it ends with the script.
/usr/lib/wine/wineserver -f -p >"$dir/wineserver.log" 2>&1 &
server_pid=$!
(cd "$dir/zu" && ZU_FRAME_LOG=frames.log exec "$WINELOADER" "$(basename "$exe")") \
    >"$dir/zu.log" 2>&1 &
zu_pid=$!
pids+=("$zu_pid")
ln -s zu/frames.log "$dir/frames.log"
# Wine sets itself up first: over a minute in the emulated guest.
within 240 test -s "$dir/frames.log" || fail "zu.exe painted no frame"
say "zu.exe painted its first frame"
said() { grep -q "^zu sends to Midi Through.* and listens to VirMIDI" "$dir/zu.log"; }
within 30 said || fail "zu.exe does not send to Midi Through and listen to the controller"
say "$(grep '^zu sends' "$dir/zu.log")"
# Wine lists the sequencer's ports once, applications' before the kernel's: a reader
# started earlier would have been output 0.
aseqdump -p "Midi Through" >"$dir/through.txt" 2>&1 &
pids+=($!)
within 20 connected aseqdump "Connected From" 14:0 || fail "aseqdump does not read Midi Through"
aconnect -l

find_window() { window=$(xdotool search --name '^zu$' | tail -1) && [ -n "$window" ]; }
within 20 find_window || fail "no window named zu"
# Focus follows the pointer.
xdotool mousemove --window "$window" 4 150
ccs() { grep -c 'Control change' "$dir/through.txt"; }
at_least() { [ "$(ccs)" -ge "$1" ]; }
for _ in 1 2 3; do key r; done
within 20 at_least 3 || fail "3 presses of r sent $(ccs) Control Changes to Midi Through"
[ "$(ccs)" -eq 3 ] || fail "3 presses of r sent $(ccs) Control Changes to Midi Through"
say "3 presses of r, 3 Control Changes at Midi Through"

key m
key m
follow_controller
say "zu.exe followed the controller"

quitting=1
quit_with_q zu.exe
say "zu.exe sent r to Midi Through, followed the controller and quit with status 0"
