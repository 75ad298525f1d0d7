// SPDX-License-Identifier: MIT
// Speed of the resampling engine alone: a photo-like 6000x4000 picture made in
// memory, reduced to 1920x1280 with Lanczos3 and with LCD(hi), on one and on
// two threads, each also in linear light, taking turns with it. Prints source
// megapixels per second, best and median, and the linear-light time against
// the plain one (medians).
//
// usage: resize_bench [REPETITIONS]
#include "image.h"
#include "synthetic_photo.h"

#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const int sourceWidth = 6000, sourceHeight = 4000;
const int targetWidth = 1920, targetHeight = 1280;

void fillPhoto(Image& image) {
    // Written through the read pointer: the buffer is the image's own heap block.
    bench::fillPhoto(const_cast<unsigned char*>(image.pixelData()), sourceWidth, sourceHeight);
}

double secondsToResize(const Image& source, int lcdType, bool linear) {
    Image image(source);
    image.lcdSetting(lcdType);
    image.linearSetting(linear);
    const auto start = std::chrono::steady_clock::now();
    image.resize(targetWidth, targetHeight, false, false);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (image.getWidth() != targetWidth || image.getHeight() != targetHeight) {
        std::fprintf(stderr, "resize gave %dx%d\n", image.getWidth(), image.getHeight());
        std::exit(1);
    }
    return seconds;
}

// Sorted; returns the median.
double report(std::vector<double>& times, const char* method, const char* light, int threads) {
    std::sort(times.begin(), times.end());
    const double megapixels = double(sourceWidth) * sourceHeight / 1e6;
    const double median = times[times.size() / 2];
    std::printf("%-9s %-7s %7d %10.1f %12.1f %10.1f %12.1f", method, light, threads, megapixels / times.front(),
                megapixels / median, 1000 * times.front(), 1000 * median);
    return median;
}

void measure(const Image& source, const char* method, int lcdType, int threads, int repetitions) {
    Image::setThreadCount(threads);
    std::vector<double> plain, linear;
    for (int i = 0; i < repetitions; ++i) {
        plain.push_back(secondsToResize(source, lcdType, false));
        linear.push_back(secondsToResize(source, lcdType, true));
    }
    const double plainMedian = report(plain, method, "sRGB", threads);
    std::printf("\n");
    const double linearMedian = report(linear, method, "linear", threads);
    std::printf(" %9.2fx\n", linearMedian / plainMedian);
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
    std::printf("%-9s %-7s %7s %10s %12s %10s %12s %10s\n", "method", "light", "threads", "best MP/s", "median MP/s",
                "best ms", "median ms", "vs sRGB");
    for (int threads : {1, 2}) {
        measure(source, "Lanczos3", 0, threads, repetitions);
        measure(source, "LCD(hi)", 4, threads, repetitions);
    }
    return 0;
}
