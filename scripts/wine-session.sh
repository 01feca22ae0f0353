# Sourced by the scripts that run the Windows programs here: the Linux `tarn` whose simulator plays
# the device (the one of build/ when that is configured, else one built alone into build-host/), and
# a Wine session of their own made for this run and ended with it: a private prefix, a virtual
# display and a wineserver. Sets host_dir, run_dir, WINEPREFIX, DISPLAY and the rest of Wine's
# environment; the caller's directory is the project's root.

# The simulator the Windows programs talk to, through a COM port mapped to its pseudo-terminal.
host_dir=build
if [ ! -f "$host_dir/build.ninja" ]; then
  host_dir=build-host
  cmake -S . -B "$host_dir" -G Ninja -DZEL_BUILD_GUI=OFF -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCHMARKS=OFF >/dev/null
fi
cmake --build "$host_dir" --target tarn

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/tarn-windows-XXXXXX")
export WINEPREFIX="$run_dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine_bin=/usr/lib/wine
xvfb_pid=
cleanup() {
  "$wine_bin/wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT
# One virtual display for the whole session: Wine's desktop process takes the display of the first
# program that starts it and every later window of the session goes there, so it must exist before
# wineboot. The dialogs and message boxes under test appear on it; a program started without DISPLAY
# still finds no display and falls back as it would on a machine without one.
exec 4>"$run_dir/display"
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 4>&-
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
[ -s "$run_dir/display" ] || { echo "Xvfb did not start:" >&2; cat "$run_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$run_dir/display")"
# A prefix of our own, and a wineserver kept running: programs then start in milliseconds. It runs in
# the foreground of this script, not as a daemon: a session leader would take the first simulator
# pseudo-terminal it opens as its controlling terminal, and dump its objects when that hangs up.
"$wine_bin/wineserver" -f -p >"$run_dir/wineserver.log" 2>&1 &
"$wine_bin/wine64" wineboot -i >/dev/null 2>&1

# A program that lives as long as the session. Without one, Wine's system processes (services,
# explorer, ...) end whenever no program runs, and the next program starts them again with its own
# standard output, which the test runner then waits to be closed until the whole run has ended.
mkfifo "$run_dir/keeper"
exec 5<>"$run_dir/keeper"
"$wine_bin/wine64" cmd.exe <&5 >/dev/null 2>&1 5>&- &
