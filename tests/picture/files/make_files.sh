#!/bin/sh
# Remakes the test files of this folder with tools other than the ones
# pixloom uses, so that the tests read metadata written by someone else:
#   camera.jpg   32x24, EXIF written by exiv2: camera, lens, exposure, dates,
#                author, GPS, a maker note, Orientation 6, a thumbnail, an
#                interoperability IFD and tags that must not survive
#   camera.webp  the same picture and EXIF, converted by cwebp
#   camera.tif   the same picture as an uncompressed TIFF (from dwebp),
#                with the same EXIF tags written by exiv2
# Installs what it needs. Run it from anywhere; it writes beside itself.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
need=""
for p in exiv2 webp libjpeg-turbo-progs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need="$need $p"
done
if [ -n "$need" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=300 $need
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# A plain gradient as PPM, the picture and its thumbnail.
ppm() {
    awk -v w="$1" -v h="$2" 'BEGIN {
        printf "P3\n%d %d\n255\n", w, h
        for (y = 0; y < h; y++) for (x = 0; x < w; x++)
            printf "%d %d %d\n", int(255 * x / (w - 1)), int(255 * y / (h - 1)), 128
    }'
}
ppm 32 24 > "$WORK/picture.ppm"
ppm 8 6 > "$WORK/thumb.ppm"
cjpeg -quality 90 "$WORK/picture.ppm" > "$WORK/camera.jpg"
cjpeg -quality 90 "$WORK/thumb.ppm" > "$WORK/camera-thumb.jpg"

cat > "$WORK/tags" <<'TAGS'
set Exif.Image.Make TestCam
set Exif.Image.Model TC-1 Mark II
set Exif.Image.ImageDescription A gradient on a test bench
set Exif.Image.Artist Ada Example
set Exif.Image.Copyright CC0
set Exif.Image.Software exiv2 by hand
set Exif.Image.DateTime 2023:05:06 07:08:09
set Exif.Image.Orientation 6
set Exif.Image.XResolution 300/1
set Exif.Image.YResolution 300/1
set Exif.Image.ResolutionUnit 2
set Exif.Photo.ExifVersion 48 50 51 50
set Exif.Photo.DateTimeOriginal 2023:05:06 07:08:01
set Exif.Photo.DateTimeDigitized 2023:05:06 07:08:02
set Exif.Photo.SubSecTimeOriginal 123
set Exif.Photo.0x9011 Ascii +02:00
set Exif.Photo.ExposureTime 1/250
set Exif.Photo.FNumber 28/10
set Exif.Photo.ExposureProgram 3
set Exif.Photo.ISOSpeedRatings 200
set Exif.Photo.ExposureBiasValue -1/3
set Exif.Photo.MeteringMode 5
set Exif.Photo.Flash 16
set Exif.Photo.FocalLength 50/1
set Exif.Photo.FocalLengthIn35mmFilm 75
set Exif.Photo.WhiteBalance 1
set Exif.Photo.ExposureMode 0
set Exif.Photo.LensMake TestGlass
set Exif.Photo.LensModel TG 50mm F1.8
set Exif.Photo.LensSpecification 50/1 50/1 18/10 18/10
set Exif.Photo.BodySerialNumber 0012345
set Exif.Photo.ImageUniqueID 0123456789abcdef0123456789abcdef
set Exif.Photo.UserComment charset=Ascii a note
set Exif.Photo.ColorSpace 65535
set Exif.Photo.PixelXDimension 32
set Exif.Photo.PixelYDimension 24
set Exif.Photo.SubjectArea 16 12 8 6
set Exif.Photo.MakerNote Undefined 84 69 83 84 77 78 0 1 2 3 4 5 6 7 8 9
set Exif.Iop.InteroperabilityIndex R03
set Exif.GPSInfo.GPSVersionID 2 3 0 0
set Exif.GPSInfo.GPSLatitudeRef N
set Exif.GPSInfo.GPSLatitude 48/1 51/1 2400/100
set Exif.GPSInfo.GPSLongitudeRef E
set Exif.GPSInfo.GPSLongitude 2/1 21/1 300/100
TAGS
exiv2 -q -m "$WORK/tags" modify "$WORK/camera.jpg"
# The thumbnail, from camera-thumb.jpg beside the picture.
exiv2 -q -it insert "$WORK/camera.jpg"

cwebp -quiet -q 90 -metadata exif "$WORK/camera.jpg" -o "$WORK/camera.webp"
dwebp -quiet "$WORK/camera.webp" -tiff -o "$WORK/camera.tif"
exiv2 -q -m "$WORK/tags" modify "$WORK/camera.tif"

cp "$WORK/camera.jpg" "$WORK/camera.webp" "$WORK/camera.tif" "$HERE/"
