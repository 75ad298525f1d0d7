// SPDX-License-Identifier: MIT
// The EXIF a written picture carries, made from its source's with libexif:
// the photo's own data (dates, camera, lens, exposure, author) kept, its
// location never unless asked, and nothing that described the source's
// pixels. Also the orientation it tells, and the EXIF of a TIFF file read
// without reading the whole file.
// EXIF bytes here start at the TIFF header ("II*\0" or "MM\0*"); functions
// taking them skip a leading "Exif\0\0" as found in a JPEG segment. Nothing
// beyond the first 64 KiB of EXIF is read, as a JPEG segment holds no more.
// No toolkit calls (its string type carries the reasons); every function may
// run on several threads at once.
#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

enum class MetadataMode {
    Keep,  // dates, camera, lens, exposure, author, description; no location, maker notes or thumbnail
    All,   // the source's EXIF as it is (maker notes keep their offsets), location included; no picture of the source
    None,  // no EXIF at all
};

struct OutputExif {
    std::vector<unsigned char> bytes;  // from the TIFF header on; empty when there is nothing to write
    wxString note;                     // when the source's EXIF could not be carried over: why; else empty
};

// The EXIF for an output of width x height made from a source with EXIF
// source (empty when it has none; then so is the result, and the output is
// written as it would be without this step). Besides what the mode keeps:
// Orientation 1 (the picture was turned upright), PixelXDimension and
// PixelYDimension the output's, ColorSpace sRGB, Software the given text.
OutputExif outputExif(const std::vector<unsigned char>& source, MetadataMode mode, std::size_t width,
                      std::size_t height, const std::string& software);

struct ExifOrientation {
    int value = 1;            // 1..8 as EXIF and TIFF number them; 1 when absent or out of range
    bool outOfRange = false;  // an Orientation tag was there with another value (or type)
    int stored = 0;           // the tag's value as stored; 0 when absent or of another type
};

// The first IFD's Orientation tag: how the stored rows are to be turned.
ExifOrientation readExifOrientation(const std::vector<unsigned char>& exif);

// 6 when data starts with "Exif\0\0" (as a JPEG segment's EXIF does, and
// some writers' PNG and WebP chunks), else 0: where the TIFF header starts.
std::size_t exifPrefixLength(const unsigned char* data, std::size_t size);

// The largest EXIF a JPEG file can carry: one APP1 segment of at most 65533
// bytes after its length, "Exif\0\0" included.
constexpr std::size_t maxJpegExif = 65533 - 6;

// Reads up to count bytes at offset into into; returns how many it read.
using ReadAt = std::function<std::size_t(std::uint64_t offset, unsigned char* into, std::size_t count)>;

// The EXIF of a TIFF file (its first IFD with the EXIF and GPS IFDs it
// points to) as EXIF bytes for outputExif. Reads only directories and their
// values, 64 KiB in all at most, never the image data. Empty when the file
// is not a classic TIFF file or has no tags worth carrying.
std::vector<unsigned char> tiffFileExif(const ReadAt& readAt);
std::vector<unsigned char> tiffFileExif(const unsigned char* data, std::size_t size);
// Leaves the file's position anywhere.
std::vector<unsigned char> tiffFileExif(std::FILE* file);
