#!/bin/sh
# usage: stop_test.sh PROGRAM BATCH. The real program stopped, cleared and closed at many moments of a run, the
# next file being decoded ahead meanwhile: every time it must end with exit status 0, leaving whole outputs only.
set -eu
program=$(readlink -f "$1") batch=$(readlink -f "$2")
. "$(dirname "$0")/x_display.sh"
display 1280x1024 wm  # the window manager closes the active window on Alt+F4, as a user would

# Noise decodes slowly: three such pictures (one file under three names) keep a decode ahead in flight while
# the one before is reduced.
perl -e 'print "BM", pack("VvvVVVVvvVVVVVV", 54 + 3 * 6000 * 4000, 0, 0, 54, 40, 6000, 4000, 1, 24, 0, 0, 0, 0, 0, 0)' > noise.bmp
head -c $((3 * 6000 * 4000)) /dev/urandom >> noise.bmp
HOME=$work "$batch" --size 100x100 --percent --type png --suffix _ noise.bmp 2>/dev/null
rm noise.bmp
for n in 1 2 3; do ln noise_.png "in$n.png"; done

# The window's client area on screen (xwininfo's absolute corner: under a window manager xdotool's is the frame's),
# once the window has centred itself, which it does when first shown.
place() {
    for _ in $(seq 600); do
        eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ {print "left=" $4} /Absolute upper-left Y/ {
            print "top=" $4} /Width:/ {print "width=" $2} /Height:/ {print "height=" $2}')"
        off=$(( (1280 - width) / 2 - left ))
        [ ${off#-} -le 30 ] && return
        sleep 0.05
    done
}
click() { xdotool mousemove "$1" "$2" click 1; }  # no --sync: a pointer already there would never move
start() { click $((left + width / 2)) $((top + height - 20)); }  # the start button, a stop button while a run is on
clear() { click $((left + width - 60)) $((top + 18)); }          # the clear button, top right
running() { xdotool getwindowname "$1" 2>/dev/null | grep -q ' / [0-9]'; }  # the title counts the files done

run() {  # ACTION DELAY: starts a run over the three, does ACTION DELAY seconds later; prints the exit status
    HOME=$work "$program" "$work/in1.png" "$work/in2.png" "$work/in3.png" >/dev/null 2>>"$work/stderr" &
    pid=$!
    w=$(window)
    place "$w"
    start
    for _ in $(seq 500); do running "$w" && break; sleep 0.02; done
    running "$w" || { kill $pid; echo "no run started"; return; }
    sleep "$2"  # the moment under test
    case $1 in
        stop) start ;;
        clear) clear ;;
        close) xdotool key alt+F4 ;;  # the window manager closes the active window
    esac
    wait $pid && echo 0 || echo $?
}

for delay in 0.1 0.3 0.5 0.7 0.9 1.2; do
    for action in stop clear close; do
        status=$(run $action $delay)
        [ "$status" = 0 ] || fail "$action after $delay s: exit status $status; $(tail -3 "$work/stderr")"
        for output in in*_res.png; do
            [ -e "$output" ] || continue
            pngcheck -q "$output" >/dev/null || fail "$action after $delay s left a damaged $output"
        done
        [ -z "$(ls -A | grep '^\.' | grep -v '^\.pixloom$' || true)" ] || fail "$action after $delay s left $(ls -A)"
        rm -f in*_res.png
    done
done
! grep -iq "error\|crash\|sanitizer" "$work/stderr" || fail "$(cat "$work/stderr")"
echo "stopped, cleared and closed at 6 moments each: every run ended well"
