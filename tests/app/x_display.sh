# Sourced by the tests that drive the real program from outside, after they have read their arguments: a work folder
# to run in (removed at the end with the X servers started), fail, and X servers of their own.
work=$(mktemp -d) servers=""
trap 'for p in $servers; do kill $p 2>/dev/null || true; done; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

display() {  # WxH [wm]: a new X server, with openbox managing it if asked; sets DISPLAY and screen
    Xvfb -displayfd 3 -noreset -screen 0 "$1x24" 3>"$work/display" >/dev/null 2>&1 &
    servers="$servers $!"
    for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.05; done
    DISPLAY=:$(cat "$work/display"); export DISPLAY
    rm "$work/display"
    screen=$1
    [ "${2:-}" = wm ] || return 0
    openbox >/dev/null 2>&1 &
    servers="$servers $!"
    for _ in $(seq 600); do  # until it manages the screen
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return
        sleep 0.05
    done
    fail "openbox did not start"
}

window() { timeout 30 xdotool search --sync --onlyvisible --classname pixloom | head -1; }
