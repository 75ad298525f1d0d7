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

# The worker and the window's thread share each run: check it for races.
# GTK and its libraries are not instrumented; the suppressions cover their
# internals only.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXLOOM_SANITIZE=thread \
    -DPIXLOOM_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target convert_tests run_tests
TSAN_OPTIONS="suppressions=$PWD/tests/convert/tsan.supp"
export TSAN_OPTIONS
on_display ctest --test-dir build-tsan/tests/convert --no-tests=error --output-on-failure -j"$(nproc)"
