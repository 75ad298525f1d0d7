#include "reference.h"

#include <algorithm>
#include <cmath>

namespace reference {

namespace {

const double pi = 3.141592653589793;
const double piSquared = 9.869604401089358;

const double softnessTable[5] = {1.0, 1.1830127025, 1.366025405, 1.5490381075, 1.73205081};

// Kernel scale, centring offset and half-width of one pass. Sizes are long
// long so that 3 x D stays exact for any int.
struct PassGeometry {
    double scale;
    double f;
    double delta;
    long long halfWidth;
};

PassGeometry geometry(long long S, long long D, double widening, double softness, double reducingFactor) {
    PassGeometry g;
    g.scale = double(D) / double(S);
    const bool reducing = D < S;
    g.f = std::min(1.0, g.scale / widening / softness);
    g.delta = reducing ? g.f / 3 - 0.4 : 0.0;
    g.halfWidth = reducing ? std::lrint(reducingFactor * double(S) / double(D)) : std::lrint(3.0 * double(D) / double(S));
    return g;
}

// First and last tap index i of the window that land inside 0..S-1; taps
// outside are skipped anyway, so looping over this range alone keeps the order.
void tapRange(long long centre, long long halfWidth, long long S, long long& first, long long& last) {
    first = std::max(-halfWidth, -centre);
    last = std::min(halfWidth - 1, S - 1 - centre);
}

}  // namespace

double lanczos3(double x) {
    if (x == 0) return 1.0;
    if (!(std::fabs(x) < 3)) return 0.0;
    return 3 * std::sin(pi * x) * std::sin(pi * x / 3) / (piSquared * x * x);
}

double softnessFactor(int level) { return level >= 0 && level < 5 ? softnessTable[level] : 1.0; }

Size targetSize(int sourceWidth, int sourceHeight, int width, int height, bool keepRatio, bool percent) {
    const long long W = sourceWidth, H = sourceHeight;
    long long w = width, h = height;
    if (percent) {
        w = w * W / 100;
        h = h * H / 100;
    }
    if (keepRatio) {
        if (h * W <= w * H) w = h * W / H;
        else h = w * H / W;
    }
    return {std::max(w, 1LL), std::max(h, 1LL)};
}

unsigned char toSample(double a, double s) {
    if (s == 0) return 0;
    const double v = a / s;
    if (v < 0.49999) return 0;
    if (v > 254.5) return 255;
    return static_cast<unsigned char>(std::round(v));
}

Picture resampleVertical(const Picture& source, int newHeight, int softnessLevel) {
    const int D = std::max(newHeight, 1);
    const int S = source.height;
    const size_t rowBytes = 3 * size_t(source.width);
    const PassGeometry g = geometry(S, D, 1.0, softnessFactor(softnessLevel), 3.0);
    Picture out(source.width, D);
    std::vector<double> acc(rowBytes);
    for (int y = 0; y < D; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0);
        double sum = 0;
        const double p = y / g.scale;
        const long long z = std::lrint(p);
        long long first, last;
        tapRange(z, g.halfWidth, S, first, last);
        for (long long i = first; i <= last; ++i) {
            const long long j = z + i;
            const double w = lanczos3((i - p + z) * g.f + g.delta);
            if (w == 0) continue;
            sum += w;
            for (size_t b = 0; b < rowBytes; ++b) acc[b] += w * source.rgb[size_t(j) * rowBytes + b];
        }
        for (size_t b = 0; b < rowBytes; ++b) out.rgb[size_t(y) * rowBytes + b] = toSample(acc[b], sum);
    }
    return out;
}

Picture resampleHorizontal(const Picture& source, int newWidth, int lcdType, int softnessLevel) {
    const int D = std::max(newWidth, 1);
    const int S = source.width;
    const double widening = (lcdType >= 1 && lcdType <= 3) ? 3.0 : 1.0;
    const PassGeometry g = geometry(S, D, widening, softnessFactor(softnessLevel), 6.0);
    Picture out(D, source.height);
    std::vector<double> acc(3 * size_t(source.height));
    for (int x = 0; x < D; ++x) {
        const double p = 3.0 * x / g.scale;
        const long long m = std::lrint(p);
        const long long z = m / 3;
        const double frac = (p - 3 * z) / 3;
        std::fill(acc.begin(), acc.end(), 0.0);
        double sum = 0;
        long long first, last;
        tapRange(z, g.halfWidth, S, first, last);
        for (long long i = first; i <= last; ++i) {
            const long long j = z + i;
            const double w = lanczos3((i - frac) * g.f + g.delta);
            if (w == 0) continue;
            sum += w;
            for (int r = 0; r < source.height; ++r)
                for (int c = 0; c < 3; ++c) acc[3 * size_t(r) + c] += w * source.at(int(j), r, c);
        }
        for (int r = 0; r < source.height; ++r)
            for (int c = 0; c < 3; ++c) out.at(x, r, c) = toSample(acc[3 * size_t(r) + c], sum);
    }
    return out;
}

namespace {

// One row of a triple-width picture, read by stripe column.
struct Row {
    const Picture& picture;
    int y;
    int R(int s) const { return picture.at(s, y, 0); }
    int G(int s) const { return picture.at(s, y, 1); }
    int B(int s) const { return picture.at(s, y, 2); }
};

struct Pixel {
    int r, g, b;
};

enum class Position { first, middle, last, only };

Position positionOf(int n, int targetWidth) {
    if (targetWidth == 1) return Position::only;
    if (n == 0) return Position::first;
    if (n == targetWidth - 1) return Position::last;
    return Position::middle;
}

// Shared rules of the box and weighted folds at the row's first pixel and for
// a one-pixel row (whose missing outside samples are the edge sample again).
Pixel firstOrOnly(const Row& s, Position where) {
    Pixel p;
    p.r = (2 * s.R(0) + s.R(1)) / 3;
    p.g = (s.G(0) + s.G(1) + s.G(2)) / 3;
    p.b = where == Position::only ? (s.B(1) + 2 * s.B(2)) / 3 : (s.B(1) + s.B(2) + s.B(3)) / 3;
    return p;
}

Pixel boxPixel(const Row& s, int n, Position where) {
    if (where == Position::first || where == Position::only) return firstOrOnly(s, where);
    const int c = 3 * n;
    Pixel p;
    p.r = (s.R(c - 1) + s.R(c) + s.R(c + 1)) / 3;
    p.g = (s.G(c) + s.G(c + 1) + s.G(c + 2)) / 3;
    p.b = where == Position::last ? (s.B(c + 1) + 2 * s.B(c + 2)) / 3 : (s.B(c + 1) + s.B(c + 2) + s.B(c + 3)) / 3;
    return p;
}

Pixel weightedPixel(const Row& s, int n, Position where) {
    if (where == Position::first || where == Position::only) return firstOrOnly(s, where);
    const int c = 3 * n;
    Pixel p;
    p.r = (2 * s.R(c) + s.R(c + 1)) / 3;
    p.g = where == Position::last ? (s.G(c) + s.G(c + 1) + s.G(c + 2)) / 3
                                  : (s.G(c) + 4 * s.G(c + 1) + s.G(c + 2)) / 6;
    p.b = (s.B(c + 1) + 2 * s.B(c + 2)) / 3;
    return p;
}

int chooseSharpUnlessFar(int sharp, int box) { return std::abs(sharp - box) <= 31 ? sharp : box; }

Pixel adaptivePixel(const Row& s, int n, Position where) {
    const int c = 3 * n;
    Pixel p;
    p.g = (s.G(c) + s.G(c + 1) + s.G(c + 2)) / 3;
    if (where != Position::middle) {
        p.r = (s.R(c) + s.R(c + 1) + s.R(c + 2)) / 3;
        p.b = (s.B(c) + s.B(c + 1) + s.B(c + 2)) / 3;
        return p;
    }
    p.r = chooseSharpUnlessFar((2 * s.R(c) + s.R(c + 1)) / 3, (s.R(c - 1) + s.R(c) + s.R(c + 1)) / 3);
    p.b = chooseSharpUnlessFar((s.B(c + 1) + 2 * s.B(c + 2)) / 3, (s.B(c + 1) + s.B(c + 2) + s.B(c + 3)) / 3);
    return p;
}

template <class PixelRule>
Picture fold(const Picture& source, PixelRule rule) {
    if (source.width % 3 != 0 || source.width == 0) return source;
    const int targetWidth = source.width / 3;
    Picture out(targetWidth, source.height);
    for (int y = 0; y < source.height; ++y) {
        const Row row{source, y};
        for (int n = 0; n < targetWidth; ++n) {
            const Pixel p = rule(row, n, positionOf(n, targetWidth));
            out.at(n, y, 0) = static_cast<unsigned char>(p.r);
            out.at(n, y, 1) = static_cast<unsigned char>(p.g);
            out.at(n, y, 2) = static_cast<unsigned char>(p.b);
        }
    }
    return out;
}

}  // namespace

Picture foldBox(const Picture& source) { return fold(source, boxPixel); }
Picture foldWeighted(const Picture& source) { return fold(source, weightedPixel); }
Picture foldAdaptive(const Picture& source) { return fold(source, adaptivePixel); }

Picture resize(const Picture& source, int width, int height, bool keepRatio, bool percent, int lcdType,
               int softnessLevel) {
    const Size target = targetSize(source.width, source.height, width, height, keepRatio, percent);
    const Picture tall = resampleVertical(source, int(target.height), softnessLevel);
    if (lcdType <= 0) return resampleHorizontal(tall, int(target.width), lcdType, softnessLevel);
    const Picture wide = resampleHorizontal(tall, int(3 * target.width), lcdType, softnessLevel);
    switch (lcdType) {
    case 1:
    case 4:
        return foldBox(wide);
    case 2:
    case 5:
        return foldAdaptive(wide);
    case 3:
    case 6:
        return foldWeighted(wide);
    default:
        return wide;
    }
}

}  // namespace reference
