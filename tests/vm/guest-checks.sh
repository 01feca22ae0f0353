#!/bin/bash
# The checks inside the guest, run as root by guest-init.sh in the host's tree: the build's own tarn
# on the kernel's real serial drivers (ftdi_sio on /dev/ttyUSB0, 8250 on /dev/ttyS1). Each check
# writes /tmp/share/results/NAME, first line "PASS: ..." or "FAIL: ..." with the reason, then what it
# saw. Requests to the host (unplug, plug, mark) go through the virtio port named tarn.ctl.
set -uo pipefail
source /tmp/share/config.sh
share=/tmp/share
usb=/dev/ttyUSB0
uart=/dev/ttyS1
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
nobody=65534 # a user without CAP_SYS_ADMIN, whom TIOCEXCL keeps out
as_nobody=(setpriv --reuid="$nobody" --regid="$nobody" --clear-groups --)

note() { # CHECK TEXT: a line under the check's verdict
  echo "$2" >>"/tmp/notes-$1"
}
verdict() { # CHECK PASS|FAIL TEXT
  { echo "$2: $3"; cat "/tmp/notes-$1" 2>/dev/null; } >"$share/results/$1"
  echo "$1: $2: $3"
}
pass() { verdict "$1" PASS "$2"; }
fail() { verdict "$1" FAIL "$2"; }

ctl_port=
for p in /sys/class/virtio-ports/*; do
  [ "$(cat "$p/name" 2>/dev/null)" = tarn.ctl ] && ctl_port=/dev/${p##*/}
done
[ -n "$ctl_port" ] || { echo "no virtio port tarn.ctl"; exit 1; }
exec {ctl}<>"$ctl_port"
# ask REQUEST: the host does it and answers "ok REQUEST".
ask() {
  local answer
  printf '%s\n' "$1" >&"$ctl"
  read -r -t 60 -u "$ctl" answer || { echo "no answer from the host to '$1'"; return 1; }
  [ "$answer" = "ok $1" ] || { echo "the host answered '$answer' to '$1'"; return 1; }
}
trap 'ask done' EXIT

# The kernel's device events as lines "ACTION DEVNAME", heard from before a request until its effect
# is seen (no udev daemon runs here; devtmpfs makes and removes the nodes).
start_events() {
  coproc EVENTS { exec busybox uevent sh -c 'echo "$ACTION $DEVNAME"'; }
  # A coprocess's descriptors are not passed to subshells (on_line runs in one): a copy is.
  exec {events}<&"${EVENTS[0]}"
  # The listener hears once a made-up event of a port that exists comes through; until then the
  # event is made again.
  local line
  for _ in $(seq 50); do
    echo change >/sys/class/tty/ttyS3/uevent
    read -r -t 0.2 -u "$events" line && [ "$line" = "change ttyS3" ] && return 0
  done
  stop_events
  return 1
}
wait_event() { # "ACTION DEVNAME" SECONDS
  local line deadline=$((SECONDS + $2))
  while [ "$SECONDS" -lt "$deadline" ] && read -r -t "$((deadline - SECONDS))" -u "$events" line; do
    [ "$line" = "$1" ] && return 0
  done
  return 1
}
stop_events() {
  kill "$EVENTS_PID" 2>/dev/null
  wait "$EVENTS_PID" 2>/dev/null
  exec {events}<&-
}

# run_tarn FOLDER SECONDS ARGS...: tarn in FOLDER, bounded; every line of its output goes to
# FOLDER/out and to on_line (set by the check) as it comes. Its exit status is in rc (124: it
# did not end in time).
on_line() { :; }
run_tarn() {
  local folder=$1 limit=$2
  shift 2
  (cd "$folder" && timeout "$limit" "$TARN" "$@" </dev/null 2>&1) | while IFS= read -r line; do
    printf '%s\n' "$line" >>"$folder/out"
    on_line "$line"
  done
  rc=${PIPESTATUS[0]}
  on_line() { :; }
}
report() { # FOLDER: the JSON report at the end of a --json run
  sed -n '/^{$/,$p' "$1/out"
}
folder() { # NAME FIRMWARE...: a working folder with those firmware files
  local dir=/tmp/work/$1
  shift
  mkdir -p "$dir/Firmware"
  chmod 0777 "$dir" "$dir/Firmware"
  for f in "$@"; do cp "$share/firmware/$f.tarn" "$dir/Firmware/"; done
  echo "$dir"
}
percent_at_least() { # LINE N: a progress line of at least N %
  case $1 in
  "Progress: "*%) [ "${1//[^0-9]/}" -ge "$2" ] ;;
  *) return 1 ;;
  esac
}

check_ports() {
  local json
  if ! json=$("$TARN" ports --json 2>/dev/null); then
    fail ports "tarn ports --json ended with an error"
    return
  fi
  echo "$json" >/tmp/ports.json
  note ports "listed: $(jq -r '[.[].path] | join(" ")' <<<"$json")"
  local entry device
  entry=$(jq -c '.[] | select(.path == "/dev/ttyUSB0")' <<<"$json")
  [ -n "$entry" ] || { fail ports "/dev/ttyUSB0 is not listed"; return; }
  note ports "ttyUSB0: $entry"
  # The USB device above the usb-serial port: its descriptor strings as sysfs has them.
  device=$(realpath /sys/class/tty/ttyUSB0/device/../..)
  local key file expected got
  for pair in vendorId:idVendor productId:idProduct manufacturer:manufacturer product:product serial:serial; do
    key=${pair%%:*}
    file=${pair#*:}
    expected=$(cat "$device/$file" 2>/dev/null)
    got=$(jq -r ".$key" <<<"$entry")
    [ -n "$expected" ] || { fail ports "sysfs has no $file for the adapter ($device)"; return; }
    [ "$got" = "$expected" ] || { fail ports "$key is '$got', sysfs says '$expected'"; return; }
  done
  [ "$(jq -r .vendorId <<<"$entry")/$(jq -r .productId <<<"$entry")" = 0403/6001 ] \
    || { fail ports "ttyUSB0 is not listed as 0403/6001"; return; }
  [ "$(jq -r .driver <<<"$entry")" = ftdi_sio ] || { fail ports "the driver of ttyUSB0 is not ftdi_sio"; return; }
  # The 8250 driver registers ttyS0 to ttyS3 whether or not a UART answers; those without one
  # (type 0) are not ports.
  local tty type listed stubs=0
  for tty in /sys/class/tty/ttyS*; do
    type=$(cat "$tty/type")
    listed=$(jq -r --arg p "/dev/${tty##*/}" 'any(.[]; .path == $p)' <<<"$json")
    if [ "$type" = 0 ]; then
      stubs=$((stubs + 1))
      [ "$listed" = false ] || { fail ports "${tty##*/} has no UART (type 0) and is listed"; return; }
    else
      [ "$listed" = true ] || { fail ports "${tty##*/} has a UART (type $type) and is not listed"; return; }
    fi
  done
  [ "$stubs" -gt 0 ] || { fail ports "no 8250 port without a UART to leave out"; return; }
  pass ports "ttyUSB0 listed as 0403/6001 by ftdi_sio with the adapter's strings from sysfs;\
 $stubs 8250 ports without a UART left out, ttyS0 and ttyS1 listed"
}

# A second user while tarn holds the adapter: a non-root program (kept out by the kernel's
# TIOCEXCL), a second tarn as root (kept out by the lock tarn takes) and as non-root. With the port
# free again the same non-root user gets it, so it was the holder that kept them out.
check_exclusive_open() {
  local dir
  dir=$(folder exclusive)
  # As udev's rule for serial ports would (group dialout), here for the test user.
  chmod 0666 "$usb"
  latency_before=$(cat "$latency")
  coproc HOLD { cd "$dir" && exec "$TARN" send --port "$usb" CCPU_REQ_GET_DEVICE_INFO --seconds 8 </dev/null 2>&1; }
  local first line
  if ! read -r -t 60 -u "${HOLD[0]}" first; then
    fail exclusive-open "the holder (tarn send) printed nothing"
    return
  fi
  note exclusive-open "holder: $first"
  latency_link=$(cat "$latency")
  local plain plain_rc second second_rc second_user second_user_rc
  # The host looks in the trace for what reached the adapter meanwhile.
  ask "mark second-users-begin"
  plain=$("${as_nobody[@]}" bash -c "exec 3<>$usb" 2>&1)
  plain_rc=$?
  second=$(cd "$dir" && timeout 60 "$TARN" check --port "$usb" </dev/null 2>&1)
  second_rc=$?
  second_user=$(cd "$dir" && timeout 60 "${as_nobody[@]}" "$TARN" check --port "$usb" </dev/null 2>&1)
  second_user_rc=$?
  ask "mark second-users-end"
  local holding=yes
  kill -0 "$HOLD_PID" 2>/dev/null || holding=no
  while read -r -t 60 -u "${HOLD[0]}" line; do :; done
  wait "$HOLD_PID"
  local hold_rc=$?
  latency_after_link=$(cat "$latency")
  local control control_rc
  control=$(cd "$dir" && timeout 60 "${as_nobody[@]}" "$TARN" check --port "$usb" </dev/null 2>&1)
  control_rc=$?
  note exclusive-open "non-root open while held: exit $plain_rc: $plain"
  note exclusive-open "second tarn (root) while held: exit $second_rc: $(grep -m1 -i 'busy\|open' <<<"$second")"
  note exclusive-open "second tarn (non-root) while held: exit $second_user_rc: $(grep -m1 -i 'busy\|open' <<<"$second_user")"
  note exclusive-open "non-root tarn check with the port free: exit $control_rc"
  [ "$holding" = yes ] || { fail exclusive-open "the holder had ended before the second users were tried"; return; }
  [ "$hold_rc" -eq 0 ] || { fail exclusive-open "the holder ended with $hold_rc"; return; }
  [ "$plain_rc" -ne 0 ] && grep -q "Device or resource busy" <<<"$plain" \
    || { fail exclusive-open "a non-root program opened the held port: $plain"; return; }
  [ "$second_rc" -eq 1 ] && grep -q "Device or resource busy" <<<"$second" && grep -q "in use" <<<"$second" || {
    fail exclusive-open "a second tarn (root) was not refused with a clear error (exit $second_rc): $second"
    return
  }
  [ "$second_user_rc" -eq 1 ] && grep -q "Device or resource busy" <<<"$second_user" || {
    fail exclusive-open "a second tarn (non-root) was not refused with a clear error (exit $second_user_rc): $second_user"
    return
  }
  # The device answered it: its folder holds no firmware, so the check itself ends with 1 (no-firmware).
  grep -q "^Device: QTR-1" <<<"$control" || {
    fail exclusive-open "with the port free the non-root user could not use it either (exit $control_rc): $control"
    return
  }
  pass exclusive-open "while tarn held ttyUSB0 a non-root open got EBUSY (TIOCEXCL), a second tarn as root and as\
 non-root ended with 1 and 'Device or resource busy'; with the port free the non-root tarn identified the device"
}

update_over() { # CHECK PORT: a whole update of the KCPU
  local check=$1 port=$2 dir outcome
  dir=$(folder "$check" kcpu)
  if [ "$port" = "$usb" ]; then
    on_line() {
      # While the bootloader transfer runs (the bootloader client holds the port).
      [ -f "$dir/latency-held" ] || { percent_at_least "$1" 1 && cat "$latency" >"$dir/latency-held"; }
    }
  fi
  local start=$SECONDS
  run_tarn "$dir" 180 update --port "$port" --yes --json
  note "$check" "tarn update took $((SECONDS - start)) s"
  outcome=$(report "$dir" | jq -r '.result.outcome' 2>/dev/null)
  if [ "$port" = "$usb" ]; then
    latency_bootloader=$(cat "$dir/latency-held" 2>/dev/null)
    latency_after=$(cat "$latency")
  fi
  if [ "$rc" -eq 0 ] && [ "$outcome" = updated ]; then
    pass "$check" "tarn update --yes over $port updated the KCPU"
  else
    note "$check" "$(grep -v '^Progress' "$dir/out" | tail -15)"
    fail "$check" "tarn update --yes over $port ended with $rc, outcome '$outcome'"
  fi
}

check_low_latency() {
  note low-latency "latency_timer: before $latency_before, while tarn send held the port $latency_link, after it\
 $latency_after_link, during the bootloader transfer ${latency_bootloader:-?}, after the update ${latency_after:-?}"
  if [ "$latency_before" = 1 ]; then
    fail low-latency "the adapter was at 1 ms before the program ever held it"
  elif [ "$latency_link" != 1 ] || [ "${latency_bootloader:-}" != 1 ]; then
    fail low-latency "the latency timer was not 1 ms while the program held the port"
  elif [ "$latency_after_link" != "$latency_before" ] || [ "${latency_after:-}" != "$latency_before" ]; then
    fail low-latency "the latency timer was not restored to $latency_before ms on close"
  else
    pass low-latency "ftdi_sio's latency timer read 1 while the port was held (device link and bootloader) and\
 $latency_before again after each close"
  fi
}

# The adapter leaves the bus for a moment during an expander's transfer through the device: the
# program reopens the port, carries on, and its log has the detach and attach records.
check_hotplug_records() {
  local dir outcome
  dir=$(folder hotplug ecpu)
  start_events || { fail hotplug-records "the kernel's device events could not be heard"; return; }
  on_line() {
    [ -f "$dir/replugged" ] && return
    percent_at_least "$1" 20 || return
    { ask unplug && wait_event "remove ttyUSB0" 20 && ask plug && wait_event "add ttyUSB0" 30 \
      && echo "at $1" >"$dir/replugged"; } >>"$dir/replug.log" 2>&1 || touch "$dir/replugged"
  }
  run_tarn "$dir" 180 update --port "$usb" --yes --json
  stop_events
  outcome=$(report "$dir" | jq -r '.result.outcome' 2>/dev/null)
  local log
  log=$(ls "$dir"/Logs/*.csv 2>/dev/null | head -1)
  note hotplug-records "replugged: $(cat "$dir/replugged" "$dir/replug.log" 2>/dev/null)"
  local detach attach
  detach=$(grep -h "serial port device detach detected" "$dir"/Logs/*.csv 2>/dev/null | head -3)
  attach=$(grep -h "Serial port device attach detected" "$dir"/Logs/*.csv 2>/dev/null | head -3)
  note hotplug-records "detach records: ${detach:-none}"
  note hotplug-records "attach records: ${attach:-none}"
  if [ ! -s "$dir/replugged" ]; then
    fail hotplug-records "the adapter could not be unplugged and plugged in again during the transfer"
  elif [ "$rc" -ne 0 ] || [ "$outcome" != updated ]; then
    note hotplug-records "$(grep -v '^Progress' "$dir/out" | tail -15)"
    fail hotplug-records "the update with the adapter re-plugged mid-transfer ended with $rc, outcome '$outcome'"
  elif ! grep -q "detach reason; 2" <<<"$detach"; then
    fail hotplug-records "no detach record of the port in use (reason 2) in $log"
  elif [ -z "$attach" ]; then
    fail hotplug-records "no attach record in $log"
  else
    pass hotplug-records "the adapter pulled and re-plugged during the expander's transfer: the update carried on\
 and the log has the detach (reason 2) and attach records"
  fi
}

# The adapter is pulled during a bootloader transfer and stays away: a clear error naming the port,
# exit 1, no hang. Plugged in again, the next run finds the LCPU waiting in its bootloader and
# flashes it again from the journal.
check_unplug_bootloader() {
  local dir
  dir=$(folder unplug lcpu)
  start_events || { fail unplug-bootloader "the kernel's device events could not be heard"; return; }
  on_line() {
    [ -f "$dir/unplugged" ] && return
    percent_at_least "$1" 10 || return
    { ask unplug && wait_event "remove ttyUSB0" 20 && echo "$SECONDS at $1" >"$dir/unplugged"; } \
      >>"$dir/unplug.log" 2>&1 || touch "$dir/unplugged"
  }
  run_tarn "$dir" 90 update --port "$usb" --yes
  local first_rc=$rc ended=$SECONDS
  local unplugged_at
  unplugged_at=$(cut -d' ' -f1 "$dir/unplugged" 2>/dev/null)
  note unplug-bootloader "unplugged: $(cat "$dir/unplugged" "$dir/unplug.log" 2>/dev/null)"
  note unplug-bootloader "first run: exit $first_rc, $((ended - ${unplugged_at:-$ended})) s after the unplug"
  local failure
  failure=$(sed -n '/^Update failed:/,$p' "$dir/out" | grep -v '^Log file')
  note unplug-bootloader "first run's report: $failure"
  mv "$dir/out" "$dir/out.first"
  local plugged=no
  ask plug && wait_event "add ttyUSB0" 30 && plugged=yes
  stop_events
  local recovery outcome
  run_tarn "$dir" 180 update --port "$usb" --yes --json
  recovery=$(report "$dir" | jq -r '.recovery.report // empty' 2>/dev/null)
  outcome=$(report "$dir" | jq -r '.result.outcome' 2>/dev/null)
  note unplug-bootloader "second run: exit $rc, outcome '$outcome', recovery '$recovery'"
  note unplug-bootloader "$(grep -m1 'waiting in its bootloader' "$dir/out")"
  if [ ! -s "$dir/unplugged" ]; then
    fail unplug-bootloader "the adapter could not be pulled during the transfer"
  elif [ "$first_rc" -eq 124 ]; then
    fail unplug-bootloader "the run with the adapter pulled hung (no end within 90 s)"
  elif [ "$first_rc" -ne 1 ]; then
    fail unplug-bootloader "the run with the adapter pulled ended with $first_rc, not 1"
  elif ! grep -q "$usb" <<<"$failure"; then
    fail unplug-bootloader "the failure report does not name the lost port $usb"
  elif [ "$plugged" != yes ]; then
    fail unplug-bootloader "the adapter did not come back"
  elif [ "$rc" -ne 0 ] || ! grep -q "The LCPU was flashed again" <<<"$recovery"; then
    note unplug-bootloader "$(grep -v '^Progress' "$dir/out" | tail -15)"
    fail unplug-bootloader "the run after re-plugging did not recover the LCPU (exit $rc)"
  else
    pass unplug-bootloader "pulled during the LCPU's bootloader transfer: exit 1 naming $usb; re-plugged, the next\
 run flashed the LCPU again from the journal"
  fi
}

# Only the checks named in ONLY (from TARN_VM_CHECKS on the host), else all of them.
want() {
  [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $1 "* ]]
}

echo "guest checks: $(uname -r), tarn $TARN"
want ports && check_ports
want exclusive-open && check_exclusive_open
want update-ttyUSB0 && update_over update-ttyUSB0 "$usb"
want low-latency && check_low_latency
ask "mark ttyS1-begin"
want update-ttyS1 && update_over update-ttyS1 "$uart"
ask "mark ttyS1-end"
want hotplug-records && check_hotplug_records
want unplug-bootloader && check_unplug_bootloader
