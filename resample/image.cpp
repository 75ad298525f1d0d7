// SPDX-License-Identifier: MIT
#include "image.h"

#include "filter.h"
#include "linear.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::mutex messageMutex;
MessageCallback messageCallback;

void showMessage(const wxString& text) {
    MessageCallback callback;
    {
        std::lock_guard<std::mutex> lock(messageMutex);
        callback = messageCallback;
    }
    if (callback) callback(text);
}

int defaultThreadCount() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

std::atomic<int> passThreads{defaultThreadCount()};

// 3 x width x height in bytes, or false when that does not fit a size_t or
// the sides do not fit the image's int fields.
bool rgbByteCount(long long width, long long height, std::size_t& bytes) {
    return pictureByteCount(width, height, 3, bytes);
}

unsigned char* copyBuffer(const unsigned char* source, int width, int height) {
    std::size_t bytes;
    if (!source || !rgbByteCount(width, height, bytes) || bytes == 0) return nullptr;
    auto* copy = static_cast<unsigned char*>(std::malloc(bytes));
    if (copy) std::memcpy(copy, source, bytes);
    return copy;
}

long long clampToInt(long long value) { return std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)); }

// The toolkit computes image byte counts in int; larger images are refused
// on the paths that go through it.
bool fitsToolkitImage(long long width, long long height) {
    std::size_t bytes;
    return rgbByteCount(width, height, bytes) && bytes <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace

bool pictureByteCount(long long width, long long height, int channels, std::size_t& bytes) {
    if (width < 0 || height < 0 || width > INT_MAX || height > INT_MAX || channels < 0) return false;
    std::size_t pixels;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height), &pixels))
        return false;
    return !__builtin_mul_overflow(pixels, static_cast<std::size_t>(channels), &bytes);
}

void setMessageCallback(MessageCallback callback) {
    std::lock_guard<std::mutex> lock(messageMutex);
    messageCallback = std::move(callback);
}

const double Image::softnessFactors[5] = {1.0, 1.1830127025, 1.366025405, 1.5490381075, 1.73205081};

Image::Image() = default;

Image::Image(unsigned char* buffer, int newWidth, int newHeight) {
    if (!buffer || newWidth < 1 || newHeight < 1) {
        std::free(buffer);
        return;
    }
    pixels = buffer;
    width = newWidth;
    height = newHeight;
}

Image::Image(int width, int height, bool clear) {
    std::size_t bytes;
    if (width < 1 || height < 1 || !rgbByteCount(width, height, bytes)) return;
    pixels = static_cast<unsigned char*>(clear ? std::calloc(bytes, 1) : std::malloc(bytes));
    if (!pixels) return;
    this->width = width;
    this->height = height;
}

Image::Image(const Image& other)
    : pixels(copyBuffer(other.pixels, other.width, other.height)),
      width(other.width),
      height(other.height),
      softnessLevel(other.softnessLevel),
      lcdType(other.lcdType),
      linear(other.linear),
      threads(other.threads) {}

Image::~Image() { std::free(pixels); }

wxImage* Image::createImage() const {
    if (isEmpty() || !fitsToolkitImage(width, height)) return nullptr;
    unsigned char* copy = copyBuffer(pixels, width, height);
    if (!copy) return nullptr;
    return new wxImage(width, height, copy, false);  // the toolkit frees the copy
}

int Image::lcdSetting(int type) {
    if (type != -1) lcdType = type;
    return lcdType;
}

int Image::softnessSetting(int level) {
    if (level != -1) softnessLevel = level;
    return softnessLevel;
}

int Image::linearSetting(int on) {
    if (on != -1) linear = on != 0;
    return linear ? 1 : 0;
}

bool Image::fail(Failure why) {
    lastFailure = why;
    return false;
}

void Image::setThreadCount(int count) { passThreads = std::max(1, count); }

int Image::threadCount() { return passThreads; }

int Image::threadsSetting(int count) {
    if (count != -1) threads = std::max(0, count);
    return threads;
}

double Image::lanczos3(double x) { return resample::lanczos3(x); }

double Image::softnessFactor() const {
    return softnessLevel >= 0 && softnessLevel <= 4 ? softnessFactors[softnessLevel] : 1.0;
}

void Image::install(unsigned char* buffer, int newWidth, int newHeight) {
    std::free(pixels);
    pixels = buffer;
    width = newWidth;
    height = newHeight;
}

// The requested size after percentages, fitting and the lower bound of 1.
// Worked in 64 bits: the same results as int arithmetic wherever that does
// not overflow.
Image::Size Image::targetSize(int requestedWidth, int requestedHeight, bool keepRatio, bool percent) const {
    long long w = requestedWidth, h = requestedHeight;
    const long long W = width, H = height;
    if (percent) {
        w = clampToInt(w * W / 100);
        h = clampToInt(h * H / 100);
    }
    if (keepRatio) {
        if (h * W <= w * H)
            w = clampToInt(h * W / H);
        else
            h = clampToInt(w * H / W);
    }
    return Size{static_cast<int>(std::max<long long>(w, 1)), static_cast<int>(std::max<long long>(h, 1))};
}

namespace {

// The horizontal weights for a pass from width to target columns; LCD types
// 1 to 3 widen the kernel threefold.
bool horizontalTable(int width, long long target, int lcdType, double softness, resample::WeightTable& table) {
    int widening = lcdType >= 1 && lcdType <= 3 ? 3 : 1;
    return resample::buildHorizontalWeights(resample::horizontalGeometry(width, target, widening, softness), table);
}

using FoldRow = void (*)(const unsigned char* row, unsigned char* out, long long pixels);
FoldRow foldFor(int lcdType);

// What the horizontal pass of an LCD reduction needs from the image.
struct HorizontalStep {
    const unsigned char* pixels;
    int width, height, tripleWidth, lcdType;
    double softness;
    int threads;
};

// The horizontal pass to step.tripleWidth columns with every block of rows
// folded at once to a third of that width: the new buffer, or null when
// cancelled or out of memory.
unsigned char* horizontalFolded(const HorizontalStep& step, FoldRow fold, const CancelToken& cancel) {
    long long folded = step.tripleWidth / 3;
    std::size_t bytes;
    if (!rgbByteCount(folded, step.height, bytes)) return nullptr;
    auto* result = static_cast<unsigned char*>(std::malloc(bytes));
    if (!result) return nullptr;
    resample::WeightTable table;
    std::size_t wideRow = 3 * static_cast<std::size_t>(step.tripleWidth), foldedRow = wideRow / 3;
    auto foldRows = [&](const std::uint8_t* rows, long long firstRow, int rowCount) {
        for (int k = 0; k < rowCount; ++k)
            fold(rows + k * wideRow, result + static_cast<std::size_t>(firstRow + k) * foldedRow, folded);
    };
    if (!horizontalTable(step.width, step.tripleWidth, step.lcdType, step.softness, table) ||
        !resample::applyHorizontalThen(step.pixels, step.width, step.height, table, foldRows, cancel, step.threads)) {
        std::free(result);
        return nullptr;
    }
    return result;
}

}  // namespace

namespace {

// Each target pixel takes the source pixel its left or top edge falls in,
// stepping in 16.16 fixed point.
void nearestPixels(const unsigned char* pixels, Image::Size source, Image::Size target, unsigned char* out) {
    const std::uint64_t stepX = (std::uint64_t(source.width) << 16) / std::uint64_t(target.width);
    const std::uint64_t stepY = (std::uint64_t(source.height) << 16) / std::uint64_t(target.height);
    const std::size_t sourceRow = 3 * std::size_t(source.width);
    std::vector<std::size_t> columns(static_cast<std::size_t>(target.width));  // where each one's pixel starts
    std::uint64_t x = 0;
    for (std::size_t& column : columns) column = 3 * std::size_t(x >> 16), x += stepX;
    std::uint64_t y = 0;
    for (int row = 0; row < target.height; ++row, y += stepY) {
        const unsigned char* line = pixels + std::size_t(y >> 16) * sourceRow;
        for (const std::size_t column : columns) {
            out[0] = line[column], out[1] = line[column + 1], out[2] = line[column + 2];
            out += 3;
        }
    }
}

// By whole factors both ways: each target pixel the mean of its block,
// rounded down.
void blockMeans(const unsigned char* pixels, Image::Size source, Image::Size target, unsigned char* out) {
    const std::size_t factorX = std::size_t(source.width / target.width);
    const std::size_t factorY = std::size_t(source.height / target.height);
    const std::uint64_t count = std::uint64_t(factorX) * factorY;
    const std::size_t sourceRow = 3 * std::size_t(source.width);
    for (int row = 0; row < target.height; ++row)
        for (int column = 0; column < target.width; ++column, out += 3) {
            std::uint64_t sums[3] = {0, 0, 0};
            const unsigned char* block = pixels + row * factorY * sourceRow + 3 * column * factorX;
            for (std::size_t y = 0; y < factorY; ++y, block += sourceRow)
                for (std::size_t x = 0; x < 3 * factorX; x += 3)
                    for (int c = 0; c < 3; ++c) sums[c] += block[x + c];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>(sums[c] / count);
        }
}

}  // namespace

// As the toolkit's "normal" scaling did it when it did this for the engine,
// so that outputs stay what they were; now any source memory holds is taken.
bool Image::resizeNearest(int requestedWidth, int requestedHeight, bool keepRatio, bool percent) {
    if (isEmpty()) return fail(Failure::Empty);
    Size target = targetSize(requestedWidth, requestedHeight, keepRatio, percent);
    std::size_t bytes;
    if (target.width <= 0 || target.height <= 0 || !fitsToolkitImage(target.width, target.height) ||
        !rgbByteCount(target.width, target.height, bytes))
        return fail(Failure::TooLarge);
    auto* result = static_cast<unsigned char*>(std::malloc(bytes));
    if (!result) return fail(Failure::OutOfMemory);
    const Size source{width, height};
    if (width % target.width == 0 && height % target.height == 0 && width >= target.width && height >= target.height)
        blockMeans(pixels, source, target, result);
    else
        nearestPixels(pixels, source, target, result);
    install(result, target.width, target.height);
    return true;
}

bool Image::resize(int requestedWidth, int requestedHeight, bool keepRatio, bool percent) {
    if (token.requested()) return fail(Failure::Cancelled);
    if (isEmpty()) return fail(Failure::Empty);
    Size target = targetSize(requestedWidth, requestedHeight, keepRatio, percent);
    int type = std::max(lcdType, 0);
    long long tripleWidth = 3LL * target.width;
    if (type > 0 && tripleWidth > INT_MAX) return fail(Failure::TooLarge);
    if (linear && (type == 0 || foldFor(type))) return resizeLinear(target, type);
    if (!resampleVertical(target.height)) return false;
    if (type == 0) return resampleHorizontal(target.width);
    FoldRow fold = foldFor(type);
    if (!fold) {
        // The triple-width picture is left as it is, unfolded.
        if (!resampleHorizontal(static_cast<int>(tripleWidth))) return false;
        showMessage(wxT("undefined LCD type!"));
        return fail(Failure::InvalidSetting);
    }
    // Each block of triple-width rows is folded as soon as it is made, while
    // it is in the cache; the triple-width picture is never kept whole.
    unsigned char* folded = horizontalFolded(HorizontalStep{pixels, width, height, static_cast<int>(tripleWidth),
                                                            lcdType, softnessFactor(), threadsForPasses()},
                                             fold, token);
    if (!folded) return fail(token.requested() ? Failure::Cancelled : Failure::OutOfMemory);
    install(folded, target.width, height);
    return true;
}

// Both passes and the fold in one step: nothing is rounded until the end.
bool Image::resizeLinear(Size target, int type) {
    std::size_t bytes;
    if (!rgbByteCount(width, target.height, bytes) || !rgbByteCount(target.width, target.height, bytes))
        return fail(Failure::TooLarge);
    resample::LinearJob job{pixels,        width, height,           target.width,
                            target.height, type,  softnessFactor(), threadsForPasses()};
    unsigned char* result = resample::resizeLinear(job, token);
    if (!result) return fail(token.requested() ? Failure::Cancelled : Failure::OutOfMemory);
    install(result, target.width, target.height);
    return true;
}

bool Image::resampleVertical(int newHeight) {
    if (token.requested()) return fail(Failure::Cancelled);
    if (height < 1 || !pixels) {
        // Nothing to reduce: the filter has no taps here.
        if (height < 1) showMessage(wxT("縮小専用です"));
        return fail(Failure::Empty);
    }
    long long target = std::max(newHeight, 1);
    std::size_t bytes;
    if (!rgbByteCount(width, target, bytes)) return fail(Failure::TooLarge);
    // The buffer first: a size no memory can hold is refused before any
    // table is built for it.
    auto* result = static_cast<unsigned char*>(std::malloc(bytes));
    if (!result) return fail(Failure::OutOfMemory);
    resample::WeightTable table;
    auto geometry = resample::verticalGeometry(height, target, softnessFactor());
    if (!resample::buildVerticalWeights(geometry, table)) {
        std::free(result);
        return fail(Failure::OutOfMemory);
    }
    std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    if (!resample::applyVertical(pixels, rowBytes, table, result, token, threadsForPasses())) {
        std::free(result);
        return fail(token.requested() ? Failure::Cancelled : Failure::OutOfMemory);
    }
    install(result, width, static_cast<int>(target));
    return true;
}

bool Image::resampleHorizontal(int newWidth) {
    if (token.requested()) return fail(Failure::Cancelled);
    if (width < 1 || height < 1 || !pixels) return fail(Failure::Empty);
    long long target = std::max(newWidth, 1);
    std::size_t bytes;
    if (!rgbByteCount(target, height, bytes)) return fail(Failure::TooLarge);
    auto* result = static_cast<unsigned char*>(std::malloc(bytes));
    if (!result) return fail(Failure::OutOfMemory);
    resample::WeightTable table;
    if (!horizontalTable(width, target, lcdType, softnessFactor(), table) ||
        !resample::applyHorizontal(pixels, width, height, table, result, token, threadsForPasses())) {
        std::free(result);
        return fail(token.requested() ? Failure::Cancelled : Failure::OutOfMemory);
    }
    install(result, static_cast<int>(target), height);
    return true;
}

// ---------------------------------------------------------------------------
// Sub-pixel folds: every three columns of a triple-width row become one
// pixel, red from around the left column, green the middle, blue the right.

namespace {

using Row = const unsigned char*;
inline int R(Row row, long long s) { return row[3 * s]; }
inline int G(Row row, long long s) { return row[3 * s + 1]; }
inline int B(Row row, long long s) { return row[3 * s + 2]; }

inline void put(unsigned char* out, long long n, int red, int green, int blue) {
    out[3 * n] = static_cast<unsigned char>(red);
    out[3 * n + 1] = static_cast<unsigned char>(green);
    out[3 * n + 2] = static_cast<unsigned char>(blue);
}

// The first pixel of the box and weighted folds. A row of one pixel has no
// column 3; its edge sample is taken twice instead.
void foldFirstPixel(Row row, unsigned char* out, long long pixels) {
    int blue = pixels > 1 ? (B(row, 1) + B(row, 2) + B(row, 3)) / 3 : (B(row, 1) + 2 * B(row, 2)) / 3;
    put(out, 0, (2 * R(row, 0) + R(row, 1)) / 3, (G(row, 0) + G(row, 1) + G(row, 2)) / 3, blue);
}

// Each channel the mean of three samples centred on its own stripe; the
// last pixel's blue takes its edge sample twice.
void foldBoxRow(Row row, unsigned char* out, long long pixels) {
    foldFirstPixel(row, out, pixels);
    if (pixels < 2) return;
    // All but the last pixel have their taps inside the row.
    long long n =
        resample::foldPixels(resample::FoldRule::box, row, 9 * static_cast<std::size_t>(pixels), out, 1, pixels - 1);
    for (; n < pixels; ++n) {
        long long c = 3 * n;
        put(out, n, (R(row, c - 1) + R(row, c) + R(row, c + 1)) / 3, (G(row, c) + G(row, c + 1) + G(row, c + 2)) / 3,
            (B(row, c + 1) + B(row, c + 2) + B(row, c + 3 - (n == pixels - 1))) / 3);
    }
}

// Weights inside the pixel only; the last pixel's green is the plain mean.
void foldWeightedRow(Row row, unsigned char* out, long long pixels) {
    foldFirstPixel(row, out, pixels);
    if (pixels < 2) return;
    auto weighted = [&](long long n, int green) {
        long long c = 3 * n;
        put(out, n, (2 * R(row, c) + R(row, c + 1)) / 3, green, (B(row, c + 1) + 2 * B(row, c + 2)) / 3);
    };
    long long n = resample::foldPixels(resample::FoldRule::weighted, row, 9 * static_cast<std::size_t>(pixels), out, 1,
                                       pixels - 1);
    for (; n < pixels - 1; ++n) {
        long long c = 3 * n;
        weighted(n, (G(row, c) + 4 * G(row, c + 1) + G(row, c + 2)) / 6);
    }
    long long c = 3 * (pixels - 1);
    weighted(pixels - 1, (G(row, c) + G(row, c + 1) + G(row, c + 2)) / 3);
}

// The sharp weighting unless it strays more than 31 from the box mean.
inline int sharpUnlessFar(int sharp, int box) { return std::abs(sharp - box) <= 31 ? sharp : box; }

void foldAdaptiveMean(Row row, unsigned char* out, long long n) {
    long long c = 3 * n;
    put(out, n, (R(row, c) + R(row, c + 1) + R(row, c + 2)) / 3, (G(row, c) + G(row, c + 1) + G(row, c + 2)) / 3,
        (B(row, c) + B(row, c + 1) + B(row, c + 2)) / 3);
}

void foldAdaptiveRow(Row row, unsigned char* out, long long pixels) {
    foldAdaptiveMean(row, out, 0);
    long long n = resample::foldPixels(resample::FoldRule::adaptive, row, 9 * static_cast<std::size_t>(pixels), out, 1,
                                       pixels - 1);
    for (; n < pixels - 1; ++n) {
        long long c = 3 * n;
        int red = sharpUnlessFar((2 * R(row, c) + R(row, c + 1)) / 3, (R(row, c - 1) + R(row, c) + R(row, c + 1)) / 3);
        int blue = sharpUnlessFar((B(row, c + 1) + 2 * B(row, c + 2)) / 3,
                                  (B(row, c + 1) + B(row, c + 2) + B(row, c + 3)) / 3);
        put(out, n, red, (G(row, c) + G(row, c + 1) + G(row, c + 2)) / 3, blue);
    }
    if (pixels > 1) foldAdaptiveMean(row, out, pixels - 1);
}

FoldRow foldFor(int lcdType) {
    switch (lcdType) {
    case 1:
    case 4:
        return foldBoxRow;
    case 2:
    case 5:
        return foldAdaptiveRow;
    case 3:
    case 6:
        return foldWeightedRow;
    default:
        return nullptr;
    }
}

}  // namespace

template <class Fold>
bool Image::foldSubpixel(Fold foldRow) {
    if (token.requested()) return fail(Failure::Cancelled);
    if (isEmpty()) return fail(Failure::Empty);
    if (width % 3 != 0) return fail(Failure::InvalidSetting);
    int folded = width / 3;
    std::size_t bytes;
    if (!rgbByteCount(folded, height, bytes)) return fail(Failure::TooLarge);
    auto* result = static_cast<unsigned char*>(std::malloc(bytes));
    if (!result) return fail(Failure::OutOfMemory);
    std::size_t sourceRow = 3 * static_cast<std::size_t>(width), targetRow = sourceRow / 3;
    resample::parallelFor(height, threadsForPasses(), [&](long long begin, long long end) {
        for (long long r = begin; r < end; ++r) {
            if (r > 0 && token.requested()) return;
            foldRow(pixels + r * sourceRow, result + r * targetRow, folded);
        }
    });
    if (token.requested()) {
        std::free(result);
        return fail(Failure::Cancelled);
    }
    install(result, folded, height);
    return true;
}

bool Image::foldSubpixelBox() { return foldSubpixel(foldBoxRow); }
bool Image::foldSubpixelWeighted() { return foldSubpixel(foldWeightedRow); }
bool Image::foldSubpixelAdaptive() { return foldSubpixel(foldAdaptiveRow); }
