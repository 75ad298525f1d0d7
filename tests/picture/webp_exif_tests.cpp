// SPDX-License-Identifier: MIT
// WebP and EXIF as other readers see what pixloom writes (libwebp's own decoder and demuxer, libexif, libjpeg,
// libpng), and files written by other tools (exiv2, cwebp: files/make_files.sh) as pixloom reads them.
#include "exif.h"
#include "test_pictures.h"
#include "webp.h"
#include "writer.h"

#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <thread>

namespace {

Bytes file(const std::string& name) { return fileBytes(PIXLOOM_PICTURE_FILES "/" + name); }
const Bytes cameraExif = readJpeg(file("camera.jpg")).exif;  // exiv2's

// Gradients with seeded noise; the alpha channel takes every value.
Bytes testPicture(int width, int height, int channels, unsigned seed) {
    std::mt19937 random(seed);
    Bytes p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            for (int v : {255 * x / width, 255 * y / height, int(random() % 64 + 96)})
                p.push_back(static_cast<unsigned char>(v));
            if (channels == 4) p.push_back(static_cast<unsigned char>((x * 7 + y * 31) % 256));
        }
    return p;
}

// RGB of RGBA laid on white by the rule.
Bytes laidOnWhite(const Bytes& rgba) {
    Bytes rgb;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        for (int c = 0; c < 3; ++c) rgb.push_back(onWhite(rgba[i + c], rgba[i + 3]));
    return rgb;
}

// The tags of the first IFD and where the next starts, read by hand: the pointers libexif hides.
std::pair<std::vector<unsigned>, std::uint32_t> firstIfd(const Bytes& t) {
    const bool le = t.at(0) == 'I';
    auto u16 = [&](std::size_t at) { return le ? t.at(at) | t.at(at + 1) << 8 : t.at(at) << 8 | t.at(at + 1); };
    auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at + 2 * le)) << 16 | u16(at + 2 * !le); };
    std::vector<unsigned> tags;
    const std::size_t at = u32(4), n = u16(at);
    for (std::size_t i = 0; i < n; ++i) tags.push_back(u16(at + 2 + 12 * i));
    return {tags, u32(at + 2 + 12 * n)};
}

Bytes libwebpChunk(const Bytes& file, const char* fourcc) {
    const WebPData data = {file.data(), file.size()};
    WebPDemuxer* demuxer = WebPDemux(&data);
    WebPChunkIterator chunk;
    Bytes bytes;
    if (demuxer && WebPDemuxGetChunk(demuxer, fourcc, 1, &chunk))
        bytes.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size), WebPDemuxReleaseChunkIterator(&chunk);
    WebPDemuxDelete(demuxer);
    return bytes;
}

Bytes withChunks(const Bytes& still, const std::vector<std::pair<const char*, Bytes>>& chunks) {
    const WebPData image = {still.data(), still.size()};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    for (const auto& [fourcc, bytes] : chunks) {
        const WebPData chunk = {bytes.data(), bytes.size()};
        WebPMuxSetChunk(mux, fourcc, &chunk, 1);
    }
    WebPData out = {nullptr, 0};
    WebPMuxAssemble(mux, &out);
    WebPMuxDelete(mux);
    return taken(out.bytes, out.size);
}

const int W = 48, H = 32;
const Bytes rgbPicture = testPicture(W, H, 3, 1), rgbaPicture = testPicture(W, H, 4, 2);
const std::string software = "pixloom 9.8.7";

// Files from libwebp's own encoder.
enum class Kind { Lossy, LossyAlpha, Lossless, LosslessOpaque };
Bytes libwebpFile(Kind kind) {
    std::uint8_t* out = nullptr;
    switch (kind) {
    case Kind::Lossy: return taken(out, WebPEncodeRGB(rgbPicture.data(), W, H, 3 * W, 80, &out));
    case Kind::LossyAlpha: return taken(out, WebPEncodeRGBA(rgbaPicture.data(), W, H, 4 * W, 80, &out));
    case Kind::Lossless: return taken(out, WebPEncodeLosslessRGBA(rgbaPicture.data(), W, H, 4 * W, &out));
    default: return taken(out, WebPEncodeLosslessRGB(rgbPicture.data(), W, H, 3 * W, &out));
    }
}

Bytes libwebpDecoded(const Bytes& file, bool alpha) {
    int w = 0, h = 0;
    std::uint8_t* out = (alpha ? WebPDecodeRGBA : WebPDecodeRGB)(file.data(), file.size(), &w, &h);
    return out ? taken(out, std::size_t(w) * h * (alpha ? 4 : 3)) : Bytes();
}

// ---------------------------------------------------------------------------
// The EXIF an output carries, from a JPEG whose EXIF exiv2 wrote

struct Tag {
    const char* name;
    ExifIfd ifd;
    unsigned tag;
};
const ExifIfd I0 = EXIF_IFD_0, EX = EXIF_IFD_EXIF, GPS = EXIF_IFD_GPS;

// The photo's own tags: kept as the source had them in every mode but None.
const Tag ownTags[] = {
    {"Make", I0, 0x010f}, {"Model", I0, 0x0110}, {"ImageDescription", I0, 0x010e}, {"Artist", I0, 0x013b},
    {"Copyright", I0, 0x8298}, {"DateTime", I0, 0x0132}, {"DateTimeOriginal", EX, 0x9003},
    {"DateTimeDigitized", EX, 0x9004}, {"SubSecTimeOriginal", EX, 0x9291}, {"OffsetTimeOriginal", EX, 0x9011},
    {"ExposureTime", EX, 0x829a}, {"FNumber", EX, 0x829d}, {"ExposureProgram", EX, 0x8822},
    {"ISOSpeedRatings", EX, 0x8827}, {"ExposureBiasValue", EX, 0x9204}, {"MeteringMode", EX, 0x9207},
    {"Flash", EX, 0x9209}, {"FocalLength", EX, 0x920a}, {"FocalLengthIn35mmFilm", EX, 0xa405},
    {"WhiteBalance", EX, 0xa403}, {"ExposureMode", EX, 0xa402}, {"LensMake", EX, 0xa433}, {"LensModel", EX, 0xa434},
    {"LensSpecification", EX, 0xa432}, {"ExifVersion", EX, 0x9000},
};
// Tags only All keeps; tags no output has.
const Tag allOnlyTags[] = {
    {"MakerNote", EX, 0x927c}, {"UserComment", EX, 0x9286}, {"BodySerialNumber", EX, 0xa431},
    {"ImageUniqueID", EX, 0xa420}, {"GPSVersionID", GPS, 0x0000}, {"GPSLatitude", GPS, 0x0002},
    {"GPSLongitude", GPS, 0x0004},
};
const Tag neverTags[] = {
    {"XResolution", I0, 0x011a}, {"YResolution", I0, 0x011b}, {"ResolutionUnit", I0, 0x0128},
    {"SubjectArea", EX, 0x9214}, {"InteroperabilityIndex", EXIF_IFD_INTEROPERABILITY, 0x0001},
    {"JPEGInterchangeFormat", EXIF_IFD_1, 0x0201}, {"Compression", EXIF_IFD_1, 0x0103},
};

// Of exiv2's camera and of one-tag EXIF in either byte order: what each mode keeps and drops, and what every output
// has anew (Orientation 1, the output's size, sRGB, Software), in the source's byte order.
TEST(ExifFilter, WhatEachModeKeepsDropsAndWritesAnew) {
    const ExifRead camera(cameraExif);
    for (const Tag& t : ownTags) ASSERT_FALSE(camera.raw(t.ifd, t.tag).empty()) << "the source lacks " << t.name;
    for (const Tag& t : allOnlyTags) ASSERT_FALSE(camera.raw(t.ifd, t.tag).empty()) << "the source lacks " << t.name;
    ASSERT_GT(camera.data->size, 0u) << "the source lacks a thumbnail";
    for (const Bytes& source : {cameraExif, orientationExif(8), oneTagExif(false, 0x010f, EXIF_FORMAT_ASCII, 'A')}) {
        for (MetadataMode mode : {MetadataMode::Keep, MetadataMode::All}) {
            SCOPED_TRACE(std::string(mode == MetadataMode::Keep ? "keep " : "all ") + char(source[0]));
            const OutputExif out = outputExif(source, mode, 70000, 3, software);
            EXPECT_EQ(out.note, "");
            const ExifRead after(out.bytes);
            EXPECT_EQ(after.number(EXIF_IFD_0, 0x0112), 1);
            EXPECT_EQ(after.text(EXIF_IFD_0, 0x0131), software);
            EXPECT_EQ(after.number(EXIF_IFD_EXIF, 0xa002), 70000);
            EXPECT_EQ(after.number(EXIF_IFD_EXIF, 0xa003), 3);
            EXPECT_EQ(after.number(EXIF_IFD_EXIF, 0xa001), 1) << "sRGB";
            EXPECT_EQ(exif_data_get_byte_order(after.data.get()) == EXIF_BYTE_ORDER_MOTOROLA, source[0] == 'M');
            if (source != cameraExif) continue;
            const bool all = mode == MetadataMode::All;
            for (const Tag& t : ownTags) EXPECT_EQ(after.raw(t.ifd, t.tag), camera.raw(t.ifd, t.tag)) << t.name;
            for (const Tag& t : allOnlyTags)
                EXPECT_EQ(after.raw(t.ifd, t.tag), all ? camera.raw(t.ifd, t.tag) : Bytes()) << t.name;
            for (const Tag& t : neverTags) EXPECT_EQ(after.raw(t.ifd, t.tag), Bytes()) << t.name;
            EXPECT_EQ(after.data->size, 0u) << "thumbnail";
            const auto [tags, next] = firstIfd(out.bytes);
            EXPECT_EQ(next, 0u) << "a thumbnail's IFD";
            EXPECT_EQ(std::count(tags.begin(), tags.end(), 0x8825), all) << "GPS pointer";
        }
        EXPECT_EQ(outputExif(source, MetadataMode::None, 320, 240, software).bytes, Bytes());
    }
}

// EXIF holding blocks that may show the source: Photoshop's (with its preview), XMP and IPTC, and a thumbnail.
Bytes exifWithPictures() {
    ExifRead made(Bytes{});
    exif_data_set_byte_order(made.data.get(), EXIF_BYTE_ORDER_INTEL);
    const auto add = [&](unsigned tag, ExifFormat format, unsigned size, unsigned seed) {
        ExifEntry* entry = exif_entry_new();
        entry->tag = static_cast<ExifTag>(tag), entry->format = format, entry->components = entry->size = size;
        entry->data = static_cast<unsigned char*>(malloc(size));
        for (unsigned i = 0; i < size; ++i) entry->data[i] = static_cast<unsigned char>(seed + i * 7);
        exif_content_add_entry(made.data->ifd[EXIF_IFD_0], entry);
        exif_entry_unref(entry);
    };
    add(0x010f, EXIF_FORMAT_ASCII, 4, 'A');
    add(0x8649, EXIF_FORMAT_UNDEFINED, 300, 1), add(0x02bc, EXIF_FORMAT_BYTE, 100, 2);
    add(0x83bb, EXIF_FORMAT_UNDEFINED, 60, 3);
    made.data->data = static_cast<unsigned char*>(malloc(500)), made.data->size = 500;
    for (unsigned i = 0; i < 500; ++i) made.data->data[i] = static_cast<unsigned char>(4 + i * 7);
    unsigned char* saved = nullptr;
    unsigned size = 0;
    exif_data_save_data(made.data.get(), &saved, &size);
    const Bytes tiff(saved + 6, saved + size);
    free(saved);
    return tiff;
}

// All carries the source's EXIF as it is, so that maker notes, whose offsets count from the TIFF header, still point
// at their data: every byte stays where it was or is zeroed. No mode carries a picture of the source.
TEST(ExifFilter, AllKeepsEveryOffsetAndNoModeCarriesAPictureOfTheSource) {
    const OutputExif all = outputExif(cameraExif, MetadataMode::All, 320, 240, software);
    ASSERT_GE(all.bytes.size(), cameraExif.size());
    for (std::size_t i = 0; i < cameraExif.size(); ++i)
        ASSERT_TRUE(all.bytes[i] == cameraExif[i] || all.bytes[i] == 0 || (i >= 4 && i < 8)) << "moved at " << i;
    const Bytes makerNote = ExifRead(cameraExif).raw(EX, 0x927c);
    const auto at = [&](const Bytes& in) {
        return std::search(in.begin(), in.end(), makerNote.begin(), makerNote.end()) - in.begin();
    };
    EXPECT_EQ(at(all.bytes), at(cameraExif));
    EXPECT_EQ(ExifRead(all.bytes).raw(EX, 0x927c), makerNote);

    const Bytes pictures = exifWithPictures();
    ASSERT_EQ(ExifRead(pictures).raw(I0, 0x8649).size(), 300u);
    for (MetadataMode mode : {MetadataMode::Keep, MetadataMode::All}) {
        for (const Bytes& source : {pictures, cameraExif}) {
            const Bytes out = outputExif(source, mode, 320, 240, software).bytes;
            const ExifRead after(out);
            EXPECT_EQ(after.text(I0, 0x010f), ExifRead(source).text(I0, 0x010f));
            for (unsigned tag : {0x8649u, 0x02bcu, 0x83bbu}) EXPECT_EQ(after.raw(I0, tag), Bytes()) << tag;
            const ExifRead before(source);
            for (const Bytes& block : {before.raw(I0, 0x8649), before.raw(I0, 0x02bc), before.raw(I0, 0x83bb),
                                       Bytes(before.data->data, before.data->data + before.data->size)})
                for (std::size_t i = 0; i + 16 <= block.size(); i += 16)
                    EXPECT_EQ(std::search(out.begin(), out.end(), block.begin() + i, block.begin() + i + 16), out.end())
                        << "a piece of a block or thumbnail, mode " << int(mode);
        }
    }
}

TEST(ExifFilter, NoSourceExifGivesNoneAndUnreadableExifANote) {
    struct Row { const char* name; Bytes source; bool noted; std::size_t width = 10; } rows[] = {
        {"none", {}, false},
        {"words", Bytes{'n', 'o', 't', ' ', 'E', 'X', 'I', 'F', '!'}, true},
        {"prefix alone", Bytes{'E', 'x', 'i', 'f', 0, 0}, true},
        {"first IFD out of reach", Bytes{'I', 'I', 42, 0, 0xff, 0xff, 0, 0, 0, 0}, true},
        {"empty first IFD", Bytes{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0}, true},
        {"too wide for EXIF", oneTagExif(false, 0x010f, EXIF_FORMAT_ASCII, 'A'), true, std::size_t(1) << 32},
    };
    for (const Row& row : rows)
        for (MetadataMode mode : {MetadataMode::Keep, MetadataMode::All, MetadataMode::None}) {
            const OutputExif out = outputExif(row.source, mode, row.width, 10, software);
            EXPECT_EQ(out.bytes, Bytes()) << row.name;
            EXPECT_EQ(!out.note.empty(), row.noted && mode != MetadataMode::None) << row.name;
        }
}

// WebP outputs carry the EXIF to libwebp's demuxer, the pixels close to the picture's (PNG's: png_writer_tests,
// JPEG's segment: writer_tests).
TEST(ExifContainers, WebpCarriesItToLibwebpAndThePixelsStay) {
    for (const Bytes& exif : {Bytes(), outputExif(cameraExif, MetadataMode::Keep, W, H, software).bytes}) {
        std::vector<char> file;
        EncodeOptions options;
        options.exif = exif;
        ASSERT_EQ(encodePicture({rgbPicture.data(), W, H}, FileType::WebP, options, file), "");
        EXPECT_EQ(libwebpChunk(bytesOf(file), "EXIF"), exif);
        const Bytes decoded = libwebpDecoded(bytesOf(file), false);
        ASSERT_EQ(decoded.size(), rgbPicture.size());
        long difference = 0;
        for (std::size_t i = 0; i < decoded.size(); ++i) difference += std::abs(decoded[i] - rgbPicture[i]);
        EXPECT_LT(difference, 8 * long(decoded.size()));
    }
}

// ---------------------------------------------------------------------------
// TIFF files: their first IFD and what it points to, read within bounds

// A TIFF file from libtiff: its directory after 20000 one-row strips, their offsets 80 KB; with a make, a
// description and an artist of 40 KB each.
Bytes longTiff(const std::string& make) {
    const std::string long40k(40000, 'x');
    return tiffFile({2, 20000, 1, Bytes(40000, 1)}, [&](TIFF* t) {
        if (make.empty()) return;
        TIFFSetField(t, TIFFTAG_MAKE, make.c_str()), TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, long40k.c_str());
        TIFFSetField(t, TIFFTAG_ARTIST, long40k.c_str());
    }, 1);
}

// exiv2's tags in a TIFF file come out as those of its JPEG; files without them, or damaged, give none.
TEST(TiffExif, ExivTagsOfATiffFileAsThoseOfItsJpegAndNoneFromOtherFiles) {
    const Bytes tiff = file("camera.tif");
    const Bytes exif = tiffFileExif(tiff.data(), tiff.size());
    const ExifRead read(exif);
    EXPECT_EQ(read.text(EXIF_IFD_0, 0x010f), "TestCam");
    EXPECT_GT(read.data->ifd[EXIF_IFD_GPS]->count, 0u);
    EXPECT_EQ(read.raw(EXIF_IFD_0, 0x0111), Bytes()) << "StripOffsets";
    EXPECT_EQ(readExifOrientation(exif).value, 6);
    const ExifRead kept(outputExif(exif, MetadataMode::Keep, 8, 6, software).bytes);
    const ExifRead fromJpeg(outputExif(cameraExif, MetadataMode::Keep, 8, 6, software).bytes);
    for (const Tag& t : ownTags) EXPECT_EQ(kept.raw(t.ifd, t.tag), fromJpeg.raw(t.ifd, t.tag)) << t.name;
    std::FILE* stream = std::fopen(PIXLOOM_PICTURE_FILES "/camera.tif", "rb");
    EXPECT_EQ(tiffFileExif(stream), exif);
    std::fclose(stream);
    const Bytes plain = longTiff(""), big = {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(tiffFileExif(plain.data(), plain.size()), Bytes());
    EXPECT_EQ(tiffFileExif(big.data(), big.size()), Bytes()) << "BigTIFF";
    EXPECT_EQ(tiffFileExif(nullptr, 0), Bytes());
}

TEST(TiffExif, ReadsDirectoriesOnlyWithinItsBudget) {
    const Bytes tiff = longTiff("TestCam");
    std::size_t read = 0, imageBytesRead = 0;
    const Bytes exif = tiffFileExif([&](std::uint64_t offset, unsigned char* into, std::size_t count) -> std::size_t {
        const std::size_t n = offset >= tiff.size() ? 0 : std::min<std::size_t>(count, tiff.size() - offset);
        std::copy_n(tiff.begin() + std::min<std::size_t>(offset, tiff.size()), n, into);
        for (std::size_t i = offset; i < offset + n; ++i) imageBytesRead += i >= 8 && i < 8 + 40000;
        return read += n, n;
    });
    const ExifRead tags(exif);
    EXPECT_EQ(tags.text(EXIF_IFD_0, 0x010f), "TestCam");
    EXPECT_EQ(tags.text(EXIF_IFD_0, 0x010e).size(), 40000u);
    EXPECT_EQ(tags.text(EXIF_IFD_0, 0x013b), "") << "the artist is over the budget";
    EXPECT_LE(read, 64u * 1024);
    EXPECT_EQ(imageBytesRead, 0u);
}

// ---------------------------------------------------------------------------
// WebP decoding

// Every kind's pixels as the rule lays them on white, its size from the first bytes alone, its profile and EXIF.
TEST(WebpDecode, PixelsProfileAndExifOfEveryKind) {
    Bytes secondFrame = rgbaPicture;
    std::reverse(secondFrame.begin(), secondFrame.end());
    const Bytes profile(300, 0x5a), exif = orientationExif(6), camera = file("camera.webp");
    const Bytes lossy = libwebpFile(Kind::Lossy), asLibwebp = libwebpDecoded(lossy, false);
    const Bytes lossyAlpha = libwebpFile(Kind::LossyAlpha);
    struct Row { const char* name; Bytes file, pixels, profile = {}, exif = {}; } rows[] = {
        {"lossy, as libwebp decodes it", lossy, asLibwebp},
        {"lossless opaque", libwebpFile(Kind::LosslessOpaque), rgbPicture},
        {"lossless with alpha", libwebpFile(Kind::Lossless), laidOnWhite(rgbaPicture)},
        {"lossy with alpha", lossyAlpha, laidOnWhite(libwebpDecoded(lossyAlpha, true))},
        {"animation's first frame", animation({rgbaPicture, secondFrame}, W, H), laidOnWhite(rgbaPicture)},
        {"profile and EXIF", withChunks(lossy, {{"ICCP", profile}, {"EXIF", exif}}), asLibwebp, profile, exif},
        {"EXIF after Exif\\0\\0", withChunks(lossy, {{"EXIF", exifSegment(exif)}}), asLibwebp, {}, exif},
        {"cwebp's copy of a JPEG's EXIF", camera, libwebpDecoded(camera, false), {}, cameraExif},
    };
    for (const Row& row : rows) {
        const WebpPicture picture = decodeWebp(row.file.data(), row.file.size());
        ASSERT_TRUE(picture.ok()) << row.name << ": " << picture.error;
        const Bytes pixels(picture.pixels.get(), picture.pixels.get() + 3 * picture.width * picture.height);
        EXPECT_TRUE(pixels == row.pixels && picture.profile == row.profile && picture.exif == row.exif) << row.name;
        std::size_t w = 0, h = 0;
        EXPECT_TRUE(readWebpSize(row.file.data(), std::min<std::size_t>(row.file.size(), 64), w, h)) << row.name;
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(picture.width, picture.height)) << row.name;
    }
}

TEST(WebpDecode, DamagedDataFailsWithAReason) {
    const Bytes files[] = {libwebpFile(Kind::Lossy), libwebpFile(Kind::LossyAlpha), libwebpFile(Kind::Lossless),
                           animation({rgbaPicture, rgbaPicture}, W, H)};
    for (const Bytes& file : files)
        for (std::size_t n = 0; n < file.size(); n += 1 + n / 16) {
            const WebpPicture picture = decodeWebp(file.data(), n);
            EXPECT_EQ(picture.error, n < 12 ? "not a WebP file" : "truncated WebP data") << n;
            EXPECT_EQ(picture.pixels, nullptr);
        }
    const Bytes garbage(100, 0x11);
    EXPECT_EQ(decodeWebp(garbage.data(), garbage.size()).error, "not a WebP file");
}

TEST(WebpDecode, TooManyPixelsAreRefusedNotAllocated) {
    Bytes huge = animation({rgbaPicture, rgbPicture}, W, H * 3 / 4);
    ASSERT_EQ(std::string(huge.begin() + 12, huge.begin() + 16), "VP8X");
    const unsigned char canvas[6] = {0xff, 0xff, 0, 0xfe, 0xff, 0};  // 65536 x 65535, less than 2^32 pixels
    std::copy_n(canvas, 6, huge.begin() + 24);
    std::size_t w = 0, h = 0;
    EXPECT_TRUE(readWebpSize(huge.data(), huge.size(), w, h));
    EXPECT_EQ(w * h, std::size_t(65536) * 65535);
    struct Row { const char* name; Bytes file; std::size_t maxPixels; const char* error; } rows[] = {
        {"huge canvas", huge, webpMaxPixels, "65536x65535 is too large"},
        {"one pixel over the cap", libwebpFile(Kind::Lossless), W * H - 1, "48x32 is too large"},
        {"at the cap", libwebpFile(Kind::Lossless), W * H, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(decodeWebp(row.file.data(), row.file.size(), row.maxPixels).error, row.error) << row.name;
}

// ---------------------------------------------------------------------------
// WebP encoding (its pixels and sizes: with the other containers and the size search)

TEST(WebpEncode, RefusesWhatItCannotEncodeClampsTheQualityAndIsAbandonedWhenCancelled) {
    std::vector<char> file, low, clamped;
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{0, 5}, {5, 0}, {16384, 1}, {1, 16384}})
        EXPECT_NE(encodeWebp(rgbPicture.data(), w, h, 50, {}, file), "") << w << "x" << h;
    EXPECT_EQ(encodeWebp(rgbPicture.data(), W, H, 0, {}, low), "");
    EXPECT_EQ(encodeWebp(rgbPicture.data(), W, H, -20, {}, clamped), "");
    EXPECT_EQ(low, clamped);
    // Given up, the encoding writes nothing; a request during it either stops it or comes after the file is whole.
    const Bytes picture = testPicture(1200, 900, 3, 4);
    enum When { Never, Before, During };
    for (When when : {Never, Before, During}) {
        CancelToken cancel;
        if (when == Before) cancel.request();
        std::vector<char> file;
        wxString reason;
        std::thread encoding([&] { reason = encodeWebp(picture.data(), 1200, 900, 75, {}, file, cancel); });
        if (when == During) cancel.request();
        encoding.join();
        EXPECT_EQ(file.empty(), reason == "abandoned") << when << ": " << reason;
        EXPECT_TRUE(when == During || reason == (when == Never ? "" : "abandoned")) << when << ": " << reason;
    }
}

}  // namespace
