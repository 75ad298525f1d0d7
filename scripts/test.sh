#!/bin/sh
# Sets up the machine, builds pixloom and runs every test; then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# run's tests and the real program under ThreadSanitizer. Each GUI test
# program starts an Xvfb of its own. Ends with the wall time of each stage.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
times=""
stage() {  # NAME COMMAND...: runs it, adding its wall time to NAME's
    name=$1
    shift
    begin=$(date +%s)
    "$@"
    times="$times$name|$(($(date +%s) - begin))
"
}
configure() {  # FOLDER OPTIONS...
    folder=$1
    shift
    cmake -S . -B "$folder" "$@" >/dev/null
}
total=$(date +%s)

stage "set-up (packages)" ./scripts/setup.sh

stage "build" configure build -DCMAKE_BUILD_TYPE=Release
stage "build" cmake --build build -j"$jobs"
stage "tests" ctest --test-dir build --no-tests=error --output-on-failure -j"$jobs"

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# leaks included. The suppressions name only leaks inside the toolkit's and
# the system's libraries; stacks are unwound exactly (the libraries keep no
# frame pointers) but only 8 frames deep, which finds every suppressed leak's
# library and costs a fraction of whole stacks, and a leak in pixloom's own
# code that those libraries call shows its own frames first.
# -O1 -g1: quicker to build than the Release build, and many times quicker to
# run under a sanitizer than -O0.
sanitized="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DPIXLOOM_BENCH=OFF"
# shellcheck disable=SC2086
stage "build, ASan+UBSan" configure build-asan $sanitized -DPIXLOOM_SANITIZE=address
stage "build, ASan+UBSan" cmake --build build-asan -j"$jobs"
ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=8:allocator_may_return_null=1"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
# The 2 GiB PNG test only repeats the plain build's sizes at many times the
# cost: the same code paths run on small pictures here.
stage "tests, ASan+UBSan" ctest --test-dir build-asan --no-tests=error --output-on-failure -j"$jobs" \
    -E '^PngWriter\.PicturesOverTwoGibibytes$'

# The worker, the decoding thread and the window's thread share each run:
# check the run's tests and the real program for races. GTK and its
# libraries are not instrumented; the suppressions cover their internals only.
# shellcheck disable=SC2086
stage "build, TSan" configure build-tsan $sanitized -DPIXLOOM_SANITIZE=thread
stage "build, TSan" cmake --build build-tsan -j"$jobs" --target convert_tests window_tests pixloom pixloom-batch
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1"
export TSAN_OPTIONS
# The window's run tests and the stopped program side by side (each on an X
# server of its own); the stop test's noise pictures are made by the plain
# build's pixloom-batch, which is not under test there.
tsan_tests() {
    build-tsan/tests/convert/convert_tests
    tests/app/stop_test.sh build-tsan/pixloom build/pixloom-batch &
    stop_test=$!
    window_tests=0
    build-tsan/tests/ui/window_tests --gtest_filter='*Run*' || window_tests=$?
    wait $stop_test && [ $window_tests = 0 ]
}
stage "tests, TSan" tsan_tests

echo
echo "Wall time by stage:"
printf '%s' "$times" | awk -F'|' '!($1 in seconds) { order[++n] = $1 } { seconds[$1] += $2 }
    END { for (i = 1; i <= n; ++i) printf "  %-20s %4d s\n", order[i], seconds[order[i]] }'
printf '  %-20s %4d s\n' "all" $(($(date +%s) - total))
