#!/usr/bin/env bash
# The jar holds the classes and exactly one library for each of the five
# platforms, each built for the platform its directory names.
# usage: check-jar-natives.sh JAR_TOOL JAR
set -euo pipefail

jar_tool=$1 jar=$2
natives=quorin/io/comm/native
declare -A machine=(
  [linux-x86_64/libtarvesk.so]="ELF 64-bit LSB shared object, x86-64,"
  [linux-aarch64/libtarvesk.so]="ELF 64-bit LSB shared object, ARM aarch64,"
  [linux-armhf/libtarvesk.so]="ELF 32-bit LSB shared object, ARM, EABI5"
  [windows-x86_64/tarvesk.dll]="PE32+ executable (DLL) (console) x86-64"
  [windows-x86/tarvesk.dll]="PE32 executable (DLL) (console) Intel 80386"
)

entries=$("$jar_tool" --list --file "$jar")
grep -qx quorin/io/comm/TarveskLibrary.class <<<"$entries" || {
  echo "$jar lacks the classes"
  exit 1
}
expected=$(printf "$natives/%s\n" "${!machine[@]}" | sort)
actual=$(grep "^$natives/.*[^/]$" <<<"$entries" | sort)
if [[ "$actual" != "$expected" ]]; then
  echo "native libraries differ (< expected, > in $jar):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-jar.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$jar_tool" --extract --file "$jar" "$natives")
status=0
for entry in "${!machine[@]}"; do
  kind=$(file -b "$work/$natives/$entry")
  echo "$entry: $kind"
  if [[ "$kind" != "${machine[$entry]}"* ]]; then
    echo "  expected ${machine[$entry]}"
    status=1
  fi
done
# armhf is the hard-float ABI; the soft-float one (armel) would not load there.
if ! readelf -h "$work/$natives/linux-armhf/libtarvesk.so" | grep -q "hard-float ABI"; then
  echo "linux-armhf/libtarvesk.so is not built for the hard-float ABI"
  status=1
fi
exit "$status"
