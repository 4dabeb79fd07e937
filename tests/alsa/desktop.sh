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
# within SECONDS COMMAND...: runs COMMAND until it succeeds; false once SECONDS have passed.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$end" ] || return 1
        sleep 0.1
    done
}
keys_taken() { grep -c '^event [0-9]* 768$' "$dir/frames.log"; } # SDL_KEYDOWN
more_keys() { [ "$(keys_taken)" -gt "$1" ]; }
# key KEYSYM: types it and waits until zu's frame log shows one more key taken.
key() {
    local before
    before=$(keys_taken)
    xdotool key "$1"
    within 20 more_keys "$before" || fail "zu did not take the key $1"
}
# The client's block of aconnect -l, its ports and their connections.
client() { aconnect -l | awk -v name="'$1'" '/^client /{ on = index($0, name) > 0 } on'; }
# connected CLIENT "Connecting To"|"Connected From" CLIENT:PORT (maybe with "[real:0]")
connected() { client "$1" | grep -Eq "$2:.*[ ,]$3(\[[^]]*\])?(,|$)"; }

start_xvfb "$dir" || fail "Xvfb did not start: $(cat "$dir/xvfb.log")"
pids+=("$xvfb_pid")
export DISPLAY=$display
aseqdump -p "Midi Through" >"$dir/through.txt" 2>&1 &
pids+=($!)
controller=$(aconnect -l | sed -n "s/^client \([0-9]*\): 'Virtual Raw MIDI.*/\1/p" | head -1)
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

# Controller 20 at 9 from the controller; sent again until zu follows it (its frame log
# tells of each new pair).
followed() { grep -q '^midi [0-9]* 20 9$' "$dir/frames.log"; }
sent=0
until followed || [ $sent -ge 20 ]; do
    printf '\260\024\011' >/dev/snd/midiC0D0
    sent=$((sent + 1))
    within 2 followed
done
followed || fail "zu in follow mode never took the controller's message"

reached() { grep -q 'Control change' "$dir/through.txt"; }
key r
within 20 reached || fail "r sent nothing to Midi Through"

ended() { ! kill -0 "$zu_pid" 2>/dev/null; }
xdotool key q
within 30 ended || fail "zu did not end on q"
wait "$zu_pid"
status=$?
[ $status -eq 0 ] || fail "zu ended with status $status"
echo "zu connected to Midi Through and the controller, followed it, sent r and quit"
