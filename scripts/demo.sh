#!/usr/bin/env bash
# Sets up, builds and runs the product's main job on the built-in device simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
if build/bin/tarn demo --help >/dev/null 2>&1; then
  exec build/bin/tarn demo
fi
# Until the update run and the simulator are in, show what the library already does.
build/bin/tarn --version
build/bin/zel-run build/lib/libzel.so,ShowMessageBox "Tarn Update is built; the simulated update run is not yet part of it." "Tarn Update" 64
