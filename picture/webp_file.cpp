// SPDX-License-Identifier: MIT
// WebP sources: the file read whole (libwebp decodes from memory), then its
// profile and orientation applied as for every other format.
#include "colour.h"
#include "formats.h"
#include "webp.h"

#include <sys/stat.h>

#include <climits>

namespace formats {
namespace {

// The whole file, or false with the picture's error set.
bool readWhole(std::FILE* file, Bytes& bytes, DecodedPicture& picture) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || status.st_size < 0 || std::uint64_t(status.st_size) > UINT32_MAX) {
        picture.error = wxT("damaged WebP data (the file is larger than WebP allows)");
        return false;
    }
    bytes.resize(static_cast<std::size_t>(status.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        picture.error = wxT("cannot read the file");
        return false;
    }
    return true;
}

}  // namespace

void decodeWebpFile(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    Clock::time_point start = Clock::now();
    Bytes bytes;
    if (!readWhole(source.file, bytes, picture)) return;
    if (source.cancelled()) return picture.fail(wxT("cancelled"));
    WebpPicture webp = decodeWebp(bytes.data(), bytes.size());
    if (!webp.ok()) return picture.fail(wxString::FromUTF8(webp.error.c_str()));
    picture.width = static_cast<int>(webp.width);
    picture.height = static_cast<int>(webp.height);
    picture.pixels = webp.release();
    picture.exif = std::move(webp.exif);
    times.samples = millisecondsSince(start);

    start = Clock::now();
    ColourConversion conversion(webp.profile, Samples::Rgb, picture.notes);
    if (conversion.active()) convertColours(conversion, picture, Samples::Rgb, source.threads());
    const int orientation = orientationFromExif(picture.exif, picture.notes);
    if (!orientPicture(picture, orientation, source.threads()))
        picture.fail(wxString::Format(wxT("not enough memory to turn a %dx%d picture"), picture.width, picture.height));
    times.conversion = millisecondsSince(start);
}

bool readWebpFileSize(std::FILE* file, long long& width, long long& height) {
    unsigned char head[64] = {};
    const std::size_t read = std::fread(head, 1, sizeof head, file);
    std::size_t w = 0, h = 0;
    if (!readWebpSize(head, read, w, h)) return false;
    width = static_cast<long long>(w), height = static_cast<long long>(h);
    return true;
}

}  // namespace formats
