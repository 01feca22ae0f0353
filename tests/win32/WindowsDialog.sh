#!/usr/bin/env bash
# tarn-update.exe under Wine on the session's display, driven by tarn_update_dialog_tests.exe; the
# device is the Linux simulator behind a COM port of the prefix, and what it flashed is compared
# with the images.
# Usage: WindowsDialog.sh CASE COM-NUMBER; environment: TARN_HOST (Linux tarn), TARN_UPDATE_EXE,
# DIALOG_TESTS (the driver), WINE_LOADER, WINEPREFIX (a prefix whose wineserver runs), DISPLAY;
# IMAGES (a folder) for the case "screenshots".
set -euo pipefail
case_name=$1
com=$2
: "${TARN_HOST:?}" "${TARN_UPDATE_EXE:?}" "${DIALOG_TESTS:?}" "${WINE_LOADER:?}" "${WINEPREFIX:?}"
if [ -z "${DISPLAY:-}" ]; then
  echo "no display: the dialog cannot be shown, the case is skipped"
  exit 77
fi

source "$(dirname "$0")/../windows/WineSimulator.sh"

# Runs the driver's test FILTER in the working folder; extra arguments follow.
drive() {
  local filter=$1
  shift
  set +e
  # Wine's helper processes must not inherit the simulator's input, or it would never end.
  timeout 600 "$WINE_LOADER" "$DIALOG_TESTS" --gtest_filter="$filter" \
    --program "$(windows_path "$TARN_UPDATE_EXE")" --work "$(windows_path "$work/run")" "$@" \
    </dev/null >"$work/run/out" 2>&1 3>&-
  local rc=$?
  set -e
  cat "$work/run/out"
  [ $rc -eq 0 ] || fail "the dialog test $filter ended with $rc"
}

settings() { printf '[TarnUpdate]\r\nCOMPort=COM%s\r\n' "$com" >"$work/run/ZEL.ini"; }

case "$case_name" in
resources)
  drive 'TarnUpdateResources.*'
  ;;
controls)
  # A first start: no settings file.
  drive TarnUpdateDialog.ControlsLanguageAndSettings
  ;;
update)
  start_simulator "$qtr1_device"
  pack_qtr1_firmware
  settings
  drive TarnUpdateDialog.UpdatesTheDeviceAndAsksBeforeClosing
  stop_simulator
  qtr1_flashed
  ;;
console)
  start_simulator '{ "device": { "hardware": "QTR-2", "serialNumber": "QTR2-000123",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" } } }'
  settings
  drive TarnUpdateDialog.ServiceConsoleShowsTheDevicesAnswer
  stop_simulator
  ;;
recovery | choose)
  # The cable goes during the LCPU's transfer: tarn.exe leaves it in its bootloader, recorded.
  : "${TARN_EXE:?}"
  start_simulator '{ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-REC-0001",
    "versions": { "CCPU": "V 02.10.00", "KCPU": "V 01.05.00", "LCPU": "V 01.02.07" },
    "bootloader": { "cablePulledAfterWrites": 3, "cableAwayMs": 200 } } }'
  pack 4 "V 01.03.00" lcpu.tarn 3072
  set +e
  (cd "$work/run" && timeout 300 "$WINE_LOADER" "$TARN_EXE" update --port "COM$com" --yes </dev/null >"$work/run/out" 2>&1 3>&-)
  rc=$?
  set -e
  [ "$rc" -eq 1 ] || fail "the cut-off update ended with $rc, not 1"
  settings
  if [ "$case_name" = recovery ]; then
    drive TarnUpdateDialog.OffersToRecoverAWaitingProcessor ${IMAGES:+--images "$(windows_path "$(cd "$IMAGES" && pwd)")"}
  else
    # No journal names the update; the folder also offers the KCPU's file and a CAN driver's.
    rm -f "$work/run/Logs/update-journal.json"
    pack 3 "V 01.05.00" kcpu.tarn 4096
    pack 10 "V 02.04.00" can.tarn 1024
    drive TarnUpdateDialog.LetsTheOperatorChooseTheFileForAWaitingProcessor \
      ${IMAGES:+--images "$(windows_path "$(cd "$IMAGES" && pwd)")"}
  fi
  stop_simulator
  same_image lcpu.tarn LCPU.bin
  ;;
screenshots)
  : "${IMAGES:?}"
  start_simulator '{ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-000042",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" } } }'
  pack 1 "V 02.10.00" ccpu.tarn 6144
  pack 3 "V 01.05.00" kcpu.tarn 4096
  settings
  mkdir -p "$IMAGES"
  drive TarnUpdateDialog.Screenshots --images "$(windows_path "$(cd "$IMAGES" && pwd)")"
  stop_simulator
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
