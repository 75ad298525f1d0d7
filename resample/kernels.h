// SPDX-License-Identifier: MIT
// The passes' inner loops, built once for each instruction set and picked at
// run time. Internal to resample/.
#pragma once

#include "filter.h"

#include <cstddef>
#include <cstdint>

namespace resample {

constexpr int kBlockRows = 8;                 // rows filtered together horizontally
constexpr int kBlockColumn = 3 * kBlockRows;  // doubles per source column of a block

// Two output lines of a vertical strip, filtered together.
struct LinePair {
    const TapSpan* span[2];
    const double* w[2];
    std::uint8_t* out[2];
};

struct KernelFunctions {
    // Bytes to doubles (exact).
    void (*widen)(const std::uint8_t* bytes, std::size_t count, double* out);
    // One output line of lanes samples from rows[0 .. span.count - 1].
    void (*verticalStrip)(const double* const* rows, const double* w, const TapSpan& span, std::size_t lanes,
                          std::uint8_t* out);
    // Two output lines of lanes samples; rows[0 ..] are source rows from
    // `low` on, covering both spans.
    void (*verticalPair)(const double* const* rows, long long low, const LinePair& pair, std::size_t lanes);
    // Output columns [begin, end) of a block (see transposeBlock) that
    // starts at source pixel firstPixel: column x's 24 samples go to
    // samples[(x - begin) * 24 ...], channel c of row k at c * 8 + k.
    void (*horizontalColumns)(const double* block, long long firstPixel, const WeightTable& table, std::size_t begin,
                              std::size_t end, std::uint8_t* samples);
    // What samplesFromSums() in filter.h does.
    void (*samplesFromSums)(const double* accumulated, std::size_t count, const TapSpan& span, std::uint8_t* out);
};

// The fastest set this processor has.
KernelSet processorKernels();
const KernelFunctions& kernelFunctions(KernelSet set);

// Bytes 0 .. bytes - 1 of up to eight rows rowStride apart, as doubles
// interleaved so that one source column's samples lie together: byte b of
// row k goes to block[b * 8 + k], which puts channel c of pixel j at
// (j * 3 + c) * 8 + k. Missing rows are 0.
void transposeBlock(KernelSet set, const std::uint8_t* rows, std::size_t rowStride, std::size_t bytes, int rowCount,
                    double* block);

// The way back for output bytes: samples[b * 8 + k] is byte b of row k;
// bytes 0 .. bytes - 1 of rowCount rows rowStride apart are written.
void untransposeTile(KernelSet set, const std::uint8_t* samples, std::size_t bytes, int rowCount, std::uint8_t* out,
                     std::size_t rowStride);

}  // namespace resample
