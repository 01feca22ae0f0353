#!/usr/bin/env bash
# What the emulated chips were told, read from QEMU's trace of a guest run: for the FTDI adapter
# (usb_serial_*) every open and what the 16550 (serial_*, between the marks ttyS1-begin and
# ttyS1-end; the console's UART is quiet then) saw. An open of a tty raises DTR and RTS (the
# kernel does it); each such pulse must be ended by the program's clear before any other request,
# and each session must have run at 115200 baud, 8 data bits, 1 stop bit, no flow control, with no
# parity (the device link) or even parity (the bootloader); both must occur.
# Usage: line-settings.sh TRACE MARKS. Prints "PASS: ..." or "FAIL: ..." first, then the sessions.
set -euo pipefail
trace=$1
marks=$2
begin=$(awk '$1 == "ttyS1-begin" { print $2 }' "$marks")
end=$(awk '$1 == "ttyS1-end" { print $2 }' "$marks")

gawk -v begin="${begin:-0}" -v end="${end:-0}" '
function fail(text) { failures[++failed] = text }
function hex(text) { return strtonum(text) }
function near(baud) { return baud >= 115200 * 0.98 && baud <= 115200 * 1.02 }
function ms(seconds) { return sprintf("%.3f ms", seconds * 1000) }
# A session ends: what it ran with.
function close_session(chip,   s) {
  s = sessions[chip]
  if (s == 0 || closed[chip, s]) return
  closed[chip, s] = 1
  settings[chip, s] = baud[chip] " " parity[chip] data[chip] stop[chip] " flow " flow[chip]
  if (!cleared[chip, s])
    fail(chip " session " s ": DTR/RTS raised at " sprintf("%.6f", raised[chip, s]) " and never cleared")
  if (!near(baud[chip]) || data[chip] != 8 || stop[chip] != 1 || flow[chip] != 0 \
      || (parity[chip] != "N" && parity[chip] != "E"))
    fail(chip " session " s " ran at " settings[chip, s])
  else if (cleared[chip, s]) count[chip, parity[chip]]++
}
function raise(chip, time) {
  close_session(chip)
  s = ++sessions[chip]
  raised[chip, s] = time
  between[chip, s] = 0
}
function clear(chip, time,   s) {
  s = sessions[chip]
  if (s == 0 || cleared[chip, s]) return
  cleared[chip, s] = 1
  pulse[chip, s] = time - raised[chip, s]
  if (between[chip, s] > 0)
    fail(chip " session " s ": " between[chip, s] " other request(s) before DTR/RTS were cleared")
}
function request(chip,   s) {
  s = sessions[chip]
  if (s > 0 && !cleared[chip, s]) between[chip, s]++
}
{
  split($0, head, ":")
  split(head[1], stamp, "@")
  time = stamp[2] + 0
  rest = substr($0, length(head[1]) + 2)
  event = rest; sub(/ .*/, "", event)
}
event == "usb_serial_handle_control" {
  match(rest, /control (0x[0-9a-f]+), value (0x[0-9a-f]+)/, m)
  control = hex(m[1]); value = hex(m[2])
  if (control == 0x4000) { close_session("FTDI"); next }      # reset: the start of an open
  if (control == 0x4001) {                                       # modem control
    if (and(value, 0x101) == 0x101 || and(value, 0x202) == 0x202) raise("FTDI", time)
    else if (and(value, 0x300) == 0x300 && and(value, 3) == 0) clear("FTDI", time)
    next
  }
  if (control == 0x4009) latency[value]++
  if (and(control, 0xff00) == 0x4000) request("FTDI")
  next
}
event == "usb_serial_set_baud" { match(rest, /baud rate ([0-9]+)/, m); baud["FTDI"] = m[1] + 0; next }
event == "usb_serial_set_data" {
  match(rest, /parity (.), data bits ([0-9]+), stop bits ([0-9]+)/, m)
  parity["FTDI"] = m[1]; data["FTDI"] = m[2]; stop["FTDI"] = m[3]; next
}
event == "usb_serial_set_flow_control" { match(rest, /flow control ([0-9]+)/, m); flow["FTDI"] = m[1] + 0; next }
time < begin || time > end { next }
event == "serial_update_parameters" {
  match(rest, /baudrate=([0-9]+) parity=.(.). data=([0-9]+) stop=([0-9]+)/, m)
  baud["16550"] = m[1] + 0; parity["16550"] = m[2]; data["16550"] = m[3]; stop["16550"] = m[4]
  flow["16550"] = 0 # the 16550 has no flow control of its own
  next
}
event == "serial_write" {
  match(rest, /addr (0x[0-9a-f]+) val (0x[0-9a-f]+)/, m)
  address = hex(m[1]); value = hex(m[2])
  if (address == 3) request("16550")
  if (address != 4) next
  lines = and(value, 3)
  if (lines != 0 && mcr_lines == 0) raise("16550", time)
  else if (lines == 0 && mcr_lines != 0) clear("16550", time)
  else if (and(value, 8) == 0 && sessions["16550"] > 0 && cleared["16550", sessions["16550"]]) close_session("16550")
  mcr_lines = lines
  next
}
END {
  for (chip in sessions) close_session(chip)
  if (!sessions["FTDI"]) fail("no open of the FTDI adapter in the trace")
  if (!sessions["16550"]) fail("no open of the 16550 between the marks")
  for (c = 1; c <= 2; c++) {
    chip = c == 1 ? "FTDI" : "16550"
    if (!count[chip, "N"]) fail(chip ": no session at 8N1 (the device link)")
    if (!count[chip, "E"]) fail(chip ": no session at 8E1 (the bootloader)")
    longest = 0; total = 0
    for (s = 1; s <= sessions[chip]; s++) {
      if (!cleared[chip, s]) continue
      total += pulse[chip, s]
      if (pulse[chip, s] > longest) longest = pulse[chip, s]
    }
    n = sessions[chip]
    summary[chip] = chip ": " n " opens, " count[chip, "N"] + 0 " at 8N1 and " count[chip, "E"] + 0 " at 8E1, " \
      "115200 baud (" baud[chip] " on the chip), no flow control; DTR/RTS raised by each open and cleared after " \
      (n ? ms(total / n) : "-") " on average, " ms(longest) " at most"
  }
  if (failed) print "FAIL: " failures[1]
  else print "PASS: " summary["FTDI"] "; " summary["16550"]
  for (i = 2; i <= failed; i++) print "also: " failures[i]
  print summary["FTDI"]
  print summary["16550"]
  text = ""
  for (l in latency) text = text " " l " ms (" latency[l] " times)"
  print "FTDI latency timer set to:" text
  for (c = 1; c <= 2; c++) {
    chip = c == 1 ? "FTDI" : "16550"
    for (s = 1; s <= sessions[chip]; s++)
      printf "%s session %d: raised at %.6f, %s, ran at %s\n", chip, s, raised[chip, s],
        cleared[chip, s] ? "cleared after " ms(pulse[chip, s]) : "never cleared", settings[chip, s]
  }
  exit failed ? 1 : 0
}' "$trace"
