#!/usr/bin/env bash
# Builds the Debian package from a built tree, checks its name, fields and
# contents, runs lintian on it, unpacks it into a scratch root and starts the
# unpacked launcher there on a private X server, quitting it with q.
# Usage: package_test.sh <build-dir> <version>
set -uo pipefail
build="$(cd "${1:?usage: package_test.sh <build-dir> <version>}" && pwd)"
version="${2:?usage: package_test.sh <build-dir> <version>}"
tmp="$(mktemp -d /tmp/zu-package-test.XXXXXX)"
root="$tmp/scratch root"
manifest="$build/install_manifest.txt"
. "$(dirname "$0")/launch.sh"

cleanup() {
    stop_launched
    rm -rf "$tmp"
}
trap cleanup EXIT

# --- build it: the program is built already, so cpack only installs and packs ---
manifest_before="$(cat "$manifest" 2>/dev/null)"
(cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$tmp/cpack.log")"
deb="$tmp/out/zu_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") was made: $(ls "$tmp/out")"
[ "$(cat "$manifest" 2>/dev/null)" = "$manifest_before" ] ||
    fail "packaging changed install_manifest.txt, which uninstall reads"

# --- its fields: Depends come from the libraries the program links ---
[ "$(dpkg-deb -f "$deb" Package)" = zu ] || fail "the package is not called zu"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the version is not $version"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libsdl2-2.0-0 libsdl2-ttf-2.0-0 librtmidi; do
    case ", $depends" in
    *", $lib"*) ;;
    *) fail "Depends lacks $lib: $depends" ;;
    esac
done

# --- lintian: no errors, nothing about the manual page, hardening or stripping ---
lintian --allow-root --fail-on none --display-info --pedantic "$deb" >"$tmp/lintian.log" 2>&1 ||
    fail "lintian did not run: $(cat "$tmp/lintian.log")"
grep -E '^E: ' "$tmp/lintian.log" && fail "lintian reports errors (above)"
grep -E 'manual-page|groff-message' "$tmp/lintian.log" &&
    fail "lintian complains about the manual page (above)"
grep -E 'hardening-no-|binary-has-unneeded-section' "$tmp/lintian.log" &&
    fail "the program is not built hardened or not stripped fully (above)"

# --- unpack into a scratch root and look at what is there ---
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
usr="$root/usr"
id=io.github.zu_midi.zu
entry="$usr/share/applications/$id.desktop"
metainfo="$usr/share/metainfo/$id.metainfo.xml"
for f in share/zu/8bitOperatorPlus8-Regular.ttf share/zu/dial.bmp share/applications/$id.desktop \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/64x64/apps/zu.png \
         share/man/man1/zu.1.gz share/doc/zu/copyright share/doc/zu/changelog.gz; do
    [ -f "$usr/$f" ] || fail "the package lacks /usr/$f"
done
[ -x "$usr/bin/zu" ] || fail "the package lacks the launcher /usr/bin/zu"
[ -x "$usr/lib/zu/zu" ] || fail "the package lacks the program /usr/lib/zu/zu"
grep -qx 'Exec="/usr/bin/zu"' "$entry" ||
    fail "the desktop entry does not start /usr/bin/zu: $(grep Exec= "$entry")"
desktop-file-validate "$entry" >"$tmp/desktop.log" 2>&1 ||
    fail "desktop-file-validate: $(cat "$tmp/desktop.log")"
# The tree, not the file alone: it also checks that the launchable is the desktop entry.
appstreamcli validate-tree --no-net "$root" >"$tmp/appstream.log" 2>&1 ||
    fail "appstreamcli: $(cat "$tmp/appstream.log")"
grep -o '<release version="[^"]*"' "$metainfo" | head -1 | grep -qF "\"$version\"" ||
    fail "the AppStream entry's latest release is not version $version"
grep -q "ProggyTiny" "$usr/share/doc/zu/copyright" || fail "the copyright file lacks the font"
# zu's own files are under LICENSE, whose text the copyright file carries (Debian
# installs no licence file of its own).
grep -A2 -x 'Files: \*' "$usr/share/doc/zu/copyright" | grep -qx 'License: Expat' ||
    fail "the copyright file does not put zu's files under the MIT (Expat) licence"
flat() { sed 's/^ \.$//' "$@" | tr -s '[:space:]' ' '; }
licence="$(sed -n '/^Permission/,$p' "$(dirname "$0")/../../LICENSE" | flat)"
[[ "$(flat "$usr/share/doc/zu/copyright")" == *"$licence"* ]] ||
    fail "the copyright file lacks the text of LICENSE"
head -1 <(zcat "$usr/share/doc/zu/changelog.gz") | grep -q "^zu ($version) " ||
    fail "the changelog's latest entry is not version $version"
# Every file the manual page names must be in the package.
named="$(zcat "$usr/share/man/man1/zu.1.gz" |
    awk '/^\.SH/ { files = ($2 == "FILES") } files && /^\.I \// { print $2 }' | sed 's/\\-/-/g')"
[ -n "$named" ] || fail "the manual page names no files"
for f in $named; do
    [ -e "$root$f" ] || fail "the manual page names $f, which the package lacks"
done

# --- start the unpacked launcher from elsewhere: it must find its files ---
launch_and_quit "$usr/bin/zu" "$tmp"

warnings="$(grep -c '^W: ' "$tmp/lintian.log")"
echo "package test passed: built $(basename "$deb"), lintian without errors ($warnings warnings)," \
     "unpacked, started as window $window, quit with status 0"
sed 's/^/  lintian: /' "$tmp/lintian.log"
