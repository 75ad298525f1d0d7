#!/bin/sh
# usage: exit_status_test.sh PROGRAM, on a display of its own so that no other test gets the clicks. Started
# on files, start clicked from outside: the exit status is 0 when every file was written, 1 when one was not.
set -eu
program=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo 'iVBORw0KGgoAAAANSUhEUgAAABAAAAAMCAIAAADkharWAAABo0lEQVR42g3MEcItIRQA4IM/BsHFMAwHgnDw4GAQDIYHw4EgHDx4MQguhmELCGYJs4T3vgV8AAAC/hQIAx8HCkF7MBG2BK7AzoAVjg5+wvlAfIEA5J+QQsmPkcpJjdJ4uUXpktyLRJZHlb7Lc8r4SHplAtBC6I/SymjttEG9ee2i3pPGog/Wvuqz6zg1PTq9+gKwH2GVstpY4+yG1nm7R4vJHsV6tme1sVuaNj32em0BQCVQKzQGN4cOcfeIEY+EvuDJGCtSxzTxerC8eAMELYJRYTPBubBjQB+OGHwKZwmRA9WQerhmKE+438AAZARtipyh3REiHZ58pDNRLERMqdLVqUy6H+KXvgB5E9mpvJuMLh+Yvc9nzDFlKjlxvmouPd8z85O/b64A7ATvitHw4dgjn55j/D9zKnwxl8p3Z578fbi+/ANou2io2mGad+3EFn2j2FJqV2mF210b9/adrT7t97YOMFCMQw1vxulGxEF+pDiuNEoZNw+u49tHneP3jP6OAbAOsbxap1nRLcKV/LriKmndZTGvb121r99c/VnjXfMfaVH6gb2kxXkAAAAASUVORK5CYII=' | base64 -d > good.png
echo 'not a picture' > broken.png
run() {  # prints the exit status
    HOME=$work "$program" "$@" >/dev/null 2>&1 &
    window=$(timeout 30 xdotool search --sync --onlyvisible --classname pixloom | head -1)
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 18)) click 1  # the start button
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 $! 2>/dev/null || break
        sleep 1  # Return answers a message box; only with one up, or it would click start
        [ "$(xdotool search --onlyvisible --classname pixloom 2>/dev/null | wc -l)" -lt 2 ] || xdotool key Return
    done
    wait $! && echo 0 || echo $?
}
[ "$(run good.png)" = 0 ] && [ -f good_res.png ] || { echo "FAILED: a run that wrote every file must exit with 0"; exit 1; }
rm good_res.png
[ "$(run good.png broken.png)" = 1 ] && [ -f good_res.png ] && [ ! -e broken_res.png ] ||
    { echo "FAILED: a run with a failed file must exit with 1, having written the other"; exit 1; }
echo "exit statuses as expected"
