#include "linear.h"

#include "filter.h"
#include "kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace resample {
namespace {

struct LinearLoops {
    void (*widenLight)(const std::uint8_t* bytes, std::size_t count, const double* light, double* out);
    void (*verticalLine)(const double* const* rows, const double* w, long long count, double weightSum,
                         std::size_t lanes, float* out);
    void (*horizontalColumns)(const double* block, long long firstPixel, const WeightTable& table,
                              std::size_t begin, std::size_t end, double* samples);
};

namespace portable {
constexpr int kLanes = 2;
#include "linear_loops.inc"
}  // namespace portable

#if defined(__x86_64__)
#define PIXLOOM_HAVE_X86_LINEAR 1
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
constexpr int kLanes = 4;
#include "linear_loops.inc"
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512bw,avx512vl"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
#endif
namespace avx512 {
constexpr int kLanes = 8;
#include "linear_loops.inc"
}  // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

const LinearLoops& loopsInUse() {
#ifdef PIXLOOM_HAVE_X86_LINEAR
    switch (kernelsInUse()) {
    case KernelSet::avx512:
        return avx512::loops;
    case KernelSet::avx2:
        return avx2::loops;
    case KernelSet::portable:
        break;
    }
#endif
    return portable::loops;
}

// Light of code value c / 255, in units of 1 / 255 of full light so that the
// folds' "31 from the mean" reads as it does on code values.
double lightOf(double c) {
    c /= 255;
    return 255 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

constexpr int kBins = 4096;  // of light, for the way back: each holds at most two rounding steps

struct Tables {
    double light[256];
    double halfway[256];  // the light half a code value above 0 .. 254 (and beyond all light): where rounding goes up
    std::uint8_t below[kBins];  // a code value no higher than that of any light in the bin
    Tables() {
        for (int k = 0; k < 256; ++k) light[k] = lightOf(k), halfway[k] = lightOf(k + 0.5);
        halfway[255] = HUGE_VAL;
        for (int bin = 0, k = 0; bin < kBins; ++bin) {
            const double edge = bin * (255.0 / kBins);
            while (halfway[k] <= edge) ++k;
            below[bin] = static_cast<std::uint8_t>(std::max(0, k - 1));  // one lower: the bin's index is rounded
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// The code value of light v (in 1 / 255 of full light): the transfer
// function's inverse rounded to the nearest code value, halves up.
std::uint8_t codeOfLight(double v) {
    static const Tables& t = tables();
    if (!(v >= t.halfway[0])) return 0;  // NaN too
    if (v >= t.halfway[254]) return 255;
    int k = t.below[std::min(kBins - 1, static_cast<int>(v * (kBins / 255.0)))];
    while (v >= t.halfway[k]) ++k;
    return static_cast<std::uint8_t>(k);
}

// Light rows of one strip, as in the byte passes: slot j mod slots holds
// source row j, so the taps of one line never evict each other.
class LightRows {
public:
    LightRows(long long slots, std::size_t lanes, long long rowCount)
        : loops(loopsInUse()),
          rowCount(rowCount),
          lanes(lanes),
          samples(static_cast<std::size_t>(slots) * lanes),
          held(static_cast<std::size_t>(slots)),
          rows(static_cast<std::size_t>(slots)) {}

    // Room for a line's row pointers.
    const double** rowPointers() { return rows.data(); }

    void startStrip(std::size_t byteOffset, std::size_t length) {
        offset = byteOffset;
        used = length;
        std::fill(held.begin(), held.end(), -1);
    }

    void lookUp(const std::uint8_t* source, std::size_t rowBytes, long long first, long long count,
                const double** rows) {
        const double* light = tables().light;
        const std::size_t slots = held.size();
        for (long long j = first; j < first + count; ++j) {
            std::size_t slot = static_cast<std::size_t>(j) % slots;
            double* cached = samples.data() + slot * lanes;
            if (held[slot] != j) {
                const std::uint8_t* bytes = source + static_cast<std::size_t>(j) * rowBytes + offset;
                loops.widenLight(bytes, used, light, cached);
                held[slot] = j;
                // Rows of a strip lie a row apart, too far for the processor
                // to guess: the one needed a few rows on is asked for early.
                if (j + kPrefetchRows < rowCount) prefetch(bytes + kPrefetchRows * rowBytes, used);
            }
            *rows++ = cached;
        }
    }

private:
    static void prefetch(const std::uint8_t* p, std::size_t length) {
        for (std::size_t b = 0; b < length; b += 64) __builtin_prefetch(p + b, 0);
        __builtin_prefetch(p + length - 1, 0);
    }

    static constexpr long long kPrefetchRows = 8;
    const LinearLoops& loops;
    long long rowCount;
    std::size_t lanes, offset = 0, used = 0;
    std::vector<double> samples;
    std::vector<long long> held;
    std::vector<const double*> rows;
};

long long mostTaps(const WeightTable& table) {
    long long most = 1;
    for (const TapSpan& span : table.spans) most = std::max(most, span.count);
    return most;
}

// Strips narrow enough that a line's rows stay in the first-level cache.
std::size_t stripLanes(long long taps) {
    return std::max<std::size_t>(64, std::min<std::size_t>(512, 3072 / static_cast<std::size_t>(taps) / 16 * 16));
}

// The vertical pass into light rows of floats: rows [begin, end) of the
// target, strip by strip, row y at band + (y - begin) * 3 * width.
void verticalRows(const LinearJob& job, const WeightTable& table, LightRows& cache, std::size_t lanes,
                  long long begin, long long end, float* band) {
    const LinearLoops& loops = loopsInUse();
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(job.width);
    const double** rows = cache.rowPointers();
    for (std::size_t offset = 0; offset < rowBytes; offset += lanes) {
        const std::size_t length = std::min(lanes, rowBytes - offset);
        cache.startStrip(offset, length);
        for (long long y = begin; y < end; ++y) {
            const TapSpan& span = table.spans[static_cast<std::size_t>(y)];
            float* out = band + static_cast<std::size_t>(y - begin) * rowBytes + offset;
            if (span.weightSum == 0) {
                std::fill(out, out + length, 0.0f);  // no tap contributed
                continue;
            }
            cache.lookUp(job.source, rowBytes, span.first, span.count, rows);
            loops.verticalLine(rows, table.weights.data() + span.weightOffset, span.count, span.weightSum,
                               length, out);
        }
    }
}

// Folds of a triple-width row of light (3 x 3 x pixels samples) to pixels,
// by the rules of the byte folds with exact division: red from around the
// left stripe, green the middle, blue the right; beyond the row's ends the
// end sample again.
void foldLight(int lcdType, const double* wide, long long pixels, double* out) {
    const long long last = 3 * pixels - 1;
    auto R = [&](long long s) { return wide[3 * std::max(s, 0LL)]; };
    auto G = [&](long long s) { return wide[3 * s + 1]; };
    auto B = [&](long long s) { return wide[3 * std::min(s, last) + 2]; };
    auto sharpUnlessFar = [](double sharp, double box) { return std::fabs(sharp - box) <= 31 ? sharp : box; };
    const bool adaptive = lcdType % 3 == 2, weighted = lcdType % 3 == 0;
    for (long long n = 0, c = 0; n < pixels; ++n, c += 3) {
        const bool first = n == 0, final = n == pixels - 1;
        double r = (R(c - 1) + R(c) + R(c + 1)) / 3, g = (G(c) + G(c + 1) + G(c + 2)) / 3;
        double b = (B(c + 1) + B(c + 2) + B(c + 3)) / 3;
        if (adaptive && (first || final)) {
            r = (R(c) + R(c + 1) + R(c + 2)) / 3, b = (B(c) + B(c + 1) + B(c + 2)) / 3;
        } else if (adaptive) {
            r = sharpUnlessFar((2 * R(c) + R(c + 1)) / 3, r), b = sharpUnlessFar((B(c + 1) + 2 * B(c + 2)) / 3, b);
        } else if (weighted && !first) {
            r = (2 * R(c) + R(c + 1)) / 3, b = (B(c + 1) + 2 * B(c + 2)) / 3;
            if (!final) g = (G(c) + 4 * G(c + 1) + G(c + 2)) / 6;
        }
        out[3 * n] = r, out[3 * n + 1] = g, out[3 * n + 2] = b;
    }
}

// Pixels lo .. hi - 1 of up to eight light rows (the rest 0), as doubles with
// one source column's samples together: sample b of row k at block[b * 8 + k].
void transposeLight(const float* rows, std::size_t rowSamples, int rowCount, long long lo, long long hi,
                    double* block) {
    const std::size_t from = 3 * static_cast<std::size_t>(lo), to = 3 * static_cast<std::size_t>(hi);
    const float* row[kBlockRows];
    for (int k = 0; k < kBlockRows; ++k) row[k] = rows + std::min(k, rowCount - 1) * rowSamples;
    for (std::size_t b = from; b < to; ++b, block += kBlockRows)
        for (int k = 0; k < kBlockRows; ++k) block[k] = k < rowCount ? row[k][b] : 0.0;
}

// Source pixels lo .. hi - 1 hold every tap of output columns [begin, end).
void pixelsReached(const WeightTable& table, std::size_t begin, std::size_t end, long long& lo, long long& hi) {
    lo = LLONG_MAX, hi = 0;
    for (std::size_t x = begin; x < end; ++x) {
        const TapSpan& span = table.spans[x];
        if (span.count == 0) continue;
        lo = std::min(lo, span.first);
        hi = std::max(hi, span.first + span.count);
    }
    if (lo > hi) lo = hi = 0;
}

// Output columns per tile: those whose taps lie in about 96 source pixels,
// so that a tile's block stays in the first-level cache.
std::size_t tileColumns(std::size_t columns, long long sourceWidth) {
    const double fit = 96.0 * static_cast<double>(columns) / static_cast<double>(std::max(1LL, sourceWidth));
    return std::min<std::size_t>(256, std::max<std::size_t>(8, static_cast<std::size_t>(fit)));
}

struct HorizontalScratch {
    std::size_t tile;
    std::vector<double> block, samples, wide, folded;
    HorizontalScratch(const WeightTable& table, std::size_t tile, std::size_t targetWidth) : tile(tile) {
        long long widest = 1;
        for (std::size_t x = 0; x < table.spans.size(); x += tile) {
            long long lo, hi;
            pixelsReached(table, x, std::min(table.spans.size(), x + tile), lo, hi);
            widest = std::max(widest, hi - lo);
        }
        block.resize(static_cast<std::size_t>(widest) * kBlockColumn);
        samples.resize(tile * kBlockColumn);
        wide.resize(kBlockRows * 3 * table.spans.size());
        folded.resize(3 * targetWidth);
    }
};

// Rows first .. first + 7 of the target from their light rows, tile by tile
// of columns into s.wide, then folded and brought back to code values.
void horizontalBlock(const LinearJob& job, const WeightTable& table, const float* rows, long long first,
                     HorizontalScratch& s, std::uint8_t* result) {
    const int rowCount = static_cast<int>(std::min<long long>(kBlockRows, job.targetHeight - first));
    const std::size_t columns = table.spans.size(), wideRow = 3 * columns;
    const std::size_t rowSamples = 3 * static_cast<std::size_t>(job.width);
    const LinearLoops& loops = loopsInUse();
    for (std::size_t x = 0; x < columns; x += s.tile) {
        const std::size_t end = std::min(columns, x + s.tile);
        long long lo, hi;
        pixelsReached(table, x, end, lo, hi);
        transposeLight(rows, rowSamples, rowCount, lo, hi, s.block.data());
        loops.horizontalColumns(s.block.data(), lo, table, x, end, s.samples.data());
        for (int k = 0; k < rowCount; ++k)
            for (std::size_t i = x; i < end; ++i)
                for (int c = 0; c < 3; ++c)
                    s.wide[k * wideRow + 3 * i + c] = s.samples[(i - x) * kBlockColumn + c * kBlockRows + k];
    }
    const std::size_t targetRow = 3 * static_cast<std::size_t>(job.targetWidth);
    for (int k = 0; k < rowCount; ++k) {
        const double* row = s.wide.data() + k * wideRow;
        if (job.lcdType > 0) foldLight(job.lcdType, row, job.targetWidth, s.folded.data()), row = s.folded.data();
        std::uint8_t* out = result + (static_cast<std::size_t>(first) + k) * targetRow;
        for (std::size_t i = 0; i < targetRow; ++i) out[i] = codeOfLight(row[i]);
    }
}

constexpr long long kBandRows = 4 * kBlockRows;  // target rows made by one pass, then the other, in the cache

struct PassTables {
    WeightTable vertical, horizontal;
};

// Bands of target rows, one thread each at a time: the vertical pass into
// the thread's light rows, then the horizontal pass, the fold and the way
// back from them, so that no picture of light is ever kept whole.
bool bands(const LinearJob& job, const PassTables& tables, std::uint8_t* result, const CancelToken& cancel) {
    const std::size_t rowSamples = 3 * static_cast<std::size_t>(job.width);
    const long long count = (job.targetHeight + kBandRows - 1) / kBandRows;
    std::atomic<bool> failed{false};
    parallelPieces(count, 1, job.threads, [&](PieceQueue& queue) {
        try {
            const long long slots = mostTaps(tables.vertical);
            const std::size_t lanes = stripLanes(slots);
            LightRows cache(slots, lanes, job.height);
            std::vector<float> band(static_cast<std::size_t>(kBandRows) * rowSamples);
            HorizontalScratch scratch(tables.horizontal, tileColumns(tables.horizontal.spans.size(), job.width),
                                      static_cast<std::size_t>(job.targetWidth));
            for (long long b, end; !failed && queue.take(b, end);) {
                if (cancel.requested()) {
                    failed = true;
                    break;
                }
                const long long begin = b * kBandRows, last = std::min(job.targetHeight, begin + kBandRows);
                verticalRows(job, tables.vertical, cache, lanes, begin, last, band.data());
                for (long long first = begin; first < last; first += kBlockRows)
                    horizontalBlock(job, tables.horizontal, band.data() + static_cast<std::size_t>(first - begin) * rowSamples,
                                    first, scratch, result);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel.requested();
}

bool buildTables(const LinearJob& job, PassTables& tables) {
    const int widening = job.lcdType >= 1 && job.lcdType <= 3 ? 3 : 1;
    const long long columns = job.lcdType > 0 ? 3 * job.targetWidth : job.targetWidth;
    return buildVerticalWeights(verticalGeometry(job.height, job.targetHeight, job.softness), tables.vertical) &&
           buildHorizontalWeights(horizontalGeometry(job.width, columns, widening, job.softness), tables.horizontal);
}

bool sampleCount(long long width, long long height, std::size_t& count) {
    std::size_t pixels;
    return width >= 0 && height >= 0 &&
           !__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height), &pixels) &&
           !__builtin_mul_overflow(pixels, std::size_t{3}, &count);
}

}  // namespace

std::uint8_t* resizeLinear(const LinearJob& job, const CancelToken& cancel) {
    std::size_t resultBytes;
    if (!sampleCount(job.targetWidth, job.targetHeight, resultBytes)) return nullptr;
    auto* result = static_cast<std::uint8_t*>(std::malloc(resultBytes));
    PassTables tables;
    if (result && buildTables(job, tables) && bands(job, tables, result, cancel)) return result;
    std::free(result);
    return nullptr;
}

}  // namespace resample
