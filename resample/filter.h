// SPDX-License-Identifier: MIT
// Lanczos3 passes of the engine: weight tables built once per pass, and the
// loops that apply them. Internal to resample/.
//
// Determinism: every output sample is the sum of its taps' products added in
// tap order, divided by the weight sum of those taps, whatever the loop
// nesting, vector width or thread count. This unit must be compiled without
// fast-math and with -ffp-contract=off.
#pragma once

#include "cancel_token.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace resample {

// Runs body(begin, end) over [0, count) split into contiguous slices, one
// per thread; the calling thread takes the first slice.
template <class Body>
void parallelFor(long long count, int threads, Body&& body) {
    long long slices = std::max<long long>(1, std::min<long long>(threads, count));
    std::vector<std::thread> pool;
    try {
        pool.reserve(static_cast<std::size_t>(slices - 1));
    } catch (const std::bad_alloc&) {
        slices = 1;
    }
    for (long long k = 1; k < slices; ++k) {
        long long begin = count * k / slices, end = count * (k + 1) / slices;
        try {
            pool.emplace_back([&body, begin, end] { body(begin, end); });
        } catch (...) {
            body(begin, end);  // no thread to be had: do the slice here
        }
    }
    body(0, count / slices);
    for (auto& thread : pool) thread.join();
}

// Hands out [0, count) in pieces of at most `piece`, each once, to
// whichever thread asks next.
class PieceQueue {
public:
    PieceQueue(long long count, long long piece) : count(count), piece(std::max(1LL, piece)) {}
    bool take(long long& begin, long long& end) {
        begin = next.fetch_add(piece, std::memory_order_relaxed);
        if (begin >= count) return false;
        end = std::min(count, begin + piece);
        return true;
    }
    long long pieces() const { return (count + piece - 1) / piece; }

private:
    long long count, piece;
    std::atomic<long long> next{0};
};

// Runs worker(queue) on up to `threads` threads (the calling one among
// them), each taking pieces until none is left: a thread slowed by other
// work on the machine leaves more to the rest instead of an idle tail.
template <class Worker>
void parallelPieces(long long count, long long piece, int threads, Worker&& worker) {
    PieceQueue queue(count, piece);
    long long workers = std::max(1LL, std::min<long long>(threads, queue.pieces()));
    parallelFor(workers, threads, [&](long long, long long) { worker(queue); });
}

double lanczos3(double x);

// The instruction sets the passes have kernels for, slowest first.
enum class KernelSet { portable, avx2, avx512 };

// The fastest set the passes may use: the processor's best, capped at most
// (the tests and the stage benchmark compare the sets); what the processor
// lacks is never used.
void limitKernels(KernelSet most);
KernelSet kernelsInUse();

// The fold of pixels first .. last - 1 of a triple-width row of rowBytes
// bytes, where no tap leaves the row (no first or last pixel): box (each
// channel the mean of three samples centred on its own stripe), weighted
// (weights inside the pixel) or adaptive (the weighted value unless it
// strays more than 31 from the box mean), each rounded down. Folds as many
// as the processor does several at a time, from first on; returns the first
// pixel not done.
enum class FoldRule { box, weighted, adaptive };
long long foldPixels(FoldRule rule, const std::uint8_t* row, std::size_t rowBytes, std::uint8_t* out, long long first,
                     long long last);

// The rule that makes an output sample of a sum of weighted source samples:
// v = accumulated / weightSum, 0 below 0.49999 (NaN too), 255 above 254.5,
// otherwise v rounded half away from zero.
inline std::uint8_t sampleFromSum(double accumulated, double weightSum) {
    double v = accumulated / weightSum;
    if (!(v >= 0.49999)) return 0;
    if (v > 254.5) return 255;
    return static_cast<std::uint8_t>(std::round(v));
}

// What a pass along one axis computes from the source and target lengths.
struct PassGeometry {
    long long source = 0;     // S
    long long target = 0;     // D
    double scale = 0;         // D / S
    double kernelScale = 0;   // f
    double shift = 0;         // δ
    long long halfWidth = 0;  // N
};

PassGeometry verticalGeometry(long long source, long long target, double softness);
PassGeometry horizontalGeometry(long long source, long long target, int widening, double softness);

// The taps of one output line: source lines first .. first + count - 1, with
// their weights in the order they are summed, and the sum of those weights.
struct TapSpan {
    long long first = 0;
    long long count = 0;
    std::size_t weightOffset = 0;
    double weightSum = 0;
    double inverseSum = 0;  // 1 / weightSum, for the kernels' exact shortcut
};

struct WeightTable {
    std::vector<TapSpan> spans;  // one per output line
    std::vector<double> weights;
};

// The kernels' way of turning count sums into samples for a line with this
// span's weight sum, for tests: must equal sampleFromSum() on each.
void samplesFromSums(const double* accumulated, std::size_t count, const TapSpan& span, std::uint8_t* out);

// Fill the table; false when memory runs out.
bool buildVerticalWeights(const PassGeometry& geometry, WeightTable& table);
bool buildHorizontalWeights(const PassGeometry& geometry, WeightTable& table);

// Apply a vertical table: source has table.spans.size() output rows' worth
// of taps over rows of rowBytes bytes. Returns false when cancelled.
bool applyVertical(const std::uint8_t* source, std::size_t rowBytes, const WeightTable& table, std::uint8_t* target,
                   const CancelToken& cancel, int threads);

// Apply a horizontal table to every row: source rows have sourceWidth
// pixels, target rows table.spans.size() pixels. Returns false when
// cancelled or out of memory.
bool applyHorizontal(const std::uint8_t* source, long long sourceWidth, long long rows, const WeightTable& table,
                     std::uint8_t* target, const CancelToken& cancel, int threads);

// The same, each block of finished rows handed to finish(rows, firstRow,
// rowCount) on the thread that made it instead of being kept: rowCount rows
// of 3 * table.spans.size() bytes, output rows firstRow onwards. Lets a
// later step work on rows while they are in the cache.
using RowsDone = std::function<void(const std::uint8_t* rows, long long firstRow, int rowCount)>;
bool applyHorizontalThen(const std::uint8_t* source, long long sourceWidth, long long rows, const WeightTable& table,
                         const RowsDone& finish, const CancelToken& cancel, int threads);

}  // namespace resample
