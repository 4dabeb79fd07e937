#!/bin/sh
# Stops what a test process started once that process has ended, however it ended: ctest
# kills a case that outran its TIMEOUT with SIGKILL, and everything it started with it, so
# a killed jackd keeps its entry in JACK's registry of eight. The test starts this script
# outside its own process tree and writes on its stdin:
#   pid PID START   a child (START: field 22 of /proc/PID/stat, so a reused PID is spared)
#   gone PID        that child was reaped
#   jack NAME       a jackd started under NAME
#   freed NAME      that server ended cleanly
# At the end of the input each child still running gets SIGTERM (SIGKILL 8 s later), and
# each name not freed gets a jackd started under it again and stopped cleanly.
# Usage: reaper.sh LOG (written only when there was something to do).
log=$1
pids=""
names=""

drop() { # drop WORD LIST...: the list without WORD
    w=$1
    shift
    for x; do [ "$x" = "$w" ] || printf '%s ' "$x"; done
}
say() { mkdir -p "$(dirname "$log")" && echo "reaper $$ $(date +%T): $*" >>"$log"; }
alive() { # alive PID START: that very process runs and is no zombie
    s=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1,20)
    [ "${s#* }" = "$2" ] && [ "${s%% *}" != Z ]
}

while read -r kind arg start; do
    case $kind in
    pid) pids="$pids $arg:$start" ;;
    gone) pids=$(for p in $pids; do [ "${p%%:*}" = "$arg" ] || printf '%s ' "$p"; done) ;;
    jack) names="$names $arg" ;;
    freed) names=$(drop "$arg" $names) ;;
    esac
done

for p in $pids; do
    pid=${p%%:*}
    alive "$pid" "${p#*:}" || continue
    say "SIGTERM to $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" | cut -c1-80))"
    kill -CONT "$pid" 2>/dev/null # a stalled server takes SIGTERM only once it runs
    kill -TERM "$pid" 2>/dev/null
    n=0
    while alive "$pid" "${p#*:}" && [ $n -lt 80 ]; do sleep 0.1; n=$((n + 1)); done
    alive "$pid" "${p#*:}" && say "SIGKILL to $pid" && kill -KILL "$pid" 2>/dev/null
done

for name in $names; do
    JACK_NO_AUDIO_RESERVATION=1 jackd --no-realtime -S -n "$name" -d dummy -r 48000 -p 256 \
        >/dev/null 2>&1 &
    jackd=$!
    n=0
    until JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; do
        kill -0 $jackd 2>/dev/null && [ $n -lt 150 ] || break
        sleep 0.1
        n=$((n + 1))
    done
    kill -TERM $jackd 2>/dev/null
    n=0
    while kill -0 $jackd 2>/dev/null && [ $n -lt 80 ]; do sleep 0.1; n=$((n + 1)); done
    kill -KILL $jackd 2>/dev/null
    wait $jackd
    say "jackd $name started again and stopped (status $?) to free its registry entry"
    rm -f /dev/shm/jack_sem.*_"${name}"_*
done
