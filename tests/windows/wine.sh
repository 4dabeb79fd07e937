#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of zu's own (CMake's cross-compiling
# emulator, see cmake/mingw-w64.cmake, and the Windows tests): ZU_WINEPREFIX, else
# wine in scripts/windows.sh's cache (ZU_WINDOWS_CACHE, else ~/.cache/zu-windows). The first run sets the prefix up (about half a minute);
# runs that come meanwhile wait for it.
set -euo pipefail
cache=${ZU_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zu-windows}
export WINEPREFIX=${ZU_WINEPREFIX:-$cache/wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer and no menu entries: none of that is needed here.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Debian's wine wrapper looks for the 32-bit Wine first and says so every time.
export WINELOADER=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/.zu-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.zu-ready" ]; then
            DISPLAY= "$WINELOADER" wineboot.exe -i >/dev/null 2>&1
            /usr/lib/wine/wineserver -w
            touch "$WINEPREFIX/.zu-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$WINELOADER" "$@"
