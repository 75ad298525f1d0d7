// SPDX-License-Identifier: MIT
// PNG encoding speed and size: the PNG writer with libdeflate alone at levels
// 1 to 12, with zlib's run lengths alone, and as it writes (1 and 2 threads),
// against libpng with zlib's default level as the toolkit writes PNG, on a
// photo-like, a screenshot-like and a text-like 1920x1280 picture, plus any
// PNG files named on the command line.
//
// usage: png_bench [RUNS] [FILE.png ...]    (RUNS: timed encodes per figure, default 5; the median is printed)
#include "png_writer.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kWidth = 1920, kHeight = 1280;

struct Picture {
    std::string name;
    std::size_t width, height;
    Bytes rgb;
};

std::uint8_t clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Smooth light and colour, soft-edged shapes and sensor noise.
Picture photoLike() {
    Picture p{"photo-like", kWidth, kHeight, Bytes(kWidth * kHeight * 3)};
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 2.5);
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth, v = double(y) / kHeight;
            const double light = 0.6 + 0.4 * std::cos(3.0 * (u - 0.6)) * std::cos(2.0 * (v - 0.4));
            const double disc = 1.0 / (1.0 + std::exp((std::hypot(u - 0.7, v - 0.3) - 0.15) * 80.0));
            const double leaves = 0.5 + 0.5 * std::sin(u * 41.0 + std::sin(v * 23.0) * 3.0) * std::sin(v * 37.0);
            const double rgb[3] = {60 + 120 * u + 70 * disc, 80 + 90 * leaves * (1 - disc) + 60 * disc,
                                   150 - 90 * v + 20 * leaves};
            for (int c = 0; c < 3; ++c) p.rgb[(y * kWidth + x) * 3 + c] = clamp8(rgb[c] * light + noise(random));
        }
    return p;
}

void fill(Picture& p, std::size_t x0, std::size_t y0, std::size_t w, std::size_t h, const std::uint8_t (&colour)[3]) {
    for (std::size_t y = y0; y < std::min(p.height, y0 + h); ++y)
        for (std::size_t x = x0; x < std::min(p.width, x0 + w); ++x)
            std::memcpy(&p.rgb[(y * p.width + x) * 3], colour, 3);
}

// Glyph-like strokes in lines: dark, with a grey edge as anti-aliasing gives.
void text(Picture& p, std::size_t x0, std::size_t y0, std::size_t x1, std::size_t y1, std::size_t lineHeight,
          std::mt19937& random) {
    const std::uint8_t ink[3] = {20, 20, 20}, edge[3] = {140, 140, 140};
    for (std::size_t y = y0; y + lineHeight <= y1; y += lineHeight)
        for (std::size_t x = x0; x + 9 < x1;) {
            const std::size_t glyph = 5 + random() % 5, high = lineHeight / 2 + random() % (lineHeight / 3);
            fill(p, x, y + lineHeight - high, 2, high, ink);
            fill(p, x + 2, y + lineHeight - high, 1, high, edge);
            fill(p, x, y + lineHeight - 2, glyph - 1, 2, ink);
            if (random() % 3 == 0) fill(p, x + glyph / 2, y + lineHeight - high, 1, high, ink);
            x += glyph + 1 + (random() % 6 == 0 ? 6 : 0);  // a space between some words
        }
}

// Windows, bars, buttons and text on a flat desktop, with one gradient.
Picture screenshotLike() {
    Picture p{"screenshot-like", kWidth, kHeight, Bytes(kWidth * kHeight * 3)};
    std::mt19937 random(5);
    fill(p, 0, 0, kWidth, kHeight, {40, 90, 140});
    for (std::size_t y = 0; y < 300; ++y) fill(p, 0, y, kWidth, 1, {40, static_cast<std::uint8_t>(90 + y / 4), 140});
    const std::size_t windows[][4] = {{100, 80, 900, 700}, {700, 400, 1100, 800}, {1300, 100, 560, 500}};
    for (const auto& w : windows) {
        fill(p, w[0], w[1], w[2], w[3], {246, 245, 244});
        fill(p, w[0], w[1], w[2], 36, {222, 221, 218});
        for (std::size_t b = 0; b < 5; ++b) fill(p, w[0] + 20 + b * 110, w[1] + 50, 100, 30, {200, 210, 230});
        text(p, w[0] + 20, w[1] + 100, w[0] + w[2] - 20, w[1] + w[3] - 20, 22, random);
    }
    fill(p, 0, kHeight - 40, kWidth, 40, {30, 30, 34});
    return p;
}

Picture textLike() {
    Picture p{"text-like", kWidth, kHeight, Bytes(kWidth * kHeight * 3, 255)};
    std::mt19937 random(7);
    text(p, 80, 60, kWidth - 80, kHeight - 60, 26, random);
    return p;
}

bool readPng(const char* path, Picture& p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return false;
    image.format = PNG_FORMAT_RGB;
    p = {path, image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
    return png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr) != 0;
}

// libpng with its defaults (zlib level 6, the filter heuristic), as the toolkit's PNG handler writes.
std::size_t encodeWithLibpng(const Picture& p) {
    std::vector<char> out;
    png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(writer);
    if (setjmp(png_jmpbuf(writer))) std::abort();
    png_set_write_fn(
        writer, &out,
        [](png_structp w, png_bytep data, png_size_t n) {
            auto* o = static_cast<std::vector<char>*>(png_get_io_ptr(w));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(writer, info, static_cast<png_uint_32>(p.width), static_cast<png_uint_32>(p.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, info);
    for (std::size_t y = 0; y < p.height; ++y) png_write_row(writer, &p.rgb[y * p.width * 3]);
    png_write_end(writer, info);
    png_destroy_write_struct(&writer, &info);
    return out.size();
}

std::size_t encodeWithWriter(const Picture& p, PngSettings settings, int threads) {
    std::vector<char> out;
    settings.threads = threads;
    if (!encodePngWith(p.rgb.data(), p.width, p.height, {}, out, {}, settings).empty()) std::abort();
    return out.size();
}

// Median milliseconds of runs encodes, and the size of the output.
std::pair<double, std::size_t> measure(int runs, const std::function<std::size_t()>& encode) {
    std::vector<double> times;
    std::size_t size = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        size = encode();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], size};
}

void row(const Picture& p, int runs, const std::string& name, const PngSettings& settings, double zlibTime,
         std::size_t zlibSize) {
    const auto [time1, size] = measure(runs, [&] { return encodeWithWriter(p, settings, 1); });
    const auto [time2, size2] = measure(runs, [&] { return encodeWithWriter(p, settings, 2); });
    std::printf("%-22s %11.1f  %12.1f  %-9zu  %8.3f  %9.1fx%s\n", name.c_str(), time1, time2, size,
                double(size) / zlibSize, zlibTime / time1, size2 == size ? "" : "  (2 threads: other bytes)");
}

void report(const Picture& p, int runs) {
    const auto [zlibTime, zlibSize] = measure(runs, [&] { return encodeWithLibpng(p); });
    std::printf("\n%s %zux%zu: libpng + zlib level 6: %.1f ms, %zu bytes\n", p.name.c_str(), p.width, p.height,
                zlibTime, zlibSize);
    std::printf("%-22s 1 thread ms  2 threads ms  bytes      size/zlib  speed/zlib\n", "compressor");
    PngSettings settings;
    settings.compressor = PngCompressor::LibdeflateOnly;
    for (settings.level = 1; settings.level <= 12; ++settings.level)
        row(p, runs, "libdeflate " + std::to_string(settings.level), settings, zlibTime, zlibSize);
    settings.compressor = PngCompressor::RunLengthOnly;
    row(p, runs, "zlib run lengths", settings, zlibTime, zlibSize);
    row(p, runs, "written (level " + std::to_string(kPngLevel) + ")", PngSettings(), zlibTime, zlibSize);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<Picture> pictures = {photoLike(), screenshotLike(), textLike()};
    for (int i = 2; i < argc; ++i) {
        Picture p;
        if (!readPng(argv[i], p)) {
            std::fprintf(stderr, "%s: not a readable PNG\n", argv[i]);
            return 1;
        }
        pictures.push_back(std::move(p));
    }
    std::printf("PNG encoding, median of %d runs per figure\n", runs);
    for (const Picture& p : pictures) report(p, runs);
}
