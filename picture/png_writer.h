// SPDX-License-Identifier: MIT
// Writing 8-bit RGB pictures as PNG: rows filtered with the filter of the
// smallest sum of absolute differences, compressed piece by piece with zlib's
// run-length strategy, or with libdeflate where that does better.
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The libdeflate level for pieces that are not noise: the lowest that makes
// screenshots and text no larger than zlib's default level (bench/png_bench).
constexpr int kPngLevel = 8;

// The filtered picture is compressed this many bytes at a time (whole rows,
// at least one): what a thread takes at once, and how long the abandonment
// check may wait.
constexpr std::size_t kPngPieceBytes = std::size_t{4} << 20;

enum class PngCompressor {
    ByContent,       // run lengths, and libdeflate too where they leave little: the smaller is kept
    LibdeflateOnly,  // for comparison
    RunLengthOnly,   // for comparison
};

struct PngSettings {
    int level = kPngLevel;                    // libdeflate's 1 to 12
    int threads = 1;                          // cores the encoder may use
    std::size_t pieceBytes = kPngPieceBytes;  // the output does not depend on threads, it does on this
    PngCompressor compressor = PngCompressor::ByContent;
};

// Encodes width x height RGB samples (rows of 3 * width bytes, top first) as
// a PNG in out, with exif (a TIFF header onwards) in an eXIf chunk when it is
// not empty. cancel is asked between pieces. Returns an empty string on success, else a short reason a user
// understands ("abandoned" when cancel was requested); out is then empty.
wxString encodePng(const std::uint8_t* rgb, std::size_t width, std::size_t height,
                   const std::vector<std::uint8_t>& exif, std::vector<char>& out, const CancelToken& cancel = {},
                   int threads = 1);

// The same with every setting given; for the benchmark and the tests.
wxString encodePngWith(const std::uint8_t* rgb, std::size_t width, std::size_t height,
                       const std::vector<std::uint8_t>& exif, std::vector<char>& out, const CancelToken& cancel,
                       const PngSettings& settings);
