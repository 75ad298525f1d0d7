// SPDX-License-Identifier: MIT
// WebP sources: the file read whole (libwebp decodes from memory), then its
// profile and orientation applied as for every other format.
#include "colour.h"
#include "formats.h"
#include "webp.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

namespace formats {
namespace {

// The file as far as its RIFF header says it goes (what follows is no part
// of it), read a piece at a time so that a stop is seen; or false with the
// picture's error set.
bool readWhole(const Source& source, Bytes& bytes, DecodedPicture& picture) {
    unsigned char head[8];
    struct stat status;
    if (std::fread(head, 1, sizeof head, source.file) != sizeof head || fstat(fileno(source.file), &status) != 0) {
        picture.error = wxT("cannot read the file");
        return false;
    }
    const std::uint64_t riffSize = std::uint64_t(head[4]) | head[5] << 8 | head[6] << 16 | std::uint64_t(head[7]) << 24;
    const std::uint64_t fileSize = std::uint64_t(std::max<off_t>(status.st_size, sizeof head));
    bytes.resize(static_cast<std::size_t>(std::min(riffSize + 8, fileSize)));
    std::copy(head, head + sizeof head, bytes.begin());
    const std::size_t piece = 4 << 20;
    for (std::size_t at = sizeof head; at < bytes.size(); at += piece) {
        if (source.cancelled()) {
            picture.error = wxT("cancelled");
            return false;
        }
        const std::size_t count = std::min(piece, bytes.size() - at);
        if (std::fread(bytes.data() + at, 1, count, source.file) != count) {
            picture.error = wxT("cannot read the file");
            return false;
        }
    }
    return true;
}

}  // namespace

void decodeWebpFile(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    Clock::time_point start = Clock::now();
    Bytes bytes;
    if (!readWhole(source, bytes, picture)) return;
    if (source.cancelled()) return picture.fail(wxT("cancelled"));
    WebpPicture webp = decodeWebp(bytes.data(), bytes.size());
    if (!webp.ok()) return picture.fail(webp.error);
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
