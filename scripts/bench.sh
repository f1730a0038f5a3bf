#!/usr/bin/env bash
# Builds an optimised library and measures it, driven from Java through
# CESerialPort, against raw C and the plain JVM on pseudo-terminals; each
# program under test runs as a process of its own. Usage: bench.sh [rounds]
# (6 by default, at least 3). Prints a table ready for the README.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build="$here/build-bench"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target serial_bench >/dev/null
BENCH_ROUNDS=${1:-6} cmake --build "$build" --target bench
