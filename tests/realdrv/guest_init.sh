#!/bin/busybox sh
# /init of the guest: loads the drivers, mounts the host's root read-only with
# the writable results share over its own host directory (realdrv.results=),
# runs the script realdrv.run= of the host inside the host's root, and hands
# its exit status to the host through isa-debug-exit.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for module in $(cat /modules/order); do insmod /modules/"$module".ko; done
exec >/dev/hvc0 2>&1
status=1
run=$(sed -n 's/.*realdrv\.run=\([^ ]*\).*/\1/p' /proc/cmdline)
results=$(sed -n 's/.*realdrv\.results=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p /host
if mount -t 9p -o trans=virtio,version=9p2000.L,ro host /host; then
  mount -t proc proc /host/proc
  mount -t sysfs sys /host/sys
  mount -t devtmpfs dev /host/dev
  mount -t 9p -o trans=virtio,version=9p2000.L results "/host$results"
  # ftdi_sio binds in the background; the checks wait for the port themselves.
  chroot /host /bin/sh "$run" "$results"
  status=$?
  umount "/host$results"
fi
echo "realdrv: guest checks ended with status $status"
# isa-debug-exit at 0xf4: QEMU exits with (value << 1) | 1.
printf "\\$(printf %o "$status")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
poweroff -f
