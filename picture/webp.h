// SPDX-License-Identifier: MIT
// WebP files in memory, through libwebp: decoded to the packed RGB the
// engine reduces (transparency laid on white, an animation's first frame),
// with the colour profile and EXIF left for the caller to apply; and lossy
// WebP written from RGB, optionally with an EXIF chunk. No toolkit calls (its
// string type carries the reasons); every function may run on several threads
// at once.
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FreeBuffer {
    void operator()(unsigned char* buffer) const { std::free(buffer); }
};

// A decoded WebP picture.
struct WebpPicture {
    std::unique_ptr<unsigned char, FreeBuffer> pixels;  // malloc'd packed RGB, 3*width*height bytes, top row first
    std::size_t width = 0, height = 0;
    std::vector<unsigned char> profile;  // the ICCP chunk's ICC profile; empty when none
    std::vector<unsigned char> exif;     // the EXIF chunk from its TIFF header on; empty when none
    wxString error;                      // empty when decoded; else a short reason

    bool ok() const { return pixels && error.empty(); }
    // Hands the buffer to the caller (free() it); the picture keeps no pixels.
    unsigned char* release() { return pixels.release(); }
};

// Whether the bytes start as a WebP file does ("RIFF", size, "WEBP").
bool isWebp(const unsigned char* data, std::size_t size);

// The picture's size from the file's first bytes alone (an animation's
// canvas), for a memory check before decoding. False when they tell none.
bool readWebpSize(const unsigned char* data, std::size_t size, std::size_t& width, std::size_t& height);

// The most pixels decodeWebp takes by default: the largest still picture
// WebP holds. An animation's canvas may be larger (up to 2^32 pixels).
constexpr std::size_t webpMaxPixels = std::size_t(16383) * 16383;

// Decodes a whole WebP file: lossy or lossless, laid on white by
// out = (in*a + 255*(255-a) + 127) / 255 (opaque pixels come out exactly as
// decoded); of an animation, its canvas as the first frame leaves it. A
// picture or canvas of more than maxPixels is refused before anything is
// allocated for it. On failure pixels is null and error says why
// ("truncated WebP data").
WebpPicture decodeWebp(const unsigned char* data, std::size_t size, std::size_t maxPixels = webpMaxPixels);

// Encodes width x height packed RGB (rows top to bottom, no padding) as a
// lossy WebP at quality 0..100 (clamped) with method 4 (the library's default);
// non-empty exif (from its TIFF header on) goes into an EXIF chunk. Returns
// an empty string with the file in bytes, else the reason: "abandoned" when
// cancel was requested. The encoder runs on the calling thread and asks it
// first and then at each of its progress reports, stopping at the first
// that says so.
wxString encodeWebp(const unsigned char* rgb, std::size_t width, std::size_t height, int quality,
                    const std::vector<unsigned char>& exif, std::vector<char>& bytes, const CancelToken& cancel = {});
