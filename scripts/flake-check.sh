#!/usr/bin/env bash
# Runs the tests of one ctest label again and again on a machine kept busier
# than it has cores, and counts the runs that fail and the tests that failed.
# A test that fails only now and then fails here sooner than in CI.
#
# usage: flake-check.sh [-n RUNS] [-l LOADS] [-b BUILD_DIR] LABEL [CTEST_ARG...]
#   -n RUNS       how many runs (30)
#   -l LOADS      CPU-bound processes kept running beside ctest (as many as
#                 there are cores: with ctest -j<cores>, twice the cores busy)
#   -b BUILD_DIR  a configured and built tree (build/)
#   LABEL         a ctest label, matched whole: unit, platform, e2e, ...
# Extra arguments go to ctest (-R, -E, ...). The output of every failing run
# is kept in BUILD_DIR/flake-check/. Exits non-zero when any run failed.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=30 loads=$(nproc) build=$root/build
while getopts n:l:b: option; do
  case $option in
  n) runs=$OPTARG ;;
  l) loads=$OPTARG ;;
  b) build=$OPTARG ;;
  *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if (($# < 1)); then
  sed -n 's/^# usage: /usage: /p' "${BASH_SOURCE[0]}"
  exit 2
fi
label=$1
shift

build=$(cd "$build" && pwd)
logs=$build/flake-check
mkdir -p "$logs"
load_pids=() ctest_pid=
stop() {
  for pid in "${load_pids[@]}" $ctest_pid; do
    kill "$pid" 2>/dev/null || true
  done
}
trap stop EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < loads; i++)); do
  bash -c 'while :; do :; done' &
  load_pids+=($!)
done

declare -A failures=()
failed_runs=0
started=$SECONDS
for ((run = 1; run <= runs; run++)); do
  log=$logs/$label-run$run.log
  run_start=$SECONDS
  # In the background, so that a signal to this script is handled at once.
  ctest -L "^$label\$" -j"$(nproc)" --test-dir "$build" --no-tests=error --output-on-failure \
    --timeout 600 "$@" >"$log" 2>&1 &
  ctest_pid=$!
  status=0
  wait "$ctest_pid" || status=$?
  ctest_pid=
  if ((status == 0)); then
    echo "run $run/$runs: passed ($((SECONDS - run_start)) s)"
    rm -f "$log"
    continue
  fi
  failed_runs=$((failed_runs + 1))
  # ctest lists the failed tests after "The following tests FAILED:", one a line:
  #   <tab>129 - e2e.ReadWriteTest (Failed)
  failed=$(sed -n '/^The following tests FAILED:/,$ s/^\t *[0-9]* - \([^ ]*\) .*/\1/p' "$log")
  failed=${failed:-unnamed}
  for test in $failed; do
    failures[$test]=$((${failures[$test]:-0} + 1))
  done
  echo "run $run/$runs: FAILED ($((SECONDS - run_start)) s): ${failed//$'\n'/ } (log: $log)"
done

echo "flake-check: label $label, $runs runs beside $loads CPU-bound processes on $(nproc) cores," \
  "$((SECONDS - started)) s: $failed_runs failed"
for test in "${!failures[@]}"; do
  echo "  $test failed ${failures[$test]} time(s)"
done
((failed_runs == 0))
