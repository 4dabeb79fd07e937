# Sourced by scripts that need a private X server.
# start_xvfb DIR: starts Xvfb on the first free display from a per-process offset,
# waits until it answers, and sets display (":N") and xvfb_pid; returns 1 on failure.
# -noreset keeps the server from resetting when a probing client disconnects.
start_xvfb() {
    local dir=$1 n
    display=""
    xvfb_pid=""
    for n in $(seq $((50 + $$ % 50)) 199) $(seq 50 $((49 + $$ % 50))); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 320x400x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            xdpyinfo -display ":$n" >/dev/null 2>&1 && { display=":$n"; return 0; }
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid="" # that number was taken meanwhile: try the next one
    done
    return 1
}
