// SPDX-License-Identifier: MIT
// Where every source file becomes a picture: the file is opened and its
// first bytes tell which format's decoder gets it.
#include "formats.h"

#include "image.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

DecodedPicture::DecodedPicture(DecodedPicture&& other) noexcept
    : pixels(other.release()),
      width(other.width),
      height(other.height),
      error(std::move(other.error)),
      notes(std::move(other.notes)),
      exif(std::move(other.exif)),
      damaged(other.damaged) {
    other.width = other.height = 0;
}

DecodedPicture& DecodedPicture::operator=(DecodedPicture&& other) noexcept {
    if (this != &other) {
        std::free(pixels);
        width = other.width;
        height = other.height;
        pixels = other.release();
        other.width = other.height = 0;
        error = std::move(other.error);
        notes = std::move(other.notes);
        exif = std::move(other.exif);
        damaged = other.damaged;
    }
    return *this;
}

DecodedPicture::~DecodedPicture() { std::free(pixels); }

unsigned char* DecodedPicture::release() {
    unsigned char* taken = pixels;
    pixels = nullptr;
    return taken;
}

void DecodedPicture::fail(const wxString& reason) {
    std::free(release());
    width = height = 0;
    error = reason;
}

namespace formats {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

unsigned char* allocate(DecodedPicture& picture, long long width, long long height, int channels) {
    std::size_t bytes;
    if (!pictureByteCount(width, height, channels, bytes)) {
        picture.error = wxString::Format(wxT("%lldx%lld is too large"), width, height);
        return nullptr;
    }
    auto* buffer = static_cast<unsigned char*>(std::malloc(std::max<std::size_t>(bytes, 1)));
    if (!buffer) picture.error = wxString::Format(wxT("not enough memory for a %lldx%lld picture"), width, height);
    return buffer;
}

int Source::threads() const { return options.threads > 0 ? options.threads : Image::threadCount(); }

namespace {

wxString systemReason(int code) {
    char buffer[256];
    return wxString(strerror_r(code, buffer, sizeof buffer));
}

unsigned littleEndian(const unsigned char* bytes, int count) {
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

unsigned bigEndian(const unsigned char* bytes, int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

bool isJpeg(const unsigned char* head) { return head[0] == 0xFF && head[1] == 0xD8; }
bool isPng(const unsigned char* head) { return std::memcmp(head, "\x89PNG", 4) == 0; }
bool isWebpFile(const unsigned char* head) {
    return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}
bool isTiff(const unsigned char* head) {  // classic or BigTIFF
    return std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0 ||
           std::memcmp(head, "II+\0", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0;
}

// The source opened for reading, or null with the reason in error.
File openSource(const wxString& path, wxString& error) {
    const wxCharBuffer name = wxConvFileName->cWX2MB(path);
    if (!name.data()) {
        error = wxT("cannot open: the name cannot be converted to a file name");
        return nullptr;
    }
    File file(std::fopen(name.data(), "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0) {
        error = wxT("cannot open: ") + systemReason(errno);
        return nullptr;
    }
    if (S_ISDIR(status.st_mode)) {
        error = wxT("cannot open: ") + systemReason(EISDIR);
        return nullptr;
    }
    return file;
}

}  // namespace
}  // namespace formats

using namespace formats;

bool readPictureSize(const wxString& path, long long& width, long long& height) {
    wxString error;
    File file = openSource(path, error);
    unsigned char head[26] = {};
    if (!file || std::fread(head, 1, sizeof head, file.get()) < sizeof head) return false;
    std::rewind(file.get());
    if (isJpeg(head)) return readJpegSize(file.get(), width, height);
    if (isPng(head)) {  // IHDR comes first
        width = bigEndian(head + 16, 4), height = bigEndian(head + 20, 4);
        return true;
    }
    if (std::memcmp(head, "GIF8", 4) == 0) {  // the first image's size, not the screen's
        GifImage image;
        if (!findFirstGifImage(file.get(), image)) return false;
        width = image.width, height = image.height;
        return true;
    }
    if (head[0] == 'B' && head[1] == 'M') {  // rows may be stored bottom up: a negative height
        width = static_cast<int>(littleEndian(head + 18, 4));
        height = std::llabs(static_cast<int>(littleEndian(head + 22, 4)));
        return true;
    }
    if (isTiff(head)) return readTiffSize(file.get(), width, height);
    if (isWebpFile(head)) return readWebpFileSize(file.get(), width, height);
    return false;
}

DecodedPicture decodePicture(const wxString& path, const DecodeOptions& options, DecodeTimes* times) {
    DecodedPicture picture;
    DecodeTimes spent;
    File file = openSource(path, picture.error);
    if (!file) return picture;
    unsigned char magic[12] = {};
    const std::size_t read = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    const Source source{file.get(), options};
    if (read >= 2 && isJpeg(magic))
        decodeJpeg(source, picture, spent);
    else if (read >= 4 && isPng(magic))
        decodePng(source, picture, spent);
    else if (read == sizeof magic && isWebpFile(magic))
        decodeWebpFile(source, picture, spent);
    else if (read >= 4 && isTiff(magic))
        decodeTiff(source, picture, spent);
    else
        decodeWithToolkit(source, picture, spent);
    if (!picture.error.empty()) picture.fail(picture.error);
    if (times) *times = spent;
    return picture;
}
