// SPDX-License-Identifier: MIT
// Orientation: where each stored pixel goes in the upright picture.
// Internal to picture/.
#pragma once

#include <algorithm>
#include <cstddef>

namespace formats {

class Placement {
public:
    // For a stored picture of width x height and an EXIF/TIFF orientation
    // (1 to 8; any other value places the picture as stored).
    Placement(int orientation, std::ptrdiff_t w, std::ptrdiff_t h);

    // Writes stored rows first .. first + count - 1 (RGB) into the upright
    // picture; in tiles, so that the rows written across stay in cache.
    void place(const unsigned char* const* rows, std::ptrdiff_t first, std::ptrdiff_t count,
               unsigned char* upright) const;

    int width, height;  // upright

private:
    std::ptrdiff_t storedWidth;
    // Stored pixel (x, y) lands on origin + x * stepX + y * stepY.
    std::ptrdiff_t origin = 0, stepX = 1, stepY = 0;
};

}  // namespace formats
