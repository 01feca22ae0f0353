#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and fuzz; with "windows" also
# what the Windows cross build and its tests under Wine need.
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

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
