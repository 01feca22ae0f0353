#!/usr/bin/env bash
# Sets up, builds and runs every test. With "address" or "thread" as argument it does the same in
# a sanitizer build of its own (build-address, build-thread); with "windows" it cross-builds the
# Windows programs into build-windows and runs their tests under Wine; with "vm" it runs the tests
# on real serial drivers in a QEMU guest (label vm) with the plain build's programs.
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-}"
if [ "$variant" = windows ]; then
  exec bash scripts/test-windows.sh
fi
if [ "$variant" = vm ]; then
  bash scripts/setup.sh vm
  cmake -S . -B build -G Ninja -DZEL_SANITIZE= -DZEL_BUILD_GUI=ON >/dev/null
  cmake --build build
  exec ctest --test-dir build -L vm --output-on-failure
fi
bash scripts/setup.sh

sanitizer="$variant"
build_dir=build${sanitizer:+-$sanitizer}
gui=ON
# The Qt dialog is not what the sanitizer builds are for, and it doubles their build time.
[ -n "$sanitizer" ] && gui=OFF

cmake -S . -B "$build_dir" -G Ninja -DZEL_SANITIZE="$sanitizer" -DZEL_BUILD_GUI=$gui >/dev/null
cmake --build "$build_dir"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" -LE vm
