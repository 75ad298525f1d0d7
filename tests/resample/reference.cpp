#include "reference.h"

#include <algorithm>
#include <cmath>

namespace reference {

static unsigned char toSample(double a, double s) {
    if (s == 0) return 0;
    const double v = a / s;
    return v < 0.49999 ? 0 : v > 254.5 ? 255 : static_cast<unsigned char>(std::round(v));
}

double lanczos3(double x) {
    const double pi = 3.141592653589793, piSquared = 9.869604401089358;
    if (x == 0) return 1.0;
    if (!(std::fabs(x) < 3)) return 0.0;
    return 3 * std::sin(pi * x) * std::sin(pi * x / 3) / (piSquared * x * x);
}

Picture resample(const Picture& src, int newLength, bool horizontal, int lcdType, int softnessLevel) {
    const long long S = horizontal ? src.width : src.height, D = std::max(newLength, 1);
    const long long across = horizontal ? src.height : src.width;
    const double scale = double(D) / double(S), widening = horizontal && lcdType >= 1 && lcdType <= 3 ? 3 : 1;
    const double softness[5] = {1.0, 1.1830127025, 1.366025405, 1.5490381075, 1.73205081};
    const double t = softnessLevel >= 0 && softnessLevel < 5 ? softness[softnessLevel] : 1.0;
    const double f = std::min(1.0, scale / widening / t);
    const double delta = D < S ? f / 3 - 0.4 : 0.0;
    const long long N = D < S ? std::lrint((horizontal ? 6.0 : 3.0) * double(S) / double(D))
                              : std::lrint(3.0 * double(D) / double(S));
    Picture out(horizontal ? int(D) : src.width, horizontal ? src.height : int(D));
    std::vector<double> acc(3 * std::size_t(across));
    for (long long o = 0; o < D; ++o) {
        // Vertical: centred on the nearest row. Horizontal: on the pixel that
        // holds the position rounded to a third of a pixel.
        const double p = horizontal ? 3.0 * o / scale : o / scale;
        const long long z = horizontal ? std::lrint(p) / 3 : std::lrint(p);
        const double frac = (p - 3 * z) / 3;
        std::fill(acc.begin(), acc.end(), 0.0);
        double sum = 0;
        // Of the taps -N..N-1, those outside 0..S-1 are skipped: walk only the rest.
        for (long long i = std::max(-N, -z); i <= std::min(N - 1, S - 1 - z); ++i) {
            const long long j = z + i;
            const double w = lanczos3(horizontal ? (i - frac) * f + delta : (i - p + z) * f + delta);
            if (w == 0) continue;
            sum += w;
            for (long long r = 0; r < across; ++r)
                for (int c = 0; c < 3; ++c) acc[3 * r + c] += w * (horizontal ? src.at(j, r, c) : src.at(r, j, c));
        }
        for (long long r = 0; r < across; ++r)
            for (int c = 0; c < 3; ++c)
                (horizontal ? out.at(o, r, c) : out.at(r, o, c)) = toSample(acc[3 * r + c], sum);
    }
    return out;
}

Picture fold(const Picture& wide, Fold rule) {
    if (wide.width % 3 != 0 || wide.width == 0) return wide;
    Picture out(wide.width / 3, wide.height);
    for (int y = 0; y < wide.height; ++y)
        for (int n = 0, c = 0; n < out.width; ++n, c += 3) {
            auto R = [&](int s) { return int(wide.at(s, y, 0)); };
            auto G = [&](int s) { return int(wide.at(s, y, 1)); };
            auto B = [&](int s) { return int(wide.at(s, y, 2)); };
            auto sharpUnlessFar = [](int sharp, int box) { return std::abs(sharp - box) <= 31 ? sharp : box; };
            const bool first = n == 0, last = n == out.width - 1;
            int r = (R(c - !first) + R(c) + R(c + 1)) / 3, g = (G(c) + G(c + 1) + G(c + 2)) / 3;
            int b = (B(c + 1) + B(c + 2) + B(c + 3 - last)) / 3;  // outside the row: the edge sample again
            if (rule == Fold::adaptive && (first || last)) {
                r = (R(c) + R(c + 1) + R(c + 2)) / 3, b = (B(c) + B(c + 1) + B(c + 2)) / 3;
            } else if (rule == Fold::adaptive) {
                r = sharpUnlessFar((2 * R(c) + R(c + 1)) / 3, r), b = sharpUnlessFar((B(c + 1) + 2 * B(c + 2)) / 3, b);
            } else if (rule == Fold::weighted && !first) {
                r = (2 * R(c) + R(c + 1)) / 3, b = (B(c + 1) + 2 * B(c + 2)) / 3;
                if (!last) g = (G(c) + 4 * G(c + 1) + G(c + 2)) / 6;
            }
            out.at(n, y, 0) = (unsigned char)r, out.at(n, y, 1) = (unsigned char)g, out.at(n, y, 2) = (unsigned char)b;
        }
    return out;
}

Picture resize(const Picture& source, int width, int height, bool keepRatio, bool percent, int lcdType,
               int softnessLevel) {
    const long long W = source.width, H = source.height;  // 64 bits: no overflow
    long long w = width, h = height;
    if (percent) w = w * W / 100, h = h * H / 100;
    if (keepRatio && h * W <= w * H) w = h * W / H;
    else if (keepRatio) h = w * H / W;
    w = std::max(w, 1LL), h = std::max(h, 1LL);
    const Picture tall = resample(source, int(h), false, lcdType, softnessLevel);
    const Picture wide = resample(tall, int(lcdType > 0 ? 3 * w : w), true, lcdType, softnessLevel);
    if (lcdType <= 0 || lcdType > 6) return wide;
    return fold(wide, lcdType % 3 == 1 ? Fold::box : lcdType % 3 == 2 ? Fold::adaptive : Fold::weighted);
}

}  // namespace reference
