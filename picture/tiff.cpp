// SPDX-License-Identifier: MIT
// TIFF: decoded by the toolkit (libtiff's RGBA reader); what it leaves out
// of the header (orientations with a transposition, the colour profile) is
// read here.
#include "formats.h"

#include <tiffio.h>
#include <unistd.h>

namespace formats {
namespace {

int ignoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The file's TIFF header, quietly; null when it has none. On a duplicate
// descriptor: closing the TIFF closes it.
TIFF* openTiff(std::FILE* file) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, ignoreTiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreTiffMessage, nullptr);
    const int descriptor = dup(fileno(file));
    TIFF* tiff = descriptor < 0 ? nullptr : TIFFFdOpenExt(descriptor, "", "rm", options);
    TIFFOpenOptionsFree(options);
    if (!tiff && descriptor >= 0) close(descriptor);
    return tiff;
}

}  // namespace

TiffMetadata readTiffMetadata(std::FILE* file) {
    TiffMetadata metadata;
    TIFF* tiff = openTiff(file);
    if (!tiff) return metadata;
    // libtiff's RGBA reader, which the toolkit uses, applies the mirrorings
    // of the orientation but not the transposition of 5 to 8: 5 and 7 come
    // out stored as 1 and 3 would, 6 and 8 as 2 and 4. What remains:
    // transposing (5), or transposing across the other diagonal (7).
    uint16_t orientation = 1;
    if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation >= 5 && orientation <= 8)
        metadata.orientation = orientation == 5 || orientation == 7 ? 5 : 7;
    uint16_t photometric = 0;
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        metadata.grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    uint32_t length = 0;
    void* data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data) && data)
        metadata.profile.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + length);
    TIFFClose(tiff);
    return metadata;
}

bool readTiffSize(std::FILE* file, long long& width, long long& height) {
    TIFF* tiff = openTiff(file);
    if (!tiff) return false;
    uint32_t w = 0, h = 0;
    const bool known = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFClose(tiff);
    width = w, height = h;
    return known;
}

}  // namespace formats
