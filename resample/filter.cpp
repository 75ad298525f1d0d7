#include "filter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace resample {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kPiSquared = 9.869604401089358;
constexpr double kSupport = 3.0;

// Tests may hold the passes to slower kernels; the results are the same.
std::atomic<KernelSet> kernelLimit{KernelSet::avx512};

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
    span.inverseSum = span.weightSum != 0 ? 1 / span.weightSum : 0;
    return span;
}

// Window of 2N taps around the centre (one more on the left), clipped to
// the source without visiting the taps outside it.
void windowRange(long long centre, const PassGeometry& g, long long& low, long long& high) {
    low = std::max(-g.halfWidth, -centre);
    high = std::min(g.halfWidth - 1, g.source - 1 - centre);
}

}  // namespace


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

constexpr std::size_t kStripLanes = 512;            // most bytes of a row filtered together
constexpr std::size_t kStripCacheBytes = 32 << 10;  // a strip's cached rows stay in the first-level cache
constexpr int kBlockRows = 8;                       // rows filtered together horizontally
constexpr int kBlockColumn = 3 * kBlockRows;        // doubles per source column of a block
constexpr long long kPrefetchRows = 8;              // how far ahead source rows are asked for
constexpr std::size_t kTileColumns = 64;            // output columns gathered before writing to the rows

struct KernelFunctions {
    void (*widen)(const std::uint8_t* bytes, std::size_t count, double* out);
    void (*verticalStrip)(const double* const* rows, const double* w, const TapSpan& span, std::size_t lanes,
                          std::uint8_t* out);
    void (*horizontalColumns)(const double* block, const WeightTable& table, std::size_t begin, std::size_t end,
                              std::uint8_t* samples);
    void (*samplesFromSums)(const double* accumulated, std::size_t count, const TapSpan& span, std::uint8_t* out);
};

namespace portable {
constexpr int kLanes = 2;  // the width every x86-64 has, and no wider than another processor's
template <class Mask>
bool anyLane(Mask mask) {
    for (int i = 0; i < kLanes; ++i)
        if (mask[i]) return true;
    return false;
}
void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    for (std::size_t i = 0; i < count; ++i) out[i] = bytes[i];
}
template <class Vec>
Vec roundDown(Vec v) {
    for (int i = 0; i < kLanes; ++i) v[i] = std::floor(v[i]);
    return v;
}
#include "kernels.inc"
}  // namespace portable

#if defined(__x86_64__)
#define PIXLOOM_HAVE_X86_KERNELS 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
constexpr int kLanes = 4;
template <class Mask>
bool anyLane(Mask mask) {
    return _mm256_movemask_pd(reinterpret_cast<__m256d>(mask)) != 0;
}
template <class Vec>
Vec roundDown(Vec v) {
    return reinterpret_cast<Vec>(_mm256_floor_pd(reinterpret_cast<__m256d>(v)));
}
void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        for (int k = 0; k < 4; ++k, b = _mm_srli_si128(b, 4))
            _mm256_storeu_pd(out + i + 4 * k, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(b)));
    }
    for (; i < count; ++i) out[i] = bytes[i];
}
#include "kernels.inc"
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f,avx512dq,avx512bw,avx512vl")
namespace avx512 {
constexpr int kLanes = 8;
template <class Mask>
bool anyLane(Mask mask) {
    __m512i bits = reinterpret_cast<__m512i>(mask);
    return _mm512_test_epi64_mask(bits, bits) != 0;
}
template <class Vec>
Vec roundDown(Vec v) {
    return reinterpret_cast<Vec>(
        _mm512_maskz_roundscale_pd(0xff, reinterpret_cast<__m512d>(v), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}
void widen(const std::uint8_t* bytes, std::size_t count, double* out) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i ints = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + i)));
        _mm512_storeu_pd(out + i, _mm512_maskz_cvtepi32_pd(0xff, ints));
    }
    for (; i < count; ++i) out[i] = bytes[i];
}
#include "kernels.inc"
}  // namespace avx512
#pragma GCC pop_options
#endif

KernelSet processorKernels() {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
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

// Transposition of a block of rows --------------------------------------------

// Up to eight rows as doubles, interleaved so that one source column's
// samples lie together: byte b of row k goes to block[b * 8 + k], which puts
// channel c of pixel j at (j * 3 + c) * 8 + k. Missing rows are 0 and never
// written back.
void transposeBlockGeneric(const std::uint8_t* rows, std::size_t rowBytes, int rowCount, double* block) {
    if (rowCount < kBlockRows) std::fill(block, block + rowBytes * kBlockRows, 0.0);
    for (int k = 0; k < rowCount; ++k) {
        const std::uint8_t* row = rows + k * rowBytes;
        for (std::size_t b = 0; b < rowBytes; ++b) block[b * kBlockRows + k] = row[b];
    }
}

#ifdef PIXLOOM_HAVE_X86_KERNELS
// Eight full rows, eight bytes at a time: an 8 x 8 byte transpose by
// unpacking, then each column of eight widened to doubles.
__attribute__((target("avx2"))) void transposeBlockAvx2(const std::uint8_t* rows, std::size_t rowBytes,
                                                          double* block) {
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

void transposeBlock(KernelSet set, const std::uint8_t* rows, std::size_t rowBytes, int rowCount, double* block) {
#ifdef PIXLOOM_HAVE_X86_KERNELS
    if (rowCount == kBlockRows && set != KernelSet::portable) return transposeBlockAvx2(rows, rowBytes, block);
#endif
    (void)set;
    transposeBlockGeneric(rows, rowBytes, rowCount, block);
}

// The way back for output bytes: samples[b * 8 + k] is byte b of row k.
void untransposeTile(const std::uint8_t* samples, std::size_t bytesPerRow, int rowCount, std::uint8_t* out,
                     std::size_t outRowBytes) {
    for (int k = 0; k < rowCount; ++k, out += outRowBytes)
        for (std::size_t b = 0; b < bytesPerRow; ++b) out[b] = samples[b * kBlockRows + k];
}

// Vertical pass -------------------------------------------------------------

// One strip (a range of bytes) of recently used source rows, as doubles.
// Slot j mod slots holds row j, so the rows of one output line never evict
// each other as long as a line has no more taps than there are slots.
class StripCache {
public:
    StripCache(long long slots, std::size_t lanes, long long rowCount, const KernelFunctions& kernels)
        : lanes(lanes), rowCount(rowCount), samples(static_cast<std::size_t>(slots) * lanes), held(slots, -1), kernels(kernels) {}

    void startStrip(std::size_t byteOffset, std::size_t length) {
        offset = byteOffset;
        used = length;
        std::fill(held.begin(), held.end(), -1);
    }

    // Points rows[0 .. count - 1] at source rows first .. first + count - 1,
    // widening those not held yet.
    void lookUp(const std::uint8_t* source, std::size_t rowBytes, long long first, long long count,
                const double** rows) {
        std::size_t slots = held.size();
        std::size_t slot = static_cast<std::size_t>(first % static_cast<long long>(slots));
        for (long long j = first; j < first + count; ++j, ++rows, slot = slot + 1 == slots ? 0 : slot + 1) {
            double* cached = samples.data() + slot * lanes;
            if (held[slot] != j) widenRow(source, rowBytes, j, cached), held[slot] = j;
            *rows = cached;
        }
    }

private:
    // Rows of one strip lie a row apart in memory, too far for the
    // processor to guess: the row needed a few rows on is asked for early.
    void widenRow(const std::uint8_t* source, std::size_t rowBytes, long long j, double* cached) const {
        kernels.widen(source + static_cast<std::size_t>(j) * rowBytes + offset, used, cached);
        if (j + kPrefetchRows >= rowCount) return;
        const std::uint8_t* ahead = source + static_cast<std::size_t>(j + kPrefetchRows) * rowBytes + offset;
        for (std::size_t b = 0; b < used; b += 64) __builtin_prefetch(ahead + b);
        __builtin_prefetch(ahead + used - 1);
    }

    std::size_t lanes;
    long long rowCount;
    std::size_t offset = 0;
    std::size_t used = 0;
    std::vector<double> samples;
    std::vector<long long> held;
    const KernelFunctions& kernels;
};

long long maxTaps(const WeightTable& table) {
    long long most = 0;
    for (const TapSpan& span : table.spans) most = std::max(most, span.count);
    return most;
}

// Source lines 0 .. linesReached - 1 hold every tap of the table.
long long linesReached(const WeightTable& table) {
    long long reached = 0;
    for (const TapSpan& span : table.spans) reached = std::max(reached, span.first + span.count);
    return reached;
}

// As wide as keeps a strip's rows in the first-level cache, narrower when
// lines have very many taps, never under 64 lanes (eight vectors of the
// widest kernels).
std::size_t stripLanes(long long taps) {
    std::size_t budget = kStripCacheBytes / sizeof(double) / static_cast<std::size_t>(std::max(1LL, taps));
    return std::max<std::size_t>(64, std::min(kStripLanes, budget / 64 * 64));
}

struct VerticalJob {
    const std::uint8_t* source;
    std::size_t rowBytes;
    const WeightTable& table;
    std::uint8_t* target;
    const std::atomic<bool>& cancel;
    const KernelFunctions& kernels;
};

// Output rows begin..end, strip by strip; false when cancelled.
bool verticalRows(const VerticalJob& job, StripCache& cache, std::size_t lanes, long long begin, long long end) {
    std::vector<const double*> rows(static_cast<std::size_t>(std::max(1LL, maxTaps(job.table))));
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
            cache.lookUp(job.source, job.rowBytes, span.first, span.count, rows.data());
            job.kernels.verticalStrip(rows.data(), job.table.weights.data() + span.weightOffset, span, length, out);
        }
    }
    return true;
}

// Bands of output rows per thread: enough for a slowed thread's share to be
// taken over, few enough that re-reading the rows two bands share is cheap.
long long rowsPerPiece(long long rows, int threads) {
    return std::max(16LL, rows / (8LL * std::max(1, threads)));
}

// Horizontal pass -----------------------------------------------------------

struct HorizontalJob {
    const std::uint8_t* source;
    std::size_t sourceRowBytes;
    long long rows;
    const WeightTable& table;
    std::uint8_t* target;
    KernelSet set;
};

// Rows firstRow.. (up to eight) through a block, tile by tile of columns.
void horizontalBlock(const HorizontalJob& job, long long firstRow, double* block, std::uint8_t* samples) {
    int rowCount = static_cast<int>(std::min<long long>(kBlockRows, job.rows - firstRow));
    std::size_t targetRowBytes = 3 * job.table.spans.size();
    transposeBlock(job.set, job.source + firstRow * job.sourceRowBytes, job.sourceRowBytes, rowCount, block);
    const KernelFunctions& kernels = kernelFunctions(job.set);
    std::uint8_t* out = job.target + firstRow * targetRowBytes;
    for (std::size_t x = 0; x < job.table.spans.size(); x += kTileColumns) {
        std::size_t end = std::min(job.table.spans.size(), x + kTileColumns);
        kernels.horizontalColumns(block, job.table, x, end, samples);
        untransposeTile(samples, 3 * (end - x), rowCount, out + 3 * x, targetRowBytes);
    }
}

}  // namespace

void usePortableKernels(bool portable) { limitKernels(portable ? KernelSet::portable : KernelSet::avx512); }

void limitKernels(KernelSet most) { kernelLimit = most; }

KernelSet kernelsInUse() {
    static const KernelSet best = processorKernels();
    return std::min(best, kernelLimit.load(std::memory_order_relaxed));
}

void samplesFromSums(const double* accumulated, std::size_t count, const TapSpan& span, std::uint8_t* out) {
    kernelFunctions(kernelsInUse()).samplesFromSums(accumulated, count, span, out);
}

bool applyVertical(const std::uint8_t* source, std::size_t rowBytes, const WeightTable& table,
                   std::uint8_t* target, const std::atomic<bool>& cancel, int threads) {
    std::atomic<bool> failed{false};
    VerticalJob job{source, rowBytes, table, target, cancel, kernelFunctions(kernelsInUse())};
    long long rows = static_cast<long long>(table.spans.size());
    parallelPieces(rows, rowsPerPiece(rows, threads), threads, [&](PieceQueue& queue) {
        try {
            long long taps = std::max(1LL, maxTaps(table));
            std::size_t lanes = stripLanes(taps);
            StripCache cache(taps, lanes, linesReached(table), job.kernels);
            for (long long begin, end; !failed && queue.take(begin, end);)
                if (!verticalRows(job, cache, lanes, begin, end)) failed = true;
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
    HorizontalJob job{source, 3 * static_cast<std::size_t>(sourceWidth), rows, table, target, kernelsInUse()};
    long long blocks = (rows + kBlockRows - 1) / kBlockRows;
    parallelPieces(blocks, 1, threads, [&](PieceQueue& queue) {
        try {
            std::vector<double> block(static_cast<std::size_t>(sourceWidth) * kBlockColumn);
            std::vector<std::uint8_t> samples(kTileColumns * kBlockColumn);
            for (long long b, end; !failed && queue.take(b, end);) {
                if (cancel.load(std::memory_order_relaxed)) failed = true;
                else horizontalBlock(job, b * kBlockRows, block.data(), samples.data());
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel;
}

}  // namespace resample
