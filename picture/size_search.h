// SPDX-License-Identifier: MIT
// The quality that keeps a lossy file within a size limit.
#pragma once

#include <functional>

// The encoded size in bytes of the picture at a quality.
using EncodedSize = std::function<long long(int quality)>;

// The highest quality not above maxQuality whose encoded size is at most
// limit bytes, found by a walk that halves its step after each try; 1 when
// even quality 1 is too large. No search when limit <= 0 or maxQuality <= 1.
// Ends also when the size does not grow with the quality: at the third visit
// to a quality it returns the highest fitting quality seen.
int fitJpegQuality(int limit, int maxQuality, const EncodedSize& sizeAt);

// As fitJpegQuality, but no quality below lowest is written: 0 when the file
// is over the limit at lowest. Sizes are asked once per quality. With lowest
// 1 or less (or maxQuality 1 or less) it is fitJpegQuality itself.
int fitQualityAtLeast(int limit, int maxQuality, int lowest, const EncodedSize& sizeAt);
