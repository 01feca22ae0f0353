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

work=$(mktemp -d "${TMPDIR:-/tmp}/tarn-wine-e2e-XXXXXX")
sim_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$work"/run/out "$work"/sim.err; do [ -f "$f" ] && { echo "--- $f" >&2; tail -40 "$f" >&2; }; done; exit 1; }

mkdir -p "$work/run/Firmware" "$work/images"

# The simulator runs while its standard input (a FIFO held open here) stays open; its first line is
# the port.
starts=0
start_simulator() {
  starts=$((starts + 1))
  local sim="$work/sim$starts"
  echo "$1" > "$sim.json"
  mkfifo "$sim.in" "$sim.out"
  rm -rf "$work/flash"
  "$TARN_HOST" sim --scenario "$sim.json" --flash-dump "$work/flash" <"$sim.in" >"$sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  exec 3>"$sim.in"
  local port
  read -r -t 20 port <"$sim.out" || fail "the simulator did not start"
  ln -sfn "$port" "$WINEPREFIX/dosdevices/com$com"
}

stop_simulator() {
  exec 3>&-
  wait "$sim_pid" || fail "the simulator ended with an error"
  sim_pid=
}

# pack TYPE VERSION NAME SIZE: an image of SIZE bytes with its version text, packed as Firmware/NAME.
pack() {
  local image="$work/images/$3.bin"
  python3 -c "import sys; n=int(sys.argv[2]); v=sys.argv[1].encode(); body=bytes((i*131+$1)&0x7F for i in range(n)); sys.stdout.buffer.write((v+body)[:n])" "$2" "$4" >"$image"
  "$TARN_HOST" fw pack --type "$1" --version "$2" "$image" "$work/run/Firmware/$3" >/dev/null
}

# Runs tarn.exe in the working folder; its exit code is in $rc.
run_tarn() {
  set +e
  # Wine's helper processes must not inherit the simulator's input, or it would never end.
  (cd "$work/run" && timeout 300 "$WINE_LOADER" "$TARN_EXE" "$@" </dev/null >"$work/run/out" 2>&1 3>&-)
  rc=$?
  set -e
}

same_image() {
  local flashed="$work/flash/$2"
  [ -f "$flashed" ] || fail "nothing was flashed into $2"
  cmp -s -n "$(stat -c %s "$work/images/$1.bin")" "$work/images/$1.bin" "$flashed" \
    || fail "$2 differs from the image of $1"
}

traffic_logged() {
  grep -q 'Scriva::CPluginDevice' "$work"/run/Logs/*.csv 2>/dev/null || fail "no traffic dump lines in the CSV log"
}

case "$case_name" in
qtr1)
  start_simulator '{ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-WINE-0001",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanderRestartMs": 50,
    "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ] } }'
  pack 1 "V 02.10.00" ccpu.tarn 6144
  pack 3 "V 01.05.00" kcpu.tarn 4096
  pack 4 "V 01.03.00" lcpu.tarn 3072
  pack 6 "V 02.04.00" ecpu.tarn 2048
  run_tarn update --port "COM$com" --yes --json
  [ "$rc" -eq 0 ] || fail "tarn.exe update ended with $rc"
  grep -q '"outcome": "updated"' "$work/run/out" || fail "the report does not say the update succeeded"
  stop_simulator
  same_image ccpu.tarn CCPU.bin
  same_image kcpu.tarn KCPU.bin
  same_image lcpu.tarn LCPU.bin
  same_image ecpu.tarn expander-33.bin
  same_image ecpu.tarn expander-34.bin
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
