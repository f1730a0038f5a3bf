#!/usr/bin/env bash
# cmake/DebianDepends.cmake, which gives the ARM packages their Depends, says
# for the build machine's own library exactly what dpkg-shlibdeps says.
# usage: depends-match.sh DEBIAN_DEPENDS_CMAKE LIBRARY
set -euo pipefail
script=$(realpath "$1") library=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/tarvesk-depends.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian" && printf 'Source: t\n\nPackage: t\nArchitecture: any\n' >"$work/debian/control"
expected=$(cd "$work" && dpkg-shlibdeps -O "$library" 2>/dev/null | sed -n 's/^shlibs:Depends=/Depends: /p')
actual=$(cmake -DCPACK_TARVESK_LIBRARY="$library" -P "$script" 2>&1)
echo "dpkg-shlibdeps: $expected" && echo "DebianDepends:  $actual"
[[ -n "$actual" && "$actual" == "$expected" ]]
