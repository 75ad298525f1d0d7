#include "filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace resample {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kPiSquared = 9.869604401089358;
constexpr double kSupport = 3.0;

std::atomic<bool> portableOnly{false};  // tests take the portable kernels

// The hot loops come in a portable version and an AVX2 version picked at
// run time, so the binary runs on any x86-64. Vector width changes nothing in
// the result: each lane does the same IEEE operations in the same order as
// the scalar code, and no multiply-add is fused.
typedef double Vec4 __attribute__((vector_size(32)));
typedef std::int64_t Mask4 __attribute__((vector_size(32)));
typedef std::int32_t Int4 __attribute__((vector_size(16)));
typedef std::uint8_t Bytes4 __attribute__((vector_size(4)));

inline void loadVec(Vec4& v, const double* p) { std::memcpy(&v, p, sizeof v); }

// Output conversion of one accumulated value: 0 below 0.49999, 255 above
// 254.5, otherwise rounded half away from zero.
inline std::uint8_t toSample(double accumulated, double weightSum) {
    double v = accumulated / weightSum;
    if (!(v >= 0.49999)) return 0;  // NaN too, as in the vector code
    if (v > 254.5) return 255;
    return static_cast<std::uint8_t>(std::round(v));
}

// The same conversion on four lanes. Rounding is trunc plus one when the
// remainder is at least a half, which equals round() on [0, 255].
inline void store4(std::uint8_t* out, const Vec4& accumulated, double weightSum) {
    Vec4 v = accumulated / weightSum;
    Vec4 inRange = v >= 0.0 ? v : 0.0;  // also maps NaN to 0
    inRange = inRange <= 255.0 ? inRange : 255.0;
    Vec4 whole = __builtin_convertvector(__builtin_convertvector(inRange, Int4), Vec4);
    Vec4 rounded = (inRange - whole) >= 0.5 ? whole + 1.0 : whole;
    rounded = v > 254.5 ? 255.0 : rounded;
    rounded = v < 0.49999 ? 0.0 : rounded;
    Bytes4 bytes = __builtin_convertvector(rounded, Bytes4);
    std::memcpy(out, &bytes, sizeof bytes);
}

long long clampToLong(double value) {
    constexpr double kLimit = 4.0e18;
    if (!(value > -kLimit)) return static_cast<long long>(-kLimit);
    if (value > kLimit) return static_cast<long long>(kLimit);
    return static_cast<long long>(value);
}

// Taps i whose kernel argument (i - offset) * f + shift can be inside the
// support, widened by two so that rounding of the bound never drops one.
// Beyond it the argument only grows in magnitude, and the weight is 0.
void supportRange(double offset, const PassGeometry& g, long long& low, long long& high) {
    double f = g.kernelScale;
    low = std::max(low, clampToLong(std::floor(offset + (-kSupport - g.shift) / f)) - 2);
    high = std::min(high, clampToLong(std::ceil(offset + (kSupport - g.shift) / f)) + 2);
}

// Appends the weights of taps low..high of one output line, leaving out the
// zero weights at both ends (a zero weight adds nothing to any sum).
template <class Argument>
TapSpan appendSpan(long long centre, long long low, long long high, Argument argument,
                   std::vector<double>& weights) {
    TapSpan span;
    span.weightOffset = weights.size();
    span.first = centre + low;
    for (long long i = low; i <= high; ++i) {
        double w = lanczos3(argument(i));
        if (w == 0 && weights.size() == span.weightOffset) {
            ++span.first;
            continue;
        }
        weights.push_back(w);
    }
    while (weights.size() > span.weightOffset && weights.back() == 0) weights.pop_back();
    span.count = static_cast<long long>(weights.size() - span.weightOffset);
    for (std::size_t k = span.weightOffset; k < weights.size(); ++k) span.weightSum += weights[k];
    return span;
}

// Window of 2N taps around the centre (one more on the left), clipped to
// the source without visiting the taps outside it.
void windowRange(long long centre, const PassGeometry& g, long long& low, long long& high) {
    low = std::max(-g.halfWidth, -centre);
    high = std::min(g.halfWidth - 1, g.source - 1 - centre);
}

}  // namespace

void usePortableKernels(bool portable) { portableOnly = portable; }

double lanczos3(double x) {
    if (x == 0) return 1.0;
    if (!(std::fabs(x) < kSupport)) return 0.0;  // NaN too
    double w = 3 * std::sin(kPi * x) * std::sin(kPi * x / 3) / (kPiSquared * x * x);
    return w == w ? w : 1.0;  // 0/0 from underflow next to 0: the limit is 1
}

PassGeometry verticalGeometry(long long source, long long target, double softness) {
    PassGeometry g;
    g.source = source;
    g.target = target;
    g.scale = static_cast<double>(target) / static_cast<double>(source);
    bool reducing = target < source;
    g.kernelScale = std::min(1.0, g.scale / 1 / softness);
    g.shift = reducing ? g.kernelScale / 3 - 0.4 : 0;
    g.halfWidth = reducing ? std::lrint(3.0 * source / target) : std::lrint(3.0 * target / source);
    return g;
}

PassGeometry horizontalGeometry(long long source, long long target, int widening,
                                double softness) {
    PassGeometry g;
    g.source = source;
    g.target = target;
    g.scale = static_cast<double>(target) / static_cast<double>(source);
    bool reducing = target < source;
    g.kernelScale = std::min(1.0, g.scale / widening / softness);
    g.shift = reducing ? g.kernelScale / 3 - 0.4 : 0;
    g.halfWidth = reducing ? std::lrint(6.0 * source / target) : std::lrint(3.0 * target / source);
    return g;
}

bool buildVerticalWeights(const PassGeometry& g, WeightTable& table) {
    try {
        table.spans.resize(static_cast<std::size_t>(g.target));
        for (long long y = 0; y < g.target; ++y) {
            double p = y / g.scale;
            long long z = std::lrint(p);
            long long low, high;
            windowRange(z, g, low, high);
            supportRange(p - z, g, low, high);
            auto argument = [&](long long i) { return (i - p + z) * g.kernelScale + g.shift; };
            table.spans[y] = appendSpan(z, low, high, argument, table.weights);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool buildHorizontalWeights(const PassGeometry& g, WeightTable& table) {
    try {
        table.spans.resize(static_cast<std::size_t>(g.target));
        for (long long x = 0; x < g.target; ++x) {
            double p = 3.0 * x / g.scale;  // in thirds of a source pixel
            long long z = std::lrint(p) / 3;
            double frac = (p - 3.0 * z) / 3;
            long long low, high;
            windowRange(z, g, low, high);
            supportRange(frac, g, low, high);
            auto argument = [&](long long i) { return (i - frac) * g.kernelScale + g.shift; };
            table.spans[x] = appendSpan(z, low, high, argument, table.weights);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

// ---------------------------------------------------------------------------
// Apply loops. Source samples are converted to doubles once (exact) and then
// reused by every output line whose taps reach them.

constexpr std::size_t kStripLanes = 512;          // bytes of a row filtered together
constexpr std::size_t kStripCacheBytes = 4 << 20;  // cap on one thread's cached strip rows
constexpr int kBlockRows = 8;                      // rows filtered together horizontally
constexpr int kBlockColumn = 3 * kBlockRows;       // doubles per source column of a block

// Portable kernels ----------------------------------------------------------

void verticalStripGeneric(const double* const* rows, const double* w, long long count, double sum,
                          std::size_t lanes, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i + 32 <= lanes; i += 32) {
        Vec4 a[8] = {};
        for (long long t = 0; t < count; ++t) {
            const double* row = rows[t] + i;
            for (int k = 0; k < 8; ++k) {
                Vec4 x;
                loadVec(x, row + 4 * k);
                a[k] += w[t] * x;
            }
        }
        for (int k = 0; k < 8; ++k) store4(out + i + 4 * k, a[k], sum);
    }
    for (; i < lanes; ++i) {
        double acc = 0;
        for (long long t = 0; t < count; ++t) acc += w[t] * rows[t][i];
        out[i] = toSample(acc, sum);
    }
}

void horizontalColumnGeneric(const double* first, const double* w, long long count, double sum,
                             std::uint8_t* samples) {
    Vec4 a[6] = {};
    for (long long t = 0; t < count; ++t) {
        const double* column = first + t * kBlockColumn;
        for (int k = 0; k < 6; ++k) {
            Vec4 x;
            loadVec(x, column + 4 * k);
            a[k] += w[t] * x;
        }
    }
    for (int k = 0; k < 6; ++k) store4(samples + 4 * k, a[k], sum);
}

// AVX2 kernels: the same operations on the same lanes ----------------------

#if defined(__x86_64__)
#define PIXLOOM_HAVE_AVX2_KERNELS 1
#define PIXLOOM_AVX2 __attribute__((target("avx2")))

// The output conversion of toSample() on four lanes: 0 below 0.49999 (and
// for NaN), 255 above 254.5, otherwise rounded half away from zero, which on
// [0.49999, 254.5] is trunc plus one when the remainder is at least a half.
// Lanes outside that range are replaced before the final conversion.
PIXLOOM_AVX2 inline void store4Avx2(std::uint8_t* out, __m256d accumulated, __m256d weightSum) {
    __m256d v = _mm256_div_pd(accumulated, weightSum);
    __m256d whole = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    __m256d roundUp = _mm256_cmp_pd(_mm256_sub_pd(v, whole), _mm256_set1_pd(0.5), _CMP_GE_OQ);
    __m256d rounded = _mm256_add_pd(whole, _mm256_and_pd(roundUp, _mm256_set1_pd(1.0)));
    __m256d high = _mm256_cmp_pd(v, _mm256_set1_pd(254.5), _CMP_GT_OQ);
    __m256d low = _mm256_cmp_pd(v, _mm256_set1_pd(0.49999), _CMP_NGE_UQ);
    rounded = _mm256_blendv_pd(rounded, _mm256_set1_pd(255.0), high);
    rounded = _mm256_andnot_pd(low, rounded);
    __m128i ints = _mm256_cvttpd_epi32(rounded);
    __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(ints, ints), ints);
    std::uint32_t packed = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
    std::memcpy(out, &packed, sizeof packed);
}

// acc + w * x, as two roundings (no fused multiply-add).
PIXLOOM_AVX2 inline __m256d addProductAvx2(__m256d acc, __m256d w, const double* x) {
    return _mm256_add_pd(acc, _mm256_mul_pd(w, _mm256_loadu_pd(x)));
}

PIXLOOM_AVX2
void verticalStripAvx2(const double* const* rows, const double* w, long long count, double sum,
                       std::size_t lanes, std::uint8_t* out) {
    const __m256d sums = _mm256_set1_pd(sum);
    std::size_t i = 0;
    for (; i + 32 <= lanes; i += 32) {
        __m256d a[8];
        for (auto& acc : a) acc = _mm256_setzero_pd();
        for (long long t = 0; t < count; ++t) {
            __m256d wt = _mm256_set1_pd(w[t]);
            const double* row = rows[t] + i;
            for (int k = 0; k < 8; ++k) a[k] = addProductAvx2(a[k], wt, row + 4 * k);
        }
        for (int k = 0; k < 8; ++k) store4Avx2(out + i + 4 * k, a[k], sums);
    }
    for (; i < lanes; ++i) {
        double acc = 0;
        for (long long t = 0; t < count; ++t) acc += w[t] * rows[t][i];
        out[i] = toSample(acc, sum);
    }
}

PIXLOOM_AVX2
void horizontalColumnAvx2(const double* first, const double* w, long long count, double sum,
                          std::uint8_t* samples) {
    __m256d a[6];
    for (auto& acc : a) acc = _mm256_setzero_pd();
    for (long long t = 0; t < count; ++t) {
        __m256d wt = _mm256_set1_pd(w[t]);
        const double* column = first + t * kBlockColumn;
        for (int k = 0; k < 6; ++k) a[k] = addProductAvx2(a[k], wt, column + 4 * k);
    }
    const __m256d sums = _mm256_set1_pd(sum);
    for (int k = 0; k < 6; ++k) store4Avx2(samples + 4 * k, a[k], sums);
}

PIXLOOM_AVX2
void widenAvx2(const std::uint8_t* bytes, std::size_t count, double* out) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        for (int k = 0; k < 4; ++k, b = _mm_srli_si128(b, 4))
            _mm256_storeu_pd(out + i + 4 * k, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(b)));
    }
    for (; i < count; ++i) out[i] = bytes[i];
}
#endif

bool cpuHasAvx2() {
#ifdef PIXLOOM_HAVE_AVX2_KERNELS
    static const bool has = __builtin_cpu_supports("avx2");
    return has && !portableOnly.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void verticalStrip(const double* const* rows, const double* w, long long count, double sum,
                   std::size_t lanes, std::uint8_t* out) {
#ifdef PIXLOOM_HAVE_AVX2_KERNELS
    if (cpuHasAvx2()) return verticalStripAvx2(rows, w, count, sum, lanes, out);
#endif
    verticalStripGeneric(rows, w, count, sum, lanes, out);
}

// Bytes to doubles (exact).
void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
#ifdef PIXLOOM_HAVE_AVX2_KERNELS
    if (cpuHasAvx2()) return widenAvx2(bytes, count, out);
#endif
    for (std::size_t i = 0; i < count; ++i) out[i] = bytes[i];
}

void horizontalColumn(const double* first, const double* w, long long count, double sum,
                      std::uint8_t* samples) {
#ifdef PIXLOOM_HAVE_AVX2_KERNELS
    if (cpuHasAvx2()) return horizontalColumnAvx2(first, w, count, sum, samples);
#endif
    horizontalColumnGeneric(first, w, count, sum, samples);
}

// Vertical pass -------------------------------------------------------------

// One strip (a range of bytes) of recently used source rows, as doubles.
// Slot j mod slots holds row j, so the rows of one output line never evict
// each other as long as a line has no more taps than there are slots.
class StripCache {
public:
    StripCache(long long slots, std::size_t lanes)
        : lanes(lanes), samples(static_cast<std::size_t>(slots) * lanes), held(slots, -1) {}

    void startStrip(std::size_t byteOffset, std::size_t length) {
        offset = byteOffset;
        used = length;
        std::fill(held.begin(), held.end(), -1);
    }

    const double* row(const std::uint8_t* source, std::size_t rowBytes, long long j) {
        std::size_t slot = static_cast<std::size_t>(j % static_cast<long long>(held.size()));
        double* cached = samples.data() + slot * lanes;
        if (held[slot] != j) {
            const std::uint8_t* bytes = source + static_cast<std::size_t>(j) * rowBytes + offset;
            widen(bytes, used, cached);
            held[slot] = j;
        }
        return cached;
    }

private:
    std::size_t lanes;
    std::size_t offset = 0;
    std::size_t used = 0;
    std::vector<double> samples;
    std::vector<long long> held;
};

long long maxTaps(const WeightTable& table) {
    long long most = 0;
    for (const TapSpan& span : table.spans) most = std::max(most, span.count);
    return most;
}

// Narrower strips when lines have very many taps keep the cache bounded.
std::size_t stripLanes(long long taps) {
    std::size_t budget = kStripCacheBytes / sizeof(double) / static_cast<std::size_t>(std::max(1LL, taps));
    return std::max<std::size_t>(32, std::min(kStripLanes, budget / 32 * 32));
}

struct VerticalJob {
    const std::uint8_t* source;
    std::size_t rowBytes;
    const WeightTable& table;
    std::uint8_t* target;
    const std::atomic<bool>& cancel;
};

// Output rows begin..end, strip by strip; false when cancelled.
bool verticalRows(const VerticalJob& job, long long begin, long long end) {
    long long taps = std::max(1LL, maxTaps(job.table));
    std::size_t lanes = stripLanes(taps);
    StripCache cache(taps, lanes);
    std::vector<const double*> rows(static_cast<std::size_t>(taps));
    for (std::size_t offset = 0; offset < job.rowBytes; offset += lanes) {
        std::size_t length = std::min(lanes, job.rowBytes - offset);
        cache.startStrip(offset, length);
        for (long long y = begin; y < end; ++y) {
            if (job.cancel.load(std::memory_order_relaxed)) return false;
            const TapSpan& span = job.table.spans[y];
            std::uint8_t* out = job.target + static_cast<std::size_t>(y) * job.rowBytes + offset;
            if (span.weightSum == 0) {
                std::memset(out, 0, length);  // no tap contributed
                continue;
            }
            for (long long t = 0; t < span.count; ++t)
                rows[t] = cache.row(job.source, job.rowBytes, span.first + t);
            verticalStrip(rows.data(), job.table.weights.data() + span.weightOffset, span.count,
                          span.weightSum, length, out);
        }
    }
    return true;
}

// Horizontal pass -----------------------------------------------------------

// Up to eight rows as doubles, interleaved so that one source column's
// samples lie together: byte b of row k goes to block[b * 8 + k], which puts
// channel c of pixel j at (j * 3 + c) * 8 + k. Missing rows are 0 and never
// written back.
void transposeBlockGeneric(const std::uint8_t* rows, std::size_t rowBytes, int rowCount,
                           double* block) {
    if (rowCount < kBlockRows) std::fill(block, block + rowBytes * kBlockRows, 0.0);
    for (int k = 0; k < rowCount; ++k) {
        const std::uint8_t* row = rows + k * rowBytes;
        for (std::size_t b = 0; b < rowBytes; ++b) block[b * kBlockRows + k] = row[b];
    }
}

#ifdef PIXLOOM_HAVE_AVX2_KERNELS
// Eight full rows, eight bytes at a time: an 8 x 8 byte transpose by
// unpacking, then each column of eight widened to doubles.
PIXLOOM_AVX2
void transposeBlockAvx2(const std::uint8_t* rows, std::size_t rowBytes, double* block) {
    std::size_t b = 0;
    for (; b + 8 <= rowBytes; b += 8) {
        __m128i r[8];
        for (int k = 0; k < 8; ++k)
            r[k] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows + k * rowBytes + b));
        __m128i rows01 = _mm_unpacklo_epi8(r[0], r[1]), rows23 = _mm_unpacklo_epi8(r[2], r[3]);
        __m128i rows45 = _mm_unpacklo_epi8(r[4], r[5]), rows67 = _mm_unpacklo_epi8(r[6], r[7]);
        __m128i low03 = _mm_unpacklo_epi16(rows01, rows23), high03 = _mm_unpackhi_epi16(rows01, rows23);
        __m128i low47 = _mm_unpacklo_epi16(rows45, rows67), high47 = _mm_unpackhi_epi16(rows45, rows67);
        __m128i pairs[4] = {_mm_unpacklo_epi32(low03, low47), _mm_unpackhi_epi32(low03, low47),
                            _mm_unpacklo_epi32(high03, high47), _mm_unpackhi_epi32(high03, high47)};
        double* out = block + b * kBlockRows;
        for (__m128i pair : pairs) {  // two columns of eight rows each
            for (int quarter = 0; quarter < 4; ++quarter, pair = _mm_srli_si128(pair, 4), out += 4)
                _mm256_storeu_pd(out, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(pair)));
        }
    }
    for (; b < rowBytes; ++b)
        for (int k = 0; k < kBlockRows; ++k) block[b * kBlockRows + k] = rows[k * rowBytes + b];
}
#endif

void transposeBlock(const std::uint8_t* rows, std::size_t rowBytes, int rowCount, double* block) {
#ifdef PIXLOOM_HAVE_AVX2_KERNELS
    if (rowCount == kBlockRows && cpuHasAvx2()) return transposeBlockAvx2(rows, rowBytes, block);
#endif
    transposeBlockGeneric(rows, rowBytes, rowCount, block);
}

// Writes one output column of a block back to its rows.
void scatterBlockColumn(const std::uint8_t* samples, int rowCount, std::uint8_t* pixel,
                        std::size_t outRowBytes) {
    for (int k = 0; k < rowCount; ++k, pixel += outRowBytes) {
        pixel[0] = samples[k];
        pixel[1] = samples[kBlockRows + k];
        pixel[2] = samples[2 * kBlockRows + k];
    }
}

// Every output pixel of one block of rows. Lanes are rows; the three
// channels are six accumulators of four rows each.
void horizontalBlock(const double* block, const WeightTable& table, int rowCount, std::uint8_t* out,
                     std::size_t outRowBytes) {
    std::uint8_t samples[kBlockColumn];
    for (std::size_t x = 0; x < table.spans.size(); ++x) {
        const TapSpan& span = table.spans[x];
        if (span.weightSum == 0)
            std::memset(samples, 0, sizeof samples);  // no tap contributed
        else
            horizontalColumn(block + span.first * kBlockColumn,
                             table.weights.data() + span.weightOffset, span.count,
                             span.weightSum, samples);
        scatterBlockColumn(samples, rowCount, out + 3 * x, outRowBytes);
    }
}

}  // namespace

bool applyVertical(const std::uint8_t* source, std::size_t rowBytes, const WeightTable& table,
                   std::uint8_t* target, const std::atomic<bool>& cancel, int threads) {
    std::atomic<bool> failed{false};
    VerticalJob job{source, rowBytes, table, target, cancel};
    parallelFor(static_cast<long long>(table.spans.size()), threads,
                [&](long long begin, long long end) {
                    try {
                        if (!verticalRows(job, begin, end)) failed = true;
                    } catch (const std::bad_alloc&) {
                        failed = true;
                    }
                });
    return !failed && !cancel;
}

bool applyHorizontal(const std::uint8_t* source, long long sourceWidth, long long rows,
                     const WeightTable& table, std::uint8_t* target,
                     const std::atomic<bool>& cancel, int threads) {
    std::atomic<bool> failed{false};
    std::size_t sourceRowBytes = 3 * static_cast<std::size_t>(sourceWidth);
    std::size_t targetRowBytes = 3 * table.spans.size();
    long long blocks = (rows + kBlockRows - 1) / kBlockRows;
    parallelFor(blocks, threads, [&](long long begin, long long end) {
        try {
            std::vector<double> block(static_cast<std::size_t>(sourceWidth) * kBlockColumn);
            for (long long b = begin; b < end && !failed; ++b) {
                if (cancel.load(std::memory_order_relaxed)) {
                    failed = true;
                    break;
                }
                long long firstRow = b * kBlockRows;
                int rowCount = static_cast<int>(std::min<long long>(kBlockRows, rows - firstRow));
                transposeBlock(source + firstRow * sourceRowBytes, sourceRowBytes, rowCount,
                               block.data());
                horizontalBlock(block.data(), table, rowCount, target + firstRow * targetRowBytes,
                                targetRowBytes);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel;
}

}  // namespace resample
