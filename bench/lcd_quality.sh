#!/bin/bash
# How each method looks on a simulated LCD panel (bench/lcd_quality.py):
# installs the Python packages the model needs, reduces its sources with
# the real pixloom-batch, prints the table and the controls, and with
# --chart FILE draws the chart. Exit status 1 when the model fails its
# controls.
#
# usage: bench/lcd_quality.sh [BUILD_DIR] [--chart FILE.png] [--markdown]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then BUILD=$1; shift; fi
PYTHON=/usr/bin/python3  # Debian's, with Debian's packages

install_packages() {
    if "$PYTHON" -c 'import numpy, scipy, skimage, matplotlib, PIL' 2>/dev/null; then return; fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get -o DPkg::Lock::Timeout=300 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 python3-numpy python3-scipy python3-skimage python3-matplotlib python3-pil \
        fonts-dejavu-core
}

install_packages
exec "$PYTHON" bench/lcd_quality.py "$BUILD/pixloom-batch" "$@"
