#!/usr/bin/env bash
# Builds tarvesk and runs every test (unit, platform, end to end) with ctest.
# Installs what is missing first. Exits non-zero when anything fails.
# The build directory is $TARVESK_BUILD_DIR, by default build/ in the repository.
# TARVESK_SANITIZE=ON builds and tests with ASan and UBSan (in build-sanitize/).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitize=${TARVESK_SANITIZE:-OFF}
if [[ "$sanitize" == ON ]]; then
  build=${TARVESK_BUILD_DIR:-$root/build-sanitize}
else
  build=${TARVESK_BUILD_DIR:-$root/build}
fi
jobs=$(nproc)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVESK_SANITIZE="$sanitize"
cmake --build "$build" -j"$jobs"
cd "$build"
# A test without its own TIMEOUT gets 10 minutes; no tests at all is a failure.
ctest --output-on-failure --no-tests=error --timeout 600 -j"$jobs"
