#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of zu's own (CMake's cross-compiling
# emulator, see cmake/mingw-w64.cmake, and the Windows tests): ZU_WINEPREFIX, else
# wine in scripts/windows.sh's cache (ZU_WINDOWS_CACHE, else ~/.cache/zu-windows). The
# first run sets the prefix up (about half a minute); runs that come meanwhile wait for it.
#   tests/windows/wine.sh PROGRAM [ARGS]  runs PROGRAM
#   tests/windows/wine.sh --server        starts the prefix's server, which stays until --stop
#   tests/windows/wine.sh --stop          stops it and every program it still runs
set -euo pipefail
cache=${ZU_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zu-windows}
export WINEPREFIX=${ZU_WINEPREFIX:-$cache/wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer and no menu entries: none of that is needed here.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Debian's wine wrapper looks for the 32-bit Wine first and says so every time.
export WINELOADER=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
if [ ! -f "$WINEPREFIX/.zu-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.zu-ready" ]; then
            DISPLAY= "$WINELOADER" wineboot.exe -i >/dev/null 2>&1
            "$server" -w
            touch "$WINEPREFIX/.zu-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
case "${1:-}" in
--server)
    # A server that quits once no program ran for three seconds takes down a program that
    # connects just then ("wine client error:0: recvmsg: Connection reset by peer"): one
    # that stays serves a whole test run. It refuses to start while another one runs: a
    # lingering one ends within seconds, one left by a killed run is stopped.
    timeout 10 "$server" -w || { "$server" -k; "$server" -w; }
    # It runs on as a daemon once it answers, and so do Wine's own programs (services.exe,
    # the device drivers) that the first program starts: never on a caller's output, which
    # ctest would wait for.
    log=$WINEPREFIX/wineserver.log
    "$server" -p 2>"$log"
    exec "$WINELOADER" cmd.exe /c exit 0 >>"$log" 2>&1
    ;;
--stop)
    "$server" -k || true # none runs
    exec "$server" -w
    ;;
esac
exec "$WINELOADER" "$@"
