#!/usr/bin/env bash
# Sets up, builds and runs the product's main job on the built-in device simulator: sample firmware
# newer than the simulated device, then the whole update run against it (tarn demo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
exec build/bin/tarn demo "$@"
