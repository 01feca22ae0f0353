#!/usr/bin/env bash
# The guest's initramfs: the static busybox, the kernel modules its init loads (in this order, as
# the kernel package has no modules.dep) and the init itself, as an uncompressed newc archive.
# Usage: make-initramfs.sh KERNEL-FOLDER OUT   (KERNEL-FOLDER as scripts/setup.sh vm fills it)
set -euo pipefail
kernel=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)

modules=(
  usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio
  virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_console
  9pnet 9pnet_virtio netfs fscache 9p
)

root=$(mktemp -d "${TMPDIR:-/tmp}/tarn-initramfs-XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,mnt/host,mnt/share,modules}
cp /bin/busybox "$root/bin/busybox"
install -m 0755 "$here/guest-init.sh" "$root/init"
for m in "${modules[@]}"; do
  found=$(find "$kernel/modules/kernel" -name "$m.ko" -print -quit)
  [ -n "$found" ] || { echo "make-initramfs: no module $m.ko in $kernel/modules" >&2; exit 1; }
  cp "$found" "$root/modules/"
  echo "$m" >>"$root/modules/order"
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out"
