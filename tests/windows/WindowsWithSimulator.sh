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

source "$(dirname "$0")/WineSimulator.sh"
# The port is the simulator's stable link, which follows it across a simulated disconnection.
start_simulator "$(cat "$scenario")"

# Wine's helper processes must not inherit the simulator's input, or it would never end.
set +e
TARN_TEST_COM_PORT="COM$com" "$WINE_LOADER" "$@" 3>&-
rc=$?
set -e
exec 3>&-
wait "$sim_pid" || true
sim_pid=
exit $rc
