#!/bin/sh
# Installs every Debian package that building, running and testing pixloom need,
# and any further ones named as arguments (for the scripts that make pictures).
# Idempotent: when everything is already there it only checks and returns.
set -eu

PACKAGES="build-essential cmake pkg-config libwxgtk3.2-dev libgtest-dev googletest \
libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev libtiff-dev libexif-dev liblcms2-dev libwebp-dev pngcheck \
xvfb xauth xdotool fonts-ipaexfont-gothic desktop-file-utils appstream man-db lintian x11-utils openbox \
libx11-dev libvips-dev clang libfuzzer-14-dev"

missing=""
for p in $PACKAGES "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
echo "installing:$missing"
$SUDO apt-get -o DPkg::Lock::Timeout=300 update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=300 $missing
