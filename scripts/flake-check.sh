#!/usr/bin/env bash
# Runs the tests of one ctest label again and again, until one fails, on a
# machine kept busier than it has cores. A test that fails only now and then
# fails here sooner than in CI.
#
# usage: flake-check.sh [-n RUNS] [-l LOADS] [-b BUILD_DIR] LABEL [CTEST_ARG...]
#   -n RUNS       how many times each test runs (30)
#   -l LOADS      CPU-bound processes kept running beside ctest (as many as
#                 there are cores: with ctest -j<cores>, twice the cores busy)
#   -b BUILD_DIR  a configured and built tree (build/)
#   LABEL         a ctest label, matched whole: unit, platform, e2e, ...
# Extra arguments go to ctest (-R, -E, ...). Exits non-zero when a test failed.
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

load_pids=()
trap 'kill "${load_pids[@]}" 2>/dev/null || true' EXIT
for ((i = 0; i < loads; i++)); do
  bash -c 'while :; do :; done' &
  load_pids+=($!)
done
ctest -L "^$label\$" --repeat until-fail:"$runs" -j"$(nproc)" --test-dir "$build" \
  --no-tests=error --output-on-failure --timeout 600 "$@"
