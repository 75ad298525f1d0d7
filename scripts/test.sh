#!/bin/sh
# Sets up the machine, builds pixloom and runs every test; then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# run's tests and the real program under ThreadSanitizer. The three builds
# start together and each build's tests as soon as it is done, to keep both
# cores busy. Each GUI test program starts an Xvfb of its own. Ends with the
# wall and processor time of each stage (the processor time tells a stage's
# own cost on a busy machine; a job behind others counts where it is awaited).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)
times=""
times_file=$(mktemp)
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

# Jobs behind the foreground: NAME's output is kept in $logs/NAME.log.
logs=$(mktemp -d)
trap 'for f in "$logs"/*.pid; do [ ! -e "$f" ] || kill "$(cat "$f")" 2>/dev/null || true; done
      rm -rf "$logs" "$times_file"' EXIT
behind() {  # NAME COMMAND...: starts it in the background
    name=$1
    shift
    "$@" >"$logs/$name.log" 2>&1 &
    echo $! >"$logs/$name.pid"
}
finish() {  # NAME [shown]: waits for it; its output when it failed, or always when shown
    status=0
    wait "$(cat "$logs/$1.pid")" || status=$?
    rm "$logs/$1.pid"
    if [ $status != 0 ] || [ "${2:-}" = shown ]; then cat "$logs/$1.log"; fi
    [ $status = 0 ] || { echo "FAILED: $1"; exit 1; }
}

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), leaks included, and the run's tests and the real program
# under ThreadSanitizer (build-tsan/). -O1 -g1: quicker to build than the
# Release build, and many times quicker to run under a sanitizer than -O0.
sanitized="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DPIXLOOM_BENCH=OFF"
# The fuzz targets' inputs are replayed under the sanitizers only, where a
# fault in reading them shows.
stage "configure" configure build -DCMAKE_BUILD_TYPE=Release -DPIXLOOM_FUZZ_REPLAYS=OFF
# shellcheck disable=SC2086
stage "configure" configure build-asan $sanitized -DPIXLOOM_SANITIZE=address
# shellcheck disable=SC2086
stage "configure" configure build-tsan $sanitized -DPIXLOOM_SANITIZE=thread

# The sanitizers' builds start at once, niced: they take the processor time
# that the plain build and the tests leave, as these wait on links, windows
# and servers.
behind build-asan nice -n 10 cmake --build build-asan -j"$jobs"
behind build-tsan nice -n 10 cmake --build build-tsan -j"$jobs" --target convert_tests window_tests pixloom
stage "build" cmake --build build -j"$jobs"
# GTK's accessibility bridge is not under test; without it no window opens a
# bus connection, whose names it never frees.
NO_AT_BRIDGE=1
export NO_AT_BRIDGE
stage "tests" ctest --test-dir build --no-tests=error --output-on-failure -j"$jobs"

# The worker, the decoding threads and the window's thread share each run:
# the run's tests and the real program are checked for races. GTK and its
# libraries are not instrumented; the suppressions cover their internals
# only. The stopped program runs beside the run's tests (each window on an X
# server of its own); its noise pictures are made by the plain build's
# pixloom-batch, which is not under test there.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1"
export TSAN_OPTIONS
tsan_tests() {
    tests/app/stop_test.sh build-tsan/pixloom build/pixloom-batch &
    stop_test=$!
    run_tests=0
    { build-tsan/tests/convert/convert_tests && build-tsan/tests/ui/window_tests --gtest_filter='*Run*'; } ||
        run_tests=$?
    wait $stop_test && [ $run_tests = 0 ]
}
stage "build, TSan (rest)" finish build-tsan
behind tests-tsan tsan_tests

# Leaks are reported but for those inside the toolkit's and the system's
# libraries that tests/lsan.supp names. Stacks are unwound by frame pointers,
# which pixloom's code keeps: a leak in its own code shows its own frames, one
# in a library at least the library's function that allocated it. Each test
# program runs in a few shards (tests/CMakeLists.txt), not one process per
# test: every start of a program costs seconds under AddressSanitizer.
ASAN_OPTIONS="detect_leaks=1:malloc_context_size=8:allocator_may_return_null=1"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
stage "build, ASan+UBSan (rest)" finish build-asan
stage "tests, ASan+UBSan" ctest --test-dir build-asan --no-tests=error --output-on-failure -j"$jobs"
stage "tests, TSan (rest)" finish tests-tsan shown

echo
echo "Time by stage (wall, processor):"
printf '%s' "$times" | awk -F'|' '!($1 in wall) { order[++n] = $1 } { wall[$1] += $2; cpu[$1] += $3 }
    END { for (i = 1; i <= n; ++i) printf "  %-20s %4d s %6d s\n", order[i], wall[order[i]], cpu[order[i]] }'
cpu_seconds
printf '  %-20s %4d s %6d s\n' "all" $(($(date +%s) - total)) "$cpu"
