#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree, checks its contents and lintian's
# verdict, installs it with dpkg, runs a Java program that loads the installed library with no
# -Djava.library.path, then removes and purges the package and checks nothing is left behind.
# Exits 77 (skipped) where packages cannot be installed: not root, or not a dpkg system.
set -euo pipefail

if (($# != 7)); then
  echo "usage: $0 BUILD_DIR DEB_NAME WORK_DIR LIST_AND_OPEN_JAVA CPACK JAVAC JAVA" >&2
  exit 2
fi
build_dir=$1 deb_name=$2 work=$3 program=$4 cpack=$5 javac=$6 java=$7

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if ((EUID != 0)); then
  echo "skipped: installing a package needs root"
  exit 77
fi
if ! command -v dpkg >/dev/null; then
  echo "skipped: no dpkg on this system"
  exit 77
fi
for tool in dpkg-deb dpkg-query lintian socat readelf timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# Every step shares one budget, kept well below the ctest timeout so cleanup always gets to run.
deadline=$((SECONDS + 400))
bounded() {
  local limit=$1
  shift
  local left=$((deadline - SECONDS))
  ((left > 0)) || fail "out of time before: $*"
  ((limit <= left)) || limit=$left
  timeout -k 5 "$limit" "$@"
}

installed=0
socat_pid=
cleanup() {
  if [[ -n $socat_pid ]]; then
    kill "$socat_pid" 2>/dev/null || true
    wait "$socat_pid" 2>/dev/null || true
  fi
  if ((installed)); then
    timeout -k 5 45 dpkg -P tarvesk >/dev/null 2>&1 ||
      echo "could not purge the test's tarvesk package: run dpkg -P tarvesk" >&2
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

status=$(dpkg-query -W -f='${Status} ${Version}' tarvesk 2>/dev/null || true)
if [[ -n $status && $status != *not-installed* ]]; then
  fail "a tarvesk package is already on this machine ($status); this test installs and" \
    "removes its own, so remove that one first: dpkg -P tarvesk"
fi

rm -rf "$work"
mkdir -p "$work/ports" "$work/classes"

echo "== cpack"
bounded 150 "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out" \
  >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  fail "cpack failed"
}
deb=$work/out/$deb_name
[[ -f $deb ]] || fail "cpack made no $deb_name: $(ls "$work/out")"

echo "== contents of $deb_name"
contents=$(dpkg-deb -c "$deb")
echo "$contents"
# Field 6 is the path ("./usr/..."); directories end in '/'.
mapfile -t files < <(awk '$6 !~ /\/$/ { print substr($6, 2) }' <<<"$contents")
mapfile -t dirs < <(awk '$6 ~ /\/$/ && $6 != "./" { sub(/\/$/, "", $6); print substr($6, 2) }' \
  <<<"$contents")
allowed='^(/usr/lib(/[^/]+)?/jni/libtarvesk\.so|/usr/share/java/tarvesk(-[0-9.]+)?\.jar|/usr/share/doc/tarvesk/[^/]+|/usr/share/doc/tarvesk/api/.+)$'
library=
for file in "${files[@]}"; do
  [[ $file =~ $allowed ]] || fail "the package holds $file, which does not belong in it"
  [[ $file == */libtarvesk.so ]] && library=$file
done
[[ -n $library ]] || fail "the package holds no libtarvesk.so"
for required in /usr/share/java/tarvesk.jar /usr/share/doc/tarvesk/copyright \
  /usr/share/doc/tarvesk/api/quorin/io/comm/CESerialPort.html; do
  printf '%s\n' "${files[@]}" | grep -qx "$required" || fail "the package lacks $required"
done
# 0755 directories and 0644 files (the library included), whatever the builder's umask.
odd_modes=$(awk '($1 ~ /^d/ && $1 != "drwxr-xr-x") || ($1 ~ /^-/ && $1 != "-rw-r--r--")' \
  <<<"$contents")
[[ -z $odd_modes ]] || fail "entries with unexpected modes: $odd_modes"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
IFS=',' read -ra relations <<<"$depends"
for relation in "${relations[@]}"; do
  name=$(awk '{ print $1 }' <<<"$relation")
  # libgcc-s1 is the unwinder of the C++ runtime, which libstdc++6 depends on anyway.
  [[ $name == libc6 || $name == libstdc++6 || $name == libgcc-s1 ]] ||
    fail "unexpected dependency: $relation"
done

dpkg-deb -x "$deb" "$work/root"
dynamic=$(readelf -d "$work/root$library")
! grep -q SONAME <<<"$dynamic" || fail "$library has a soname; the JVM loads it by file name"
! grep -q -E 'RPATH|RUNPATH' <<<"$dynamic" || fail "$library carries a run path"
! readelf -S "$work/root$library" | grep -q -E '\.symtab|\.debug_' || fail "$library is not stripped"

echo "== lintian"
bounded 120 lintian --fail-on error "$deb" || fail "lintian found errors"

# dpkg would silently take over files left by a hand install and then delete them.
for file in "${files[@]}"; do
  [[ ! -e $file && ! -L $file ]] || fail "$file exists but no tarvesk package is installed;" \
    "a hand install? Move it away first"
done
new_dirs=()
for dir in "${dirs[@]}"; do
  [[ -d $dir ]] || new_dirs+=("$dir")
done

echo "== dpkg -i"
installed=1
bounded 45 dpkg -i "$deb" || fail "dpkg -i failed"

socat -d -d "pty,link=$work/ports/COM1,raw,echo=0" "pty,link=$work/peer,raw,echo=0" \
  2>"$work/socat.log" &
socat_pid=$!
for ((i = 0; i < 100; i++)); do
  [[ -e $work/ports/COM1 && -e $work/peer ]] && break
  sleep 0.1
done
[[ -e $work/ports/COM1 ]] || fail "socat made no pseudo-terminal pair: $(cat "$work/socat.log")"

echo "== ListAndOpen against the installed package"
bounded 60 "$javac" -Xlint:all -Werror -cp /usr/share/java/tarvesk.jar -d "$work/classes" \
  "$program" || fail "ListAndOpen.java does not compile against /usr/share/java/tarvesk.jar"
# Nothing may point the JVM at the build tree: it must find the library on its own.
output=$(cd "$work" && bounded 30 env -u LD_LIBRARY_PATH -u JAVA_TOOL_OPTIONS \
  -u _JAVA_OPTIONS -u JDK_JAVA_OPTIONS TARVESK_PORTS="$work/ports" \
  "$java" -cp "/usr/share/java/tarvesk.jar:$work/classes" ListAndOpen COM1: 2>&1) || {
  echo "$output"
  fail "ListAndOpen failed with the installed package"
}
echo "$output"
loaded=$(sed -n 's/^library: //p' <<<"$output")
[[ $loaded == "$library" || $(realpath -e "$loaded" 2>/dev/null) == $(realpath -e "$library") ]] ||
  fail "the JVM loaded $loaded, not the installed $library"

echo "== dpkg -r, dpkg -P"
bounded 45 dpkg -r tarvesk || fail "dpkg -r failed"
for file in "${files[@]}"; do
  [[ ! -e $file && ! -L $file ]] || fail "$file is still there after dpkg -r"
done
# Without conffiles, -r leaves nothing for -P to purge and dpkg forgets the package at once.
status=$(dpkg-query -W -f='${Status}' tarvesk 2>/dev/null || true)
if [[ $status == *config-files* ]]; then
  bounded 45 dpkg -P tarvesk || fail "dpkg -P failed"
  status=$(dpkg-query -W -f='${Status}' tarvesk 2>/dev/null || true)
fi
installed=0
[[ -z $status || $status == *not-installed* ]] || fail "dpkg still knows tarvesk: $status"
[[ ! -e /usr/share/doc/tarvesk ]] || fail "/usr/share/doc/tarvesk is still there after dpkg -P"
for dir in "${new_dirs[@]}"; do
  [[ ! -e $dir ]] || fail "$dir was made by the install and is still there after dpkg -P"
done
echo "package installed, used and removed cleanly"
