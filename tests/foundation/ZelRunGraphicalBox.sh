#!/usr/bin/env bash
# zel-run in a graphical session shows its box as a window with the caption, and writes no
# message to standard error. Runs inside xvfb-run; the box is closed by ending zel-run.
#   ZelRunGraphicalBox.sh ZEL_RUN LIBRARY
set -u
zelrun=$1
library=$2
caption="Graphical box of zel-run"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
unset WAYLAND_DISPLAY
QT_QPA_PLATFORM=xcb "$zelrun" "$library,ShowMessageBox" "The text" "$caption" 16 2>"$errors" &
runner=$!
# Waits for the window (or the end of zel-run) for up to 30 s.
shown=no
for _ in $(seq 300); do
  if xwininfo -root -tree 2>/dev/null | grep -qF "\"$caption\""; then shown=yes; break; fi
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.1
done
kill "$runner" 2>/dev/null
wait "$runner" 2>/dev/null
if [ "$shown" != yes ]; then
  echo "no window \"$caption\"; standard error was:"; cat "$errors"; exit 1
fi
if grep -qF "$caption" "$errors"; then
  echo "the box also went to standard error:"; cat "$errors"; exit 1
fi
echo "window \"$caption\" shown"
