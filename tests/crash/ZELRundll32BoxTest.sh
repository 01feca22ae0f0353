#!/bin/sh
# ZELRundll32BoxTest.sh WINE BINDIR CHILD
#
# The library's ShowMessageBox entry run by the system's rundll32, as the crash handling starts it:
# without a display the box is the message on standard error; on the display of the Wine session
# it is a window with the caption, quotes and backslashes included, that closes when asked to. A
# crash of the child with the box setting shows its box the same way. Exit code 77: the session has
# no display (Wine's desktop takes the display of the session's first program, so one made here
# would not be used), and the window part is skipped.
set -u
wine=$1
bin=$2
child=$3

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# Wine's name of a path of this machine.
windows_path() {
    printf 'Z:%s' "$1" | tr / '\\'
}
library=$(windows_path "$bin/zel.dll")

# Waits up to 30 s for a top-level window named exactly $1; 0 when it is there.
wait_for_window() {
    deadline=$(($(date +%s) + 30))
    while [ "$(date +%s)" -lt "$deadline" ]; do
        xwininfo -root -tree | grep -qF "\"$1\": (\"rundll32.exe\"" && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to 30 s for process $1 to end; 0 when it has.
wait_for_end() {
    deadline=$(($(date +%s) + 30))
    while [ "$(date +%s)" -lt "$deadline" ]; do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

# Without a display: the message on standard error, the style's icon named.
for case in 1 2; do
    if [ $case = 1 ]; then
        expected=$(printf 'The caption [warning]\nThe "quoted" text \\ and a backslash\n.')
        output=$(env -u DISPLAY -u WAYLAND_DISPLAY "$wine" rundll32.exe "$library,ShowMessageBox" \
            'The "quoted" text \ and a backslash' 'The caption' 48 2>&1 | tr -d '\r'; echo .)
    else
        expected=$(printf 'Unspecified caption.\nUnspecified text.\n.')
        output=$(env -u DISPLAY -u WAYLAND_DISPLAY "$wine" rundll32.exe "$library,ShowMessageBox" 2>&1 | tr -d '\r'; echo .)
    fi
    case "$output" in
    *"$expected") ;;
    *) fail "case $case without a display: expected the end of the output to be [$expected], got [$output]" ;;
    esac
done

if [ -z "${DISPLAY:-}" ] || ! command -v xwininfo >/dev/null 2>&1; then
    echo "no display or no xwininfo: the window part is skipped"
    [ $failures = 0 ] && exit 77
    exit 1
fi

# On the session's display.
caption='Box "Caption" \'
"$wine" rundll32.exe "$library,ShowMessageBox" 'The "quoted" text' "$caption" 48 &
box=$!
if wait_for_window "$caption"; then
    # Closing the window ends rundll32 normally.
    "$wine" taskkill.exe /im rundll32.exe >/dev/null
    if wait_for_end $box; then
        wait $box || fail "rundll32 ended with exit code $?"
    else
        fail "the box did not close"
        kill $box
    fi
else
    fail "no window \"$caption\" appeared; windows: $(xwininfo -root -tree | grep rundll32)"
    kill $box
fi

# A crash with the box setting: the child starts rundll32, which stays after the child has ended.
# The quotes of the name make the dump's file name invalid, so the box says that it failed.
work=$(mktemp -d)
printf '[ZELMemoryDump]\r\nMessageBoxAfterDump=1\r\nDumpType=0\r\n' > "$work/ZEL.ini"
name='Crash "Box"'
(cd "$work" && "$wine" "$bin/$child" null-write 1000 "$name" >/dev/null 2>&1)
code=$?
[ $code = 1 ] || fail "the crashing child ended with exit code $code"
if wait_for_window "$name"; then
    "$wine" taskkill.exe /im rundll32.exe >/dev/null
else
    fail "no window \"$name\" appeared after the crash; windows: $(xwininfo -root -tree | grep rundll32)"
fi
rm -rf "$work"
[ $failures = 0 ]
