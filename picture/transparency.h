// SPDX-License-Identifier: MIT
// Transparency: pictures are reduced opaque, laid on white. Internal to
// picture/.
#pragma once

#include <cstddef>

namespace formats {

// A sample of opacity a (0 to 255) laid on white, rounded to nearest.
inline unsigned char onWhite(unsigned sample, unsigned a) {
    return static_cast<unsigned char>((sample * a + 255 * (255 - a) + 127) / 255);
}

// Converts pixels of 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA)
// channels into opaque RGB. out may be in itself for 3 and 4 channels: each
// sample is read before the output reaches it.
void toOpaqueRgb(const unsigned char* in, int channels, std::size_t pixels, unsigned char* out);

// An RGB picture with a separate alpha plane, laid on white in place.
void layOnWhite(unsigned char* rgb, const unsigned char* alpha, std::size_t pixels);

}  // namespace formats
