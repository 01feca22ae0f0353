# Sourced by the Windows end-to-end scripts: a working folder, the Linux simulator behind a COM port
# of the Wine prefix, firmware files and the check of what the simulator flashed.
# Before sourcing: com (the port number), TARN_HOST (Linux tarn), WINEPREFIX (a prefix whose
# wineserver runs). Gives $work with run/Firmware and images; fail prints the logs and exits 1.

work=$(mktemp -d "${TMPDIR:-/tmp}/tarn-wine-XXXXXX")
sim_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$com"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/run/out "$work"/sim.err; do [ -f "$f" ] && { echo "--- $f" >&2; tail -40 "$f" >&2; }; done
  exit 1
}

mkdir -p "$work/run/Firmware" "$work/images"

# Wine's name of a path of this machine.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

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

# same_image NAME FLASHED: what the simulator flashed into FLASHED begins with the image of NAME.
same_image() {
  local flashed="$work/flash/$2"
  [ -f "$flashed" ] || fail "nothing was flashed into $2"
  cmp -s -n "$(stat -c %s "$work/images/$1.bin")" "$work/images/$1.bin" "$flashed" \
    || fail "$2 differs from the image of $1"
}

# The QTR-1 of the update cases and the firmware that updates each of its processors.
qtr1_device='{ "device": { "hardware": "QTR-1", "serialNumber": "QTR1-WINE-0001",
    "versions": { "CCPU": "V 02.09.30", "KCPU": "V 01.04.00", "LCPU": "V 01.02.07" },
    "expanderRestartMs": 50,
    "expanders": [ { "type": 33, "version": "V 02.03.00" }, { "type": 34, "version": "V 02.03.00" } ] } }'
pack_qtr1_firmware() {
  pack 1 "V 02.10.00" ccpu.tarn 6144
  pack 3 "V 01.05.00" kcpu.tarn 4096
  pack 4 "V 01.03.00" lcpu.tarn 3072
  pack 6 "V 02.04.00" ecpu.tarn 2048
}
qtr1_flashed() {
  same_image ccpu.tarn CCPU.bin
  same_image kcpu.tarn KCPU.bin
  same_image lcpu.tarn LCPU.bin
  same_image ecpu.tarn expander-33.bin
  same_image ecpu.tarn expander-34.bin
}
