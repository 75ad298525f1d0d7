#!/bin/bash
# A batch as users run one: N copies of a 24 MP JPEG reduced to 1920x1280 JPEG
# q90 with Lanczos3, through pixloom-batch (one process, the next file decoded
# while this one is reduced) against `vips resize` and ImageMagick run once per
# file, in the same run. Prints the time per file of each, the ratios, and how
# busy pixloom kept the cores (its CPU time over wall time times cores).
#
# usage: bench/batch_compare.sh [BUILD_DIR]    (default: build; N=count, default 12;
#        REPS=rounds, default 3: the tools take turns, the median round of each counts)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
N=${N:-12}
REPS=${REPS:-3}
BATCH="$BUILD/pixloom-batch"
JOB_BENCH="$BUILD/bench/job_bench"
CONVERT=/usr/bin/convert
VIPS=/usr/bin/vips
CORES=$(nproc)

source <(sed -n '/^install_tools()/,/^}/p; /^make_input()/,/^}/p' bench/compare.sh)
install_tools
for program in "$BATCH" "$JOB_BENCH"; do
    [ -x "$program" ] || { echo "no $program: build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/pixloom" "$work/vips" "$work/magick" "$work/home"
make_input "$work/in.jpg"
for i in $(seq -w "$N"); do cp "$work/in.jpg" "$work/in/photo$i.jpg"; done
sync

TIMEFORMAT='%R %U %S'
# wall, user and system seconds of a command
timed() { { time "$@" >/dev/null 2>&1; } 2>&1; }
per_file() { awk -v t="$1" -v n="$N" 'BEGIN { printf "%.3f", t / n }'; }

run_pixloom() {
    env HOME="$work/home" "$BATCH" --size 1920x1280 --stretch --method lanczos3 --type jpeg --quality 90 --limit 0 \
        --out "$work/pixloom" "$work/in"
}
run_vips() {
    for f in "$work"/in/*.jpg; do "$VIPS" resize "$f" "$work/vips/$(basename "$f")[Q=90]" 0.32 --kernel lanczos3; done
}
run_magick() {
    for f in "$work"/in/*.jpg; do
        "$CONVERT" "$f" -filter Lanczos -resize "1920x1280!" -quality 90 "$work/magick/$(basename "$f")"
    done
}
median() { sort -n | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }'; }

rounds_p="" rounds_v="" rounds_m=""
for _ in $(seq "$REPS"); do
    rounds_p+="$(timed run_pixloom)"$'\n'
    rounds_v+="$(timed run_vips)"$'\n'
    rounds_m+="$(timed run_magick)"$'\n'
done
read -r p_wall p_user p_sys < <(printf '%s' "$rounds_p" | median)
read -r v_wall _ _ < <(printf '%s' "$rounds_v" | median)
read -r m_wall _ _ < <(printf '%s' "$rounds_m" | median)

"$JOB_BENCH" "$work/in.jpg" "$work/single.jpg" 1920 1280 Lanczos3 90 >/dev/null
exact=no
cmp -s "$work/single.jpg" "$work/pixloom/photo$(seq -w "$N" | head -1).jpg" && exact=yes

pixloom=$(per_file "$p_wall") vips=$(per_file "$v_wall") magick=$(per_file "$m_wall")
echo "$N files of 6000x4000 JPEG to 1920x1280 JPEG q90, Lanczos3, on $CORES cores; median of $REPS rounds"
echo "per file: pixloom-batch ${pixloom}s, vips resize ${vips}s, ImageMagick ${magick}s"
echo "pixloom-batch is $(awk -v a="$vips" -v b="$pixloom" 'BEGIN { printf "%.2f", a / b }')x as fast as vips," \
     "$(awk -v a="$magick" -v b="$pixloom" 'BEGIN { printf "%.2f", a / b }')x as fast as ImageMagick"
echo "pixloom-batch: wall ${p_wall}s, CPU ${p_user}s user + ${p_sys}s system;" \
     "CPU / $CORES cores = $(awk -v u="$p_user" -v s="$p_sys" -v c="$CORES" 'BEGIN { printf "%.2f", (u + s) / c }')s:" \
     "cores $(awk -v u="$p_user" -v s="$p_sys" -v c="$CORES" -v w="$p_wall" 'BEGIN { printf "%.0f", 100 * (u + s) / c / w }')% busy"
echo "outputs equal to the one-file job's: $exact"
