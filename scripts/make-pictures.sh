#!/bin/sh
# Makes the README's pictures from the real programs in build/:
#   doc/window.png   the window with a few files listed (a window manager
#                    around it shows the title bar and the icon);
#   doc/preview.png  the preview of one of them, two methods side by side;
#   doc/methods.png  the seven methods on the same crop of text and a photo,
#                    enlarged with nearest neighbour so the sub-pixel
#                    structure shows (needs build/pixloom-batch; skipped
#                    with a message while it is missing).
# Installs what it needs. Runs its own X server; leaves nothing running.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
OUT=$ROOT/doc

"$ROOT/scripts/setup.sh" imagemagick openbox fonts-dejavu-core
# ImageMagick's own tools, by their full names: another "convert" may come
# first on PATH.
IM=/usr/bin
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target pixloom
if cmake --build "$BUILD" --target help | grep -q '^\.\.\. pixloom-batch$'; then
    cmake --build "$BUILD" -j2 --target pixloom-batch
fi

WORK=$(mktemp -d)
XPIDS=""
cleanup() {
    for pid in $XPIDS; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$OUT" "$WORK/home"

# The photo: a cat from scikit-image's sample pictures (CC0), taken from the
# Debian package without installing it.
(cd "$WORK" && apt-get download -qq python3-skimage 2>/dev/null)
dpkg-deb --fsys-tarfile "$WORK"/python3-skimage_*.deb |
    tar -x -C "$WORK" --wildcards '*/skimage/data/chelsea.png' '*/skimage/data/coffee.png'
PHOTOS=$(dirname "$(find "$WORK" -name chelsea.png)")

# A source of 600x300: short lines of text that end where the photo, a cat's
# eye, begins; the comparison shows the middle of it.
SANS=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
GOTHIC=/usr/share/fonts/opentype/ipaexfont-gothic/ipaexg.ttf
"$IM/convert" -size 300x300 xc:white -fill black -gravity NorthEast \
    -font "$SANS" -pointsize 22 -annotate +8+86 'quick fox' -annotate +8+116 'LCD (hi)' \
    -font "$GOTHIC" -pointsize 22 -annotate +8+146 '画像縮小' \
    -font "$SANS" -pointsize 22 -annotate +8+176 '0123456' \
    "$WORK/text.png"
"$IM/convert" "$PHOTOS/chelsea.png" -crop 300x300+120+0 +repage "$WORK/face.png"
"$IM/convert" "$WORK/text.png" "$WORK/face.png" +append "$WORK/source.png"

# --- the window ---------------------------------------------------------
# A few files to list.
mkdir -p "$WORK/photos/scans"
"$IM/convert" "$PHOTOS/chelsea.png" "$WORK/photos/cat.png"
"$IM/convert" "$PHOTOS/coffee.png" -quality 92 "$WORK/photos/coffee.jpg"
"$IM/convert" "$WORK/text.png" "$WORK/photos/scans/page 1.tiff"
"$IM/convert" "$WORK/source.png" "$WORK/photos/scans/page 2.tiff"

display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -noreset -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
XPIDS="$!"
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
HOME=$WORK/home openbox >/dev/null 2>&1 &
XPIDS="$! $XPIDS"
sleep 1
(cd "$WORK" && HOME=$WORK/home LANG=C.UTF-8 exec "$BUILD/pixloom" photos/cat.png photos/coffee.jpg \
    "photos/scans/page 1.tiff" "photos/scans/page 2.tiff") >/dev/null 2>&1 &
XPIDS="$! $XPIDS"
window=$(timeout 30 xdotool search --sync --onlyvisible --classname pixloom | head -n 1)
# The window manager may place it partly off the screen.
xdotool windowmove --sync "$window" 24 24
sleep 2  # let it finish drawing
# A window with its frame (title bar and icon): the screen cut to the
# window's area grown by the frame's extents. Leaves x and y at the window's
# own corner.
shoot() {  # WINDOW FILE
    set -- "$1" "$2" $(xprop -id "$1" _NET_FRAME_EXTENTS | tr -dc '0-9 ,' | tr ',' ' ')
    left=$3 right=$4 top=$5 bottom=$6
    x=$(xwininfo -id "$1" | sed -n 's/.*Absolute upper-left X: *//p')
    y=$(xwininfo -id "$1" | sed -n 's/.*Absolute upper-left Y: *//p')
    width=$(xwininfo -id "$1" | sed -n 's/.*Width: *//p')
    height=$(xwininfo -id "$1" | sed -n 's/.*Height: *//p')
    "$IM/import" -silent -window root \
        -crop "$((width + left + right))x$((height + top + bottom))+$((x - left))+$((y - top))" +repage "$OUT/$2"
    echo "made doc/$2"
}
shoot "$window" window.png

# --- the preview ------------------------------------------------------------
# The last entry (the text beside the photo) previewed as a user opens it:
# selected, then Enter; LCD(hi) beside Lanczos3, enlarged 4 times.
xdotool mousemove --sync "$((x + 60))" "$((y + 47))" click 1
xdotool key End Return
preview=""
for _ in $(seq 100); do
    preview=$(xdotool search --onlyvisible --classname pixloom | grep -vx "$window" | head -n 1 || true)
    [ -n "$preview" ] && break
    sleep 0.1
done
[ -n "$preview" ] || { echo "the preview did not open" >&2; exit 1; }
xdotool windowmove --sync "$preview" 24 24 windowsize --sync "$preview" 1000 560
sleep 1
# Focus starts on the method: the next control turns compare on, two more on is the zoom.
xdotool key Tab space Tab Tab Down
sleep 2  # let it reduce and draw
shoot "$preview" preview.png

# --- the seven methods ----------------------------------------------------
if [ ! -x "$BUILD/pixloom-batch" ]; then
    echo "doc/methods.png not made: build/pixloom-batch does not exist yet"
    exit 0
fi
# Reduced to a third (200x100), the same 80x40 crop from each result,
# enlarged 5 times; the source's crop (240x120) at the same size beside them.
crop=80x40+60+30
"$IM/convert" "$WORK/source.png" -crop 240x120+180+90 +repage -filter point -resize '400x200!' \
    "$WORK/tile-0.png"
i=1
for method in Nearest Lanczos3 'LCD(low)' 'LCD(mid)' 'LCD(hi)' 'LCD(ex)' 'LCD(max)'; do
    mkdir -p "$WORK/out-$i"
    HOME=$WORK/home "$BUILD/pixloom-batch" --size 200x100 --pixels --stretch --method "$method" \
        --type png --out "$WORK/out-$i" "$WORK/source.png"
    "$IM/convert" "$WORK/out-$i/source.png" -crop "$crop" +repage -filter point -resize 500% \
        "$WORK/tile-$i.png"
    i=$((i + 1))
done
"$IM/montage" -font DejaVu-Sans -pointsize 18 -background white -geometry +6+6 -tile 4x2 \
    -label source "$WORK/tile-0.png" \
    -label Nearest "$WORK/tile-1.png" -label Lanczos3 "$WORK/tile-2.png" \
    -label 'LCD(low)' "$WORK/tile-3.png" -label 'LCD(mid)' "$WORK/tile-4.png" \
    -label 'LCD(hi)' "$WORK/tile-5.png" -label 'LCD(ex)' "$WORK/tile-6.png" \
    -label 'LCD(max)' "$WORK/tile-7.png" "$OUT/methods.png"
echo "made doc/methods.png"
