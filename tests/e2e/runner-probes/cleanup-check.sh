#!/usr/bin/env bash
# Runs one cleanup probe through run-e2e.sh and fails if anything of the run
# is left behind: a process still alive (socat, the VM) or its work directory.
# usage: cleanup-check.sh RUNNER JAVA LIBRARY_DIR JUNIT_CONSOLE_JAR CLASSPATH TEST_CLASS
set -euo pipefail

runner=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-cleanup.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

status=0
TMPDIR=$scratch TARVESK_E2E_TIME_LIMIT=15 "$runner" "$@" || status=$?
if ((status == 0)); then
  echo "cleanup-check: the probe run did not fail"
  exit 1
fi

# Every process of the run names the scratch directory in its command line
# (the VM its error file, socat its links); give them a moment to go. Dead
# ones that nobody reaped have no command line left and do not count.
left=
for _ in $(seq 50); do
  left=$(pgrep -f -- "$scratch" || true)
  [[ -z "$left" ]] && break
  sleep 0.1
done
if [[ -n "$left" ]]; then
  echo "cleanup-check: still running after the run:"
  ps -o pid,ppid,pgid,args -p "${left//$'\n'/,}" || true
  kill -KILL $left 2>/dev/null || true
  exit 1
fi
if [[ -n "$(ls -A "$scratch")" ]]; then
  echo "cleanup-check: left behind in the run's temporary directory:"
  find "$scratch" -mindepth 1
  exit 1
fi
echo "cleanup-check: nothing left behind"
