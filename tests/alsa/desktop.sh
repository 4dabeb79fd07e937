#!/usr/bin/env bash
# zu as on a desktop with one hardware controller, in the guest of alsa_vm.sh --desktop:
# "Midi Through" is output port 0 and input port 0, and the controller (snd-virmidi's
# card: bytes written to /dev/snd/midiC0D0 come out of its port) is input port 1.
# zu must connect to both, follow what the controller plays, send r to Midi Through
# and end with status 0 on q.
#
#   tests/alsa/desktop.sh ZU_BINARY ASSETS_DIR
set -uo pipefail
zu=$1 assets=$2
. "$(dirname "$0")/../../tools/xvfb.sh"
. "$(dirname "$0")/lib.sh"
dir=$(mktemp -d /tmp/zu-desktop.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
    rm -rf "$dir"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    echo "--- aconnect -l"; aconnect -l
    echo "--- zu's output"; cat "$dir/zu.log"
    echo "--- what reached Midi Through"; cat "$dir/through.txt"
    exit 1
}
start_xvfb "$dir" || fail "Xvfb did not start: $(cat "$dir/xvfb.log")"
pids+=("$xvfb_pid")
export DISPLAY=$display
aseqdump -p "Midi Through" >"$dir/through.txt" 2>&1 &
pids+=($!)
controller=$(controller_client)
[ -n "$controller" ] || fail "no snd-virmidi card (alsa_vm.sh --desktop loads it)"

cp "$assets/8bitOperatorPlus8-Regular.ttf" "$assets/dial.bmp" "$dir/"
(cd "$dir" && ZU_FRAME_LOG=$dir/frames.log JACK_NO_START_SERVER=1 exec "$zu") \
    >"$dir/zu.log" 2>&1 &
zu_pid=$!
pids+=("$zu_pid")
# Typed before zu ended its first frame, keys can be lost.
within 60 test -s "$dir/frames.log" || fail "zu painted no frame"
within 20 connected "RtMidi Output Client" "Connecting To" 14:0 ||
    fail "zu's output is not connected to Midi Through (output port 0)"
within 20 connected "RtMidi Input Client" "Connected From" "$controller:0" ||
    fail "zu's input is not connected to the controller (input port 1)"
said() { grep -q "^zu sends to Midi Through:Midi Through Port-0 and listens to Virtual Raw MIDI" "$dir/zu.log"; }
within 20 said || fail "zu did not say where it is connected: $(cat "$dir/zu.log")"

# Focus follows the pointer: over the window, then learn mode and follow mode.
# SDL replaces its first window: the last one of zu's counts.
find_window() { window=$(xdotool search --pid "$zu_pid" --name '^zu$' | tail -1) && [ -n "$window" ]; }
within 20 find_window || fail "no window named zu"
xdotool mousemove --window "$window" 4 150
key m
key m

follow_controller

reached() { grep -q 'Control change' "$dir/through.txt"; }
key r
within 20 reached || fail "r sent nothing to Midi Through"

quit_with_q zu
echo "zu connected to Midi Through and the controller, followed it, sent r and quit"
