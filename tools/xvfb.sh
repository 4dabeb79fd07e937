#!/usr/bin/env bash
# A private X server on a display number that Xvfb picks itself (-displayfd): it
# takes the first number whose lock it wins, so two callers never share one.
#
#   Run it:     tools/xvfb.sh >FILE &     becomes Xvfb (same PID); writes the display
#                                         number and a line end to FILE once it accepts
#                                         connections; stop it with kill PID.
#   Source it:  . tools/xvfb.sh; start_xvfb DIR
#               starts it in the background, waits for it, and sets display (":N") and
#               xvfb_pid; returns 1 on failure (the log is DIR/xvfb.log).
# -noreset keeps the server from resetting when a probing client disconnects.
# ZU_XVFB_NO_REPEAT=1 turns auto-repeat off (-r): an emulated server that stalls
# would turn a tap into repeats.
ZU_XVFB_ARGS=(-displayfd 1 -screen 0 640x480x24 -nolisten tcp -noreset)
[ "${ZU_XVFB_NO_REPEAT:-}" = 1 ] && ZU_XVFB_ARGS+=(-r)

start_xvfb() {
    local dir=$1 n
    display=""
    xvfb_pid=""
    Xvfb "${ZU_XVFB_ARGS[@]}" >"$dir/xvfb.display" 2>"$dir/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 600); do
        n="$(head -n 1 "$dir/xvfb.display" 2>/dev/null)"
        [ -n "$n" ] && { display=":$n"; return 0; }
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    exec Xvfb "${ZU_XVFB_ARGS[@]}"
fi
