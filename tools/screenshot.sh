#!/usr/bin/env bash
# Takes a real screenshot of zu's window: a private X server, zu with one dial
# turned and one trigger, then ImageMagick's import of the window.
# Usage: tools/screenshot.sh [build-dir] [output.png]   (defaults: build, docs/screenshot.png)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$src/build}" && pwd)"
out="${2:-$src/docs/screenshot.png}"
[ -x "$build/zu" ] || { echo "build zu first: cmake --build $build"; exit 1; }
for tool in Xvfb xdotool import xdpyinfo; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing: scripts/install-deps.sh test"
        exit 1
    }
done

tmp="$(mktemp -d /tmp/zu-screenshot.XXXXXX)"
xvfb_pid=""
zu_pid=""
cleanup() {
    [ -n "$zu_pid" ] && kill "$zu_pid" 2>/dev/null && wait "$zu_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

. "$(dirname "$0")/xvfb.sh"
start_xvfb "$tmp" || { echo "could not start Xvfb"; exit 1; }
# The picture needs no MIDI: keep JACK from being started for it.
export DISPLAY="$display" SDL_VIDEODRIVER=x11 JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER="zu-screenshot-$$"

(cd "$build" && exec ./zu) >"$tmp/zu.log" 2>&1 &
zu_pid=$!
window=""
for _ in $(seq 200); do
    window="$(xdotool search --name '^zu$' 2>/dev/null | head -1)" && [ -n "$window" ] && break
    kill -0 "$zu_pid" 2>/dev/null || { cat "$tmp/zu.log"; exit 1; }
    sleep 0.05
done
[ -n "$window" ] || { echo "no zu window appeared"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"

# Turn the CC dial up: one step per motion event, each event a frame apart.
xdotool mousemove $((X + 65)) $((Y + 30))
sleep 0.2
xdotool mousedown 1
for i in $(seq 1 24); do
    xdotool mousemove $((X + 65)) $((Y + 30 - i))
    sleep 0.07
done
xdotool mouseup 1
sleep 0.2
# One trigger, released, so the value button shows a drawn value.
xdotool mousemove $((X + 44)) $((Y + 60))
sleep 0.2
xdotool key r
sleep 0.3

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
xdotool key q
for _ in $(seq 100); do kill -0 "$zu_pid" 2>/dev/null || break; sleep 0.05; done
wait "$zu_pid" 2>/dev/null || true
zu_pid=""
echo "wrote $out"
