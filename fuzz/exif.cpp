// SPDX-License-Identifier: MIT
// EXIF: the EXIF an output carries, made from fuzzed bytes in each mode; the
// orientation they tell; the EXIF gathered from a TIFF file's directories.
#include "exif.h"
#include "fuzz_support.h"

#include <libexif/exif-data.h>

#include <cstring>

namespace {

using Bytes = std::vector<unsigned char>;

bool hasTiffHeader(const Bytes& exif) {
    return exif.size() >= 8 && (std::memcmp(exif.data(), "II*\0", 4) == 0 || std::memcmp(exif.data(), "MM\0*", 4) == 0);
}

// The location stays out unless every tag is asked for: no GPS directory,
// no tag numbered as GPS tags are in any other.
bool tellsLocation(const Bytes& exif) {
    Bytes segment{'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), exif.begin(), exif.end());
    ExifData* data = exif_data_new();
    if (!data) return false;
    exif_data_unset_option(data, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data, segment.data(), static_cast<unsigned>(segment.size()));
    bool found = data->ifd[EXIF_IFD_GPS]->count != 0;
    for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd)
        for (unsigned i = 0; i < data->ifd[ifd]->count; ++i) found = found || data->ifd[ifd]->entries[i]->tag <= 0x1f;
    exif_data_unref(data);
    return found;
}

void checkOutput(const Bytes& source, MetadataMode mode) {
    const OutputExif output = outputExif(source, mode, 640, 480, "pixloom");
    if (output.bytes.empty()) return;
    if (mode == MetadataMode::None) fuzzing::broken("EXIF written when none is asked for");
    if (!hasTiffHeader(output.bytes)) fuzzing::broken("written EXIF does not start with a TIFF header");
    const ExifOrientation orientation = readExifOrientation(output.bytes);
    if (orientation.value != 1 || orientation.outOfRange) fuzzing::broken("an upright output's EXIF tells a turn");
    if (mode == MetadataMode::Keep && tellsLocation(output.bytes)) fuzzing::broken("the location kept");
    if (outputExif(output.bytes, mode, 640, 480, "pixloom").bytes.empty())
        fuzzing::broken("written EXIF cannot be read again");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes source(data, data + size);
    for (MetadataMode mode : {MetadataMode::Keep, MetadataMode::All, MetadataMode::None}) checkOutput(source, mode);
    const ExifOrientation orientation = readExifOrientation(source);
    if (orientation.value < 1 || orientation.value > 8) fuzzing::broken("an orientation outside 1 to 8");
    const Bytes gathered = tiffFileExif(data, size);
    if (!gathered.empty()) {
        if (!hasTiffHeader(gathered)) fuzzing::broken("a TIFF file's EXIF does not start with a TIFF header");
        checkOutput(gathered, MetadataMode::Keep);
    }
    return 0;
}
