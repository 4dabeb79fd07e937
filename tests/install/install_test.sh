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
. "$(dirname "$0")/launch.sh"

cleanup() {
    stop_launched
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
id=io.github.zu_midi.zu
entry="$prefix/share/applications/$id.desktop"
for f in bin/zu lib/zu/zu share/zu/8bitOperatorPlus8-Regular.ttf share/zu/dial.bmp \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/64x64/apps/zu.png share/man/man1/zu.1.gz \
         share/doc/zu/FONT-LICENSE.txt share/doc/zu/copyright; do
    [ -f "$prefix/$f" ] || fail "$f was not installed"
done
[ -x "$prefix/bin/zu" ] || fail "the launcher is not executable"
[ -x "$prefix/lib/zu/zu" ] || fail "the program is not executable"
grep -qx "Exec=\"$prefix/bin/zu\"" "$entry" ||
    fail "the desktop entry does not start the installed launcher: $(grep Exec= "$entry")"
# The launcher's path has a space here: the entry must still be valid.
desktop-file-validate "$entry" >"$tmp/desktop.log" 2>&1 ||
    fail "desktop-file-validate: $(cat "$tmp/desktop.log")"
for line in "Name=zu" "Icon=zu"; do
    grep -qxF "$line" "$entry" || fail "desktop entry lacks $line"
done
grep -q "@ZU_" "$prefix/bin/zu" "$entry" && fail "a template placeholder was left unfilled"
icon="$(identify -format '%m %w %h %A' "$prefix/share/icons/hicolor/64x64/apps/zu.png" 2>&1)"
case "$icon" in
"PNG 64 64 "[Bb]lend* | "PNG 64 64 True"*) ;;
*) fail "the icon is not a 64x64 PNG with transparency: $icon" ;;
esac

# --- start the installed launcher from elsewhere: it must find its files ---
launch_and_quit "$prefix/bin/zu" "$tmp"

# --- and remove it again ---
cmake -P "$build/zu_uninstall.cmake" >"$tmp/uninstall.log" 2>&1 ||
    fail "uninstall: $(cat "$tmp/uninstall.log")"
left="$(find "$prefix" -type f)"
[ -z "$left" ] || fail "uninstall left files behind: $left"
[ -e "$prefix/share/zu" ] && fail "uninstall left share/zu behind"

echo "install test passed: installed, started from / as window $window, quit with status 0," \
     "uninstalled"
