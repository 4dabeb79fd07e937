#!/usr/bin/env bash
# Benchmarks zu next to a bare SDL window: bench/run.sh [build-dir] [bench.py options]
# Builds what it needs, then writes the table to bench/results.md.
# Run it on a quiet machine: other work on the cores shows up in every figure.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$src/build}"
[ $# -gt 0 ] && shift
[ -f "$build/CMakeCache.txt" ] || cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target zu zu_baseline zu_midi_peer zu_call_costs
exec python3 "$src/bench/bench.py" --zu "$build/zu" --baseline "$build/bench/zu_baseline" \
    --peer "$build/tests/e2e/zu_midi_peer" --call-costs "$build/bench/zu_call_costs.so" \
    --out "$src/bench/results.md" "$@"
