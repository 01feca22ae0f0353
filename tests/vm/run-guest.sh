#!/usr/bin/env bash
# The program on real serial drivers: boots a QEMU guest (TCG) whose /dev/ttyUSB0 is the kernel's
# ftdi_sio driving QEMU's emulated FTDI adapter and whose /dev/ttyS1 is the 8250 driver on an
# emulated 16550, each wired to a `tarn sim` here. The guest mounts this machine's / read-only and
# runs the checks (guest-checks.sh) with the build's own tarn; this side serves its requests
# (unplug and re-plug the adapter through QMP, time marks), then compares what the simulators
# flashed and reads the line settings the emulated chips saw from QEMU's trace.
#
# Usage: run-guest.sh OUT TARN   (TARN: the plain build's tarn)
# Writes OUT/results/<check> (first line PASS:, FAIL: or SKIP: with the reason) for every check of
# checks.txt, and keeps the console, the guest's log, the trace and the simulators' logs in OUT.
# Exit 0 when the guest ran (the checks' outcomes are in their files), 77 when a tool is missing
# (every result says SKIP and why), 1 when the test bed itself failed. Every process it starts is
# stopped on the way out, whatever happens.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
tarn=$(realpath "$2")
cache=${TARN_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarn-vm}
kernel=$cache/kernel
# The bound of the whole guest run and of each answer the guest waits for.
run_limit=${TARN_VM_LIMIT:-420}

mapfile -t checks < <(grep -v '^#' "$here/checks.txt")
rm -rf "$out"
mkdir -p "$out/results" "$out/share/results" "$out/share/firmware"
started=$SECONDS

result() { # CHECK LINE...: the check's result file
  local check=$1
  shift
  printf '%s\n' "$@" >"$out/results/$check"
}

missing=()
command -v qemu-system-x86_64 >/dev/null || missing+=(qemu-system-x86)
command -v socat >/dev/null || missing+=(socat)
command -v jq >/dev/null || missing+=(jq)
command -v gawk >/dev/null || missing+=(gawk)
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q 'install ok installed' || missing+=(busybox-static)
[ -f "$kernel/vmlinuz" ] || missing+=("the guest kernel ($kernel)")
if [ "${#missing[@]}" -gt 0 ]; then
  reason="missing: $(IFS=,; echo "${missing[*]}" | sed 's/,/, /g'); 'bash scripts/setup.sh vm' installs them"
  for c in "${checks[@]}"; do result "$c" "SKIP: $reason"; done
  echo "SKIP: $reason"
  exit 77
fi

# Every process started here, stopped by PID on the way out; none of them gets the descriptors
# this script holds (bash would pass them on, and a simulator whose input FIFO another process
# still holds open never ends).
pids=()
held=()
run_closed() {
  local fd
  for fd in "${held[@]}"; do eval "exec $fd>&-"; done
  exec "$@"
}
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do bounded_wait "$pid" 10 || { kill -KILL "$pid" 2>/dev/null; wait "$pid"; } || true; done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# bounded_wait PID SECONDS: waits for a child to end, at most that long: its status, or 124 when
# it still runs.
bounded_wait() {
  local pid=$1 ended= status watchdog
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return; }
  run_closed sleep "$2" &
  watchdog=$!
  wait -n -p ended "$pid" "$watchdog" 2>/dev/null
  status=$?
  if [ "$ended" = "$pid" ]; then
    kill "$watchdog" 2>/dev/null
    wait "$watchdog" 2>/dev/null
    return "$status"
  fi
  return 124
}

broken() {
  echo "FAIL: the test bed: $*" >&2
  for f in "$out/console.log" "$out/share/guest.log" "$out"/sim-*.err "$out/qmp.log"; do
    [ -s "$f" ] && { echo "--- $f" >&2; tail -30 "$f" >&2; }
  done
  for c in "${checks[@]}"; do
    [ -f "$out/results/$c" ] || result "$c" "FAIL: the test bed failed before the check: $*"
  done
  exit 1
}

# pack TYPE VERSION NAME SIZE: an image of SIZE bytes that begins with its version text (the
# simulated processor reports it after the flash), no byte 0xFF (the flash dump ends at the last
# programmed byte), packed as share/firmware/NAME.tarn.
pack() {
  local image=$out/share/firmware/$3.bin
  { printf '%s' "$2"; head -c "$(($4 - ${#2}))" /dev/urandom | tr '\200-\377' '\000-\177'; } >"$image"
  "$tarn" fw pack --type "$1" --version "$2" "$image" "$out/share/firmware/$3.tarn" >/dev/null
}
pack 3 "V 01.05.00" kcpu 4096
pack 6 "V 02.04.00" ecpu 4096
pack 4 "V 01.03.00" lcpu 32768

# The simulators: each runs while its standard input (a FIFO held open here) stays open and
# writes what it flashed when it ends; its first line is its port.
declare -A sim_pid sim_input
start_simulator() { # NAME SCENARIO: its port in sim_port
  local name=$1 fd output
  mkfifo "$out/sim-$name.in" "$out/sim-$name.out"
  exec {fd}<>"$out/sim-$name.in" {output}<>"$out/sim-$name.out"
  held+=("$fd" "$output")
  sim_input[$name]=$fd
  run_closed "$tarn" sim --scenario "$2" --flash-dump "$out/flash-$name" \
    <"$out/sim-$name.in" >"$out/sim-$name.out" 2>"$out/sim-$name.err" &
  sim_pid[$name]=$!
  pids+=("${sim_pid[$name]}")
  read -r -t 20 -u "$output" sim_port || broken "the simulator $name did not start"
}
stop_simulator() { # NAME
  local name=$1
  local fd=${sim_input[$name]}
  eval "exec $fd>&-"
  local kept=() h
  for h in "${held[@]}"; do [ "$h" = "$fd" ] || kept+=("$h"); done
  held=("${kept[@]}")
  bounded_wait "${sim_pid[$name]}" 20 || broken "the simulator $name did not end cleanly"
}
start_simulator usb "$here/sim-usb.json"
usb_port=$sim_port
start_simulator s1 "$here/sim-s1.json"
s1_port=$sim_port

"$here/make-initramfs.sh" "$kernel" "$out/initramfs.cpio" || broken "the initramfs could not be made"
cp "$here/guest-checks.sh" "$out/share/"
# The program travels in the share: the guest's /tmp hides the host's, where a build may live. Its
# library and plug-in keep their places beside it.
build=$(dirname "$(dirname "$tarn")")
mkdir -p "$out/share/program/bin" "$out/share/program/lib"
cp "$tarn" "$out/share/program/bin/"
cp -P "$build"/lib/libzel.so* "$build"/lib/Scriva.so "$out/share/program/lib/" || broken "the program could not be copied"
{
  printf 'TARN=%q\n' "/tmp/share/program/bin/$(basename "$tarn")"
  printf 'ONLY=%q\n' "${TARN_VM_CHECKS:-}"
} >"$out/share/config.sh"

# QMP and the guest's requests come through pipe character devices (NAME.in to QEMU, NAME.out
# from it); this side opens its ends read-write so that no open waits for QEMU.
mkfifo "$out/qmp.in" "$out/qmp.out" "$out/ctl.in" "$out/ctl.out"
exec {qmp_in}<>"$out/qmp.in" {qmp_out}<>"$out/qmp.out" {ctl_in}<>"$out/ctl.in" {ctl_out}<>"$out/ctl.out"
held+=("$qmp_in" "$qmp_out" "$ctl_in" "$ctl_out")

# TCG (no KVM here) with a 128 MB translation cache: the default 1 GB costs memory, a smaller one
# makes the emulator retranslate often, which stretches the timings read from the trace.
run_closed qemu-system-x86_64 -nodefaults -no-user-config -machine pc -accel tcg,tb-size=128 -cpu max -smp 1 -m 256 \
  -display none -no-reboot -S \
  -kernel "$kernel/vmlinuz" -initrd "$out/initramfs.cpio" -append "console=ttyS0 quiet loglevel=4 panic=-1" \
  -chardev file,id=console,path="$out/console.log" -serial chardev:console \
  -chardev socket,id=uart,path="$out/uart.sock",server=on,wait=off -device isa-serial,chardev=uart,index=1 \
  -device qemu-xhci,id=xhci \
  -chardev serial,id=ftdi,path="$usb_port" -device usb-serial,bus=xhci.0,port=1,chardev=ftdi,id=ftdi0 \
  -device virtio-serial-pci -chardev pipe,id=ctl,path="$out/ctl" -device virtserialport,chardev=ctl,name=tarn.ctl \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$out/share",mount_tag=share,security_model=none,multidevs=remap \
  -chardev pipe,id=qmp,path="$out/qmp" -mon chardev=qmp,mode=control \
  -trace 'usb_serial_*' -trace serial_update_parameters -trace serial_write -D "$out/trace.log" -msg timestamp=on \
  </dev/null >"$out/qemu.log" 2>&1 &
qemu_pid=$!
pids+=("$qemu_pid")

# qmp_until PATTERN SECONDS: reads QMP lines (kept in qmp.log) until one holds PATTERN.
qmp_until() {
  local line deadline=$((SECONDS + $2))
  while [ "$SECONDS" -lt "$deadline" ]; do
    read -r -t "$((deadline - SECONDS))" -u "$qmp_out" line || break
    echo "$line" >>"$out/qmp.log"
    case $line in
    *"$1"*) return 0 ;;
    *'"error"'*) echo "QMP: $line" >&2; return 1 ;;
    esac
  done
  return 1
}
qmp() { # JSON: one command and its return
  echo "$1" >>"$out/qmp.log"
  printf '%s\n' "$1" >&"$qmp_in"
  qmp_until '"return"' 20
}
qmp_until '"QMP"' 30 || broken "QEMU did not start (see qemu.log: $(tail -1 "$out/qemu.log"))"
qmp '{"execute":"qmp_capabilities"}' || broken "QMP refused its capabilities"

# The 16550's line: QEMU listens, socat joins it to the second simulator's pseudo-terminal. The
# guest is started once socat says both ends are open.
mkfifo "$out/socat.log"
exec {socat_log}<>"$out/socat.log"
held+=("$socat_log")
run_closed socat -d -d UNIX-CONNECT:"$out/uart.sock" "$s1_port",raw,echo=0 2>"$out/socat.log" &
pids+=("$!")
connected=
while read -r -t 20 -u "$socat_log" line; do
  echo "$line" >>"$out/socat.err"
  case $line in *"starting data transfer loop"*) connected=1; break ;; esac
done
[ -n "$connected" ] || broken "socat did not join the 16550 to its simulator ($(cat "$out/socat.err" 2>/dev/null))"
qmp '{"execute":"query-chardev"}' && tail -1 "$out/qmp.log" | grep -q '"unix:' \
  || broken "QEMU does not see socat on the 16550's socket"
qmp '{"execute":"cont"}' || broken "the guest did not start"

# The guest's requests, one line each, answered "ok REQUEST" (or "error REQUEST: why"):
#   unplug / plug   the adapter leaves the bus or comes back (the same port, so the same device)
#   mark NAME       notes this side's time as NAME in marks (the trace's clock)
#   done            the checks have ended
answer() { printf '%s\n' "$1" >&"$ctl_in"; }
unplug() {
  printf '%s\n' '{"execute":"device_del","arguments":{"id":"ftdi0"}}' >>"$out/qmp.log"
  printf '%s\n' '{"execute":"device_del","arguments":{"id":"ftdi0"}}' >&"$qmp_in"
  qmp_until '"DEVICE_DELETED"' 20
}
plug() {
  qmp '{"execute":"device_add","arguments":{"driver":"usb-serial","id":"ftdi0","bus":"xhci.0","port":"1",'\
'"chardev":"ftdi"}}'
}
finished=
deadline=$((SECONDS + run_limit))
while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$qemu_pid" 2>/dev/null; do
  read -r -t 1 -u "$ctl_out" request || continue
  echo "$(date +%s.%N) $request" >>"$out/requests.log"
  case $request in
  unplug) if unplug; then answer "ok unplug"; else answer "error unplug: no DEVICE_DELETED"; fi ;;
  plug) if plug; then answer "ok plug"; else answer "error plug: device_add failed"; fi ;;
  mark\ *) echo "${request#mark } $EPOCHREALTIME" >>"$out/marks"; answer "ok $request" ;;
  done)
    finished=1
    # QEMU's peak memory, read before it ends.
    sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$qemu_pid/status" >"$out/qemu.maxrss"
    answer "ok done"
    break
    ;;
  *) answer "error $request: unknown request" ;;
  esac
done
[ -n "$finished" ] || broken "the guest did not finish its checks within ${run_limit} s"
bounded_wait "$qemu_pid" 60 || broken "the guest did not power off"
stop_simulator usb
stop_simulator s1
guest_seconds=$((SECONDS - started))

# What the guest found, then what only this side can see (the line settings are all this side's).
for c in "${checks[@]}"; do
  if [ "$c" = line-settings ]; then
    :
  elif [ -f "$out/share/results/$c" ]; then
    cp "$out/share/results/$c" "$out/results/$c"
  else
    result "$c" "FAIL: the guest did not report this check (see guest.log)"
  fi
done

# host_verdict CHECK REASON-IF-FAILED: a failure seen here overrides a guest's pass.
host_fail() {
  local check=$1
  shift
  if grep -q '^PASS' "$out/results/$check"; then
    { echo "FAIL: $*"; echo "(the guest said: $(head -1 "$out/results/$check"))"; } >"$out/results/$check.new"
    mv "$out/results/$check.new" "$out/results/$check"
  else
    echo "also: $*" >>"$out/results/$check"
  fi
}
# same_image CHECK SIM IMAGE FLASHED: what the simulator flashed begins with the image.
same_image() {
  local image=$out/share/firmware/$3.bin flashed=$out/flash-$2/$4
  if [ ! -f "$flashed" ]; then
    host_fail "$1" "the simulator behind $2 flashed nothing into $4"
  elif ! cmp -s -n "$(stat -c %s "$image")" "$image" "$flashed"; then
    host_fail "$1" "what the simulator behind $2 flashed into $4 differs from $3.bin"
  else
    echo "flash: $4 of the simulator behind $2 equals $3.bin" >>"$out/results/$1"
  fi
}
same_image update-ttyUSB0 usb kcpu KCPU.bin
same_image update-ttyS1 s1 kcpu KCPU.bin
same_image hotplug-records usb ecpu expander-33.bin
same_image unplug-bootloader usb lcpu LCPU.bin

# While the second users tried, no open of theirs reached the adapter: DTR and RTS stayed off on
# the holder's line.
raises=$(gawk -v from="$(awk '$1 == "second-users-begin" { print $2 }' "$out/marks")" \
  -v to="$(awk '$1 == "second-users-end" { print $2 }' "$out/marks")" '
  { split($0, head, ":"); split(head[1], stamp, "@"); time = stamp[2] + 0 }
  time >= from && time <= to && /usb_serial_handle_control .*control 0x4001, value 0x[0-9a-f]*[123]$/ { n++ }
  END { print n + 0 }' "$out/trace.log")
if ! grep -q '^second-users-end ' "$out/marks" 2>/dev/null; then
  host_fail exclusive-open "the guest did not mark the second users' tries"
elif [ "$raises" -gt 0 ]; then
  host_fail exclusive-open "the second users' opens raised DTR/RTS on the holder's line ($raises times)"
else
  echo "trace: nothing raised DTR/RTS on the holder's line while the second users tried" >>"$out/results/exclusive-open"
fi

# The line settings and modem lines the emulated chips saw.
bash "$here/line-settings.sh" "$out/trace.log" "$out/marks" >"$out/results/line-settings" 2>&1 || true

peak=$(cat "$out/qemu.maxrss" 2>/dev/null)
echo "guest run: ${guest_seconds} s wall, QEMU peak memory $((${peak:-0} / 1024)) MB" \
  | tee "$out/summary"
for c in "${checks[@]}"; do echo "$c: $(head -1 "$out/results/$c")"; done | tee -a "$out/summary"
