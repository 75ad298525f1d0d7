// A deliberately plain second implementation of the resampling rules, used
// only to check the engine sample for sample. Written for clarity, not speed:
// one output line at a time, taps summed in window order, double precision.
#pragma once

#include <cstddef>
#include <vector>

namespace reference {

// Packed RGB rows, top to bottom, no padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), rgb(3 * std::size_t(w) * std::size_t(h), 0) {}

    unsigned char& at(int x, int y, int channel) { return rgb[(std::size_t(y) * width + x) * 3 + channel]; }
    unsigned char at(int x, int y, int channel) const { return rgb[(std::size_t(y) * width + x) * 3 + channel]; }
};

struct Size {
    long long width;
    long long height;
};

double lanczos3(double x);
double softnessFactor(int level);

// Target size for a request, computed without overflow.
Size targetSize(int sourceWidth, int sourceHeight, int width, int height, bool keepRatio, bool percent);

// Byte value of an accumulated sum a with weight sum s.
unsigned char toSample(double a, double s);

Picture resampleVertical(const Picture& source, int newHeight, int softnessLevel);
Picture resampleHorizontal(const Picture& source, int newWidth, int lcdType, int softnessLevel);

// Folds of a triple-width picture; a width that is not a multiple of 3 is
// returned unchanged.
Picture foldBox(const Picture& source);
Picture foldWeighted(const Picture& source);
Picture foldAdaptive(const Picture& source);

// The whole resize for an LCD type (negative counts as 0; 7 and above leave
// the triple-width picture).
Picture resize(const Picture& source, int width, int height, bool keepRatio, bool percent, int lcdType,
               int softnessLevel);

}  // namespace reference
