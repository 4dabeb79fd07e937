#!/usr/bin/env bash
# Builds the MIDI intake fuzz target with clang (ASan + UBSan) and runs it for
# a bounded time: tests/fuzz/run.sh [seconds] (default 60).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
secs=${1:-60}
build=${FUZZ_BUILD:-$top/build-fuzz}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DZU_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_midi_intake
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/tests/fuzz/corpus/* "$work"/
cd "$work"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 JACK_NO_START_SERVER=1
"$build"/tests/fuzz/fuzz_midi_intake -max_total_time="$secs" -max_len=512 -print_final_stats=1 \
    "$work" 2>&1 | tail -n 25
