#!/usr/bin/env bash
# Builds tarvesk and runs the demo program on a virtual serial line: COM1 is a
# pseudo-terminal made by socat, and socat echoes back whatever arrives on it,
# like a loopback plug on a real port. Installs what is missing first.
# The build directory is $TARVESK_BUILD_DIR, by default build/ in the repository.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARVESK_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh" demo
# The library, its jar and the demo only: no test is configured, so nothing
# the tests need (GoogleTest, cross compilers, Wine) is looked for.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tarvesk tarvesk_java tarvesk_demo >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-demo.XXXXXX")
socat_pid=
cleanup() {
  if [[ -n "$socat_pid" ]]; then
    kill "$socat_pid" 2>/dev/null || true
    wait "$socat_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$work/ports"
# timeout bounds socat's life even if this script is killed without its trap.
timeout 300 socat -d -d pty,cfmakeraw,link="$work/ports/COM1" exec:cat 2>"$work/socat.log" &
socat_pid=$!
# socat makes the link before it puts the line in raw mode; it logs when all is set up.
for _ in $(seq 50); do
  grep -q "starting data transfer loop" "$work/socat.log" && break
  sleep 0.1
done
if ! grep -q "starting data transfer loop" "$work/socat.log"; then
  echo "demo: socat did not make the pseudo-terminal:" >&2
  cat "$work/socat.log" >&2
  exit 1
fi

echo "virtual COM1: $work/ports/COM1 -> $(readlink "$work/ports/COM1"), echoed back by socat"
echo "TARVESK_PORTS=$work/ports"
echo
TARVESK_PORTS="$work/ports" timeout 60 java -Djava.library.path="$build" \
  -cp "$build/tarvesk.jar:$build/demo/tarvesk-demo.jar" Demo
