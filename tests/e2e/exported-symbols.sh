#!/usr/bin/env bash
# The library exports its eight JNI functions and nothing else.
# usage: exported-symbols.sh NM LIBRARY
set -euo pipefail

nm=$1 library=$2

expected=$(sort <<'NAMES'
Java_quorin_io_comm_CECommDriver_findParallelPorts
Java_quorin_io_comm_CECommDriver_findSerialPorts
Java_quorin_io_comm_CESerialPort_nativeAvailable
Java_quorin_io_comm_CESerialPort_nativeClose
Java_quorin_io_comm_CESerialPort_nativeOpen
Java_quorin_io_comm_CESerialPort_nativeRead
Java_quorin_io_comm_CESerialPort_nativeSetSerialPortParams
Java_quorin_io_comm_CESerialPort_nativeWrite
NAMES
)
actual=$("$nm" -D --defined-only "$library" | awk '{ print $NF }' | sort)

if [[ "$actual" != "$expected" ]]; then
  echo "exported symbols differ (< expected, > exported by $library):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "$library exports exactly the 8 JNI functions"
