#!/usr/bin/env bash
# The jar holds the classes and one library for each of the five platforms,
# each built for the platform its directory names, and no other.
# usage: check-jar-natives.sh JAR_TOOL JAR
set -euo pipefail
jar_tool=$1 jar=$(realpath "$2")
natives=quorin/io/comm/native
declare -A kind=(
  [linux-x86_64/libtarvesk.so]="ELF 64-bit LSB shared object, x86-64,"
  [linux-aarch64/libtarvesk.so]="ELF 64-bit LSB shared object, ARM aarch64,"
  [linux-armhf/libtarvesk.so]="ELF 32-bit LSB shared object, ARM, EABI5"
  [windows-x86_64/tarvesk.dll]="PE32+ executable (DLL) (console) x86-64"
  [windows-x86/tarvesk.dll]="PE32 executable (DLL) (console) Intel 80386"
)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-jar.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" && "$jar_tool" --extract --file "$jar"
[[ -f quorin/io/comm/TarveskLibrary.class ]] || { echo "no classes in $jar"; exit 1; }
diff <(printf '%s\n' "${!kind[@]}" | sort) <(cd $natives && find . -type f -printf '%P\n' | sort)
for entry in "${!kind[@]}"; do
  echo "$entry: $(file -b $natives/$entry)"
  [[ $(file -b $natives/$entry) == "${kind[$entry]}"* ]] || { echo "  not ${kind[$entry]}"; exit 1; }
done
# armhf is the hard-float ABI; an armel (soft-float) library would not load there.
readelf -h $natives/linux-armhf/libtarvesk.so | grep -q "hard-float ABI"
