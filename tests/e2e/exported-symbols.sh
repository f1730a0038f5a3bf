#!/usr/bin/env bash
# The library exports its JNI functions and nothing else, and needs nothing
# but the C and C++ runtimes, with no soname and no run path: the JVM loads it
# by its file name, wherever it is. FUNCTIONS are the JNI functions' names,
# separated by ";" (TARVESK_JNI_FUNCTIONS); EXTRA_NEEDED is a pattern of
# further libraries it may need (a sanitized build's runtimes).
# usage: exported-symbols.sh NM LIBRARY FUNCTIONS [EXTRA_NEEDED]
set -euo pipefail

nm=$1 library=$2 extra_needed=${4:-}

expected=$(tr ';' '\n' <<<"$3" | sort)
actual=$("$nm" -D --defined-only "$library" | awk '{ print $NF }' | sort)

if [[ "$actual" != "$expected" ]]; then
  echo "exported symbols differ (< expected, > exported by $library):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

# NEEDED entries only, and each one a runtime: no SONAME, RPATH or RUNPATH.
runtimes="libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1${extra_needed:+|$extra_needed}"
if readelf -d "$library" | grep -E 'NEEDED|SONAME|RPATH|RUNPATH' | grep -v -E "\(NEEDED\).*\[($runtimes)\]$"; then
  echo "$library needs more than the C and C++ runtimes, or names a soname or run path (above)"
  exit 1
fi
echo "$library exports exactly the $(wc -l <<<"$expected") JNI functions" \
  "and needs only the C and C++ runtimes"
