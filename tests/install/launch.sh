# Sourced by the install and package tests: starts an installed launcher on a
# private X server, quits zu with q and checks how it ended.
# The sourcing script calls stop_launched on exit. No MIDI service is there, and none may be started on the test's behalf.
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/xvfb.sh"
xvfb_pid=""
zu_pid=""
window=""

# fail MESSAGE: ends the test with MESSAGE.
fail() {
    echo "FAIL: $*"
    exit 1
}

# stop_launched: stops zu and the X server if they still run.
stop_launched() {
    [ -n "$zu_pid" ] && kill "$zu_pid" 2>/dev/null && wait "$zu_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    zu_pid=""
    xvfb_pid=""
}

# launch_and_quit LAUNCHER DIR: starts LAUNCHER from / (so it must find its
# files itself) with its output in DIR/zu.log, waits for zu's window, types q and
# fails unless zu ends with status 0 having found its font. Sets window.
launch_and_quit() {
    local launcher=$1 dir=$2 geometry="" status=""
    start_xvfb "$dir" || fail "could not start Xvfb"
    export DISPLAY="$display" SDL_VIDEODRIVER=x11
    export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="zu-install-test-$$"
    (cd / && exec "$launcher") >"$dir/zu.log" 2>&1 &
    zu_pid=$!
    for _ in $(seq 200); do
        kill -0 "$zu_pid" 2>/dev/null || fail "zu ended at start-up: $(cat "$dir/zu.log")"
        # SDL replaces its first window when it sets up the renderer: only a window
        # that still answers counts.
        window="$(xdotool search --name '^zu$' 2>/dev/null | tail -1)"
        geometry="$([ -n "$window" ] && xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
        [ -n "$geometry" ] && break
        sleep 0.05
    done
    [ -n "$geometry" ] || fail "no window named zu appeared: $(cat "$dir/zu.log")"

    # Focus follows the pointer: put it over the window, then type q.
    eval "$geometry"
    xdotool mousemove $((X + 44)) $((Y + 60))
    sleep 0.2
    xdotool key q
    for _ in $(seq 300); do
        if ! kill -0 "$zu_pid" 2>/dev/null; then
            wait "$zu_pid"
            status=$?
            break
        fi
        sleep 0.05
    done
    [ -n "$status" ] || fail "zu did not quit on q within 15 s"
    zu_pid=""
    [ "$status" -eq 0 ] || fail "zu exited with status $status: $(cat "$dir/zu.log")"
    grep -q "Could not load font" "$dir/zu.log" && fail "zu did not find its font"
    return 0
}
