#!/bin/sh
# Sets up the machine, builds pixloom and runs every test; then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# run's tests and the real program under ThreadSanitizer: the first
# sanitizer's build is made while the plain tests run, and both sanitizers'
# tests run side by side. Each GUI test program starts an Xvfb of its own. Ends with the wall and processor time of each stage (the
# processor time tells a stage's own cost on a busy machine).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
times=""
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
# Sets cpu to the user and system time of the finished children, in whole
# seconds. Not through $(...): a subshell has no children of its own.
cpu_seconds() {
    times >"$times_file"
    cpu=$(awk 'NR == 2 { gsub(/s/, ""); split($1, u, "m"); split($2, s, "m"); print int(u[1] * 60 + u[2] + s[1] * 60 + s[2]) }' \
        "$times_file")
}
stage() {  # NAME COMMAND...: runs it, adding its wall and processor time to NAME's
    name=$1
    shift
    begin=$(date +%s)
    cpu_seconds
    cpu_before=$cpu
    "$@"
    cpu_seconds
    times="$times$name|$(($(date +%s) - begin))|$((cpu - cpu_before))
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

# A build beside tests runs niced, so that both cores stay busy while tests
# wait on windows and servers.
build_log=$(mktemp)
build_pid=""
trap 'rm -f "$times_file" "$build_log"; [ -z "$build_pid" ] || kill "$build_pid" 2>/dev/null || true' EXIT
build_behind() {  # FOLDER TARGETS...: starts building them (all when none are named)
    folder=$1
    shift
    targets=""
    for target; do targets="$targets --target $target"; done
    # shellcheck disable=SC2086
    nice -n 10 cmake --build "$folder" -j"$jobs" $targets >"$build_log" 2>&1 &
    build_pid=$!
}
build_done() {
    status=0
    wait "$build_pid" || status=$?
    build_pid=""
    [ $status = 0 ] || { cat "$build_log"; echo "The build failed."; exit 1; }
}
# GTK's accessibility bridge is not under test; without it no window opens a
# bus connection, whose names it never frees.
NO_AT_BRIDGE=1
export NO_AT_BRIDGE

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# leaks included. The suppressions name only leaks inside the toolkit's and
# the system's libraries. Stacks are unwound by frame pointers, which
# pixloom's code keeps: a leak in its own code shows its own frames, one in a
# library at least the library's function that allocated it.
# -O1 -g1: quicker to build than the Release build, and many times quicker to
# run under a sanitizer than -O0.
sanitized="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DPIXLOOM_BENCH=OFF"
# shellcheck disable=SC2086
configure build-asan $sanitized -DPIXLOOM_SANITIZE=address
plain_tests() {
    build_behind build-asan
    ctest --test-dir build --no-tests=error --output-on-failure -j"$jobs"
    build_done
}
stage "tests; ASan build" plain_tests

# The worker, the decoding threads and the window's thread share each run:
# the run's tests and the real program are checked for races. GTK and its
# libraries are not instrumented; the suppressions cover their internals only.
# shellcheck disable=SC2086
configure build-tsan $sanitized -DPIXLOOM_SANITIZE=thread
stage "build, TSan" cmake --build build-tsan -j"$jobs" --target convert_tests window_tests pixloom pixloom-batch

ASAN_OPTIONS="detect_leaks=1:malloc_context_size=8:allocator_may_return_null=1"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
# The stopped program beside the run's tests (each window on an X server of
# its own); the stop test's noise pictures are made by the plain build's
# pixloom-batch, which is not under test there.
tsan_tests() {
    tests/app/stop_test.sh build-tsan/pixloom build/pixloom-batch &
    stop_test=$!
    run_tests=0
    { build-tsan/tests/convert/convert_tests && build-tsan/tests/ui/window_tests --gtest_filter='*Run*'; } ||
        run_tests=$?
    wait $stop_test && [ $run_tests = 0 ]
}
# Both sanitizers' tests side by side: the ThreadSanitizer ones mostly wait on
# a program stopped over and over. Each test program under AddressSanitizer
# runs in a few shards (tests/CMakeLists.txt), not one process per test:
# every start of a program costs seconds there.
sanitizer_tests() {
    tsan_log=$(mktemp)
    tsan_tests >"$tsan_log" 2>&1 &
    tsan_pid=$!
    asan=0
    ctest --test-dir build-asan --no-tests=error --output-on-failure -j"$jobs" || asan=$?
    tsan=0
    wait $tsan_pid || tsan=$?
    echo "Under ThreadSanitizer:"
    cat "$tsan_log"
    rm -f "$tsan_log"
    [ $asan = 0 ] && [ $tsan = 0 ]
}
stage "ASan and TSan tests" sanitizer_tests

echo
echo "Time by stage (wall, processor):"
printf '%s' "$times" | awk -F'|' '!($1 in wall) { order[++n] = $1 } { wall[$1] += $2; cpu[$1] += $3 }
    END { for (i = 1; i <= n; ++i) printf "  %-20s %4d s %6d s\n", order[i], wall[order[i]], cpu[order[i]] }'
cpu_seconds
printf '  %-20s %4d s %6d s\n' "all" $(($(date +%s) - total)) "$cpu"
