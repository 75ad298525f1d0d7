#!/bin/bash
# A batch as users run one, at three sizes: N copies of a 24 MP JPEG reduced to
# 1920x1280, 1024x683 and 640x427 JPEG q90 (Lanczos3) by pixloom-batch and by
# vipsthumbnail, each one process over all the files, taking turns round by
# round. Prints per size the time per file of each (median round), the ratio,
# CPU use (processor time over wall time, in cores) and peak memory (largest
# resident set). PEER=path/to/another/pixloom-batch times that build too, in
# the same turns, and checks that it wrote the same bytes.
#
# usage: bench/thumbnail_compare.sh [BUILD_DIR]    (default: build; N=count, default 12;
#        REPS=rounds, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
N=${N:-12}
REPS=${REPS:-3}
BATCH="$(realpath "$BUILD/pixloom-batch")"
PEER=${PEER:-}
THUMB=/usr/bin/vipsthumbnail
CONVERT=/usr/bin/convert
SIZES=(1920x1280 1024x683 640x427)

source <(sed -n '/^make_input()/,/^}/p' bench/compare.sh)
if [ ! -x "$THUMB" ] || [ ! -x "$CONVERT" ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get -o DPkg::Lock::Timeout=300 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 imagemagick libvips-tools
fi
[ -x "$BATCH" ] || { echo "no $BATCH: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/home"
make_input "$work/in.jpg"
for i in $(seq -w "$N"); do cp "$work/in.jpg" "$work/in/photo$i.jpg"; done
sync

# Runs a command; prints its wall seconds, processor seconds and peak resident MiB.
measure() {
    python3 -c '
import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
wall = time.monotonic() - start
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{wall:.3f} {used.ru_utime + used.ru_stime:.3f} {used.ru_maxrss / 1024:.0f}")' "$@"
}
fresh() { rm -rf "$1" && mkdir -p "$1"; }
# The timed command of one program (pixloom, thumb or peer) at a size, writing into its own folder.
command_of() {
    local out="$work/$1"
    case $1 in
    thumb) echo "$THUMB" "$work"/in/*.jpg --size "$2!" -o "$out/%s.jpg[Q=90,strip]" ;;
    *) local program=$BATCH
       [ "$1" = peer ] && program=$PEER
       echo env HOME="$work/home" "$program" --size "$2" --stretch --method lanczos3 --type jpeg --quality 90 \
            --limit 0 --metadata none --out "$out" "$work/in" ;;
    esac
}
median() { sort -n | awk '{ line[NR] = $0 } END { print line[int((NR + 1) / 2)] }'; }
per_file() { awk -v t="$1" -v n="$N" 'BEGIN { printf "%.0f", 1000 * t / n }'; }
cores() { awk -v c="$1" -v w="$2" 'BEGIN { printf "%.2f", c / w }'; }

echo "$N files of 6000x4000 JPEG to JPEG q90, Lanczos3, on $(nproc) cores; median of $REPS rounds taking turns;" \
     "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s | %-24s | %s\n' size "program" "ms/file  cores used  peak MiB"
for size in "${SIZES[@]}"; do
    rounds_p="" rounds_t="" rounds_q=""
    for round in $(seq "$REPS"); do
        turn="pixloom thumb${PEER:+ peer}"
        [ $((round % 2)) -eq 0 ] && turn=$(echo "$turn" | tr ' ' '\n' | tac | tr '\n' ' ')
        for who in $turn; do
            fresh "$work/$who"
            # shellcheck disable=SC2046  # the command's words, no file name has a space
            timing=$(measure $(command_of "$who" "$size"))
            case $who in
            pixloom) rounds_p+="$timing"$'\n' ;;
            thumb) rounds_t+="$timing"$'\n' ;;
            peer) rounds_q+="$timing"$'\n' ;;
            esac
        done
    done
    read -r p_wall p_cpu p_mem < <(printf '%s' "$rounds_p" | median)
    read -r t_wall t_cpu t_mem < <(printf '%s' "$rounds_t" | median)
    printf '%-9s | %-24s | %7s  %10s  %8s\n' "$size" pixloom-batch "$(per_file "$p_wall")" "$(cores "$p_cpu" "$p_wall")" "$p_mem"
    printf '%-9s | %-24s | %7s  %10s  %8s\n' "" vipsthumbnail "$(per_file "$t_wall")" "$(cores "$t_cpu" "$t_wall")" "$t_mem"
    if [ -n "$PEER" ]; then
        read -r q_wall q_cpu q_mem < <(printf '%s' "$rounds_q" | median)
        same=yes
        for f in "$work"/pixloom/*.jpg; do cmp -s "$f" "$work/peer/$(basename "$f")" || same=no; done
        printf '%-9s | %-24s | %7s  %10s  %8s  same bytes: %s\n' "" "peer build" "$(per_file "$q_wall")" \
            "$(cores "$q_cpu" "$q_wall")" "$q_mem" "$same"
    fi
    echo "          pixloom-batch is $(awk -v a="$t_wall" -v b="$p_wall" 'BEGIN { printf "%.2f", a / b }')x as fast as vipsthumbnail"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
