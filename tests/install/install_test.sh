#!/usr/bin/env bash
# Installs zu into a temporary prefix, checks what was installed, starts the
# installed launcher from another folder on a private X server, quits it with q
# and removes the installation again.
# Usage: install_test.sh <build-dir>
set -uo pipefail
build="$(cd "${1:?usage: install_test.sh <build-dir>}" && pwd)"
tmp="$(mktemp -d /tmp/zu-install-test.XXXXXX)"
prefix="$tmp/prefix with space"
manifest="$build/install_manifest.txt"
xvfb_pid=""
zu_pid=""

fail() {
    echo "FAIL: $*"
    exit 1
}

cleanup() {
    [ -n "$zu_pid" ] && kill "$zu_pid" 2>/dev/null && wait "$zu_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    # Installing here rewrote the build's manifest: put back the one from before.
    if [ -f "$tmp/manifest.before" ]; then
        cp "$tmp/manifest.before" "$manifest"
    else
        rm -f "$manifest"
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
[ -f "$manifest" ] && cp "$manifest" "$tmp/manifest.before"

# --- install and look at what came out ---
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    fail "cmake --install: $(cat "$tmp/install.log")"
for f in bin/zu lib/zu/zu share/zu/8bitOperatorPlus8-Regular.ttf share/zu/dial.bmp \
         share/applications/zu.desktop share/icons/hicolor/64x64/apps/zu.png \
         share/doc/zu/FONT-LICENSE.txt; do
    [ -f "$prefix/$f" ] || fail "$f was not installed"
done
[ -x "$prefix/bin/zu" ] || fail "the launcher is not executable"
[ -x "$prefix/lib/zu/zu" ] || fail "the program is not executable"
grep -qx "Exec=\"$prefix/bin/zu\"" "$prefix/share/applications/zu.desktop" ||
    fail "the desktop entry does not start the installed launcher: $(grep Exec= \
         "$prefix/share/applications/zu.desktop")"
for line in "[Desktop Entry]" "Type=Application" "Name=zu" "Icon=zu"; do
    grep -qxF "$line" "$prefix/share/applications/zu.desktop" || fail "desktop entry lacks $line"
done
grep -q "@ZU_" "$prefix/bin/zu" "$prefix/share/applications/zu.desktop" &&
    fail "a template placeholder was left unfilled"
icon="$(identify -format '%m %w %h %A' "$prefix/share/icons/hicolor/64x64/apps/zu.png" 2>&1)"
case "$icon" in
"PNG 64 64 "[Bb]lend* | "PNG 64 64 True"*) ;;
*) fail "the icon is not a 64x64 PNG with transparency: $icon" ;;
esac

# --- a private X server ---
. "$(dirname "$0")/../../tools/xvfb.sh"
start_xvfb "$tmp" || fail "could not start Xvfb"
export DISPLAY="$display" SDL_VIDEODRIVER=x11
# No MIDI service here, and none may be started on the test's behalf.
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="zu-install-test-$$"

# --- start the installed launcher from elsewhere: it must find its files ---
(cd / && exec "$prefix/bin/zu") >"$tmp/zu.log" 2>&1 &
zu_pid=$!
window=""
geometry=""
for _ in $(seq 200); do
    kill -0 "$zu_pid" 2>/dev/null || fail "zu ended at start-up: $(cat "$tmp/zu.log")"
    # SDL replaces its first window when it sets up the renderer: only a window
    # that still answers counts.
    window="$(xdotool search --name '^zu$' 2>/dev/null | tail -1)"
    geometry="$([ -n "$window" ] && xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
    [ -n "$geometry" ] && break
    sleep 0.05
done
[ -n "$geometry" ] || fail "no window named zu appeared: $(cat "$tmp/zu.log")"

# Focus follows the pointer: put it over the window, then type q.
eval "$geometry"
xdotool mousemove $((X + 44)) $((Y + 60))
sleep 0.2
xdotool key q
status=""
for _ in $(seq 100); do
    if ! kill -0 "$zu_pid" 2>/dev/null; then
        wait "$zu_pid"
        status=$?
        break
    fi
    sleep 0.05
done
[ -n "$status" ] || fail "zu did not quit on q within 5 s"
zu_pid=""
[ "$status" -eq 0 ] || fail "zu exited with status $status: $(cat "$tmp/zu.log")"
grep -q "Could not load font" "$tmp/zu.log" && fail "zu did not find its font"

# --- and remove it again ---
cmake -P "$build/zu_uninstall.cmake" >"$tmp/uninstall.log" 2>&1 ||
    fail "uninstall: $(cat "$tmp/uninstall.log")"
left="$(find "$prefix" -type f)"
[ -z "$left" ] || fail "uninstall left files behind: $left"
[ -e "$prefix/share/zu" ] && fail "uninstall left share/zu behind"

echo "install test passed: installed, started from / as window $window, quit with status 0," \
     "uninstalled"
