#!/bin/bash
# The time a file takes in a batch with and without a size limit: N copies of
# a 24 MP JPEG (compare.sh's picture) to 1920x1280 JPEG q90 with Lanczos3
# through pixloom-batch, with no limit, with a limit the quality search meets,
# and with a limit that --min-quality meets only at a smaller size. The
# settings take turns, REPS rounds; the median round of each counts. Prints
# the time per file, the CPU time, and what one output became.
#
# usage: bench/limit_batch.sh [BUILD_DIR]   (N=count, default 12; REPS=rounds, default 3;
#        SEARCHED=KB, default 100; SMALLER=KB, default 20; LOWEST=quality, default 70)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
N=${N:-12}
REPS=${REPS:-3}
BATCH="$BUILD/pixloom-batch"
CONVERT=/usr/bin/convert
VIPS=/usr/bin/vips

source <(sed -n '/^install_tools()/,/^}/p; /^make_input()/,/^}/p' bench/compare.sh)
install_tools
[ -x "$BATCH" ] || { echo "no $BATCH: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out" "$work/home"
make_input "$work/in.jpg"
for i in $(seq -w "$N"); do cp "$work/in.jpg" "$work/in/photo$i.jpg"; done
sync

settings=("--limit 0" "--limit ${SEARCHED:-100}" "--limit ${SMALLER:-20} --min-quality ${LOWEST:-70}")
TIMEFORMAT='%R %U %S'
run() {
    # shellcheck disable=SC2086  # the settings are words
    env HOME="$work/home" "$BATCH" --size 1920x1280 --stretch --method lanczos3 --type jpeg --quality 90 $1 \
        --out "$work/out" "$work/in" 2>"$work/notes"
}
timed() { { time run "$1" >/dev/null; } 2>&1 | tail -1; }
median() { sort -n | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }'; }

declare -a rounds
for _ in $(seq "$REPS"); do
    for i in "${!settings[@]}"; do rounds[i]+="$(timed "${settings[i]}")"$'\n'; done
done
echo "$N files, 24 MP JPEG to 1920x1280 JPEG q90, median of $REPS rounds taking turns; load: $(uptime | sed 's/.*load/load/')"
echo "| settings | per file | batch wall / CPU | one output |"
echo "|---|---:|---:|---|"
for i in "${!settings[@]}"; do
    read -r wall user sys < <(printf '%s' "${rounds[i]}" | median)
    run "${settings[i]}"
    size=$(stat -c %s "$work/out/photo$(seq -w "$N" | head -1).jpg")
    note=$(grep -m1 'written at' "$work/notes" | sed 's/.*: written/written/' || true)
    awk -v s="${settings[i]}" -v w="$wall" -v u="$user" -v y="$sys" -v n="$N" -v b="$size" -v t="$note" \
        'BEGIN { printf "| %s | %.3f s | %.2f s / %.2f s | %d B %s |\n", s, w / n, w, u + y, b, t }'
done
