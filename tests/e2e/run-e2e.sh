#!/usr/bin/env bash
# Runs one JUnit test class against libtarvesk.so in a JVM with -Xcheck:jni.
# usage: run-e2e.sh JAVA LIBRARY_DIR JUNIT_CONSOLE_JAR CLASSPATH TEST_CLASS
#
# Each run gets its own TARVESK_PORTS directory (the tests put their virtual
# null modems in it) and its own TARVESK_MESSAGE_LOG, so runs can go side by
# side. Fails when the tests fail, the VM dies, or the JNI checker complains.
#
# The VM prints each test as it starts and ends. It may run for
# TARVESK_E2E_TIME_LIMIT seconds (240 by default); then its threads are dumped
# into the output and its whole process group, socat included, is ended.
# ctest's TIMEOUT for a test run by this script must be longer by a minute: it
# ends an overdue test with SIGKILL, which leaves no chance to clean up.
set -euo pipefail

java=$1 library_dir=$2 junit=$3 classpath=$4 test_class=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-e2e.XXXXXX")
vm= timer=
cleanup() {
  # The VM runs in a process group of its own, with the socat processes the
  # tests start; whatever a crashed or killed VM left behind goes with it.
  if [[ -n "$vm" ]]; then
    kill -TERM -- "-$vm" 2>/dev/null || true
  fi
  if [[ -n "$timer" ]]; then
    kill "$timer" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir "$work/ports"
export TARVESK_PORTS="$work/ports"
export TARVESK_MESSAGE_LOG="$work/messages.log"

# A sanitized build (TARVESK_SANITIZE) needs its runtime loaded before the VM.
# The VM catches SIGSEGV on purpose and keeps memory until exit, so ASan must
# leave both alone.
asan=$(ldd "$library_dir/libtarvesk.so" | awk '/libasan/ { print $3 }')
if [[ -n "$asan" ]]; then
  export LD_PRELOAD="$asan${LD_PRELOAD:+:$LD_PRELOAD}"
  export ASAN_OPTIONS="handle_segv=0:detect_leaks=0:allow_user_segv_handler=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
fi

limit=${TARVESK_E2E_TIME_LIMIT:-240}
status=0
set -m # a background job gets a process group of its own
# @BeforeEach and @AfterEach get a time limit as @Timeout gives the tests, on a
# thread of their own: one that hangs (a close waiting for a read that never
# ends) fails its test with the stuck thread's stack and leaves it behind.
"$java" -Xcheck:jni -XX:ErrorFile="$work/hs_err.log" \
  -Djava.library.path="$library_dir" \
  -jar "$junit" --disable-banner --details=tree --fail-if-no-tests \
  --config=junit.jupiter.execution.timeout.lifecycle.method.default=60s \
  --config=junit.jupiter.execution.timeout.thread.mode.default=SEPARATE_THREAD \
  --class-path "$classpath" --select-class "$test_class" \
  </dev/null >"$work/output.log" 2>&1 &
vm=$!
set +m
sleep "$limit" &
timer=$!
ended= first=0
wait -n -p ended "$vm" "$timer" || first=$?
overdue=0
if [[ "$ended" == "$vm" ]]; then
  status=$first
  kill "$timer" 2>/dev/null || true
else
  overdue=1
  # Where every thread stands, before the VM and its group are ended: jcmd
  # (from the VM's own JDK) to a file of its own. A VM that does not answer
  # may be stuck short of a safepoint: then what the kernel knows of each of
  # its threads, and SIGQUIT, which makes the VM print its threads into its
  # output if it still can.
  jcmd=$(dirname "$(readlink -f "$java")")/jcmd
  if ! timeout 30 "$jcmd" "$vm" Thread.print >"$work/threads.log" 2>&1; then
    for task in /proc/"$vm"/task/*; do
      echo "thread $(cat "$task/comm"): $(sed -n 's/^State:\t//p' "$task/status"), in $(cat "$task/wchan")"
    done >>"$work/threads.log" 2>/dev/null
    kill -QUIT "$vm" 2>/dev/null || true
    sleep 5
  fi
  kill -TERM -- "-$vm" 2>/dev/null || true
  timeout 5 tail --pid="$vm" -f /dev/null || kill -KILL -- "-$vm" 2>/dev/null || true
  wait "$vm" || true
fi
cat "$work/output.log"
if ((overdue)); then
  echo "run-e2e: the VM was still running after ${limit} s and was ended"
  if [[ -s "$work/threads.log" ]]; then
    echo "run-e2e: its threads at the limit:"
    cat "$work/threads.log"
  fi
  status=1
fi

if [[ -s "$work/hs_err.log" ]]; then
  echo "run-e2e: the VM crashed:"
  head -n 60 "$work/hs_err.log"
  status=1
fi
# The checker's findings: misuse ("WARNING in native method"), fatal misuse,
# more local references than a native call may hold ("WARNING: JNI local refs"),
# JNI calls inside a critical region, and a signal handler of the VM's that
# someone replaced (checked periodically under -Xcheck:jni).
# runner-probes/ proves that each of these fails the run.
findings="(WARNING|FATAL ERROR) in native method|WARNING: JNI local refs"
findings+="|Warning: Calling other JNI functions in the scope|Warning: SIG[A-Z0-9]+ handler modified"
if grep -E -q "$findings" "$work/output.log"; then
  echo "run-e2e: -Xcheck:jni reported misuse of JNI (see above)"
  status=1
fi
if [[ -s "$TARVESK_MESSAGE_LOG" ]]; then
  echo "run-e2e: messages the library wrote during the run:"
  sed 's/^/  /' "$TARVESK_MESSAGE_LOG"
fi
exit "$status"
