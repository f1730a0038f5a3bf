#!/usr/bin/env bash
# Makes what the guest boots, into DIR (cached there; nothing is installed on
# the host): vmlinux, the uncompressed kernel of the package linux-image-amd64
# depends on (it boots through its PVH entry at once, where vmlinuz would
# decompress itself slowly under emulation), its modules the guest needs, and
# initramfs.cpio.gz: busybox, INIT as /init and those modules in load order.
# Usage: guest_image.sh DIR INIT
set -euo pipefail
dir=$1
init=$(realpath "$2")
missing() {
  echo "realdrv: cannot build the guest: $*" >&2
  exit 1
}
[[ -x /bin/busybox ]] && file -L /bin/busybox | grep -q 'statically linked' ||
  missing "no static /bin/busybox (install busybox-static: scripts/install-deps.sh)"
command -v modinfo >/dev/null || missing "no modinfo (install kmod)"
mkdir -p "$dir"
cd "$dir"

kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1)
# Without package lists, the kernel cached before serves.
kernel_package=${kernel_package:-$(cat kernel-package 2>/dev/null || true)}
[[ -n "$kernel_package" ]] || missing "apt-cache knows no linux-image-amd64 (run apt-get update)"
if [[ ! -f vmlinux || "$(cat kernel-package 2>/dev/null)" != "$kernel_package" ]]; then
  rm -rf package modules ./*.deb vmlinux initramfs.cpio.gz
  apt-get download "$kernel_package" >/dev/null 2>&1 ||
    missing "apt-get download $kernel_package failed (no network or no package lists?)"
  dpkg -x ./"$kernel_package"_*.deb package
  rm -f ./*.deb
  vmlinuz=$(echo package/boot/vmlinuz-*)
  # The xz stream inside the bzImage is the kernel proper.
  offset=$(grep -abo $'\xfd7zXZ\x00' "$vmlinuz" | head -1 | cut -d: -f1)
  [[ -n "$offset" ]] || missing "no xz stream in $vmlinuz"
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dc >vmlinux.part 2>/dev/null || true
  file vmlinux.part | grep -q 'ELF 64-bit' || missing "no ELF kernel inside $vmlinuz"
  # The modules the guest loads, each after what it depends on (modinfo's
  # depends), as modprobe would; the rest of the package goes.
  mkdir modules
  declare -A added=()
  add() {
    local name=$1 path dep
    [[ -n "${added[$name]:-}" ]] && return
    added[$name]=1
    path=$(find package/lib/modules -name "$name.ko" -o -name "${name//_/-}.ko" | head -1)
    [[ -n "$path" ]] || missing "module $name not in $kernel_package"
    for dep in $(modinfo -F depends "$path" | tr ',' ' '); do add "$dep"; done
    cp "$path" modules/"$name".ko
    echo "$name" >>modules/order
  }
  for module in virtio_pci virtio_console 9pnet_virtio 9p xhci_pci ftdi_sio; do add "$module"; done
  rm -rf package
  mv vmlinux.part vmlinux
  echo "$kernel_package" >kernel-package
fi

if [[ ! -f initramfs.cpio.gz || "$init" -nt initramfs.cpio.gz ]]; then
  rm -rf root
  mkdir -p root/bin root/proc root/sys root/dev
  cp /bin/busybox root/bin/busybox
  cp -r modules root/modules
  cp "$init" root/init
  chmod +x root/init
  (cd root && find . | cpio -o -H newc --quiet | gzip -1) >initramfs.cpio.gz
  rm -rf root
fi
