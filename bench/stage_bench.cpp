// SPDX-License-Identifier: MIT
// The engine's passes one by one, on the photo-like 6000x4000 reduced to
// 1920x1280: the vertical pass (shared by every method), the horizontal pass
// to 1920 columns (Lanczos3) and to 5760 (LCD(hi)), and the three folds on
// their own (a whole LCD resize folds each block of rows as it is made), then
// both whole resizes, on one thread and on two. Prints the best and the median time of each stage,
// and the best processor time (all threads together): on a machine shared
// with other work it moves much less than the time on the clock.
//
// usage: stage_bench [REPETITIONS [KERNELS [STAGE]]]
//   KERNELS: portable, avx2 or avx512, the fastest the passes may use
//   (default: the processor's best); STAGE: only the stages whose name
//   starts with it (vertical, horizontal, fold, whole).
#include "filter.h"
#include "image.h"
#include "synthetic_photo.h"

#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

const int sourceWidth = 6000, sourceHeight = 4000;
const int targetWidth = 1920, targetHeight = 1280;

double processorSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + 1e-9 * now.tv_nsec;
}

struct Times {
    double wall, processor;
};

// Seconds for step on a copy of source, the copy made before the clock starts.
Times timeStep(const Image& source, const std::function<bool(Image&)>& step) {
    Image image(source);
    const double startProcessor = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    bool done = step(image);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!done) {
        std::fprintf(stderr, "stage_bench: a step failed\n");
        std::exit(1);
    }
    return {seconds, processorSeconds() - startProcessor};
}

const char* onlyStage = "";

void measure(const char* stage, const Image& source, const std::function<bool(Image&)>& step, int threads,
             int repetitions) {
    if (std::strncmp(stage, onlyStage, std::strlen(onlyStage)) != 0) return;
    Image::setThreadCount(threads);
    std::vector<double> wall, processor;
    for (int i = 0; i < repetitions; ++i) {
        Times times = timeStep(source, step);
        wall.push_back(times.wall);
        processor.push_back(times.processor);
    }
    std::sort(wall.begin(), wall.end());
    std::printf("%-34s %7d %9.1f %11.1f %9.1f\n", stage, threads, 1000 * wall.front(), 1000 * wall[wall.size() / 2],
                1000 * *std::min_element(processor.begin(), processor.end()));
}

Image reduced(const Image& source, const std::function<bool(Image&)>& step) {
    Image image(source);
    if (!step(image)) std::exit(1);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (argc > 2) {
        const std::string kernels = argv[2];
        resample::limitKernels(kernels == "portable" ? resample::KernelSet::portable
                               : kernels == "avx2"   ? resample::KernelSet::avx2
                                                     : resample::KernelSet::avx512);
    }
    if (argc > 3) onlyStage = argv[3];
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    Image source(sourceWidth, sourceHeight, false);
    if (source.isEmpty()) return 1;
    bench::fillPhoto(const_cast<unsigned char*>(source.pixelData()), sourceWidth, sourceHeight);
    const Image tall = reduced(source, [](Image& i) { return i.resampleVertical(targetHeight); });
    Image wideSource(tall);
    wideSource.lcdSetting(4);
    const Image wide = reduced(wideSource, [](Image& i) { return i.resampleHorizontal(3 * targetWidth); });
    std::printf("%-34s %7s %9s %11s %9s\n", "stage", "threads", "best ms", "median ms", "CPU ms");
    for (int threads : {1, 2}) {
        measure(
            "vertical 6000x4000 -> 6000x1280", source, [](Image& i) { return i.resampleVertical(targetHeight); },
            threads, repetitions);
        measure(
            "horizontal -> 1920 (Lanczos3)", tall, [](Image& i) { return i.resampleHorizontal(targetWidth); }, threads,
            repetitions);
        measure(
            "horizontal -> 5760 (LCD(hi))", wideSource, [](Image& i) { return i.resampleHorizontal(3 * targetWidth); },
            threads, repetitions);
        measure(
            "fold 5760 -> 1920 (LCD(hi))", wide, [](Image& i) { return i.foldSubpixelBox(); }, threads, repetitions);
        measure(
            "fold 5760 -> 1920 (LCD(ex))", wide, [](Image& i) { return i.foldSubpixelAdaptive(); }, threads,
            repetitions);
        measure(
            "fold 5760 -> 1920 (LCD(max))", wide, [](Image& i) { return i.foldSubpixelWeighted(); }, threads,
            repetitions);
        measure(
            "whole resize Lanczos3", source, [](Image& i) { return i.resize(targetWidth, targetHeight, false, false); },
            threads, repetitions);
        measure(
            "whole resize LCD(hi)", source,
            [](Image& i) {
                i.lcdSetting(4);
                return i.resize(targetWidth, targetHeight, false, false);
            },
            threads, repetitions);
    }
    return 0;
}
