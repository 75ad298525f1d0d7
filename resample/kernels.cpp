// SPDX-License-Identifier: MIT
// Each instruction set gets the loops of kernels.inc, with the few
// primitives the compiler does not turn into good code by itself written
// for it: widen() (bytes to doubles), nearest() (to the nearest integer,
// ties to even; within one of it beyond 2^51), allBelow(d, limit) (every
// lane has |d| < limit, false for NaN) and storeBytes() (values clamped to
// [0, 255], stored as bytes; integral ones within that range). No multiply-add is fused anywhere (-ffp-contract=off).
#include "kernels.h"
#include "target_sections.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace resample {
namespace {

namespace portable {
constexpr int kLanes = 2;  // the width every x86-64 has, and no wider than another processor's

void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    for (std::size_t i = 0; i < count; ++i) out[i] = bytes[i];
}

// Adding and taking away 1.5 * 2^52 leaves no fraction bits: exact rounding
// to nearest, ties to even, for |v| < 2^51.
template <class Vec>
Vec nearest(Vec v) {
    constexpr double kNoFraction = 0x1.8p52;
    return (v + kNoFraction) - kNoFraction;
}

template <class Vec>
bool allBelow(Vec d, double limit) {
    for (int i = 0; i < kLanes; ++i)
        if (!(std::fabs(d[i]) < limit)) return false;
    return true;
}

template <class Vec>
void storeBytes(std::uint8_t* out, Vec v) {
    for (int i = 0; i < kLanes; ++i) out[i] = static_cast<std::uint8_t>(std::min(255.0, std::max(0.0, v[i])));
}

#include "kernels.inc"
}  // namespace portable

#if defined(__x86_64__)
#define PIXLOOM_HAVE_X86_KERNELS 1
PIXLOOM_TARGET_BEGIN(PIXLOOM_AVX2)
namespace avx2 {
constexpr int kLanes = 4;

void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        for (int k = 0; k < 4; ++k, b = _mm_srli_si128(b, 4))
            _mm256_storeu_pd(out + i + 4 * k, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(b)));
    }
    for (; i < count; ++i) out[i] = bytes[i];
}

template <class Vec>
Vec nearest(Vec v) {
    return reinterpret_cast<Vec>(
        _mm256_round_pd(reinterpret_cast<__m256d>(v), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

inline __m256d absolute(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

template <class Vec>
bool allBelow(Vec d, double limit) {
    __m256d below = _mm256_cmp_pd(absolute(reinterpret_cast<__m256d>(d)), _mm256_set1_pd(limit), _CMP_LT_OQ);
    return _mm256_movemask_pd(below) == 0xf;
}

template <class Vec>
void storeBytes(std::uint8_t* out, Vec v) {
    __m256d clamped =
        _mm256_min_pd(_mm256_max_pd(reinterpret_cast<__m256d>(v), _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    __m128i ints = _mm256_cvttpd_epi32(clamped);
    __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(ints, ints), ints);
    std::uint32_t packed = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
    std::memcpy(out, &packed, sizeof packed);
}

#include "kernels.inc"
}  // namespace avx2
PIXLOOM_TARGET_END

PIXLOOM_TARGET_BEGIN(PIXLOOM_AVX512)
namespace avx512 {
constexpr int kLanes = 8;

void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i ints = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i)));
        _mm512_storeu_pd(out + i, _mm512_maskz_cvtepi32_pd(0xff, ints));
    }
    for (; i < count; ++i) out[i] = bytes[i];
}

// The masked forms with every lane set: the plain ones start from an
// undefined register, which the compiler warns about.
template <class Vec>
Vec nearest(Vec v) {
    return reinterpret_cast<Vec>(
        _mm512_maskz_roundscale_pd(0xff, reinterpret_cast<__m512d>(v), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

inline __m512d absolute(__m512d v) { return _mm512_andnot_pd(_mm512_set1_pd(-0.0), v); }

template <class Vec>
bool allBelow(Vec d, double limit) {
    return _mm512_cmp_pd_mask(absolute(reinterpret_cast<__m512d>(d)), _mm512_set1_pd(limit), _CMP_LT_OQ) == 0xff;
}

template <class Vec>
void storeBytes(std::uint8_t* out, Vec v) {
    __m512d positive = _mm512_maskz_max_pd(0xff, reinterpret_cast<__m512d>(v), _mm512_setzero_pd());
    __m256i ints = _mm512_maskz_cvttpd_epi32(0xff, positive);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_maskz_cvtusepi32_epi8(0xff, ints));  // saturates at 255
}

#include "kernels.inc"
}  // namespace avx512
PIXLOOM_TARGET_END
#endif

// Portable transposition of a block of rows.
void transposeBlockGeneric(const std::uint8_t* rows, std::size_t rowStride, std::size_t bytes, int rowCount,
                           double* block) {
    if (rowCount < kBlockRows) std::fill(block, block + bytes * kBlockRows, 0.0);
    for (int k = 0; k < rowCount; ++k) {
        const std::uint8_t* row = rows + k * rowStride;
        for (std::size_t b = 0; b < bytes; ++b) block[b * kBlockRows + k] = row[b];
    }
}

#ifdef PIXLOOM_HAVE_X86_KERNELS
// An 8 x 8 byte transpose by unpacking: eight bytes of each of r[0 .. 7] in,
// column pairs out (bytes 0-7 of pairs[i] are column 2i, 8-15 column 2i + 1).
inline void transpose8x8(const __m128i r[8], __m128i pairs[4]) {
    __m128i rows01 = _mm_unpacklo_epi8(r[0], r[1]), rows23 = _mm_unpacklo_epi8(r[2], r[3]);
    __m128i rows45 = _mm_unpacklo_epi8(r[4], r[5]), rows67 = _mm_unpacklo_epi8(r[6], r[7]);
    __m128i low03 = _mm_unpacklo_epi16(rows01, rows23), high03 = _mm_unpackhi_epi16(rows01, rows23);
    __m128i low47 = _mm_unpacklo_epi16(rows45, rows67), high47 = _mm_unpackhi_epi16(rows45, rows67);
    pairs[0] = _mm_unpacklo_epi32(low03, low47), pairs[1] = _mm_unpackhi_epi32(low03, low47);
    pairs[2] = _mm_unpacklo_epi32(high03, high47), pairs[3] = _mm_unpackhi_epi32(high03, high47);
}

// Eight full rows, eight bytes at a time, each column of eight widened to
// doubles.
__attribute__((target("avx2"))) void transposeBlockAvx2(const std::uint8_t* rows, std::size_t rowStride,
                                                        std::size_t bytes, double* block) {
    std::size_t b = 0;
    for (; b + 8 <= bytes; b += 8) {
        __m128i r[8], pairs[4];
        for (int k = 0; k < 8; ++k) r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows + k * rowStride + b));
        transpose8x8(r, pairs);
        double* out = block + b * kBlockRows;
        for (__m128i pair : pairs) {  // two columns of eight rows each
            for (int quarter = 0; quarter < 4; ++quarter, pair = _mm_srli_si128(pair, 4), out += 4)
                _mm256_storeu_pd(out, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(pair)));
        }
    }
    for (; b < bytes; ++b)
        for (int k = 0; k < kBlockRows; ++k) block[b * kBlockRows + k] = rows[k * rowStride + b];
}

// Eight full rows: the same transpose the other way, eight bytes of each row
// at a time.
void untransposeTileSse2(const std::uint8_t* samples, std::size_t bytes, std::uint8_t* out, std::size_t rowStride) {
    std::size_t b = 0;
    for (; b + 8 <= bytes; b += 8) {
        __m128i r[8], pairs[4];
        for (int k = 0; k < 8; ++k)
            r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + (b + k) * kBlockRows));
        transpose8x8(r, pairs);
        for (int i = 0; i < 4; ++i) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i * rowStride + b), pairs[i]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * i + 1) * rowStride + b),
                             _mm_unpackhi_epi64(pairs[i], pairs[i]));
        }
    }
    for (; b < bytes; ++b)
        for (int k = 0; k < kBlockRows; ++k) out[k * rowStride + b] = samples[b * kBlockRows + k];
}
#endif

#ifdef PIXLOOM_HAVE_X86_KERNELS
// The folds ten pixels at a time: their 30 output bytes each take three
// bytes three apart from a window of 96 (byte 9k + 4c - 3 + {0, 3, 6} of the
// window for channel c of pixel k), picked by byte permutes, weighted and
// summed in 16 bits and divided as (sum * m) >> 16: m = 21846 is / 3 for
// every sum up to 32767, m = 10923 is / 6 up to 1530 (six bytes at most).
#define PIXLOOM_AVX512_VBMI __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

// Per output byte: its three taps' weights and the divisor's multiplier.
struct FoldLanes {
    alignas(64) std::uint16_t weight[3][32];
    alignas(64) std::uint16_t divide[32];
    // weights[c][t] and multiplier[c] for channel c.
    FoldLanes(const int (&weights)[3][3], const int (&multiplier)[3]) : weight(), divide() {
        for (int j = 0; j < 30; ++j) {
            for (int t = 0; t < 3; ++t) weight[t][j] = static_cast<std::uint16_t>(weights[j % 3][t]);
            divide[j] = static_cast<std::uint16_t>(multiplier[j % 3]);
        }
    }
};

struct FoldTaps {
    alignas(64) std::uint8_t index[3][64];
    FoldTaps() : index() {
        for (int t = 0; t < 3; ++t)
            for (int j = 0; j < 30; ++j) index[t][j] = static_cast<std::uint8_t>(9 * (j / 3) + 4 * (j % 3) + 3 * t);
    }
};

const FoldLanes& boxLanes() {
    static const FoldLanes lanes({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {21846, 21846, 21846});
    return lanes;
}

// Red (2 R(c) + R(c + 1)) / 3, green (G(c) + 4 G(c + 1) + G(c + 2)) / 6,
// blue (B(c + 1) + 2 B(c + 2)) / 3.
const FoldLanes& weightedLanes() {
    static const FoldLanes lanes({{0, 2, 1}, {1, 4, 1}, {1, 2, 0}}, {21846, 10923, 21846});
    return lanes;
}

// The three taps of ten pixels' 30 output bytes, as 16-bit lanes.
struct TenPixels {
    __m512i tap[3];
};

PIXLOOM_AVX512_VBMI TenPixels loadTenPixels(const std::uint8_t* row, std::size_t rowBytes, long long n) {
    static const FoldTaps taps;
    std::size_t start = static_cast<std::size_t>(9 * n - 3), left = rowBytes - start;
    __mmask64 lowMask = left >= 64 ? ~0ULL : (1ULL << left) - 1;
    __mmask64 highMask = left >= 128 ? ~0ULL : left <= 64 ? 0 : (1ULL << (left - 64)) - 1;
    __m512i low = _mm512_maskz_loadu_epi8(lowMask, row + start);
    __m512i high = _mm512_maskz_loadu_epi8(highMask, row + start + 64);
    TenPixels pixels;
    for (int t = 0; t < 3; ++t) {
        __m512i picked = _mm512_permutex2var_epi8(low, _mm512_load_si512(taps.index[t]), high);
        pixels.tap[t] = _mm512_maskz_cvtepu8_epi16(~0U, _mm512_maskz_extracti64x4_epi64(0xff, picked, 0));
    }
    return pixels;
}

PIXLOOM_AVX512_VBMI __m512i foldedLanes(const TenPixels& pixels, const FoldLanes& lanes) {
    __m512i sum = _mm512_setzero_si512();
    for (int t = 0; t < 3; ++t)
        sum = _mm512_add_epi16(sum, _mm512_mullo_epi16(pixels.tap[t], _mm512_load_si512(lanes.weight[t])));
    return _mm512_mulhi_epu16(sum, _mm512_load_si512(lanes.divide));
}

PIXLOOM_AVX512_VBMI void storeThirtyBytes(__m512i words, std::uint8_t* out) {
    _mm256_mask_storeu_epi8(out, 0x3fffffff, _mm512_maskz_cvtepi16_epi8(~0U, words));
}

PIXLOOM_AVX512_VBMI long long foldVbmi(FoldRule rule, const std::uint8_t* row, std::size_t rowBytes, std::uint8_t* out,
                                       long long first, long long last) {
    long long n = first;
    for (; n + 10 <= last; n += 10) {
        TenPixels pixels = loadTenPixels(row, rowBytes, n);
        __m512i box = foldedLanes(pixels, boxLanes());
        if (rule == FoldRule::box) {
            storeThirtyBytes(box, out + 3 * n);
            continue;
        }
        __m512i sharp = foldedLanes(pixels, weightedLanes());
        if (rule == FoldRule::adaptive) {
            // Red and blue: the sharp value unless it strays more than 31
            // from the box mean; green: the box mean.
            constexpr __mmask32 kRedAndBlue = 0x6db6db6d;  // lanes j with j % 3 != 1
            __m512i far = _mm512_abs_epi16(_mm512_sub_epi16(sharp, box));
            __mmask32 keepSharp = _mm512_cmple_epu16_mask(far, _mm512_set1_epi16(31)) & kRedAndBlue;
            sharp = _mm512_mask_blend_epi16(keepSharp, box, sharp);
        }
        storeThirtyBytes(sharp, out + 3 * n);
    }
    return n;
}
#endif

void untransposeTileGeneric(const std::uint8_t* samples, std::size_t bytes, int rowCount, std::uint8_t* out,
                            std::size_t rowStride) {
    for (int k = 0; k < rowCount; ++k, out += rowStride)
        for (std::size_t b = 0; b < bytes; ++b) out[b] = samples[b * kBlockRows + k];
}

}  // namespace

void transposeBlock(KernelSet set, const std::uint8_t* rows, std::size_t rowStride, std::size_t bytes, int rowCount,
                    double* block) {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    if (rowCount == kBlockRows && set != KernelSet::portable) return transposeBlockAvx2(rows, rowStride, bytes, block);
#endif
    (void)set;
    transposeBlockGeneric(rows, rowStride, bytes, rowCount, block);
}

void untransposeTile(KernelSet set, const std::uint8_t* samples, std::size_t bytes, int rowCount, std::uint8_t* out,
                     std::size_t rowStride) {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    if (rowCount == kBlockRows && set != KernelSet::portable)
        return untransposeTileSse2(samples, bytes, out, rowStride);
#endif
    (void)set;
    untransposeTileGeneric(samples, bytes, rowCount, out, rowStride);
}

long long foldPixels(FoldRule rule, const std::uint8_t* row, std::size_t rowBytes, std::uint8_t* out, long long first,
                     long long last) {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    static const bool vbmi = __builtin_cpu_supports("avx512vbmi");
    if (vbmi && kernelsInUse() == KernelSet::avx512) return foldVbmi(rule, row, rowBytes, out, first, last);
#endif
    (void)rule, (void)row, (void)rowBytes, (void)out, (void)last;
    return first;
}

KernelSet processorKernels() {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        return KernelSet::avx512;
    if (__builtin_cpu_supports("avx2")) return KernelSet::avx2;
#endif
    return KernelSet::portable;
}

const KernelFunctions& kernelFunctions(KernelSet set) {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    if (set == KernelSet::avx512) return avx512::functions;
    if (set == KernelSet::avx2) return avx2::functions;
#endif
    (void)set;
    return portable::functions;
}

}  // namespace resample
