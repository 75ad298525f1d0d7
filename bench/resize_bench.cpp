// Speed of the resampling engine alone: a photo-like 6000x4000 picture made in
// memory, reduced to 1920x1280 with Lanczos3 and with LCD(hi), on one and on
// two threads. Prints source megapixels per second, best and median.
//
// usage: resize_bench [REPETITIONS]
#include "image.h"

#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const int sourceWidth = 6000, sourceHeight = 4000;
const int targetWidth = 1920, targetHeight = 1280;

// Deterministic noise in 0..1 from a pixel position.
double hashNoise(uint32_t x, uint32_t y, uint32_t channel) {
    uint32_t h = x * 374761393u + y * 668265263u + channel * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xffff) / 65535.0;
}

unsigned char toByte(double v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))); }

// Sky-to-ground gradient, soft blobs, fine texture and a few hard-edged shapes:
// the mix of smooth areas and edges a photograph has.
double photoSample(int x, int y, int c) {
    const double u = double(x) / sourceWidth, v = double(y) / sourceHeight;
    const double base[3] = {60 + 150 * v, 90 + 100 * v, 200 - 140 * v};
    double value = base[c] + 40 * std::sin(7 * u + 3 * c) * std::cos(5 * v - c);
    value += 18 * std::sin(0.35 * x + 0.21 * y) * std::sin(0.11 * y - 0.05 * x);  // texture
    value += 24 * (hashNoise(x, y, c) - 0.5);                                      // grain
    const bool inBuilding = x > 1200 && x < 2600 && y > 1500 && y < 3600;
    const bool inWindow = inBuilding && (x / 90) % 2 == 0 && (y / 140) % 2 == 0;
    const double dx = x - 4300.0, dy = y - 1300.0;
    if (inWindow) value = 235 - 10 * c;
    else if (inBuilding) value = 70 + 15 * c;
    else if (dx * dx + dy * dy < 700.0 * 700.0) value = 250 - 90 * c;  // a sun
    return value;
}

void fillPhoto(Image& image) {
    // Written through the read pointer: the buffer is the image's own heap block.
    unsigned char* data = const_cast<unsigned char*>(image.pixelData());
    for (int y = 0; y < sourceHeight; ++y)
        for (int x = 0; x < sourceWidth; ++x)
            for (int c = 0; c < 3; ++c) *data++ = toByte(photoSample(x, y, c));
}

double secondsToResize(const Image& source, int lcdType) {
    Image image(source);
    image.lcdSetting(lcdType);
    const auto start = std::chrono::steady_clock::now();
    image.resize(targetWidth, targetHeight, false, false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (image.getWidth() != targetWidth || image.getHeight() != targetHeight) {
        std::fprintf(stderr, "resize gave %dx%d\n", image.getWidth(), image.getHeight());
        std::exit(1);
    }
    return seconds;
}

void measure(const Image& source, const char* method, int lcdType, int threads, int repetitions) {
    Image::setThreadCount(threads);
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) times.push_back(secondsToResize(source, lcdType));
    std::sort(times.begin(), times.end());
    const double megapixels = double(sourceWidth) * sourceHeight / 1e6;
    const double median = times[times.size() / 2];
    std::printf("%-9s %7d %10.1f %12.1f %10.1f %12.1f\n", method, threads, megapixels / times.front(),
                megapixels / median, 1000 * times.front(), 1000 * median);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    Image source(sourceWidth, sourceHeight, false);
    if (source.isEmpty()) return 1;
    fillPhoto(source);
    std::printf("%dx%d (%.1f MP) -> %dx%d, %d repetitions each\n", sourceWidth, sourceHeight,
                double(sourceWidth) * sourceHeight / 1e6, targetWidth, targetHeight, repetitions);
    std::printf("%-9s %7s %10s %12s %10s %12s\n", "method", "threads", "best MP/s", "median MP/s", "best ms",
                "median ms");
    for (int threads : {1, 2}) {
        measure(source, "Lanczos3", 0, threads, repetitions);
        measure(source, "LCD(hi)", 4, threads, repetitions);
    }
    return 0;
}
