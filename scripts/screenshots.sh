#!/usr/bin/env bash
# Renders the dialogs into docs/images/ against the simulator, English and German, idle and while an
# update is being prepared (the operator's question is open), and the service console: the Qt dialog
# tarn-update under a virtual X server, and with "windows" (or "all") the native Windows dialog
# tarn-update.exe under Wine.
# Usage: screenshots.sh [qt|windows|all]; qt when none is given.
set -euo pipefail
cd "$(dirname "$0")/.."
which=${1:-qt}

qt_screenshots() {
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DZEL_BUILD_GUI=ON >/dev/null
  cmake --build build -j2 --target tarn_gui_screenshots
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" build/bin/tarn_gui_screenshots docs/images
}

windows_screenshots() {
  bash scripts/setup.sh windows
  source scripts/wine-session.sh
  cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DTARN_HOST_PROGRAM="$PWD/$host_dir/bin/tarn" >/dev/null
  cmake --build build-windows --target tarn-update tarn_update_dialog_tests
  TARN_HOST="$PWD/$host_dir/bin/tarn" TARN_UPDATE_EXE="$PWD/build-windows/bin/tarn-update.exe" \
    DIALOG_TESTS="$PWD/build-windows/bin/tarn_update_dialog_tests.exe" WINE_LOADER="$wine_bin/wine64" \
    IMAGES="$PWD/docs/images" bash tests/win32/WindowsDialog.sh screenshots 40
  TARN_HOST="$PWD/$host_dir/bin/tarn" TARN_EXE="$PWD/build-windows/bin/tarn.exe" \
    TARN_UPDATE_EXE="$PWD/build-windows/bin/tarn-update.exe" \
    DIALOG_TESTS="$PWD/build-windows/bin/tarn_update_dialog_tests.exe" WINE_LOADER="$wine_bin/wine64" \
    IMAGES="$PWD/docs/images" bash tests/win32/WindowsDialog.sh recovery 41
  TARN_HOST="$PWD/$host_dir/bin/tarn" TARN_EXE="$PWD/build-windows/bin/tarn.exe" \
    TARN_UPDATE_EXE="$PWD/build-windows/bin/tarn-update.exe" \
    DIALOG_TESTS="$PWD/build-windows/bin/tarn_update_dialog_tests.exe" WINE_LOADER="$wine_bin/wine64" \
    IMAGES="$PWD/docs/images" bash tests/win32/WindowsDialog.sh choose 42
}

case "$which" in
qt) qt_screenshots ;;
windows) (windows_screenshots) ;;
all) qt_screenshots; (windows_screenshots) ;;
*) echo "usage: $0 [qt|windows|all]" >&2; exit 2 ;;
esac
