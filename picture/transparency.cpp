// SPDX-License-Identifier: MIT
#include "transparency.h"

#include <cstring>

namespace formats {

void toOpaqueRgb(const unsigned char* in, int channels, std::size_t pixels, unsigned char* out) {
    switch (channels) {
    case 1:
        for (std::size_t i = 0; i < pixels; ++i, out += 3) out[0] = out[1] = out[2] = in[i];
        break;
    case 2:
        for (std::size_t i = 0; i < pixels; ++i, in += 2, out += 3) out[0] = out[1] = out[2] = onWhite(in[0], in[1]);
        break;
    case 3:
        if (in != out) std::memcpy(out, in, 3 * pixels);
        break;
    default:
        for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 3)
            for (int c = 0; c < 3; ++c) out[c] = onWhite(in[c], in[3]);
    }
}

void layOnWhite(unsigned char* rgb, const unsigned char* alpha, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, rgb += 3)
        for (int c = 0; c < 3; ++c) rgb[c] = onWhite(rgb[c], alpha[i]);
}

}  // namespace formats
