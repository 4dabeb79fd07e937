# shellcheck shell=bash
# Helpers of the scripts that drive zu in the guest of alsa_vm.sh --desktop. They read
# zu's frame log in $dir/frames.log (zu.exe ends its lines with CR LF) and call the
# script's own fail.

# within SECONDS COMMAND...: runs COMMAND until it succeeds; false once SECONDS have passed.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$end" ] || return 1
        sleep 0.1
    done
}
keys_taken() { grep -cE $'^event [0-9]+ 768\r?$' "$dir/frames.log"; } # SDL_KEYDOWN
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
# The ALSA client number of snd-virmidi's card, the controller.
controller_client() {
    aconnect -l | sed -n "s/^client \([0-9]*\): 'Virtual Raw MIDI.*/\1/p" | head -1
}
# follow_controller: sends controller 20 at 9 from the controller until zu, in follow
# mode, takes it (its frame log tells of each new pair).
followed() { grep -qE $'^midi [0-9]+ 20 9\r?$' "$dir/frames.log"; }
follow_controller() {
    local sent=0
    until followed || [ $sent -ge 20 ]; do
        printf '\260\024\011' >/dev/snd/midiC0D0
        sent=$((sent + 1))
        within 2 followed
    done
    followed || fail "zu in follow mode never took the controller's message"
}
# quit_with_q NAME: types q and fails unless zu ($zu_pid) ends with status 0.
zu_ended() { ! kill -0 "$zu_pid" 2>/dev/null; }
quit_with_q() {
    local status
    xdotool key q
    within 30 zu_ended || fail "$1 did not end on q"
    wait "$zu_pid"
    status=$?
    [ $status -eq 0 ] || fail "$1 ended with status $status"
}
