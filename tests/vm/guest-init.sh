#!/bin/busybox sh
# The guest's first process: load the drivers, mount the host's tree (read-only) and the share
# (read-write), and run the checks in the host's tree with the build's own programs. The guest
# powers off whatever happens, which ends QEMU.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

off() {
  echo "tarn-vm: $*"
  sync
  poweroff -f
}

while read -r m; do
  insmod "/modules/$m.ko" || off "the module $m did not load"
done </modules/order

p9='trans=virtio,version=9p2000.L,msize=262144'
mount -t 9p -o "$p9,cache=loose,ro" hostroot /mnt/host || off "the host's tree could not be mounted"
mount -t 9p -o "$p9" share /mnt/share || off "the share could not be mounted"

# The host's tree with the guest's own proc, sys and dev; /tmp and /run are the guest's, so that
# nothing of the host's udev or temporary files shows through.
for d in proc sys dev; do
  mount --bind "/$d" "/mnt/host/$d" || off "/$d could not be bound into the host's tree"
done
mount -t tmpfs tmpfs /mnt/host/tmp
mount -t tmpfs tmpfs /mnt/host/run
mkdir /mnt/host/tmp/share
mount --bind /mnt/share /mnt/host/tmp/share

echo "tarn-vm: guest up"
chroot /mnt/host /bin/bash /tmp/share/guest-checks.sh >/mnt/share/guest.log 2>&1
echo "tarn-vm: checks ended with $?"
off "powering off"
