#!/usr/bin/env bash
# Builds tarvesk twice and runs the tests with ctest: every test on the normal
# build, then the unit, platform and end-to-end tests again on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer (TARVESK_SANITIZE), where any
# sanitizer report fails the test. Installs what is missing first. Exits
# non-zero when anything fails in either build.
# The build directories are $TARVESK_BUILD_DIR (by default build/ in the
# repository) and $TARVESK_SANITIZE_BUILD_DIR (by default build-sanitize/).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARVESK_BUILD_DIR:-$root/build}
sanitize_build=${TARVESK_SANITIZE_BUILD_DIR:-$root/build-sanitize}
jobs=$(nproc)

# Each stage's time, printed as it ends and again at the close.
stage_start=$SECONDS stages=()
stage() {
  stages+=("$1: $((SECONDS - stage_start)) s")
  echo "test.sh: ${stages[-1]}"
  stage_start=$SECONDS
}

"$root/scripts/install-deps.sh"
stage "installing"

status=0
# A test without its own TIMEOUT gets 10 minutes; no tests at all is a failure.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVESK_SANITIZE=OFF \
  -DBUILD_TESTING=ON -UTARVESK_TEST_LAYERS
cmake --build "$build" -j"$jobs"
stage "build"

# Only the layers that run the library's own code again: the load tests
# measure resident memory, which the sanitizers' own bookkeeping would swamp,
# and the runner's probes test the test runner, so both run on the normal
# build only. The sanitized build compiles beside the normal tests, at a lower
# priority: much of their time is spent waiting (on Wine, QEMU, the far ends
# of lines), which it fills. Its output is shown when it fails.
sanitize_log=$sanitize_build.log
mkdir -p "$(dirname "$sanitize_log")"
(
  cmake -S "$root" -B "$sanitize_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVESK_SANITIZE=ON \
    -DBUILD_TESTING=ON "-DTARVESK_TEST_LAYERS=unit;platform;e2e" &&
    nice -n 10 cmake --build "$sanitize_build" -j"$jobs"
) >"$sanitize_log" 2>&1 &
sanitize_pid=$!
trap 'kill "$sanitize_pid" 2>/dev/null || true' EXIT

(cd "$build" && ctest --output-on-failure --no-tests=error --timeout 600 -j"$jobs") || status=1
stage "tests (the sanitized build beside them)"

sanitized_built=0
wait "$sanitize_pid" && sanitized_built=1
stage "the rest of the sanitized build"
if ((!sanitized_built)); then
  cat "$sanitize_log"
  echo "test.sh: the sanitized build failed" >&2
  exit 1
fi
(cd "$sanitize_build" &&
  ctest --output-on-failure --no-tests=error --timeout 600 -j"$jobs" -L 'unit|platform|e2e' -LE 'load|runner') ||
  status=1
stage "sanitized tests"

echo "test.sh: stages: $(IFS=,; echo "${stages[*]}" | sed 's/,/, /g'); $SECONDS s in all"
exit "$status"
