#!/usr/bin/env bash
# Sets up, builds and runs every test. With "address" or "thread" as argument it does the same in
# a sanitizer build of its own (build-address, build-thread); with "windows" it cross-builds the
# Windows programs into build-windows and runs their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-}"
if [ "$variant" = windows ]; then
  exec bash scripts/test-windows.sh
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
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
