#!/usr/bin/env bash
# The Windows build and its tests: MinGW-w64 cross build into build-windows, tests under Wine in a
# private prefix made for this run. The device side of the end-to-end tests is the Linux `tarn sim`:
# the one of build/ when that is configured, else one built alone into build-host/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh windows

source scripts/wine-session.sh

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DTARN_HOST_PROGRAM="$PWD/$host_dir/bin/tarn" >/dev/null
cmake --build build-windows
ctest --test-dir build-windows --output-on-failure -j "$(nproc)"
