#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and fuzz; with "windows" also
# what the Windows cross build and its tests under Wine need; with "vm" what the tests on real
# serial drivers in a QEMU guest need, and the guest's kernel (fetched, not installed, into
# $TARN_VM_CACHE, by default ~/.cache/tarn-vm).
# Idempotent and non-interactive: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsimpleini-dev libcli11-dev nlohmann-json3-dev libudev-dev
  zlib1g-dev
  clang libclang-rt-dev
  libdw-dev libbackward-cpp-dev
  xvfb xauth x11-utils
)
if [ "${1:-}" = windows ]; then
  # googletest: its sources, built with the cross compiler. fonts-wine: the system fonts the dialogs
  # ask for (MS Sans Serif, the caption buttons' Marlett).
  packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 wine fonts-wine googletest python3)
fi
if [ "${1:-}" = vm ]; then
  # busybox-static: the guest's whole initramfs; socat: the 16550's line to its simulator; jq and gawk
  # read the port list and the trace.
  packages+=(qemu-system-x86 busybox-static socat jq gawk)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
apt_updated=
apt_update() {
  [ -n "$apt_updated" ] || "${sudo_cmd[@]}" apt-get update -qq
  apt_updated=1
}

# The guest kernel: the package the kernel meta-package names, unpacked into the cache. Its modules
# (usb, xhci, usb-serial, ftdi_sio, virtio, 9p) are loaded by the guest's own init.
fetch_guest_kernel() {
  local cache=${TARN_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarn-vm}
  if [ -e "$cache/kernel/vmlinuz" ] && [ -d "$cache/kernel/modules" ]; then
    echo "setup: guest kernel present ($(cat "$cache/kernel/version"))"
    return
  fi
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -1)
  if [ -z "$package" ]; then
    apt_update
    package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -1)
  fi
  [ -n "$package" ] || { echo "setup: no guest kernel package found" >&2; exit 1; }
  echo "setup: fetching the guest kernel $package"
  mkdir -p "$cache"
  local staging
  staging=$(mktemp -d "$cache/fetch-XXXXXX")
  trap 'rm -rf "$staging"' EXIT
  (cd "$staging" && apt-get download -qq "$package" 2>&1 | grep -v "unsandboxed" || true)
  local deb
  deb=$(ls "$staging"/*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || { echo "setup: the download of $package failed" >&2; exit 1; }
  dpkg-deb -x "$deb" "$staging/root"
  local version=${package#linux-image-}
  mkdir -p "$staging/kernel"
  mv "$staging/root/boot/vmlinuz-$version" "$staging/kernel/vmlinuz"
  mv "$staging/root/lib/modules/$version" "$staging/kernel/modules"
  echo "$version" >"$staging/kernel/version"
  rm -rf "$cache/kernel"
  mv "$staging/kernel" "$cache/kernel"
  rm -rf "$staging"
  trap - EXIT
  echo "setup: guest kernel $version in $cache/kernel"
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: all packages present"
else
  echo "setup: installing ${missing[*]}"
  apt_update
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "${1:-}" = vm ]; then
  fetch_guest_kernel
fi
