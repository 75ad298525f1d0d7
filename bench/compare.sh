#!/bin/bash
# Times pixloom's whole job (job_bench: decode, Lanczos3 resize, encode) against
# ImageMagick and libvips on the same 6000x4000 JPEG reduced to 1920x1280,
# whole process against whole process, for JPEG and PNG output. Prints the
# median of several runs of each and pixloom's time as a ratio of the others'.
#
# usage: bench/compare.sh [BUILD_DIR]    (default: build; REPS=N for runs, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
REPS=${REPS:-5}
JOB_BENCH="$BUILD/bench/job_bench"
# The real ImageMagick; another 'convert' may come first on PATH.
CONVERT=/usr/bin/convert
VIPS=/usr/bin/vips
QUALITY=90

install_tools() {
    if [ -x "$CONVERT" ] && [ -x "$VIPS" ]; then return; fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get -o DPkg::Lock::Timeout=300 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 imagemagick libvips-tools
}

# A photo-like picture: smooth colour gradients, shapes with hard edges, grain.
make_input() {
    "$CONVERT" -size 6000x4000 -seed 7 \
        gradient:'#3060c0-#d0a060' \
        \( -size 6000x4000 radial-gradient:'#ffffff-#000000' \) -compose softlight -composite \
        -fill '#204020' -draw 'rectangle 1200,1500 2600,3600' \
        -fill '#f0e0a0' -draw 'circle 4300,1300 4300,2000' \
        -fill '#101010' -draw 'polygon 3000,3900 3600,2400 4200,3900' \
        -attenuate 0.3 +noise Gaussian \
        -quality 92 "$1"
}

# Median wall time in seconds of REPS runs of a command.
median_seconds() {
    local times=() start end
    for _ in $(seq "$REPS"); do
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

install_tools
if [ ! -x "$JOB_BENCH" ]; then
    echo "no $JOB_BENCH: build first (cmake --build $BUILD --target job_bench)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_input "$work/in.jpg"
echo "input: 6000x4000 JPEG, $(stat -c %s "$work/in.jpg") bytes; median of $REPS runs; JPEG quality $QUALITY"
for ext in jpg png; do
    "$JOB_BENCH" "$work/in.jpg" "$work/check.$ext" 1920 1280 Lanczos3 "$QUALITY" | sed 's/^/pixloom: /'
done

for ext in jpg png; do
    pixloom=$(median_seconds "$JOB_BENCH" "$work/in.jpg" "$work/pixloom.$ext" 1920 1280 Lanczos3 "$QUALITY")
    magick=$(median_seconds "$CONVERT" "$work/in.jpg" -filter Lanczos -resize '1920x1280!' \
        -quality "$QUALITY" "$work/magick.$ext")
    if [ "$ext" = jpg ]; then vips_out="$work/vips.jpg[Q=$QUALITY]"; else vips_out="$work/vips.png"; fi
    vips=$(median_seconds "$VIPS" resize "$work/in.jpg" "$vips_out" 0.32 --kernel lanczos3)
    echo "$ext output: pixloom ${pixloom}s, ImageMagick ${magick}s, vips ${vips}s;" \
        "pixloom/ImageMagick $(ratio "$pixloom" "$magick"), pixloom/vips $(ratio "$pixloom" "$vips")"
    echo "$ext sizes: pixloom $(stat -c %s "$work/pixloom.$ext"), ImageMagick $(stat -c %s "$work/magick.$ext")," \
        "vips $(stat -c %s "$work/vips.$ext") bytes"
done
