// SPDX-License-Identifier: MIT
// pixloom's engine against libvips in one process, on the same picture in
// memory: a photo-like 6000x4000 reduced to 1920x1280 by every method, on one
// thread and on all of them. The two take turns round by round (the order
// swapping every round), so that load from elsewhere on the machine falls on
// both alike. Prints source megapixels per second (best of the rounds and
// median) and pixloom's ratio to libvips, then the same as a Markdown table.
//
// usage: vips_compare [ROUNDS [METHOD...]]
//   ROUNDS defaults to 5; METHOD is Nearest, Lanczos3, LCD(low), LCD(mid),
//   LCD(hi), LCD(ex) or LCD(max) (all when none is named).
//
// libvips: vips_image_new_from_memory, vips_resize with the lanczos3 kernel
// (nearest for Nearest), vips_image_write_to_memory; its operation cache is
// off so that every round computes. pixloom: resize (resizeNearest for
// Nearest) on a copy of the same bytes, the copy made before the clock starts.
#include "image.h"
#include "synthetic_photo.h"

#include <vips/vips.h>
#include <wx/init.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const int sourceWidth = 6000, sourceHeight = 4000;
const int targetWidth = 1920, targetHeight = 1280;
const double scale = 0.32;  // 6000x4000 * 0.32 = 1920x1280
const double sourceMegapixels = double(sourceWidth) * sourceHeight / 1e6;

struct Method {
    const char* name;
    int lcdType;
    bool nearest;
};

const Method methods[] = {{"Nearest", 0, true},  {"Lanczos3", 0, false}, {"LCD(low)", 1, false}, {"LCD(mid)", 3, false},
                          {"LCD(hi)", 4, false}, {"LCD(ex)", 5, false},  {"LCD(max)", 6, false}};

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "vips_compare: %s\n", what);
    std::exit(1);
}

double timePixloom(const Image& source, const Method& method) {
    Image image(source);
    image.lcdSetting(method.lcdType);
    const auto start = Clock::now();
    bool done = method.nearest ? image.resizeNearest(targetWidth, targetHeight, false, false)
                               : image.resize(targetWidth, targetHeight, false, false);
    const double seconds = secondsSince(start);
    if (!done || image.getWidth() != targetWidth || image.getHeight() != targetHeight) fail("pixloom's resize failed");
    return seconds;
}

double timeVips(const std::vector<unsigned char>& rgb, const Method& method) {
    const auto start = Clock::now();
    VipsImage* in = vips_image_new_from_memory(rgb.data(), rgb.size(), sourceWidth, sourceHeight, 3, VIPS_FORMAT_UCHAR);
    VipsImage* out = nullptr;
    if (!in) fail(vips_error_buffer());
    VipsKernel kernel = method.nearest ? VIPS_KERNEL_NEAREST : VIPS_KERNEL_LANCZOS3;
    if (vips_resize(in, &out, scale, "kernel", kernel, nullptr)) fail(vips_error_buffer());
    std::size_t bytes = 0;
    void* written = vips_image_write_to_memory(out, &bytes);
    const double seconds = secondsSince(start);
    if (!written || bytes != 3u * targetWidth * targetHeight) fail("libvips' resize gave another size");
    g_free(written);
    g_object_unref(out);
    g_object_unref(in);
    return seconds;
}

struct Figures {
    double best = 0, median = 0;  // MP/s
};

Figures figures(std::vector<double> seconds) {
    std::sort(seconds.begin(), seconds.end());
    return {sourceMegapixels / seconds.front(), sourceMegapixels / seconds[seconds.size() / 2]};
}

struct Row {
    std::string method;
    int threads;
    Figures pixloom, vips;
};

Row compare(const Image& source, const std::vector<unsigned char>& rgb, const Method& method, int threads, int rounds) {
    Image::setThreadCount(threads);
    vips_concurrency_set(threads);
    std::vector<double> pixloom, vips;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) pixloom.push_back(timePixloom(source, method));
        vips.push_back(timeVips(rgb, method));
        if (round % 2 == 1) pixloom.push_back(timePixloom(source, method));
    }
    return {method.name, threads, figures(pixloom), figures(vips)};
}

void printRow(const Row& row) {
    std::printf("%-9s %7d %11.1f %13.1f %11.1f %13.1f %6.2fx\n", row.method.c_str(), row.threads, row.pixloom.best,
                row.pixloom.median, row.vips.best, row.vips.median, row.pixloom.best / row.vips.best);
    std::fflush(stdout);
}

void printMarkdown(const std::vector<Row>& rows) {
    std::printf(
        "\n| method | threads | pixloom MP/s | libvips MP/s | pixloom / libvips |\n|---|---:|---:|---:|---:|\n");
    for (const Row& row : rows)
        std::printf("| %s | %d | %.0f | %.0f | %.2fx |\n", row.method.c_str(), row.threads, row.pixloom.best,
                    row.vips.best, row.pixloom.best / row.vips.best);
}

std::vector<Method> chosenMethods(int argc, char** argv) {
    std::vector<Method> chosen;
    for (int i = 2; i < argc; ++i) {
        auto found = std::find_if(std::begin(methods), std::end(methods),
                                  [&](const Method& m) { return std::strcmp(m.name, argv[i]) == 0; });
        if (found == std::end(methods)) fail("unknown method");
        chosen.push_back(*found);
    }
    if (chosen.empty()) chosen.assign(std::begin(methods), std::end(methods));
    return chosen;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<Method> chosen = chosenMethods(argc, argv);
    if (VIPS_INIT(argv[0])) fail("libvips did not start");
    vips_cache_set_max(0);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) fail("the toolkit did not start");
    std::vector<unsigned char> rgb(3u * sourceWidth * sourceHeight);
    bench::fillPhoto(rgb.data(), sourceWidth, sourceHeight);
    Image source(sourceWidth, sourceHeight, false);
    if (source.isEmpty()) fail("no memory for the picture");
    std::memcpy(const_cast<unsigned char*>(source.pixelData()), rgb.data(), rgb.size());
    const int allThreads = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%dx%d (%.1f MP) -> %dx%d, best of %d rounds taking turns; libvips %s\n", sourceWidth, sourceHeight,
                sourceMegapixels, targetWidth, targetHeight, rounds, vips_version_string());
    std::printf("%-9s %7s %11s %13s %11s %13s %7s\n", "method", "threads", "pixloom MP/s", "(median)", "libvips MP/s",
                "(median)", "ratio");
    std::vector<Row> rows;
    for (int threads : {1, allThreads}) {
        for (const Method& method : chosen) {
            rows.push_back(compare(source, rgb, method, threads, rounds));
            printRow(rows.back());
        }
        if (allThreads == 1) break;
    }
    printMarkdown(rows);
    vips_shutdown();
    return 0;
}
