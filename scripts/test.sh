#!/usr/bin/env bash
# Builds tarvesk and runs every test (unit, platform, end to end) with ctest.
# Installs what is missing first. Exits non-zero when anything fails.
# The build directory is $TARVESK_BUILD_DIR, by default build/ in the repository.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARVESK_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$jobs"
cd "$build"
# A test without its own TIMEOUT gets 10 minutes; no tests at all is a failure.
ctest --output-on-failure --no-tests=error --timeout 600 -j"$jobs"
