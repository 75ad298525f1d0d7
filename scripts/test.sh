#!/bin/sh
# Sets up the machine, builds pixloom and runs every test, then the
# conversion run's tests once more under ThreadSanitizer. GUI tests need a
# display: without one they run under xvfb-run.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

on_display() {
    if [ -z "${DISPLAY:-}" ]; then
        xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    else
        "$@"
    fi
}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
on_display ctest --test-dir build --no-tests=error --output-on-failure -j"$(nproc)"

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# leaks included. The suppressions name only leaks inside the toolkit's and
# the system's libraries; whole stacks are recorded so that they can be told
# apart from leaks in pixloom's own code that those libraries call.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXLOOM_SANITIZE=address \
    -DPIXLOOM_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=30"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
on_display ctest --test-dir build-asan --no-tests=error --output-on-failure -j"$(nproc)"

# The worker and the window's thread share each run: check the run's tests
# for races. GTK and its libraries are not instrumented; the suppressions
# cover their internals only.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXLOOM_SANITIZE=thread \
    -DPIXLOOM_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target convert_tests window_run_tests
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1"
export TSAN_OPTIONS
build-tsan/tests/convert/convert_tests
on_display build-tsan/tests/ui/window_run_tests
