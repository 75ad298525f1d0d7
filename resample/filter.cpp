// SPDX-License-Identifier: MIT
#include "filter.h"

#include "kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

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
TapSpan appendSpan(long long centre, long long low, long long high, Argument argument, std::vector<double>& weights) {
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

PassGeometry horizontalGeometry(long long source, long long target, int widening, double softness) {
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
constexpr std::size_t kStripCacheBytes = 24 << 10;  // a strip's rows: half the first-level cache
constexpr long long kPrefetchRows = 8;              // how far ahead source rows are asked for
constexpr long long kTilePixels = 96;               // source pixels of a block tile (18 KiB of doubles)
constexpr std::size_t kMostTileColumns = 256;       // output columns of a tile at most

// Vertical pass -------------------------------------------------------------

// Asks for the cache lines of bytes p .. p + length - 1 (length > 0) ahead
// of their use: to be read, or to be written.
void prefetchToRead(const std::uint8_t* p, std::size_t length) {
    for (std::size_t b = 0; b < length; b += 64) __builtin_prefetch(p + b, 0);
    __builtin_prefetch(p + length - 1, 0);
}

void prefetchToWrite(std::uint8_t* p, std::size_t length) {
    for (std::size_t b = 0; b < length; b += 64) __builtin_prefetch(p + b, 1);
    __builtin_prefetch(p + length - 1, 1);
}

// Doubles whose first lies on a cache line (64 bytes), so that no vector
// the kernels load or store straddles two lines.
class AlignedDoubles {
public:
    explicit AlignedDoubles(std::size_t count) : storage(count + kPerLine) {
        std::size_t misalignment = reinterpret_cast<std::uintptr_t>(storage.data()) % 64 / sizeof(double);
        start = storage.data() + (misalignment ? kPerLine - misalignment : 0);
    }
    double* data() { return start; }

private:
    static constexpr std::size_t kPerLine = 64 / sizeof(double);
    std::vector<double> storage;
    double* start;
};

// One strip (a range of bytes) of recently used source rows, as doubles.
// Slot j mod slots holds row j, so the rows of a pair of output lines never
// evict each other as long as a pair has no more rows than there are slots.
// Rows from rowCount on are never asked for.
class StripCache {
public:
    StripCache(long long slots, std::size_t lanes, long long rowCount, const KernelFunctions& kernels)
        : lanes(lanes),
          rowCount(rowCount),
          samples(static_cast<std::size_t>(slots) * lanes),
          held(static_cast<std::size_t>(slots), -1),
          kernels(kernels) {}

    std::size_t slots() const { return held.size(); }

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
        if (j + kPrefetchRows < rowCount)
            prefetchToRead(source + static_cast<std::size_t>(j + kPrefetchRows) * rowBytes + offset, used);
    }

    std::size_t lanes;
    long long rowCount;
    std::size_t offset = 0;
    std::size_t used = 0;
    AlignedDoubles samples;
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
    const CancelToken& cancel;
    const KernelFunctions& kernels;
};

// Source rows of lines y and y + 1 together, lowest first.
void pairRows(const TapSpan& one, const TapSpan& two, long long& low, long long& count) {
    low = std::min(one.first, two.first);
    count = std::max(one.first + one.count, two.first + two.count) - low;
}

// The most source rows one pair of consecutive output lines reaches.
long long mostPairRows(const WeightTable& table) {
    long long most = maxTaps(table);
    for (std::size_t y = 1; y < table.spans.size(); ++y) {
        long long low, count;
        pairRows(table.spans[y - 1], table.spans[y], low, count);
        most = std::max(most, count);
    }
    return std::max(1LL, most);
}

// Output line y of one strip alone.
void verticalLine(const VerticalJob& job, StripCache& cache, long long y, std::size_t offset, std::size_t length,
                  const double** rows) {
    const TapSpan& span = job.table.spans[y];
    std::uint8_t* out = job.target + static_cast<std::size_t>(y) * job.rowBytes + offset;
    if (span.weightSum == 0) {
        std::memset(out, 0, length);  // no tap contributed
        return;
    }
    cache.lookUp(job.source, job.rowBytes, span.first, span.count, rows);
    job.kernels.verticalStrip(rows, job.table.weights.data() + span.weightOffset, span, length, out);
}

// Output lines y and y + 1 of one strip together, when both have taps.
bool verticalLinePair(const VerticalJob& job, StripCache& cache, long long y, std::size_t offset, std::size_t length,
                      const double** rows) {
    const TapSpan& one = job.table.spans[y];
    const TapSpan& two = job.table.spans[y + 1];
    if (one.weightSum == 0 || two.weightSum == 0) return false;
    long long low, count;
    pairRows(one, two, low, count);
    cache.lookUp(job.source, job.rowBytes, low, count, rows);
    const double* weights = job.table.weights.data();
    std::uint8_t* out = job.target + static_cast<std::size_t>(y) * job.rowBytes + offset;
    LinePair pair{{&one, &two}, {weights + one.weightOffset, weights + two.weightOffset}, {out, out + job.rowBytes}};
    job.kernels.verticalPair(rows, low, pair, length);
    return true;
}

// Output rows begin..end, strip by strip, two lines at a time; false when
// cancelled.
bool verticalRows(const VerticalJob& job, StripCache& cache, std::size_t lanes, long long begin, long long end) {
    std::vector<const double*> rows(cache.slots());
    for (std::size_t offset = 0; offset < job.rowBytes; offset += lanes) {
        std::size_t length = std::min(lanes, job.rowBytes - offset);
        cache.startStrip(offset, length);
        for (long long y = begin; y < end;) {
            if (job.cancel.requested()) return false;
            // Output rows are a row apart too: the strip's part of the next
            // pair is asked for (to be written) while this pair is worked on.
            for (long long later = y + 2; later < std::min(end, y + 4); ++later)
                prefetchToWrite(job.target + static_cast<std::size_t>(later) * job.rowBytes + offset, length);
            if (y + 1 < end && verticalLinePair(job, cache, y, offset, length, rows.data())) {
                y += 2;
            } else {
                verticalLine(job, cache, y, offset, length, rows.data());
                y += 1;
            }
        }
    }
    return true;
}

// Bands of output rows per thread: enough for a slowed thread's share to be
// taken over, few enough that re-reading the rows two bands share is cheap.
long long rowsPerPiece(long long rows, int threads) { return std::max(16LL, rows / (8LL * std::max(1, threads))); }

// Horizontal pass -----------------------------------------------------------

struct HorizontalJob {
    const std::uint8_t* source;
    std::size_t sourceRowBytes;
    long long rows;
    const WeightTable& table;
    std::size_t tileColumns;
    KernelSet set;
};

// Source pixels lo .. hi - 1 hold every tap of output columns [begin, end).
void pixelsReached(const WeightTable& table, std::size_t begin, std::size_t end, long long& lo, long long& hi) {
    lo = LLONG_MAX, hi = 0;
    for (std::size_t x = begin; x < end; ++x) {
        const TapSpan& span = table.spans[x];
        if (span.count == 0) continue;
        lo = std::min(lo, span.first);
        hi = std::max(hi, span.first + span.count);
    }
    if (lo > hi) lo = hi = 0;  // no taps at all
}

// Output columns per tile: those whose taps lie in about kTilePixels source
// pixels, so that a tile's part of the block stays in the first-level cache
// between its transposition and its use; a multiple of eight.
std::size_t tileColumns(std::size_t targetWidth, long long sourceWidth) {
    std::size_t columns = static_cast<std::size_t>(kTilePixels * static_cast<double>(targetWidth) /
                                                   static_cast<double>(std::max(1LL, sourceWidth)));
    return std::min<std::size_t>(kMostTileColumns, std::max<std::size_t>(8, columns / 8 * 8));
}

// Source pixels in the widest tile: the block's size.
std::size_t widestTile(const WeightTable& table, std::size_t columns) {
    long long widest = 1;
    for (std::size_t x = 0; x < table.spans.size(); x += columns) {
        long long lo, hi;
        pixelsReached(table, x, std::min(table.spans.size(), x + columns), lo, hi);
        widest = std::max(widest, hi - lo);
    }
    return static_cast<std::size_t>(widest);
}

// Rows firstRow.. (up to eight) through a block, tile by tile of columns,
// to rowCount rows of out: each tile transposes the source pixels its taps
// reach to the block (which stays in the first-level cache), then filters.
void horizontalBlock(const HorizontalJob& job, long long firstRow, double* block, std::uint8_t* samples,
                     std::uint8_t* out) {
    int rowCount = static_cast<int>(std::min<long long>(kBlockRows, job.rows - firstRow));
    std::size_t targetWidth = job.table.spans.size(), targetRowBytes = 3 * targetWidth;
    const std::uint8_t* rows = job.source + firstRow * job.sourceRowBytes;
    const KernelFunctions& kernels = kernelFunctions(job.set);
    for (std::size_t x = 0; x < targetWidth; x += job.tileColumns) {
        std::size_t end = std::min(targetWidth, x + job.tileColumns);
        long long lo, hi;
        pixelsReached(job.table, x, end, lo, hi);
        transposeBlock(job.set, rows + 3 * lo, job.sourceRowBytes, static_cast<std::size_t>(3 * (hi - lo)), rowCount,
                       block);
        kernels.horizontalColumns(block, lo, job.table, x, end, samples);
        untransposeTile(job.set, samples, 3 * (end - x), rowCount, out + 3 * x, targetRowBytes);
    }
}

// Blocks of eight rows handed to threads one at a time. Each block's rows
// go to rowsFor(firstRow, scratch), where scratch is the thread's own
// scratchBytes, then done(out, firstRow, rowCount) is called.
template <class RowsFor, class Done>
bool horizontalBlocks(const HorizontalJob& job, std::size_t scratchBytes, const CancelToken& cancel, int threads,
                      RowsFor rowsFor, Done done) {
    std::atomic<bool> failed{false};
    long long blocks = (job.rows + kBlockRows - 1) / kBlockRows;
    parallelPieces(blocks, 1, threads, [&](PieceQueue& queue) {
        try {
            AlignedDoubles block(widestTile(job.table, job.tileColumns) * kBlockColumn);
            std::vector<std::uint8_t> samples(job.tileColumns * kBlockColumn), scratch(scratchBytes);
            for (long long begin, end; !failed && queue.take(begin, end);) {
                for (long long b = begin; b < end; ++b) {
                    if (cancel.requested()) {
                        failed = true;
                        break;
                    }
                    long long firstRow = b * kBlockRows;
                    std::uint8_t* out = rowsFor(firstRow, scratch.data());
                    horizontalBlock(job, firstRow, block.data(), samples.data(), out);
                    done(out, firstRow, static_cast<int>(std::min<long long>(kBlockRows, job.rows - firstRow)));
                }
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel.requested();
}

HorizontalJob horizontalJob(const std::uint8_t* source, long long sourceWidth, long long rows,
                            const WeightTable& table) {
    return {source, 3 * static_cast<std::size_t>(sourceWidth),    rows,
            table,  tileColumns(table.spans.size(), sourceWidth), kernelsInUse()};
}

}  // namespace

void limitKernels(KernelSet most) { kernelLimit = most; }

KernelSet kernelsInUse() {
    static const KernelSet best = processorKernels();
    return std::min(best, kernelLimit.load(std::memory_order_relaxed));
}

void samplesFromSums(const double* accumulated, std::size_t count, const TapSpan& span, std::uint8_t* out) {
    kernelFunctions(kernelsInUse()).samplesFromSums(accumulated, count, span, out);
}

bool applyVertical(const std::uint8_t* source, std::size_t rowBytes, const WeightTable& table, std::uint8_t* target,
                   const CancelToken& cancel, int threads) {
    std::atomic<bool> failed{false};
    VerticalJob job{source, rowBytes, table, target, cancel, kernelFunctions(kernelsInUse())};
    long long rows = static_cast<long long>(table.spans.size());
    parallelPieces(rows, rowsPerPiece(rows, threads), threads, [&](PieceQueue& queue) {
        try {
            long long slots = mostPairRows(table);
            std::size_t lanes = stripLanes(slots);
            StripCache cache(slots, lanes, linesReached(table), job.kernels);
            for (long long begin, end; !failed && queue.take(begin, end);)
                if (!verticalRows(job, cache, lanes, begin, end)) failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed && !cancel.requested();
}

bool applyHorizontal(const std::uint8_t* source, long long sourceWidth, long long rows, const WeightTable& table,
                     std::uint8_t* target, const CancelToken& cancel, int threads) {
    std::size_t targetRowBytes = 3 * table.spans.size();
    return horizontalBlocks(
        horizontalJob(source, sourceWidth, rows, table), 0, cancel, threads,
        [&](long long firstRow, std::uint8_t*) { return target + static_cast<std::size_t>(firstRow) * targetRowBytes; },
        [](const std::uint8_t*, long long, int) {});
}

bool applyHorizontalThen(const std::uint8_t* source, long long sourceWidth, long long rows, const WeightTable& table,
                         const RowsDone& finish, const CancelToken& cancel, int threads) {
    std::size_t scratchBytes;
    if (__builtin_mul_overflow(3 * table.spans.size(), std::size_t{kBlockRows}, &scratchBytes)) return false;
    return horizontalBlocks(
        horizontalJob(source, sourceWidth, rows, table), scratchBytes, cancel, threads,
        [](long long, std::uint8_t* scratch) { return scratch; },
        [&](const std::uint8_t* out, long long firstRow, int rowCount) { finish(out, firstRow, rowCount); });
}

}  // namespace resample
