// SPDX-License-Identifier: MIT
#include "linear.h"

#include "filter.h"
#include "kernels.h"
#include "target_sections.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace resample {
namespace {

// Two output lines of a vertical strip, filtered together.
struct LightPair {
    const TapSpan* span[2];
    const float* w[2];
    float* out[2];
};

struct LinearLoops {
    void (*widenLight)(const std::uint8_t* bytes, std::size_t count, const float* light, float* out);
    void (*verticalLine)(const float* const* rows, const float* w, const TapSpan& span, std::size_t lanes, float* out);
    // rows[0 ..] are source rows from `low` on, covering both spans.
    void (*verticalPair)(const float* const* rows, long long low, const LightPair& pair, std::size_t lanes);
    void (*horizontalColumns)(const double* block, long long firstPixel, const WeightTable& table, const double* w,
                              std::size_t begin, std::size_t end, double* samples);
    // The folds of eight triple-width rows of light in the block layout to
    // pixels, in that layout too: wide holds the columns from firstColumn on,
    // pixels from .. to - 1 go to out.
    void (*foldRows)(int lcdType, const double* wide, long long firstColumn, long long pixels, long long from,
                     long long to, double* out);
};

namespace portable {
constexpr int kLanes = 2;
#include "linear_loops.inc"
}  // namespace portable

#if defined(__x86_64__)
#define PIXLOOM_HAVE_X86_LINEAR 1
PIXLOOM_TARGET_BEGIN(PIXLOOM_AVX2)
namespace avx2 {
constexpr int kLanes = 4;
#include "linear_loops.inc"
}  // namespace avx2
PIXLOOM_TARGET_END

PIXLOOM_TARGET_BEGIN(PIXLOOM_AVX512)
namespace avx512 {
constexpr int kLanes = 8;
#include "linear_loops.inc"
}  // namespace avx512
PIXLOOM_TARGET_END
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
    float lightFloat[256];  // what the vertical pass reads
    double halfway[256];    // the light half a code value above 0 .. 254 (and beyond all light): where rounding goes up
    std::uint8_t below[kBins];  // a code value no higher than that of any light in the bin
    Tables() {
        for (int k = 0; k < 256; ++k)
            light[k] = lightOf(k), lightFloat[k] = static_cast<float>(light[k]), halfway[k] = lightOf(k + 0.5);
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

// The float table's bytes, plane b holding byte b of every entry, and the
// order the permuting lookup puts 64 samples in first.
struct LightPlanes {
    alignas(64) std::uint8_t bytes[4][256];
    alignas(64) std::uint8_t order[64];
    LightPlanes() {
        for (int k = 0; k < 256; ++k)
            for (int b = 0; b < 4; ++b)
                bytes[b][k] = static_cast<std::uint8_t>(bitsOf(tables().lightFloat[k]) >> 8 * b);
        // Sample 16 m + 4 l + j goes to byte 16 l + 4 m + j: lane l's j-th float of the m-th vector out.
        for (int l = 0; l < 4; ++l)
            for (int m = 0; m < 4; ++m)
                for (int j = 0; j < 4; ++j) order[16 * l + 4 * m + j] = static_cast<std::uint8_t>(16 * m + 4 * l + j);
    }
    static std::uint32_t bitsOf(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
};

const LightPlanes& lightPlanes() {
    static const LightPlanes p;
    return p;
}

#ifdef PIXLOOM_HAVE_X86_LINEAR
// Bins of light by a double's bits, for the way back eight at a time: the
// exponent and the fraction's first 7 bits pick 1 / 128 of a binade, so the
// bin is exact where one of the value is not, and narrow enough to hold at
// most one halfway point between code values (checked here).
constexpr int kBitShift = 45, kMostBitBins = 2048;

struct BitBins {
    long long first = 0, count = 0;  // the bins from halfway[0]'s to halfway[254]'s
    bool oneHalfwayEach = false;
    std::int32_t codeAt[kMostBitBins];  // the code value of the bin's lowest light
    double nextHalfway[kMostBitBins];   // the halfway point above that: at or past it, one more
    BitBins() {
        const Tables& t = tables();
        first = bitsOf(t.halfway[0]) >> kBitShift;
        count = (bitsOf(t.halfway[254]) >> kBitShift) - first + 1;
        if (count > kMostBitBins) return;
        oneHalfwayEach = true;
        for (int i = 0, k = 0; i < count; ++i) {
            const double start = valueOf((first + i) << kBitShift), end = valueOf((first + i + 1) << kBitShift);
            while (t.halfway[k] <= start) ++k;
            codeAt[i] = k, nextHalfway[i] = t.halfway[k];
            if (k < 255 && t.halfway[k + 1] < end) oneHalfwayEach = false;
        }
    }
    static long long bitsOf(double v) {
        long long bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
    }
    static double valueOf(long long bits) {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
};

const BitBins& bitBins() {
    static const BitBins b;
    return b;
}
#endif

// The code value of light v (in 1 / 255 of full light): the transfer
// function's inverse rounded to the nearest code value, halves up.
std::uint8_t codeOfLight(double v) {
    static const Tables& t = tables();
    if (!(v >= t.halfway[0])) return 0;  // NaN too
    if (v >= t.halfway[254]) return 255;
    int k = t.below[std::min(kBins - 1, static_cast<int>(v * (kBins / 255.0)))];
    k += v >= t.halfway[k];  // a bin holds at most two steps: no branch for them
    k += v >= t.halfway[k];
    while (v >= t.halfway[k]) ++k;
    return static_cast<std::uint8_t>(k);
}

#ifdef PIXLOOM_HAVE_X86_LINEAR
// codeOfLight() on eight values at once, by two gathers from the bit bins;
// false (nothing written) where the bins do not hold one halfway point each.
__attribute__((target("avx2,avx512f,avx512vl"))) bool eightCodesOfLight(const double* light, std::uint8_t* out) {
    const BitBins& b = bitBins();
    if (!b.oneHalfwayEach) return false;
    const Tables& t = tables();
    const __m512d v = _mm512_loadu_pd(light);
    // The masked forms: the plain ones start from an undefined vector, which the compiler warns of.
    const __m512i bits = _mm512_maskz_srli_epi64(0xff, _mm512_castpd_si512(v), kBitShift);
    __m512i bin = _mm512_sub_epi64(bits, _mm512_set1_epi64(b.first));
    bin = _mm512_maskz_max_epi64(0xff, bin, _mm512_setzero_si512());
    bin = _mm512_maskz_min_epi64(0xff, bin, _mm512_set1_epi64(b.count - 1));
    const __m256i index = _mm512_maskz_cvtepi64_epi32(0xff, bin);
    const __m512d next = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xff, index, b.nextHalfway, 8);
    __m256i k = _mm256_i32gather_epi32(b.codeAt, index, 4);
    k = _mm256_mask_add_epi32(k, _mm512_cmp_pd_mask(v, next, _CMP_GE_OQ), k, _mm256_set1_epi32(1));
    const __mmask8 high = _mm512_cmp_pd_mask(v, _mm512_set1_pd(t.halfway[254]), _CMP_GE_OQ);
    const __mmask8 low = _mm512_cmp_pd_mask(v, _mm512_set1_pd(t.halfway[0]), _CMP_NGE_UQ);  // NaN too
    k = _mm256_mask_mov_epi32(k, high, _mm256_set1_epi32(255));
    k = _mm256_mask_mov_epi32(k, low, _mm256_setzero_si256());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_maskz_cvtepi32_epi8(0xff, k));
    return true;
}
#endif

#ifdef PIXLOOM_HAVE_X86_LINEAR
// Bytes to light through the table by gathers, eight at a time.
__attribute__((target("avx2"))) void widenLightGathering(const std::uint8_t* bytes, std::size_t count,
                                                         const float* light, float* out) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i index = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i)));
        _mm256_storeu_ps(out + i, _mm256_mask_i32gather_ps(_mm256_setzero_ps(), light, index,
                                                           _mm256_castsi256_ps(_mm256_set1_epi32(-1)), 4));
    }
    for (; i < count; ++i) out[i] = light[bytes[i]];
}

// The same by byte permutes, which cost less than gathers: each of a
// float's four bytes is looked up in its own 256-byte table, 64 samples at a
// time, and the four byte planes interleaved back into floats. The bytes are
// first reordered so that the interleaving, which works within 16-byte
// lanes, leaves the floats in order.
#define PIXLOOM_VBMI __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))
PIXLOOM_VBMI void widenLightPermuting(const std::uint8_t* bytes, std::size_t count, const float* light, float* out) {
    static const LightPlanes& planes = lightPlanes();
    __m512i table[4][4];
    for (int b = 0; b < 4; ++b)
        for (int q = 0; q < 4; ++q) table[b][q] = _mm512_load_si512(planes.bytes[b] + 64 * q);
    const __m512i order = _mm512_load_si512(planes.order);
    std::size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i index = _mm512_maskz_permutexvar_epi8(~0ULL, order, _mm512_loadu_si512(bytes + i));
        const __mmask64 upper = _mm512_movepi8_mask(index);
        __m512i plane[4];
        for (int b = 0; b < 4; ++b)
            plane[b] = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(table[b][0], index, table[b][1]),
                                              _mm512_permutex2var_epi8(table[b][2], index, table[b][3]));
        const __m512i bytes01[2] = {_mm512_unpacklo_epi8(plane[0], plane[1]), _mm512_unpackhi_epi8(plane[0], plane[1])};
        const __m512i bytes23[2] = {_mm512_unpacklo_epi8(plane[2], plane[3]), _mm512_unpackhi_epi8(plane[2], plane[3])};
        for (int h = 0; h < 2; ++h) {
            _mm512_storeu_si512(out + i + 32 * h, _mm512_unpacklo_epi16(bytes01[h], bytes23[h]));
            _mm512_storeu_si512(out + i + 32 * h + 16, _mm512_unpackhi_epi16(bytes01[h], bytes23[h]));
        }
    }
    for (; i < count; ++i) out[i] = light[bytes[i]];
}
#endif

// Code values of count light values.
void codesOfLight(const double* light, std::size_t count, std::uint8_t* out) {
    std::size_t i = 0;
#ifdef PIXLOOM_HAVE_X86_LINEAR
    if (kernelsInUse() == KernelSet::avx512)
        for (; i + 8 <= count; i += 8)
            if (!eightCodesOfLight(light + i, out + i))
                for (std::size_t j = i; j < i + 8; ++j) out[j] = codeOfLight(light[j]);
#endif
    for (; i < count; ++i) out[i] = codeOfLight(light[i]);
}

// Light rows of one strip, as in the byte passes: slot j mod slots holds
// source row j, so the taps of one line never evict each other.
class LightRows {
public:
    LightRows(long long slots, std::size_t lanes, long long rowCount)
        : widen(loopsInUse().widenLight),
          rowCount(rowCount),
          lanes(lanes),
          samples(static_cast<std::size_t>(slots) * lanes),
          held(static_cast<std::size_t>(slots)),
          rows(static_cast<std::size_t>(slots)) {
#ifdef PIXLOOM_HAVE_X86_LINEAR
        static const bool vbmi = __builtin_cpu_supports("avx512vbmi");
        if (kernelsInUse() != KernelSet::portable) widen = widenLightGathering;
        if (kernelsInUse() == KernelSet::avx512 && vbmi) widen = widenLightPermuting;
#endif
    }

    // Room for a line's row pointers.
    const float** rowPointers() { return rows.data(); }

    void startStrip(std::size_t byteOffset, std::size_t length) {
        offset = byteOffset;
        used = length;
        std::fill(held.begin(), held.end(), -1);
    }

    void lookUp(const std::uint8_t* source, std::size_t rowBytes, long long first, long long count,
                const float** rows) {
        const float* light = tables().lightFloat;
        const std::size_t slots = held.size();
        std::size_t slot = static_cast<std::size_t>(first) % slots;  // one division, not one a row
        for (long long j = first; j < first + count; ++j, slot = slot + 1 == slots ? 0 : slot + 1) {
            float* cached = samples.data() + slot * lanes;
            if (held[slot] != j) {
                const std::uint8_t* bytes = source + static_cast<std::size_t>(j) * rowBytes + offset;
                widen(bytes, used, light, cached);
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
    void (*widen)(const std::uint8_t* bytes, std::size_t count, const float* light, float* out);
    long long rowCount;
    std::size_t lanes, offset = 0, used = 0;
    std::vector<float> samples;
    std::vector<long long> held;
    std::vector<const float*> rows;
};

// The source rows of lines y and y + 1 together, lowest first.
void pairRows(const TapSpan& one, const TapSpan& two, long long& low, long long& count) {
    low = std::min(one.first, two.first);
    count = std::max(one.first + one.count, two.first + two.count) - low;
}

// The most source rows one line, or a pair of consecutive ones, reaches.
long long mostPairRows(const WeightTable& table) {
    long long most = 1;
    for (std::size_t y = 0; y < table.spans.size(); ++y) {
        long long low = table.spans[y].first, count = table.spans[y].count;
        if (y > 0) pairRows(table.spans[y - 1], table.spans[y], low, count);
        most = std::max(most, count);
    }
    return most;
}

// Strips narrow enough that a line's rows stay in the first-level cache.
std::size_t stripLanes(long long taps) {
    return std::max<std::size_t>(128, std::min<std::size_t>(1024, 12288 / static_cast<std::size_t>(taps) / 32 * 32));
}

struct VerticalStrip {
    const LinearJob& job;
    const WeightTable& table;
    const float* weights;  // the table's, each divided by its line's weight sum
    LightRows& cache;
    std::size_t rowBytes, offset, length;
    float* band;  // row `begin` of the band
    long long begin;

    float* out(long long y) const { return band + static_cast<std::size_t>(y - begin) * rowBytes + offset; }

    void line(long long y) const {
        const TapSpan& span = table.spans[static_cast<std::size_t>(y)];
        if (span.weightSum == 0) {
            std::fill(out(y), out(y) + length, 0.0f);  // no tap contributed
            return;
        }
        const float** rows = cache.rowPointers();
        cache.lookUp(job.source, rowBytes, span.first, span.count, rows);
        loopsInUse().verticalLine(rows, weights + span.weightOffset, span, length, out(y));
    }

    // Lines y and y + 1 from one reading of their rows, when both have taps.
    bool pair(long long y) const {
        const TapSpan& one = table.spans[static_cast<std::size_t>(y)];
        const TapSpan& two = table.spans[static_cast<std::size_t>(y) + 1];
        if (one.weightSum == 0 || two.weightSum == 0) return false;
        long long low, count;
        pairRows(one, two, low, count);
        const float** rows = cache.rowPointers();
        cache.lookUp(job.source, rowBytes, low, count, rows);
        const LightPair lines{
            {&one, &two}, {weights + one.weightOffset, weights + two.weightOffset}, {out(y), out(y + 1)}};
        loopsInUse().verticalPair(rows, low, lines, length);
        return true;
    }
};

// The vertical pass into light rows of floats: rows [begin, end) of the
// target, strip by strip, two lines at a time, row y at
// band + (y - begin) * 3 * width.
void verticalRows(const LinearJob& job, const WeightTable& table, const float* weights, LightRows& cache,
                  std::size_t lanes, long long begin, long long end, float* band) {
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(job.width);
    for (std::size_t offset = 0; offset < rowBytes; offset += lanes) {
        const std::size_t length = std::min(lanes, rowBytes - offset);
        cache.startStrip(offset, length);
        const VerticalStrip strip{job, table, weights, cache, rowBytes, offset, length, band, begin};
        for (long long y = begin; y < end;) {
            if (y + 1 < end && strip.pair(y))
                y += 2;
            else
                strip.line(y++);
        }
    }
}

#ifdef PIXLOOM_HAVE_X86_LINEAR
// Samples from .. from + count - 1 (count a multiple of four) of eight rows
// to the block layout below, four samples of four rows at a time.
__attribute__((target("avx2"))) void transposeFourAtATime(const float* const* row, std::size_t from, std::size_t count,
                                                          double* block) {
    for (std::size_t b = from; b < from + count; b += 4, block += 4 * kBlockRows) {
        for (int quad = 0; quad < kBlockRows; quad += 4) {
            __m256d r[4];
            for (int k = 0; k < 4; ++k) r[k] = _mm256_cvtps_pd(_mm_loadu_ps(row[quad + k] + b));
            const __m256d even01 = _mm256_unpacklo_pd(r[0], r[1]), odd01 = _mm256_unpackhi_pd(r[0], r[1]);
            const __m256d even23 = _mm256_unpacklo_pd(r[2], r[3]), odd23 = _mm256_unpackhi_pd(r[2], r[3]);
            _mm256_storeu_pd(block + quad, _mm256_permute2f128_pd(even01, even23, 0x20));
            _mm256_storeu_pd(block + kBlockRows + quad, _mm256_permute2f128_pd(odd01, odd23, 0x20));
            _mm256_storeu_pd(block + 2 * kBlockRows + quad, _mm256_permute2f128_pd(even01, even23, 0x31));
            _mm256_storeu_pd(block + 3 * kBlockRows + quad, _mm256_permute2f128_pd(odd01, odd23, 0x31));
        }
    }
}
#endif

// Pixels lo .. hi - 1 of up to eight light rows (the rest 0), as doubles with
// one source column's samples together: sample b of row k at block[b * 8 + k].
void transposeLight(const float* rows, std::size_t rowSamples, int rowCount, long long lo, long long hi,
                    double* block) {
    std::size_t from = 3 * static_cast<std::size_t>(lo);
    const std::size_t to = 3 * static_cast<std::size_t>(hi);
    const float* row[kBlockRows];
    for (int k = 0; k < kBlockRows; ++k) row[k] = rows + std::min(k, rowCount - 1) * rowSamples;
#ifdef PIXLOOM_HAVE_X86_LINEAR
    if (rowCount == kBlockRows && kernelsInUse() != KernelSet::portable) {
        const std::size_t done = (to - from) / 4 * 4;
        transposeFourAtATime(row, from, done, block);
        from += done, block += done * kBlockRows;
    }
#endif
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
    // wide (the columns a tile makes and those the next pixel still reads) and
    // folded: for folds only, in the block layout too
    std::vector<double> block, samples, wide, folded;
    std::vector<std::uint8_t> codes;
    HorizontalScratch(const WeightTable& table, std::size_t tile, bool folds) : tile(tile) {
        long long widest = 1;
        for (std::size_t x = 0; x < table.spans.size(); x += tile) {
            long long lo, hi;
            pixelsReached(table, x, std::min(table.spans.size(), x + tile), lo, hi);
            widest = std::max(widest, hi - lo);
        }
        block.resize(static_cast<std::size_t>(widest) * kBlockColumn);
        samples.resize(tile * kBlockColumn);
        codes.resize(tile * kBlockColumn);
        if (!folds) return;
        wide.resize(kBlockColumn * (tile + 4));
        folded.resize(kBlockColumn * mostFoldedAtOnce(tile));
    }
    // Pixels folded after one tile: those its columns complete.
    static std::size_t mostFoldedAtOnce(std::size_t tile) { return tile / 3 + 2; }
};

// Code values of light samples in the block layout, out to rows first ..
// first + rowCount - 1 of the result from byte offset `offset` on.
void storeCodes(const double* samples, std::size_t pixels, HorizontalScratch& s, int rowCount, std::uint8_t* result,
                std::size_t rowBytes, long long first, std::size_t offset) {
    codesOfLight(samples, pixels * kBlockColumn, s.codes.data());
    untransposeTile(kernelsInUse(), s.codes.data(), 3 * pixels, rowCount,
                    result + static_cast<std::size_t>(first) * rowBytes + offset, rowBytes);
}

// Rows first .. first + 7 of the target from their light rows, tile by tile
// of columns; with a fold, into s.wide, folded as soon as a tile completes
// a pixel's columns, while they are still in the cache. s.wide keeps the
// columns from 3 * folded - 1 on, at most 4 before the tile's.
void horizontalBlock(const LinearJob& job, const WeightTable& table, const double* weights, const float* rows,
                     long long first, HorizontalScratch& s, std::uint8_t* result) {
    const int rowCount = static_cast<int>(std::min<long long>(kBlockRows, job.targetHeight - first));
    const std::size_t columns = table.spans.size(), pixels = static_cast<std::size_t>(job.targetWidth);
    const std::size_t rowSamples = 3 * static_cast<std::size_t>(job.width), targetRow = 3 * pixels;
    const LinearLoops& loops = loopsInUse();
    for (std::size_t x = 0, folded = 0, held = 0; x < columns; x += s.tile) {
        const std::size_t end = std::min(columns, x + s.tile);
        long long lo, hi;
        pixelsReached(table, x, end, lo, hi);
        transposeLight(rows, rowSamples, rowCount, lo, hi, s.block.data());
        if (job.lcdType == 0) {  // no fold: straight back to code values, in the byte passes' layout
            loops.horizontalColumns(s.block.data(), lo, table, weights, x, end, s.samples.data());
            storeCodes(s.samples.data(), end - x, s, rowCount, result, targetRow, first, 3 * x);
            continue;
        }
        const std::size_t keep = folded > 0 ? 3 * folded - 1 : 0;
        if (keep > held)  // the kept columns to the front
            std::copy(s.wide.begin() + (keep - held) * kBlockColumn, s.wide.begin() + (x - held) * kBlockColumn,
                      s.wide.begin());
        held = keep;
        loops.horizontalColumns(s.block.data(), lo, table, weights, x, end, s.wide.data() + (x - held) * kBlockColumn);
        // Pixel n reads columns up to 3 n + 3.
        const std::size_t ready = end == columns ? pixels : end >= 4 ? (end - 4) / 3 + 1 : 0;
        if (ready <= folded) continue;
        loops.foldRows(job.lcdType, s.wide.data(), static_cast<long long>(held), job.targetWidth,
                       static_cast<long long>(folded), static_cast<long long>(ready), s.folded.data());
        storeCodes(s.folded.data(), ready - folded, s, rowCount, result, targetRow, first, 3 * folded);
        folded = ready;
    }
}

constexpr long long kBandRows = 4 * kBlockRows;  // target rows made by one pass, then the other, in the cache

struct PassTables {
    WeightTable vertical, horizontal;
    // The weights as the passes apply them: each divided by its line's weight sum.
    std::vector<float> verticalWeights;
    std::vector<double> horizontalWeights;
};

template <class Weight>
void normalizedWeights(const WeightTable& table, std::vector<Weight>& out) {
    out.resize(table.weights.size());
    for (const TapSpan& span : table.spans)
        if (span.weightSum != 0)
            for (std::size_t t = span.weightOffset; t < span.weightOffset + static_cast<std::size_t>(span.count); ++t)
                out[t] = static_cast<Weight>(table.weights[t] / span.weightSum);
}

// Bands of target rows, one thread each at a time: the vertical pass into
// the thread's light rows, then the horizontal pass, the fold and the way
// back from them, so that no picture of light is ever kept whole.
bool bands(const LinearJob& job, const PassTables& tables, std::uint8_t* result, const CancelToken& cancel) {
    const std::size_t rowSamples = 3 * static_cast<std::size_t>(job.width);
    const long long count = (job.targetHeight + kBandRows - 1) / kBandRows;
    std::atomic<bool> failed{false};
    parallelPieces(count, 1, job.threads, [&](PieceQueue& queue) {
        try {
            const long long slots = mostPairRows(tables.vertical);
            const std::size_t lanes = stripLanes(slots);
            LightRows cache(slots, lanes, job.height);
            std::vector<float> band(static_cast<std::size_t>(kBandRows) * rowSamples);
            HorizontalScratch scratch(tables.horizontal, tileColumns(tables.horizontal.spans.size(), job.width),
                                      job.lcdType > 0);
            for (long long b, end; !failed && queue.take(b, end);) {
                if (cancel.requested()) {
                    failed = true;
                    break;
                }
                const long long begin = b * kBandRows, last = std::min(job.targetHeight, begin + kBandRows);
                verticalRows(job, tables.vertical, tables.verticalWeights.data(), cache, lanes, begin, last,
                             band.data());
                for (long long first = begin; first < last; first += kBlockRows)
                    horizontalBlock(job, tables.horizontal, tables.horizontalWeights.data(),
                                    band.data() + static_cast<std::size_t>(first - begin) * rowSamples, first, scratch,
                                    result);
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
    if (!buildVerticalWeights(verticalGeometry(job.height, job.targetHeight, job.softness), tables.vertical) ||
        !buildHorizontalWeights(horizontalGeometry(job.width, columns, widening, job.softness), tables.horizontal))
        return false;
    try {
        normalizedWeights(tables.vertical, tables.verticalWeights);
        normalizedWeights(tables.horizontal, tables.horizontalWeights);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
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
