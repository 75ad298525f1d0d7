#!/bin/bash
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]] (every target by default).
# Builds the fuzz targets (fuzz/) with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ and runs each for SECONDS
# (default 60), two at a time, from its seed corpus and its regression
# inputs. What they find goes into build-fuzz/corpus/NAME/ (kept between
# runs); an input that crashes, leaks, hangs or runs out of memory is kept
# in fuzz/crashes/. Ends with one line per target:
#   NAME: RUNS runs, CRASHES crashes
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
TARGETS="jpeg png tiff gif bmp webp exif icc settings batch_options output_naming"
if [ $# -gt 1 ]; then
    shift
    TARGETS="$*"
fi
./scripts/setup.sh

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DPIXLOOM_FUZZ=ON -DPIXLOOM_TESTS=OFF -DPIXLOOM_BENCH=OFF >/dev/null
# shellcheck disable=SC2046
nice -n 10 cmake --build build-fuzz -j2 --target $(for t in $TARGETS; do printf 'fuzz_%s ' "$t"; done)

mkdir -p fuzz/crashes build-fuzz/logs
export ASAN_OPTIONS="detect_leaks=1:malloc_context_size=30"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# The artifacts a target wrote since the stamp: crashes, leaks, hangs, OOMs.
crashes_since() {
    find fuzz/crashes -maxdepth 1 -type f -newer "$2" \
        \( -name "$1-crash-*" -o -name "$1-leak-*" -o -name "$1-timeout-*" -o -name "$1-oom-*" \) | wc -l
}

# Fuzzes one target for the whole time: after a crash it starts again for
# the time left, so one fault does not end its run. Writes its summary line.
fuzz_target() {
    local name=$1 runs=0 end left log=build-fuzz/logs/$1.log
    local stamp=build-fuzz/logs/$1.stamp
    touch "$stamp"
    : >"$log"
    mkdir -p "build-fuzz/corpus/$name"
    local inputs=("build-fuzz/corpus/$name" "fuzz/corpus/$name")
    [ -d "fuzz/regressions/$name" ] && inputs+=("fuzz/regressions/$name")
    end=$(($(date +%s) + SECONDS_EACH))
    while left=$((end - $(date +%s))) && [ "$left" -gt 0 ]; do
        nice -n 10 "build-fuzz/fuzz/fuzz_$name" -max_total_time="$left" -timeout=25 -rss_limit_mb=2560 \
            -max_len=65536 -print_final_stats=1 -artifact_prefix="fuzz/crashes/$name-" "${inputs[@]}" \
            >>"$log" 2>&1 || true
        runs=$((runs + $(grep -a 'stat::number_of_executed_units' "$log" | tail -1 | awk '{print $2}' || echo 0)))
        # A fresh log line per attempt: counted once.
        sed -i 's/stat::number_of_executed_units/counted_units/' "$log"
        [ "$(crashes_since "$name" "$stamp")" -ge 20 ] && break
    done
    echo "$name: $runs runs, $(crashes_since "$name" "$stamp") crashes" \
        >"build-fuzz/logs/$name.summary"
}

for name in $TARGETS; do
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
    fuzz_target "$name" &
done
wait

for name in $TARGETS; do cat "build-fuzz/logs/$name.summary"; done
