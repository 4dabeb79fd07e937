#!/usr/bin/env bash
# The long soak: bench/soak.sh [minutes] [build-dir]   (default 10 minutes, build/)
# zu in follow mode on a private Xvfb and JACK server, the peer turning a paired
# dial 100 times a second and r pressed every 200 ms. Prints RSS at start and end,
# the r count and the message counts; fails when memory grew by 5 MB or more or an
# r did not send exactly one message.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
minutes="${1:-10}"
build="${2:-$src/build}"
[[ "$minutes" =~ ^[0-9]+$ && "$minutes" -gt 0 ]] || { echo "minutes: a whole number above 0" >&2; exit 2; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target zu faults_soak
ZU_SOAK_SECONDS=$((minutes * 60)) exec "$build/tests/faults/faults_soak" \
    --gtest_filter='Soak.*' --gtest_color=no
