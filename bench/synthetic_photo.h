// SPDX-License-Identifier: MIT
// A deterministic photo-like picture made in memory for the benchmarks: a
// sky-to-ground gradient, soft blobs, fine texture, grain and a few
// hard-edged shapes, the mix of smooth areas and edges a photograph has.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace bench {

// Deterministic noise in 0..1 from a pixel position.
inline double hashNoise(std::uint32_t x, std::uint32_t y, std::uint32_t channel) {
    std::uint32_t h = x * 374761393u + y * 668265263u + channel * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xffff) / 65535.0;
}

inline double photoSample(int x, int y, int c, int width, int height) {
    const double u = double(x) / width, v = double(y) / height;
    const double base[3] = {60 + 150 * v, 90 + 100 * v, 200 - 140 * v};
    double value = base[c] + 40 * std::sin(7 * u + 3 * c) * std::cos(5 * v - c);
    value += 18 * std::sin(0.35 * x + 0.21 * y) * std::sin(0.11 * y - 0.05 * x);  // texture
    value += 24 * (hashNoise(x, y, c) - 0.5);                                     // grain
    const bool inBuilding = x > width / 5 && x < 13 * width / 30 && y > 3 * height / 8 && y < 9 * height / 10;
    const bool inWindow = inBuilding && (x / 90) % 2 == 0 && (y / 140) % 2 == 0;
    const double dx = x - 43.0 * width / 60, dy = y - 0.325 * height, radius = 0.175 * height;
    if (inWindow)
        value = 235 - 10 * c;
    else if (inBuilding)
        value = 70 + 15 * c;
    else if (dx * dx + dy * dy < radius * radius)
        value = 250 - 90 * c;  // a sun
    return value;
}

// Fills width x height packed RGB samples.
inline void fillPhoto(unsigned char* rgb, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                *rgb++ = static_cast<unsigned char>(
                    std::lround(std::clamp(photoSample(x, y, c, width, height), 0.0, 255.0)));
}

}  // namespace bench
