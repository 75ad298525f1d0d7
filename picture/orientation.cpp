// SPDX-License-Identifier: MIT
#include "orientation.h"

#include "exif.h"
#include "filter.h"
#include "formats.h"

#include <cstdlib>
#include <cstring>

namespace formats {

Placement::Placement(int orientation, std::ptrdiff_t w, std::ptrdiff_t h) : storedWidth(w) {
    if (orientation < 1 || orientation > 8) orientation = 1;
    const bool transposed = orientation >= 5;
    width = static_cast<int>(transposed ? h : w);
    height = static_cast<int>(transposed ? w : h);
    const std::ptrdiff_t out = width;
    switch (orientation) {
    case 2:  // mirrored left to right
        origin = w - 1, stepX = -1, stepY = out;
        break;
    case 3:  // half turn
        origin = (h - 1) * out + w - 1, stepX = -1, stepY = -out;
        break;
    case 4:  // mirrored top to bottom
        origin = (h - 1) * out, stepX = 1, stepY = -out;
        break;
    case 5:  // transposed
        origin = 0, stepX = out, stepY = 1;
        break;
    case 6:  // a clockwise quarter turn
        origin = h - 1, stepX = out, stepY = -1;
        break;
    case 7:  // transposed across the other diagonal
        origin = (w - 1) * out + h - 1, stepX = -out, stepY = -1;
        break;
    case 8:  // an anticlockwise quarter turn
        origin = (w - 1) * out, stepX = -out, stepY = 1;
        break;
    default:  // as stored
        origin = 0, stepX = 1, stepY = out;
    }
}

void Placement::place(const unsigned char* const* rows, std::ptrdiff_t first, std::ptrdiff_t count,
                      unsigned char* upright) const {
    const std::ptrdiff_t tile = 64;
    for (std::ptrdiff_t tx = 0; tx < storedWidth; tx += tile) {
        const std::ptrdiff_t end = std::min(tx + tile, storedWidth);
        for (std::ptrdiff_t r = 0; r < count; ++r) {
            const unsigned char* source = rows[r] + 3 * tx;
            std::ptrdiff_t target = origin + tx * stepX + (first + r) * stepY;
            for (std::ptrdiff_t x = tx; x < end; ++x, source += 3, target += stepX)
                std::memcpy(upright + 3 * target, source, 3);
        }
    }
}

int orientationFromExif(const Bytes& exif, std::vector<wxString>& notes) {
    const ExifOrientation orientation = readExifOrientation(exif);
    if (orientation.outOfRange)
        notes.push_back(wxString::Format(wxT("EXIF orientation %d is not one of 1 to 8: the picture is used as stored"),
                                         orientation.stored));
    return orientation.value;
}

}  // namespace formats

bool orientPicture(DecodedPicture& picture, int orientation, int threads) {
    using namespace formats;
    if (orientation < 2 || orientation > 8 || !picture.pixels) return true;
    const Placement placement(orientation, picture.width, picture.height);
    DecodedPicture turned;
    turned.pixels = allocate(turned, picture.width, picture.height, 3);
    if (!turned.pixels) return false;
    // Bands of rows on separate threads write separate pixels.
    const std::ptrdiff_t band = 64, w = picture.width, h = picture.height;
    const unsigned char* const in = picture.pixels;
    resample::parallelFor((h + band - 1) / band, threads, [&](long long first, long long end) {
        const unsigned char* rows[band];
        for (std::ptrdiff_t y = first * band; y < std::min<std::ptrdiff_t>(end * band, h); y += band) {
            const std::ptrdiff_t count = std::min(band, h - y);
            for (std::ptrdiff_t r = 0; r < count; ++r) rows[r] = in + 3 * w * (y + r);
            placement.place(rows, y, count, turned.pixels);
        }
    });
    std::free(picture.pixels);
    picture.pixels = turned.release();
    picture.width = placement.width;
    picture.height = placement.height;
    return true;
}
