#!/bin/sh
# Renders the dialog tarn-update into docs/images/ (English and German, idle and while an update is
# being prepared) and its service console under a virtual X server, against the simulator.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DZEL_BUILD_GUI=ON >/dev/null
cmake --build build -j2 --target tarn_gui_screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/bin/tarn_gui_screenshots docs/images
