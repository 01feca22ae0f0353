#!/usr/bin/env bash
# Runs a Windows test program under Wine with the Linux simulator behind a COM port of the prefix,
# named to the program in TARN_TEST_COM_PORT.
# Usage: WindowsWithSimulator.sh SCENARIO COM-NUMBER PROGRAM [ARGUMENTS...]; environment: TARN_HOST,
# WINE_LOADER, WINEPREFIX (a prefix whose wineserver runs).
set -euo pipefail
scenario=$1
com=$2
shift 2
: "${TARN_HOST:?}" "${WINE_LOADER:?}" "${WINEPREFIX:?}"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarn-wine-sim-XXXXXX")
sim_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/sim.in" "$work/sim.out"
"$TARN_HOST" sim --scenario "$scenario" <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 3>"$work/sim.in"
read -r -t 20 port <"$work/sim.out" || { echo "the simulator did not start" >&2; cat "$work/sim.err" >&2; exit 1; }
# The simulator's stable link, which follows it across a simulated disconnection.
ln -sfn "$port" "$WINEPREFIX/dosdevices/com$com"

# Wine's helper processes must not inherit the simulator's input, or it would never end.
set +e
TARN_TEST_COM_PORT="COM$com" "$WINE_LOADER" "$@" 3>&-
rc=$?
set -e
exec 3>&-
wait "$sim_pid" || true
sim_pid=
exit $rc
