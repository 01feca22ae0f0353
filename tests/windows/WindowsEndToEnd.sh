#!/usr/bin/env bash
# tarn.exe under Wine against the Linux simulator: the simulator's pseudo-terminal is mapped to a COM
# port of the Wine prefix, the Windows program updates the device through it, and what the simulator
# flashed is compared with the images.
# Usage: WindowsEndToEnd.sh CASE COM-NUMBER; environment: TARN_HOST (Linux tarn), TARN_EXE, WINE_LOADER,
# WINEPREFIX (a prefix whose wineserver runs).
set -euo pipefail
case_name=$1
com=$2
: "${TARN_HOST:?}" "${TARN_EXE:?}" "${WINE_LOADER:?}" "${WINEPREFIX:?}"

source "$(dirname "$0")/WineSimulator.sh"

# Runs tarn.exe in the working folder; its exit code is in $rc.
run_tarn() {
  set +e
  # Wine's helper processes must not inherit the simulator's input, or it would never end.
  (cd "$work/run" && timeout 300 "$WINE_LOADER" "$TARN_EXE" "$@" </dev/null >"$work/run/out" 2>&1 3>&-)
  rc=$?
  set -e
}

traffic_logged() {
  grep -q 'Scriva::CPluginDevice' "$work"/run/Logs/*.csv 2>/dev/null || fail "no traffic dump lines in the CSV log"
}

case "$case_name" in
qtr1)
  start_simulator "$qtr1_device"
  pack_qtr1_firmware
  run_tarn update --port "COM$com" --yes --json
  [ "$rc" -eq 0 ] || fail "tarn.exe update ended with $rc"
  grep -q '"outcome": "updated"' "$work/run/out" || fail "the report does not say the update succeeded"
  stop_simulator
  qtr1_flashed
  traffic_logged
  ;;
can-driver)
  start_simulator '{ "device": { "hardware": "VHX-360", "serialNumber": "VHX360-WINE-0001",
    "versions": { "CCPU": "V 02.09.30", "MCPU": "V 03.03.04" },
    "canDrivers": [ { "module": 1, "main": 203 } ] } }'
  printf '[TarnUpdate]\r\nMCPUMode=1\r\n' >"$work/run/ZEL.ini"
  pack 10 "V 02.05.00" can.tarn 3000
  run_tarn update --port "COM$com" --yes --json
  [ "$rc" -eq 0 ] || fail "tarn.exe update ended with $rc"
  stop_simulator
  same_image can.tarn module.bin
  traffic_logged
  ;;
missing-port)
  # Nothing is mapped to the port: a clear error naming it, exit 1, and no hang.
  run_tarn check --port "COM$com"
  [ "$rc" -eq 1 ] || fail "a missing port ended with $rc, not 1"
  grep -qi "COM$com" "$work/run/out" || fail "the error does not name the port"
  ;;
device-gone)
  # The device goes away in the middle of an expander's transfer and does not come back (the cable
  # is pulled): a clear error, exit 1, no hang. With the device back, a second run updates it.
  device='"device": { "hardware": "QTR-1",
    "versions": { "CCPU": "V 02.10.00", "KCPU": "V 01.05.00", "LCPU": "V 01.03.00" },
    "expanderRestartMs": 50, "expanders": [ { "type": 33, "version": "V 02.03.00" } ] }'
  start_simulator "{ $device, \"faults\": [ { \"kind\": \"disconnect\", \"id\": \"0x0015\", \"skip\": 3, \"times\": 1 } ] }"
  pack 6 "V 02.04.00" ecpu.tarn 4096
  run_tarn update --port "COM$com" --yes
  [ "$rc" -eq 1 ] || fail "a line lost mid-transfer ended with $rc, not 1"
  grep -q "could not be started" "$work/run/out" || fail "the report does not say what failed"
  stop_simulator
  start_simulator "{ $device }"
  run_tarn update --port "COM$com" --yes
  [ "$rc" -eq 0 ] || fail "the second run ended with $rc"
  stop_simulator
  same_image ecpu.tarn expander-33.bin
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "PASS: $case_name"
