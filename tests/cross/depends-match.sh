#!/usr/bin/env bash
# cmake/DebianDepends.cmake, which gives the ARM packages their Depends, gives
# the build machine's own library exactly the Depends dpkg-shlibdeps gives it.
# usage: depends-match.sh DEBIAN_DEPENDS_CMAKE LIBRARY
set -euo pipefail

script=$1 library=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-depends.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian"
printf 'Source: tarvesk\n\nPackage: tarvesk\nArchitecture: any\n' >"$work/debian/control"
shlibdeps=$(cd "$work" && dpkg-shlibdeps -O "$library" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
ours=$(cmake -DCPACK_TARVESK_LIBRARY="$library" -P "$script" 2>&1 | sed -n 's/^Depends: //p')
echo "dpkg-shlibdeps: $shlibdeps"
echo "DebianDepends:  $ours"
[[ -n "$ours" && "$ours" == "$shlibdeps" ]]
