#!/bin/sh
# Sets up the machine, builds pixloom and runs every test. GUI tests need a
# display: without one the whole run goes under xvfb-run.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j"$(nproc)"
fi
exec ctest --test-dir build --output-on-failure -j"$(nproc)"
