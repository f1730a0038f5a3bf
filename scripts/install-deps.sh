#!/usr/bin/env bash
# Installs, with apt-get, what tarvesk needs on Debian 12: `install-deps.sh demo`
# what building the library and running the demo needs, `install-deps.sh` (or
# `all`) what building and running every test needs as well.
# Quick and silent when everything is there already; apt-get update runs only
# when something is missing.
set -euo pipefail

set_name=${1:-all}
if [[ "$set_name" != demo && "$set_name" != all ]]; then
  echo "usage: install-deps.sh [demo|all]" >&2
  exit 2
fi

packages=(
  cmake
  g++
  make
  # default-jdk brings /usr/lib/jvm/default-java (where CMake's FindJNI looks
  # on Debian) and the full JDK: FindJNI insists on libjawt.so, which the
  # headless JDK lacks.
  default-jdk
  openjdk-17-jdk
  socat           # virtual null modems for the demo and end-to-end tests
)
if [[ "$set_name" == all ]]; then
  packages+=(
    binutils        # nm, for the exported-symbol check
    libgtest-dev
    libgmock-dev
    junit5          # /usr/share/java/junit-platform-console-standalone.jar
    clang-format
    # mingw-w64 cross compilers and binutils: tarvesk.dll and the win32 tests
    g++-mingw-w64-i686
    g++-mingw-w64-x86-64
    binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64
    # ARM Linux cross compilers, and qemu-user to run the arm64 and armhf
    # builds' platform tests (tests/cross), built with googletest's sources
    g++-aarch64-linux-gnu
    g++-arm-linux-gnueabihf
    qemu-user
    googletest
    # the Debian package: dpkg-shlibdeps and file for its dependencies, lintian
    # to check it (tests/package)
    dpkg-dev
    file
    lintian
    # Wine, to run the 64-bit tarvesk.dll (tests/wine)
    wine
    wine64
    # the kernel's serial drivers under QEMU (tests/realdrv): the emulator, and
    # what makes the guest's initramfs from the kernel package the test fetches
    qemu-system-x86
    busybox-static
    cpio
    xz-utils
    kmod
  )
fi
# The 32-bit DLL needs the 32-bit Wine from the i386 architecture, which on
# Debian 12 upgrades several dozen system packages as well: opt in with
# TARVESK_WINE32=1.
if [[ "$set_name" == all && "${TARVESK_WINE32:-}" == 1 ]]; then
  packages+=(wine32:i386)
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$package")
  fi
done

# tests/realdrv fetches the kernel package with apt-get download: the package
# lists must know it.
lists_known=1
if [[ "$set_name" == all ]]; then
  apt-cache show linux-image-amd64 >/dev/null 2>&1 || lists_known=0
fi

if ((${#missing[@]} == 0 && lists_known)); then
  exit 0
fi

as_root=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: missing ${missing[*]}; run this script as root to install them" >&2
    exit 1
  fi
  as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]:-nothing; updating the package lists}"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -q
if ((${#missing[@]} > 0)); then
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi
