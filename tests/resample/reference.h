// SPDX-License-Identifier: MIT
// A deliberately plain second reading of the resampling rules, to check the engine sample for sample:
// one output line at a time, taps summed in window order, double precision. Clarity, not speed.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace reference {

struct Picture {  // packed RGB rows, top to bottom
    int width, height;
    std::vector<unsigned char> rgb;
    Picture(int w, int h) : width(w), height(h), rgb(3 * std::size_t(w) * std::size_t(h)) {}
    unsigned char& at(long long x, long long y, int c) { return rgb[std::size_t((y * width + x) * 3 + c)]; }
    int at(long long x, long long y, int c) const { return rgb[std::size_t((y * width + x) * 3 + c)]; }
};

inline double lanczos3(double x) {
    const double pi = 3.141592653589793, piSquared = 9.869604401089358;
    return x == 0 ? 1 : std::fabs(x) < 3 ? 3 * std::sin(pi * x) * std::sin(pi * x / 3) / (piSquared * x * x) : 0;
}

// Samples in double precision: light, for the linear-light reduction.
struct Plane {
    int width, height;
    std::vector<double> v;
    Plane(int w, int h) : width(w), height(h), v(3 * std::size_t(w) * std::size_t(h)) {}
    double& at(long long x, long long y, int c) { return v[std::size_t((y * width + x) * 3 + c)]; }
    double at(long long x, long long y, int c) const { return v[std::size_t((y * width + x) * 3 + c)]; }
};

// The taps of output line o of a pass from S to D lines: tap(source line, weight) in window order.
template <class Tap>
void forEachTap(long long S, long long D, bool horizontal, int lcdType, int softnessLevel, long long o, Tap tap) {
    const double scale = double(D) / double(S), widening = horizontal && lcdType >= 1 && lcdType <= 3 ? 3 : 1;
    const double softness[5] = {1.0, 1.1830127025, 1.366025405, 1.5490381075, 1.73205081};
    const double t = softnessLevel >= 0 && softnessLevel < 5 ? softness[softnessLevel] : 1.0;
    const double f = std::min(1.0, scale / widening / t), delta = D < S ? f / 3 - 0.4 : 0.0;
    const long long N = std::lrint(D < S ? (horizontal ? 6.0 : 3.0) * S / D : 3.0 * D / S);
    // Vertical: centred on the nearest row. Horizontal: on the pixel holding the position rounded to a third.
    const double p = horizontal ? 3.0 * o / scale : o / scale;
    const long long z = horizontal ? std::lrint(p) / 3 : std::lrint(p);
    for (long long i = std::max(-N, -z); i <= std::min(N - 1, S - 1 - z); ++i)  // taps -N..N-1 inside 0..S-1
        tap(z + i, lanczos3(horizontal ? (i - (p - 3 * z) / 3) * f + delta : (i - p + z) * f + delta));
}

// One pass to newLength columns (horizontal) or rows; each sample is finish(its taps' sum / their weight sum).
template <class Out, class In, class Finish>
Out resampleTo(const In& src, int newLength, bool horizontal, int lcdType, int softnessLevel, Finish finish) {
    const long long S = horizontal ? src.width : src.height, D = std::max(newLength, 1);
    const long long across = horizontal ? src.height : src.width;
    Out out(horizontal ? int(D) : src.width, horizontal ? src.height : int(D));
    for (long long o = 0; o < D; ++o) {
        std::vector<double> acc(3 * std::size_t(across));
        double sum = 0;
        forEachTap(S, D, horizontal, lcdType, softnessLevel, o, [&](long long s, double w) {
            sum += w;
            for (long long r = 0; r < across; ++r)
                for (int c = 0; c < 3; ++c) acc[3 * r + c] += w * (horizontal ? src.at(s, r, c) : src.at(r, s, c));
        });
        for (long long r = 0; r < across; ++r)
            for (int c = 0; c < 3; ++c)
                (horizontal ? out.at(o, r, c) : out.at(r, o, c)) = finish(sum == 0 ? 0 : acc[3 * r + c] / sum);
    }
    return out;
}

inline Picture resample(const Picture& src, int newLength, bool horizontal, int lcdType, int softnessLevel) {
    return resampleTo<Picture>(src, newLength, horizontal, lcdType, softnessLevel,
                               [](double v) { return v < 0.49999 ? 0 : v > 254.5 ? 255 : std::round(v); });
}

// Code values divide rounding down, light multiplies by the reciprocal.
inline int divide(int sum, int by) { return sum / by; }
inline double divide(double sum, int by) { return sum * (1.0 / by); }

// Three columns to a pixel, by the type's rule; beyond the row's ends, the end sample again.
template <class Sample, class Pic>
Pic foldTo(const Pic& wide, int lcdType) {
    const bool adaptive = lcdType % 3 == 2, weighted = lcdType % 3 == 0;  // else the box
    Pic out(wide.width / 3, wide.height);
    for (int y = 0; y < wide.height; ++y)
        for (int n = 0, c = 0; n < out.width; ++n, c += 3) {
            auto R = [&](int s) { return Sample(wide.at(std::max(s, 0), y, 0)); };
            auto G = [&](int s) { return Sample(wide.at(s, y, 1)); };
            auto B = [&](int s) { return Sample(wide.at(std::min(s, wide.width - 1), y, 2)); };
            auto sharpUnlessFar = [](Sample sharp, Sample box) { return std::abs(sharp - box) <= 31 ? sharp : box; };
            const bool first = n == 0, last = n == out.width - 1;
            Sample r = divide(R(c - 1) + R(c) + R(c + 1), 3), g = divide(G(c) + G(c + 1) + G(c + 2), 3);
            Sample b = divide(B(c + 1) + B(c + 2) + B(c + 3), 3);
            if (adaptive && (first || last)) {
                r = divide(R(c) + R(c + 1) + R(c + 2), 3), b = divide(B(c) + B(c + 1) + B(c + 2), 3);
            } else if (adaptive) {
                r = sharpUnlessFar(divide(2 * R(c) + R(c + 1), 3), r);
                b = sharpUnlessFar(divide(B(c + 1) + 2 * B(c + 2), 3), b);
            } else if (weighted && !first) {
                r = divide(2 * R(c) + R(c + 1), 3), b = divide(B(c + 1) + 2 * B(c + 2), 3);
                if (!last) g = divide(G(c) + 4 * G(c + 1) + G(c + 2), 6);
            }
            out.at(n, y, 0) = r, out.at(n, y, 1) = g, out.at(n, y, 2) = b;
        }
    return out;
}

inline Picture fold(const Picture& wide, int lcdType) { return foldTo<int>(wide, lcdType); }

// sRGB code value to light in 1 / 255 of full light, and back, rounded to the nearest code value.
inline double lightOf(int code) {
    const double c = code / 255.0;
    return 255 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}
inline unsigned char codeOf(double light) {
    const double l = std::min(1.0, std::max(0.0, light / 255));
    return (unsigned char)std::floor(255 * (l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055) + 0.5);
}

// A pass in linear light: each weight divided by its line's weight sum first, then the products summed in window
// order, all in Number: float in the vertical pass (the light read as float too), double in the horizontal one.
template <class Number>
Plane lightPass(const Plane& light, int newLength, bool horizontal, int lcdType, int softnessLevel) {
    const long long S = horizontal ? light.width : light.height, D = std::max(newLength, 1);
    const long long across = horizontal ? light.height : light.width;
    Plane out(horizontal ? int(D) : light.width, horizontal ? light.height : int(D));
    for (long long o = 0; o < D; ++o) {
        std::vector<std::pair<long long, double>> taps;
        double sum = 0;
        forEachTap(S, D, horizontal, lcdType, softnessLevel, o, [&](long long s, double w) {
            taps.push_back({s, w});
            sum += w;
        });
        for (long long r = 0; r < across; ++r)
            for (int c = 0; c < 3; ++c) {
                Number acc = 0;
                for (auto [s, w] : taps)
                    acc += Number(w / sum) * Number(horizontal ? light.at(s, r, c) : light.at(r, s, c));
                (horizontal ? out.at(o, r, c) : out.at(r, o, c)) = sum == 0 ? 0 : acc;
            }
    }
    return out;
}

// Negative types count as 0; 7 and above leave the triple-width picture (and ignore linear).
inline Picture resize(const Picture& source, int width, int height, bool keepRatio, bool percent, int lcdType,
                      int softnessLevel, bool linear = false) {
    const long long W = source.width, H = source.height;  // 64 bits: no overflow
    long long w = width, h = height;
    if (percent) w = w * W / 100, h = h * H / 100;
    if (keepRatio && h * W <= w * H) w = h * W / H;
    else if (keepRatio) h = w * H / W;
    w = std::max(w, 1LL), h = std::max(h, 1LL);
    const int wideWidth = int(lcdType > 0 ? 3 * w : w);
    if (linear && lcdType <= 6) {  // the passes and the fold on light
        Plane light(source.width, source.height);
        for (std::size_t i = 0; i < source.rgb.size(); ++i) light.v[i] = lightOf(source.rgb[i]);
        const Plane tall = lightPass<float>(light, int(h), false, lcdType, softnessLevel);
        Plane wide = lightPass<double>(tall, wideWidth, true, lcdType, softnessLevel);
        if (lcdType > 0) wide = foldTo<double>(wide, lcdType);
        Picture out(wide.width, wide.height);
        for (std::size_t i = 0; i < out.rgb.size(); ++i) out.rgb[i] = codeOf(wide.v[i]);
        return out;
    }
    const Picture tall = resample(source, int(h), false, lcdType, softnessLevel);
    const Picture wide = resample(tall, wideWidth, true, lcdType, softnessLevel);
    return lcdType <= 0 || lcdType > 6 ? wide : fold(wide, lcdType);
}

}  // namespace reference
