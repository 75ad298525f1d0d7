// SPDX-License-Identifier: MIT
#include "exif.h"

#include "exif_carry.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <sys/types.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

using Bytes = std::vector<unsigned char>;

// libexif reads no further: its offsets are those of one JPEG segment.
constexpr std::size_t readableExif = 0xfffe - 6;
const unsigned char exifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};

// ---------------------------------------------------------------------------
// Which tags go where

}  // namespace

// Tags that described the source file's bytes, sampling or colours: wrong
// for any output, whatever the mode. The resolution is among them: the old
// dots per inch would print the reduced picture smaller; so are the profile
// (the pixels were converted to sRGB) and the subject's place in the old
// pixel grid.
bool describesSourcePixels(unsigned tag) {
    static const unsigned tags[] = {
        0x00fe, 0x00ff,                          // NewSubfileType, SubfileType
        0x0100, 0x0101, 0x0102, 0x0103, 0x0106,  // ImageWidth, ImageLength, BitsPerSample, Compression, Photometric
        0x0107, 0x0108, 0x0109, 0x010a,          // Threshholding, CellWidth, CellLength, FillOrder
        0x0111, 0x0115, 0x0116, 0x0117,          // StripOffsets, SamplesPerPixel, RowsPerStrip, StripByteCounts
        0x0118, 0x0119, 0x011a, 0x011b, 0x011c,  // Min/MaxSampleValue, X/YResolution, PlanarConfiguration
        0x0122, 0x0123, 0x0124, 0x0125, 0x0128,  // GrayResponseUnit/Curve, T4/T6Options, ResolutionUnit
        0x012d, 0x013d, 0x013e, 0x013f, 0x0140,  // TransferFunction, Predictor, WhitePoint, Primaries, ColorMap
        0x0141, 0x0142, 0x0143, 0x0144, 0x0145,  // HalftoneHints, TileWidth/Length/Offsets/ByteCounts
        0x014a, 0x014c, 0x0152, 0x0153, 0x0154,  // SubIFDs, InkSet, ExtraSamples, SampleFormat, SMinSampleValue
        0x0155, 0x0156,                          // SMaxSampleValue, TransferRange
        0x0200, 0x0201, 0x0202, 0x0203, 0x0205,  // old-style JPEG: process, stream, length, restarts, predictors
        0x0206, 0x0207, 0x0208, 0x0209,          // point transforms, quantisation and Huffman tables
        0x0211, 0x0212, 0x0213, 0x0214,          // YCbCrCoefficients/SubSampling/Positioning, ReferenceBlackWhite
        0x8773,                                  // InterColorProfile
        0x9101, 0x9102,                          // ComponentsConfiguration, CompressedBitsPerPixel
        0x9214, 0xa214,                          // SubjectArea, SubjectLocation
        0xa500,                                  // Gamma
    };
    return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

namespace {

// What the picture is and how it was taken, in the first or the EXIF IFD.
bool photosOwn(unsigned tag) {
    static const unsigned tags[] = {
        0x010e, 0x010f, 0x0110, 0x0132, 0x013b, 0x8298,  // ImageDescription, Make, Model, DateTime, Artist, Copyright
        0x829a, 0x829d, 0x8822,                          // ExposureTime, FNumber, ExposureProgram
        0x8827, 0x8830, 0x8831, 0x8832, 0x8833, 0x8834, 0x8835,  // ISO and the other sensitivities
        0x9000,                                                  // ExifVersion
        0x9003, 0x9004,                                          // DateTimeOriginal, DateTimeDigitized
        0x9010, 0x9011, 0x9012,                                  // OffsetTime, OffsetTimeOriginal, OffsetTimeDigitized
        0x9290, 0x9291, 0x9292,                                  // SubSecTime, SubSecTimeOriginal, SubSecTimeDigitized
        0x9201, 0x9202, 0x9203, 0x9204,  // ShutterSpeedValue, ApertureValue, BrightnessValue, ExposureBiasValue
        0x9205, 0x9206, 0x9207, 0x9208,  // MaxApertureValue, SubjectDistance, MeteringMode, LightSource
        0x9209, 0x920a,                  // Flash, FocalLength
        0xa215,                          // ExposureIndex
        0xa401, 0xa402, 0xa403, 0xa404,  // CustomRendered, ExposureMode, WhiteBalance, DigitalZoomRatio
        0xa405, 0xa406, 0xa407, 0xa408,  // FocalLengthIn35mmFilm, SceneCaptureType, GainControl, Contrast
        0xa409, 0xa40a, 0xa40c,          // Saturation, Sharpness, SubjectDistanceRange
        0xa432, 0xa433, 0xa434,          // LensSpecification, LensMake, LensModel
    };
    return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

// Tags this step writes itself.
bool rewritten(unsigned tag) {
    return tag == EXIF_TAG_ORIENTATION || tag == EXIF_TAG_SOFTWARE || tag == EXIF_TAG_COLOR_SPACE ||
           tag == EXIF_TAG_PIXEL_X_DIMENSION || tag == EXIF_TAG_PIXEL_Y_DIMENSION;
}

// ---------------------------------------------------------------------------
// libexif's data

// One ExifData with the allocator its memory came from.
class Exif {
public:
    Exif() : mem(exif_mem_new_default()), data(mem ? exif_data_new_mem(mem) : nullptr) {
        if (!data) return;
        // Every tag as found, unknown ones too; nothing made up.
        exif_data_unset_option(data, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
        exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    }
    Exif(const Exif&) = delete;
    Exif& operator=(const Exif&) = delete;
    ~Exif() {
        if (data) exif_data_unref(data);
        if (mem) exif_mem_unref(mem);
    }

    ExifMem* const mem;
    ExifData* const data;
};

// The bytes from the TIFF header on.
std::pair<const unsigned char*, std::size_t> tiffPart(const Bytes& exif) {
    const std::size_t prefix = exifPrefixLength(exif.data(), exif.size());
    return {exif.data() + prefix, exif.size() - prefix};
}

// Parses exif (from its TIFF header on) into into; true when it held any
// tag outside the thumbnail's directory.
bool parse(const Bytes& exif, Exif& into) {
    const auto [tiff, size] = tiffPart(exif);
    if (!into.data || size < 8) return false;
    Bytes segment(exifPrefix, exifPrefix + 6);
    segment.insert(segment.end(), tiff, tiff + std::min(size, readableExif));
    exif_data_load_data(into.data, segment.data(), static_cast<unsigned>(segment.size()));
    for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF, EXIF_IFD_GPS, EXIF_IFD_INTEROPERABILITY})
        if (into.data->ifd[ifd]->count) return true;
    return false;
}

template <typename Doomed>
void removeEntries(ExifContent* content, Doomed doomed) {
    std::vector<ExifEntry*> removed;
    for (unsigned i = 0; i < content->count; ++i)
        if (doomed(content->entries[i]->tag)) removed.push_back(content->entries[i]);
    for (ExifEntry* entry : removed) exif_content_remove_entry(content, entry);
}

// A new entry in ifd in place of any of the same tag, its value bytes
// copied from value or zero; null when memory runs out.
ExifEntry* putEntry(Exif& exif, ExifIfd ifd, unsigned tag, ExifFormat format, unsigned components,
                    const unsigned char* value = nullptr) {
    ExifContent* content = exif.data->ifd[ifd];
    const ExifTag t = static_cast<ExifTag>(tag);
    if (ExifEntry* old = exif_content_get_entry(content, t)) exif_content_remove_entry(content, old);
    const unsigned size = exif_format_get_size(format) * components;
    ExifEntry* entry = exif_entry_new_mem(exif.mem);
    if (!entry) return nullptr;
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(exif.mem, size));
    if (entry->data) {
        entry->tag = t, entry->format = format, entry->components = components, entry->size = size;
        if (value) std::memcpy(entry->data, value, size);
        exif_content_add_entry(content, entry);
    }
    exif_entry_unref(entry);
    return exif_content_get_entry(content, t);
}

void putShort(Exif& exif, ExifIfd ifd, unsigned tag, ExifShort value) {
    if (ExifEntry* entry = putEntry(exif, ifd, tag, EXIF_FORMAT_SHORT, 1))
        exif_set_short(entry->data, exif_data_get_byte_order(exif.data), value);
}

void putLong(Exif& exif, ExifIfd ifd, unsigned tag, ExifLong value) {
    if (ExifEntry* entry = putEntry(exif, ifd, tag, EXIF_FORMAT_LONG, 1))
        exif_set_long(entry->data, exif_data_get_byte_order(exif.data), value);
}

void putText(Exif& exif, ExifIfd ifd, unsigned tag, const std::string& text) {
    const std::string value = text.substr(0, 0xffff);  // NUL included, it still fits a JPEG segment
    putEntry(exif, ifd, tag, EXIF_FORMAT_ASCII, static_cast<unsigned>(value.size() + 1),
             reinterpret_cast<const unsigned char*>(value.c_str()));
}

void dropThumbnail(Exif& exif) {
    removeEntries(exif.data->ifd[EXIF_IFD_1], [](unsigned) { return true; });
    exif_mem_free(exif.mem, exif.data->data);
    exif.data->data = nullptr;
    exif.data->size = 0;
}

// Only what the mode keeps of the source's tags. The interoperability IFD
// goes in every mode: its index names the source file's colour encoding
// ("R03": Adobe RGB), which the sRGB output no longer has.
void filterTags(Exif& exif, MetadataMode mode) {
    dropThumbnail(exif);
    removeEntries(exif.data->ifd[EXIF_IFD_INTEROPERABILITY], [](unsigned) { return true; });
    if (mode != MetadataMode::All) removeEntries(exif.data->ifd[EXIF_IFD_GPS], [](unsigned) { return true; });
    for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF})
        removeEntries(exif.data->ifd[ifd], [mode](unsigned tag) {
            return rewritten(tag) || describesSourcePixels(tag) || (mode != MetadataMode::All && !photosOwn(tag));
        });
}

void writeOwnTags(Exif& exif, std::size_t width, std::size_t height, const std::string& software) {
    putShort(exif, EXIF_IFD_0, EXIF_TAG_ORIENTATION, 1);
    putText(exif, EXIF_IFD_0, EXIF_TAG_SOFTWARE, software);
    if (!exif_content_get_entry(exif.data->ifd[EXIF_IFD_EXIF], EXIF_TAG_EXIF_VERSION))
        putEntry(exif, EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, EXIF_FORMAT_UNDEFINED, 4,
                 reinterpret_cast<const unsigned char*>("0232"));
    putShort(exif, EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, 1);  // sRGB
    putLong(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, static_cast<ExifLong>(width));
    putLong(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, static_cast<ExifLong>(height));
}

// The EXIF bytes from the TIFF header on; empty when libexif could not
// write them.
Bytes serialise(Exif& exif) {
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(exif.data, &saved, &size);
    Bytes bytes;
    if (saved && size > 6 + 8) bytes.assign(saved + 6, saved + size);
    exif_mem_free(exif.mem, saved);
    return bytes;
}

// ---------------------------------------------------------------------------
// TIFF files

constexpr std::size_t tiffReadBudget = 64 * 1024;
constexpr std::size_t maxDirectoryEntries = 1024;

// Reads the file through readAt within a budget of bytes.
class TiffReader {
public:
    explicit TiffReader(const ReadAt& readAt) : readAt(readAt) {}

    bool read(std::uint64_t offset, std::size_t count, unsigned char* into) {
        if (count == 0) return true;  // an empty directory: into may be null
        if (count > budget || readAt(offset, into, count) != count) return false;
        budget -= count;
        return true;
    }
    // The byte order and the first IFD's offset of a classic TIFF file.
    bool header(std::uint32_t& first) {
        unsigned char head[8];
        if (!read(0, sizeof head, head)) return false;
        if (std::memcmp(head, "II*\0", 4) == 0)
            order = EXIF_BYTE_ORDER_INTEL;
        else if (std::memcmp(head, "MM\0*", 4) == 0)
            order = EXIF_BYTE_ORDER_MOTOROLA;
        else
            return false;
        first = u32(head + 4);
        return true;
    }
    unsigned u16(const unsigned char* bytes) const { return exif_get_short(bytes, order); }
    std::uint32_t u32(const unsigned char* bytes) const { return exif_get_long(bytes, order); }

    ExifByteOrder order = EXIF_BYTE_ORDER_INTEL;

private:
    const ReadAt& readAt;
    std::size_t budget = tiffReadBudget;
};

struct SubDirectories {
    std::uint32_t exif = 0, gps = 0;  // 0: none
};

// One directory entry's value into ifd, read where it lies.
void loadEntry(TiffReader& file, const unsigned char* entry, Exif& exif, ExifIfd ifd) {
    const unsigned tag = file.u16(entry);
    // A type number EXIF does not define is no ExifFormat: left out.
    const unsigned type = file.u16(entry + 2);
    if (type < EXIF_FORMAT_BYTE || type > EXIF_FORMAT_DOUBLE) return;
    const auto format = static_cast<ExifFormat>(type);
    const std::uint32_t count = file.u32(entry + 4);
    const std::size_t unit = exif_format_get_size(format);
    if (unit == 0 || count == 0 || count > tiffReadBudget / unit || describesSourcePixels(tag)) return;
    const std::size_t size = unit * count;
    Bytes value(size);
    if (size <= 4)
        std::memcpy(value.data(), entry + 8, size);
    else if (!file.read(file.u32(entry + 8), size, value.data()))
        return;
    putEntry(exif, ifd, tag, format, count, value.data());
}

// The directory at offset into ifd; the sub-directories it points to.
SubDirectories loadDirectory(TiffReader& file, std::uint32_t offset, Exif& exif, ExifIfd ifd) {
    SubDirectories pointed;
    unsigned char head[2];
    if (offset == 0 || !file.read(offset, 2, head)) return pointed;
    const std::size_t count = std::min<std::size_t>(file.u16(head), maxDirectoryEntries);
    Bytes table(12 * count);
    if (!file.read(std::uint64_t(offset) + 2, table.size(), table.data())) return pointed;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = table.data() + 12 * i;
        const unsigned tag = file.u16(entry);
        if (tag == EXIF_TAG_EXIF_IFD_POINTER)
            pointed.exif = file.u32(entry + 8);
        else if (tag == EXIF_TAG_GPS_INFO_IFD_POINTER)
            pointed.gps = file.u32(entry + 8);
        else if (tag != EXIF_TAG_INTEROPERABILITY_IFD_POINTER)
            loadEntry(file, entry, exif, ifd);
    }
    return pointed;
}

// Whether a TIFF file's tags tell anything about the photo: else it counts
// as a file without EXIF.
bool tellsAboutPhoto(Exif& exif) {
    if (exif.data->ifd[EXIF_IFD_EXIF]->count || exif.data->ifd[EXIF_IFD_GPS]->count) return true;
    const ExifContent* first = exif.data->ifd[EXIF_IFD_0];
    for (unsigned i = 0; i < first->count; ++i)
        if (photosOwn(first->entries[i]->tag)) return true;
    return false;
}

}  // namespace

std::size_t exifPrefixLength(const unsigned char* data, std::size_t size) {
    return size >= sizeof exifPrefix && std::memcmp(data, exifPrefix, sizeof exifPrefix) == 0 ? sizeof exifPrefix : 0;
}

OutputExif outputExif(const std::vector<unsigned char>& source, MetadataMode mode, std::size_t width,
                      std::size_t height, const std::string& software) {
    OutputExif output;
    if (source.empty() || mode == MetadataMode::None) return output;
    if (width > UINT32_MAX || height > UINT32_MAX) {
        output.note = "EXIF data left out: the picture is too large for its size tags";
        return output;
    }
    if (mode == MetadataMode::All) {  // as it is, so that maker notes keep their offsets
        const auto [tiff, size] = tiffPart(source);
        output.bytes = carriedExif(Bytes(tiff, tiff + size), width, height, software);
        if (!output.bytes.empty()) return output;
    }
    Exif exif;
    if (!parse(source, exif)) {
        output.note = "EXIF data left out: it cannot be read";
        return output;
    }
    filterTags(exif, mode);
    writeOwnTags(exif, width, height, software);
    output.bytes = serialise(exif);
    if (output.bytes.empty()) output.note = "EXIF data left out: not enough memory";
    return output;
}

ExifOrientation readExifOrientation(const std::vector<unsigned char>& exif) {
    ExifOrientation orientation;
    Exif parsed;
    if (!parse(exif, parsed)) return orientation;
    const ExifEntry* entry = exif_content_get_entry(parsed.data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry) return orientation;
    const int value = entry->format == EXIF_FORMAT_SHORT && entry->size >= 2
                          ? exif_get_short(entry->data, exif_data_get_byte_order(parsed.data))
                          : 0;
    orientation.stored = value;
    if (value >= 1 && value <= 8)
        orientation.value = value;
    else
        orientation.outOfRange = true;
    return orientation;
}

std::vector<unsigned char> tiffFileExif(const ReadAt& readAt) {
    TiffReader file(readAt);
    std::uint32_t first = 0;
    Exif exif;
    if (!exif.data || !file.header(first)) return Bytes();
    exif_data_set_byte_order(exif.data, file.order);
    const SubDirectories pointed = loadDirectory(file, first, exif, EXIF_IFD_0);
    loadDirectory(file, pointed.exif, exif, EXIF_IFD_EXIF);
    loadDirectory(file, pointed.gps, exif, EXIF_IFD_GPS);
    return tellsAboutPhoto(exif) ? serialise(exif) : Bytes();
}

std::vector<unsigned char> tiffFileExif(const unsigned char* data, std::size_t size) {
    return tiffFileExif([data, size](std::uint64_t offset, unsigned char* into, std::size_t count) -> std::size_t {
        if (!data || offset >= size) return 0;
        const std::size_t n = std::min<std::size_t>(count, size - static_cast<std::size_t>(offset));
        std::memcpy(into, data + offset, n);
        return n;
    });
}

std::vector<unsigned char> tiffFileExif(std::FILE* file) {
    return tiffFileExif([file](std::uint64_t offset, unsigned char* into, std::size_t count) -> std::size_t {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
            fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0)
            return 0;
        return std::fread(into, 1, count, file);
    });
}
