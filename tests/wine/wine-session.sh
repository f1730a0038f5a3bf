#!/usr/bin/env bash
# The Wine prefix of the stand-in VM's runs, and the one wineserver they share.
# usage: wine-session.sh start|stop SESSION_DIR
#
# start makes the prefix SESSION_DIR/prefix the first time: COM1 and COM2
# mapped to the symlinks SESSION_DIR/ports/COM1 and COM2 (wine-far-end points
# them at pseudo-terminals), and the "null" graphics driver, with which a
# message box is a real window that a hook can read, with no display. Then it
# starts the wineserver and writes its PID to SESSION_DIR/wineserver.pid. Should
# stop never come, the server ends by itself 5 minutes after its last client.
# stop ends every process of the prefix and then the server, by its PID.
#
# The caller sets WINELOADER (the loader of the architecture under test),
# WINEPREFIX=SESSION_DIR/prefix, WINEDLLOVERRIDES (no Mono or Gecko installer,
# no menu entries written to $HOME) and WINEDEBUG, and unsets DISPLAY
# (tests/wine/CMakeLists.txt).
set -euo pipefail

action=$1
mkdir -p "$2"
session=$(cd "$2" && pwd)  # the prefix keeps paths into it
: "${WINEPREFIX:?}" "${WINELOADER:?}"
pid_file="$session/wineserver.pid"

# The server of this prefix, or nothing: a PID file left by an interrupted
# run may name a process that is something else by now.
our_server() {
  local pid
  pid=$(cat "$pid_file" 2>/dev/null) || return 0
  if [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == */wineserver* ]] &&
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
    echo "$pid"
  fi
}

running() { [[ -d /proc/$1 && "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ]]; }

stop() {
  local pid server_dir=
  pid=$(our_server)
  if [[ -n "$pid" ]]; then
    server_dir=$(readlink "/proc/$pid/cwd" || true)  # /tmp/wine-XXXXXX/server-DEV-INODE
  fi
  # Ends every Wine process of the prefix, then the server itself.
  timeout 30 wineserver -k 2>/dev/null || true
  if [[ -n "$pid" ]]; then
    for _ in $(seq 100); do
      running "$pid" || break
      sleep 0.1
    done
    if running "$pid"; then
      echo "wine-session: wineserver $pid did not end; killing it"
      kill -KILL "$pid"
    fi
  fi
  # The server leaves its directory behind, with a lock file in it.
  if [[ "$server_dir" == /tmp/wine-*/server-* ]]; then
    rm -rf "$server_dir"
    rmdir "$(dirname "$server_dir")" 2>/dev/null || true
  fi
  rm -f "$pid_file"
}

# Wine's own messages go to a log, shown when something fails.
logged() {
  if ! "$@" >>"$session/prefix.log" 2>&1; then
    echo "wine-session: $* failed:"
    cat "$session/prefix.log"
    return 1
  fi
}

# The Wine a prefix was made with: a prefix made before the 32-bit Wine was
# installed cannot start a program once it is (kernel32.dll is missing).
wine_installed() { echo "$("$WINELOADER" --version) $(ls /usr/lib/wine 2>/dev/null | tr '\n' ' ')"; }

make_prefix() {
  rm -rf "$WINEPREFIX" "$session/prefix.log"
  echo "wine-session: making the prefix $WINEPREFIX"
  logged timeout 180 "$WINELOADER" wineboot --init
  for port in COM1 COM2; do
    logged timeout 60 "$WINELOADER" reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$session/ports/$port" /f
  done
  logged timeout 60 "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  # The port mapping takes effect when the next server starts.
  logged timeout 60 wineserver -w
  wine_installed >"$WINEPREFIX/.tarvesk-made-with"
}

case "$action" in
  start)
    stop
    mkdir -p "$session/ports"
    if [[ "$(cat "$WINEPREFIX/.tarvesk-made-with" 2>/dev/null)" != "$(wine_installed)" ]]; then
      make_prefix
    fi
    wineserver --foreground --persistent=300 </dev/null >"$session/wineserver.log" 2>&1 &
    echo $! >"$pid_file"
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: wine-session.sh start|stop SESSION_DIR" >&2
    exit 2
    ;;
esac
