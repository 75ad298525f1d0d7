// SPDX-License-Identifier: MIT
// Reduction in linear light: samples go through the sRGB transfer function
// to light, both passes and the sub-pixel fold work on light without any
// rounding between them, and the result comes back to sRGB rounded once.
// Internal to resample/.
#pragma once

#include "cancel_token.h"

#include <atomic>
#include <cstdint>

namespace resample {

struct LinearJob {
    const std::uint8_t* source;
    long long width, height;  // the source's
    long long targetWidth, targetHeight;
    int lcdType;  // 0 Lanczos3, 1 to 6 the folds
    double softness;
    int threads;
};

// The reduced picture (3 x targetWidth x targetHeight bytes, malloc'd), or
// null when cancelled or out of memory.
std::uint8_t* resizeLinear(const LinearJob& job, const CancelToken& cancel);

}  // namespace resample
