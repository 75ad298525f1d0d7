#!/bin/sh
# Renders the icon's PNGs from the SVG. Run it after changing the SVG and
# commit the PNGs: the build and the package take them as they are, so
# building needs no SVG renderer.
set -eu
cd "$(dirname "$0")"
if ! command -v rsvg-convert >/dev/null; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 librsvg2-bin
fi
for size in 16 32 48 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert -w "$size" -h "$size" org.pixloom.Pixloom.svg -o "${size}x${size}/org.pixloom.Pixloom.png"
done
