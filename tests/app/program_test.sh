#!/bin/sh
# usage: program_test.sh PROGRAM. The real program on displays of its own, driven from outside: exit statuses,
# a damaged settings file, where the window opens on a small screen with and without a window manager, and
# names the locale cannot decode.
set -eu
program=$(readlink -f "$1")
. "$(dirname "$0")/x_display.sh"

# --help and --version answer without any display.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help) || fail "--help without a display: status $?"
for text in 'usage: pixloom \[FILE_OR_FOLDER' '\.webp' 'pixloom-batch' 'man pixloom'; do
    echo "$help" | grep -q "$text" || fail "--help does not say '$text': $help"
done
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version) || fail "--version without a display: status $?"
echo "$version" | grep -Eqx 'pixloom [0-9]+\.[0-9]+\.[0-9]+' || fail "--version says '$version'"

# Waits until the window has centred itself on the screen, which it does once shown; sets X Y WIDTH HEIGHT.
centred() {
    for _ in $(seq 100); do
        eval "$(xdotool getwindowgeometry --shell "$1")"
        left=$(( (${screen%x*} - WIDTH) / 2 - X )) top=$(( (${screen#*x} - HEIGHT) / 2 - Y ))
        [ ${left#-} -le 30 ] && [ ${top#-} -le 30 ] && return
        sleep 0.05
    done
    return 1
}

run() {  # HOME ARGS...: starts the program, clicks start, answers message boxes; prints the exit status
    home=$1; shift
    HOME=$home "$program" "$@" >/dev/null 2>"$work/stderr" &
    pid=$!
    w=$(window)
    centred "$w" || { kill $pid; echo "the window did not settle"; return; }
    # No --sync: a pointer already there (the last run's) would never move.
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 18)) click 1  # the start button
    for _ in $(seq 300); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.05  # Return answers a message box; only with one up, or it would press start
        [ "$(xdotool search --onlyvisible --classname pixloom 2>/dev/null | wc -l)" -lt 2 ] || xdotool key Return
    done
    kill -0 $pid 2>/dev/null && { kill $pid; echo "still running"; return; }
    wait $pid && echo 0 || echo $?
}

echo 'iVBORw0KGgoAAAANSUhEUgAAABAAAAAMCAIAAADkharWAAABo0lEQVR42g3MEcItIRQA4IM/BsHFMAwHgnDw4GAQDIYHw4EgHDx4MQguhmELCGYJs4T3vgV8AAAC/hQIAx8HCkF7MBG2BK7AzoAVjg5+wvlAfIEA5J+QQsmPkcpJjdJ4uUXpktyLRJZHlb7Lc8r4SHplAtBC6I/SymjttEG9ee2i3pPGog/Wvuqz6zg1PTq9+gKwH2GVstpY4+yG1nm7R4vJHsV6tme1sVuaNj32em0BQCVQKzQGN4cOcfeIEY+EvuDJGCtSxzTxerC8eAMELYJRYTPBubBjQB+OGHwKZwmRA9WQerhmKE+438AAZARtipyh3REiHZ58pDNRLERMqdLVqUy6H+KXvgB5E9mpvJuMLh+Yvc9nzDFlKjlxvmouPd8z85O/b64A7ATvitHw4dgjn55j/D9zKnwxl8p3Z578fbi+/ANou2io2mGad+3EFn2j2FJqV2mF210b9/adrT7t97YOMFCMQw1vxulGxEF+pDiuNEoZNw+u49tHneP3jP6OAbAOsbxap1nRLcKV/LriKmndZTGvb121r99c/VnjXfMfaVH6gb2kxXkAAAAASUVORK5CYII=' | base64 -d > good.png
echo 'not a picture' > broken.png

display 1280x1024
[ "$(run "$work" good.png)" = 0 ] && [ -f good_res.png ] || fail "a run that wrote every file must exit with 0"
rm good_res.png
[ "$(run "$work" good.png broken.png)" = 1 ] && [ -f good_res.png ] && [ ! -e broken_res.png ] ||
    fail "a run with a failed file must exit with 1, having written the other"
rm good_res.png

# A damaged settings file: no box to block the start or the end, one line, the bytes kept, a clean file after.
printf '[Size]\noptSize=Other\nno equals sign\n' > .pixloom
cp .pixloom damaged
[ "$(run "$work" good.png)" = 0 ] || fail "a damaged settings file must not keep the program from ending"
[ "$(grep -c 'pixloom is damaged' stderr)" = 1 ] || fail "a damaged settings file is told once: $(cat stderr)"
cmp -s damaged .pixloom.damaged || fail "the damaged file's bytes must be kept"
! grep -q 'no equals' .pixloom && grep -q 'optSize=Other' .pixloom || fail "the close must write a clean file"

# A name that is not valid in the locale, and a home folder named in Japanese, with no locale at all.
mkdir 写真 && cp good.png "$(printf 'caf\351.png')"
[ "$(LC_ALL=C run "$work/写真" "$(printf 'caf\351.png')")" = 0 ] && [ -f "$(printf 'caf\351_res.png')" ] ||
    fail "a file name the locale cannot decode must still be converted"
! grep -q "converted to Unicode" stderr || fail "no false warning about the argument: $(cat stderr)"
[ -f 写真/.pixloom ] || fail "the settings belong in \$HOME even when its name is not ASCII"

# Wholly on screen and centred on a small screen, with a window manager and without.
for wm in "" wm; do
    display 1366x768 $wm
    HOME=$work "$program" >/dev/null 2>&1 &
    pid=$!
    w=$(window)
    centred "$w" || fail "the window ${wm:-without a window manager} must open centred on 1366x768: ${WIDTH}x$HEIGHT at $X,$Y"
    kill $pid
    [ "$X" -ge 0 ] && [ $((Y + HEIGHT)) -le 768 ] ||
        fail "the window ${wm:-without a window manager} must open wholly on 1366x768: ${WIDTH}x$HEIGHT at $X,$Y"
done
echo "the program behaves as expected"
