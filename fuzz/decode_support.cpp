// SPDX-License-Identifier: MIT
#include "decode_support.h"

#include "exif.h"
#include "fuzz_support.h"
#include "picture.h"

#include <cstring>
#include <utility>

namespace fuzzing {
namespace {

constexpr long long maxFuzzedPixels = 1 << 22;

// Reads every sample, so that a buffer smaller than its size says shows.
unsigned checksum(const DecodedPicture& picture) {
    unsigned sum = 0;
    const std::size_t bytes = 3 * std::size_t(picture.width) * std::size_t(picture.height);
    for (std::size_t i = 0; i < bytes; ++i) sum += picture.pixels[i];
    return sum;
}

void checkDecoded(const DecodedPicture& picture, bool sizeKnown, long long width, long long height) {
    if (!picture.ok()) {
        if (picture.error.empty() || picture.pixels) broken("a failed decode keeps samples or gives no reason");
        return;
    }
    if (picture.width <= 0 || picture.height <= 0) broken("a decoded picture without pixels");
    // The header's size is what a run's memory check before decoding trusts.
    const bool asStored = picture.width == width && picture.height == height;
    const bool turned = picture.width == height && picture.height == width;
    if (sizeKnown && !asStored && !turned) broken("the picture's size is not the one its header told");
    volatile unsigned sum = checksum(picture);
    (void)sum;
}

}  // namespace

bool startsWith(const std::uint8_t* data, std::size_t size, const char* signature, std::size_t length) {
    return size >= length && std::memcmp(data, signature, length) == 0;
}

int decodeSource(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) return 0;
    long long width = 0, height = 0;
    const bool sizeKnown = readPictureSize(file.path(), width, height);
    if (sizeKnown && width > 0 && height > 0 && width > maxFuzzedPixels / height) return 0;
    DecodeOptions options;
    options.threads = 1;
    const DecodedPicture picture = decodePicture(file.path(), options);
    checkDecoded(picture, sizeKnown, width, height);
    if (picture.ok()) outputExif(picture.exif, MetadataMode::Keep, picture.width, picture.height, "pixloom");
    return 0;
}

}  // namespace fuzzing
