// A deliberately plain second reading of the resampling rules, to check the
// engine sample for sample: one output line at a time, taps summed in window
// order, double precision. Written for clarity, not speed.
#pragma once

#include <cstddef>
#include <vector>

namespace reference {

// Packed RGB rows, top to bottom, no padding.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    Picture(int w, int h) : width(w), height(h), rgb(3 * std::size_t(w) * std::size_t(h), 0) {}
    unsigned char& at(long long x, long long y, int c) { return rgb[std::size_t((y * width + x) * 3 + c)]; }
    unsigned char at(long long x, long long y, int c) const { return rgb[std::size_t((y * width + x) * 3 + c)]; }
};

enum class Fold { box, weighted, adaptive };

double lanczos3(double x);
// One Lanczos pass to newLength rows (vertical) or columns.
Picture resample(const Picture& source, int newLength, bool horizontal, int lcdType, int softnessLevel);
// A width that is not a multiple of 3 comes back unchanged.
Picture fold(const Picture& wide, Fold rule);
// Negative types count as 0; 7 and above leave the triple-width picture.
Picture resize(const Picture& source, int width, int height, bool keepRatio, bool percent, int lcdType,
               int softnessLevel);

}  // namespace reference
