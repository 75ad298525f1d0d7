#include "linear.h"

#include "filter.h"
#include "kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace resample {
namespace {

struct LinearLoops {
    void (*verticalLine)(const double* const* rows, const double* w, long long count, double weightSum,
                         std::size_t lanes, float* out);
    void (*horizontalColumns)(const double* block, const WeightTable& table, std::size_t begin, std::size_t end,
                              double* samples);
};

namespace portable {
#include "linear_loops.inc"
}  // namespace portable

#if defined(__x86_64__)
#define PIXLOOM_HAVE_X86_LINEAR 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#include "linear_loops.inc"
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
namespace avx512 {
#include "linear_loops.inc"
}  // namespace avx512
#pragma GCC pop_options
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

struct Tables {
    double light[256];
    double halfway[255];  // the light half a code value above 0 .. 254: where rounding goes up
    Tables() {
        for (int k = 0; k < 256; ++k) light[k] = lightOf(k);
        for (int k = 0; k < 255; ++k) halfway[k] = lightOf(k + 0.5);
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// The code value of light v (in 1 / 255 of full light): the transfer
// function's inverse rounded to the nearest code value, halves up.
std::uint8_t codeOfLight(double v) {
    const double* halfway = tables().halfway;
    if (!(v >= halfway[0])) return 0;  // NaN too
    return static_cast<std::uint8_t>(std::upper_bound(halfway, halfway + 255, v) - halfway);
}

// Light rows of one strip, as in the byte passes: slot j mod slots holds
// source row j, so the taps of one line never evict each other.
class LightRows {
public:
    LightRows(long long slots, std::size_t lanes)
        : lanes(lanes), samples(static_cast<std::size_t>(slots) * lanes), held(static_cast<std::size_t>(slots)) {}

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
                for (std::size_t i = 0; i < used; ++i) cached[i] = light[bytes[i]];
                held[slot] = j;
            }
            *rows++ = cached;
        }
    }

private:
    std::size_t lanes, offset = 0, used = 0;
    std::vector<double> samples;
    std::vector<long long> held;
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
// target, strip by strip.
void verticalRows(const LinearJob& job, const WeightTable& table, LightRows& cache, std::size_t lanes,
                  long long begin, long long end, float* light) {
    const LinearLoops& loops = loopsInUse();
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(job.width);
    std::vector<const double*> rows(static_cast<std::size_t>(mostTaps(table)));
    for (std::size_t offset = 0; offset < rowBytes; offset += lanes) {
        const std::size_t length = std::min(lanes, rowBytes - offset);
        cache.startStrip(offset, length);
        for (long long y = begin; y < end; ++y) {
            const TapSpan& span = table.spans[static_cast<std::size_t>(y)];
            float* out = light + static_cast<std::size_t>(y) * rowBytes + offset;
            if (span.weightSum == 0) {
                std::fill(out, out + length, 0.0f);  // no tap contributed
                continue;
            }
            cache.lookUp(job.source, rowBytes, span.first, span.count, rows.data());
            loops.verticalLine(rows.data(), table.weights.data() + span.weightOffset, span.count, span.weightSum,
                               length, out);
        }
    }
}

bool verticalPass(const LinearJob& job, float* light, const std::atomic<bool>& cancel) {
    WeightTable table;
    if (!buildVerticalWeights(verticalGeometry(job.height, job.targetHeight, job.softness), table)) return false;
    std::atomic<bool> failed{false};
    const long long piece = std::max(16LL, job.targetHeight / (8LL * std::max(1, job.threads)));
    parallelPieces(job.targetHeight, piece, job.threads, [&](PieceQueue& queue) {
        try {
            const long long slots = mostTaps(table);
            const std::size_t lanes = stripLanes(slots);
            LightRows cache(slots, lanes);
            for (long long begin, end; !failed && queue.take(begin, end);) {
                if (cancel.load(std::memory_order_relaxed)) failed = true;
                else verticalRows(job, table, cache, lanes, begin, end, light);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel;
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

// Up to eight light rows from first on, as doubles with one source column's
// samples together: sample b of row k at block[b * 8 + k]. Missing rows are 0.
void transposeLight(const float* light, std::size_t rowSamples, long long first, int rowCount, double* block) {
    if (rowCount < kBlockRows) std::fill(block, block + rowSamples * kBlockRows, 0.0);
    for (int k = 0; k < rowCount; ++k) {
        const float* row = light + (static_cast<std::size_t>(first) + k) * rowSamples;
        for (std::size_t b = 0; b < rowSamples; ++b) block[b * kBlockRows + k] = row[b];
    }
}

struct HorizontalScratch {
    std::vector<double> block, samples, wide, folded;
    HorizontalScratch(std::size_t rowSamples, std::size_t columns, std::size_t targetWidth)
        : block(rowSamples * kBlockRows), samples(columns * kBlockColumn), wide(3 * columns),
          folded(3 * targetWidth) {}
};

// Rows first .. first + 7 of the target from the light rows.
void horizontalBlock(const LinearJob& job, const WeightTable& table, const float* light, long long first,
                     HorizontalScratch& s, std::uint8_t* result) {
    const int rowCount = static_cast<int>(std::min<long long>(kBlockRows, job.targetHeight - first));
    const std::size_t columns = table.spans.size(), targetRow = 3 * static_cast<std::size_t>(job.targetWidth);
    transposeLight(light, 3 * static_cast<std::size_t>(job.width), first, rowCount, s.block.data());
    loopsInUse().horizontalColumns(s.block.data(), table, 0, columns, s.samples.data());
    for (int k = 0; k < rowCount; ++k) {
        for (std::size_t x = 0; x < columns; ++x)
            for (int c = 0; c < 3; ++c) s.wide[3 * x + c] = s.samples[x * kBlockColumn + c * kBlockRows + k];
        const double* row = s.wide.data();
        if (job.lcdType > 0) foldLight(job.lcdType, row, job.targetWidth, s.folded.data()), row = s.folded.data();
        std::uint8_t* out = result + (static_cast<std::size_t>(first) + k) * targetRow;
        for (std::size_t i = 0; i < targetRow; ++i) out[i] = codeOfLight(row[i]);
    }
}

bool horizontalPass(const LinearJob& job, const float* light, std::uint8_t* result, const std::atomic<bool>& cancel) {
    const bool folds = job.lcdType > 0;
    const int widening = job.lcdType >= 1 && job.lcdType <= 3 ? 3 : 1;
    const long long columns = folds ? 3 * job.targetWidth : job.targetWidth;
    WeightTable table;
    if (!buildHorizontalWeights(horizontalGeometry(job.width, columns, widening, job.softness), table)) return false;
    std::atomic<bool> failed{false};
    const long long blocks = (job.targetHeight + kBlockRows - 1) / kBlockRows;
    parallelPieces(blocks, 1, job.threads, [&](PieceQueue& queue) {
        try {
            HorizontalScratch scratch(3 * static_cast<std::size_t>(job.width), static_cast<std::size_t>(columns),
                                      static_cast<std::size_t>(job.targetWidth));
            for (long long begin, end; !failed && queue.take(begin, end);) {
                if (cancel.load(std::memory_order_relaxed)) failed = true;
                else horizontalBlock(job, table, light, begin * kBlockRows, scratch, result);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel;
}

bool sampleCount(long long width, long long height, std::size_t& count) {
    std::size_t pixels;
    return width >= 0 && height >= 0 &&
           !__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height), &pixels) &&
           !__builtin_mul_overflow(pixels, std::size_t{3}, &count);
}

}  // namespace

std::uint8_t* resizeLinear(const LinearJob& job, const std::atomic<bool>& cancel) {
    std::size_t lightSamples, resultBytes, lightBytes;
    if (!sampleCount(job.width, job.targetHeight, lightSamples) ||
        !sampleCount(job.targetWidth, job.targetHeight, resultBytes) ||
        __builtin_mul_overflow(lightSamples, sizeof(float), &lightBytes))
        return nullptr;
    auto* light = static_cast<float*>(std::malloc(lightBytes));
    auto* result = static_cast<std::uint8_t*>(std::malloc(resultBytes));
    bool done = light && result && verticalPass(job, light, cancel) && horizontalPass(job, light, result, cancel);
    std::free(light);
    if (done) return result;
    std::free(result);
    return nullptr;
}

}  // namespace resample
