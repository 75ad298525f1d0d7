#!/bin/sh
# Sets up the machine, builds pixloom and starts it with the given files or
# folders (relative paths are taken from the current folder).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$ROOT/build" -j"$(nproc)" --target pixloom
exec "$ROOT/build/pixloom" "$@"
