// SPDX-License-Identifier: MIT
// What the decoding stage shares between its formats: one decoder per file
// format, each filling a DecodedPicture from an open file, and the helpers
// they have in common. Internal to picture/.
#pragma once

#include "picture.h"
#include "writer.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace formats {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start);

// A malloc'd buffer of channels x width x height bytes; on failure the
// picture gets the reason, naming the size.
unsigned char* allocate(DecodedPicture& picture, long long width, long long height, int channels);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// An open source file and what the caller asked of its decoding.
struct Source {
    std::FILE* file;
    DecodeOptions options;
    int threads() const;
    bool cancelled() const { return options.cancel.requested(); }
};

// Each decoder leaves the picture decoded (upright, opaque, sRGB) or with
// its error set and no samples.
void decodeJpeg(const Source& source, DecodedPicture& picture, DecodeTimes& times);
void decodePng(const Source& source, DecodedPicture& picture, DecodeTimes& times);
void decodeWebpFile(const Source& source, DecodedPicture& picture, DecodeTimes& times);
void decodeTiff(const Source& source, DecodedPicture& picture, DecodeTimes& times);
// GIF and BMP, decoded by the toolkit.
void decodeWithToolkit(const Source& source, DecodedPicture& picture, DecodeTimes& times);

// Encoders, for encodePicture.
wxString encodeJpeg(const RgbPicture& picture, const EncodeOptions& options, std::vector<char>& out);
// The toolkit's writer for an extension ("png", "bmp").
wxString encodeWithToolkit(const RgbPicture& picture, const wxString& extension, std::vector<char>& out);

// The first image of a GIF file as the toolkit finds it: its size (the
// decoded picture's) and the LZW code size its data starts with. GIF allows
// code sizes up to 8; the toolkit's decoder writes past its tables from 12
// on, and it decodes every image of an animation, so only the first may
// reach it (see decodeWithToolkit).
struct GifImage {
    long long width = 0, height = 0;
    int codeSize = -1;  // -1: the file ends before it
    // Its data ends with an empty sub-block before the file ends. The toolkit
    // takes a sub-block size it cannot read as 4 GB and clears that much.
    bool dataComplete = false;
};
constexpr int maxGifCodeSize = 8;
// LZW codes are at least 2 bits and stand for at most 4096 pixels: no GIF
// holds more pixels than this many times its bytes.
constexpr long long maxGifPixelsPerByte = 4 * 4096;
// False when the toolkit would find no image. Leaves the file's position anywhere.
bool findFirstGifImage(std::FILE* file, GifImage& image);

bool readJpegSize(std::FILE* file, long long& width, long long& height);
bool readTiffSize(std::FILE* file, long long& width, long long& height);
bool readWebpFileSize(std::FILE* file, long long& width, long long& height);

// The orientation an EXIF block (from its TIFF header on) gives; 1 when it
// has none. A value outside 1 to 8 counts as 1, with a note.
int orientationFromExif(const Bytes& exif, std::vector<wxString>& notes);

}  // namespace formats
