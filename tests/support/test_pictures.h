// SPDX-License-Identifier: MIT
// Pictures made and read by the format libraries themselves (libjpeg, libpng, libtiff, libexif), so that pixloom's
// own readers and writers are held to someone else's.
#pragma once

#include <jpeglib.h>
#include <lcms2.h>
#include <libexif/exif-data.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using Bytes = std::vector<unsigned char>;

template <class Container>
Bytes bytesOf(const Container& c) { return Bytes(c.begin(), c.end()); }
inline Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The rule every reader of pixloom follows to lay a sample of alpha a on white.
inline unsigned char onWhite(int c, int a) { return static_cast<unsigned char>((c * a + 255 * (255 - a) + 127) / 255); }

// Packed samples, rows top to bottom, of 1 (grey), 3 (RGB) or 4 (RGBA; CMYK for JPEG) channels.
struct Raster {
    int width = 0, height = 0, channels = 3;
    Bytes samples = {};
};
// EXIF from its TIFF header on with one IFD0 entry, whose value fits in the entry, in either byte order.
inline Bytes oneTagExif(bool motorola, unsigned tag, unsigned type, std::uint32_t value) {
    Bytes t = motorola ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) t.push_back(static_cast<unsigned char>(v >> 8 * (motorola ? n - 1 - i : i)));
    };
    put(42, 2), put(8, 4), put(1, 2), put(tag, 2), put(type, 2), put(1, 4);
    type == EXIF_FORMAT_SHORT ? (put(value, 2), put(0, 2)) : put(value, 4);
    put(0, 4);
    return t;
}
inline Bytes orientationExif(int value) { return oneTagExif(value % 2, 0x0112, EXIF_FORMAT_SHORT, unsigned(value)); }
// EXIF as a JPEG segment holds it, after "Exif\0\0".
inline Bytes exifSegment(const Bytes& tiff) {
    Bytes segment = {'E', 'x', 'i', 'f', 0, 0};
    return segment.insert(segment.end(), tiff.begin(), tiff.end()), segment;
}

// libjpeg's reading: the samples as stored (CMYK inverted, as Adobe writes it) and the EXIF of its APP1 segment.
struct JpegRead {
    Bytes samples, exif;
};
inline JpegRead readJpeg(const Bytes& file) {
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_save_markers(&d, JPEG_APP0 + 1, 0xffff);
    jpeg_read_header(&d, TRUE);
    JpegRead read;
    for (jpeg_saved_marker_ptr m = d.marker_list; m; m = m->next)
        if (read.exif.empty() && m->data_length > 6 && std::equal(m->data, m->data + 6, "Exif\0"))
            read.exif.assign(m->data + 6, m->data + m->data_length);
    jpeg_start_decompress(&d);
    const std::size_t stride = std::size_t(d.output_width) * d.output_components;
    read.samples.resize(stride * d.output_height);
    for (JSAMPROW row = read.samples.data(); d.output_scanline < d.output_height; row += stride)
        jpeg_read_scanlines(&d, &row, 1);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return read;
}

// A kind of TIFF file: its layout and samples.
struct TiffKind {
    const char* name;
    uint16_t photometric, samples, bits;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t tile = 0;          // the side of square tiles; 0: strips
    uint32_t rowsPerStrip = 4;
    bool planes = false;        // one plane per sample
    const char* extra = "";  // ExtraSamples, one digit each
    bool big = false;        // BigTIFF
    int width = 37, height = 21;  // partial strips and tiles at both edges
};

// Random sample values of the kind's depth, interleaved.
inline std::vector<unsigned> tiffValues(const TiffKind& k, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned> values(std::size_t(k.width) * k.height * k.samples);
    for (unsigned& v : values) v = random() & ((1u << k.bits) - 1);
    return values;
}

inline Bytes packed(const std::vector<unsigned>& values, int bits) {
    Bytes out((values.size() * bits + 7) / 8);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const uint16_t wide = uint16_t(values[i]);  // in the machine's order, as libtiff takes it
        if (bits == 16) std::memcpy(&out[2 * i], &wide, 2);
        else if (bits == 8) out[i] = static_cast<unsigned char>(values[i]);
        else out[i * bits / 8] |= static_cast<unsigned char>(values[i] << (8 - bits - i * bits % 8));
    }
    return out;
}

// The kind written by libtiff, of the sample values given (interleaved), through a file of its own; more() sets
// further tags. A second page holds the values' complements.
inline Bytes tiffOf(const TiffKind& k, std::vector<unsigned> values, const std::function<void(TIFF*)>& more = {},
             bool secondPage = false) {
    char path[] = "/tmp/pixloom-tiff-XXXXXX";
    close(mkstemp(path));
    TIFF* t = TIFFOpen(path, k.big ? "w8" : "w");
    for (int page = 0; page < 1 + secondPage; ++page) {
        if (page) {
            TIFFWriteDirectory(t);
            for (unsigned& v : values) v = ((1u << k.bits) - 1) - v;
        }
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, k.width), TIFFSetField(t, TIFFTAG_IMAGELENGTH, k.height);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, k.samples), TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, k.bits);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, k.photometric), TIFFSetField(t, TIFFTAG_COMPRESSION, k.compression);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, k.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        std::vector<uint16_t> extra(k.extra, k.extra + std::strlen(k.extra));
        for (uint16_t& e : extra) e = uint16_t(e - '0');
        if (!extra.empty()) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data());
        if (k.compression == COMPRESSION_JPEG && k.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        std::vector<uint16_t> map(3 << k.bits);
        for (std::size_t i = 0; i < map.size(); ++i) map[i] = uint16_t(i * 40503u);  // not 8-bit levels times 257
        if (k.photometric == PHOTOMETRIC_PALETTE)
            TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + (1 << k.bits), map.data() + (2 << k.bits));
        if (more) more(t);
        const int planes = k.planes ? k.samples : 1, per = k.planes ? 1 : k.samples;
        const auto block = [&](int plane, int x0, int y0, int w, int h) {  // outside the picture: 0
            std::vector<unsigned> row(std::size_t(w) * per);
            Bytes bytes;
            for (int y = y0; y < y0 + h; ++y) {
                for (int x = x0; x < x0 + w; ++x)
                    for (int s = 0; s < per; ++s)
                        row[(x - x0) * per + s] =
                            x < k.width && y < k.height ? values[(std::size_t(y) * k.width + x) * k.samples + plane + s]
                                                        : 0;
                const Bytes r = packed(row, k.bits);
                bytes.insert(bytes.end(), r.begin(), r.end());
            }
            return bytes;
        };
        if (k.tile) TIFFSetField(t, TIFFTAG_TILEWIDTH, k.tile), TIFFSetField(t, TIFFTAG_TILELENGTH, k.tile);
        else TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, k.rowsPerStrip);
        for (int plane = 0; plane < planes; ++plane)
            for (int y = 0; y < k.height; y += k.tile ? int(k.tile) : 1)
                for (int x = 0; x < k.width; x += k.tile ? int(k.tile) : k.width) {
                    Bytes b = k.tile ? block(plane, x, y, k.tile, k.tile) : block(plane, 0, y, k.width, 1);
                    if (k.tile) TIFFWriteTile(t, b.data(), x, y, 0, uint16_t(plane));
                    else TIFFWriteScanline(t, b.data(), y, uint16_t(plane));
                }
    }
    TIFFClose(t);
    const Bytes file = fileBytes(path);
    unlink(path);
    return file;
}

// A raster of 8-bit grey or RGB as a TIFF file; more() sets further tags.
inline Bytes tiffFile(const Raster& p, const std::function<void(TIFF*)>& more = {}, uint32_t rowsPerStrip = 4) {
    const uint16_t photometric = p.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    return tiffOf({"", photometric, uint16_t(p.channels), 8, COMPRESSION_NONE, 0, rowsPerStrip, false, "", false,
                   p.width, p.height}, std::vector<unsigned>(p.samples.begin(), p.samples.end()), more);
}

// libexif's reading of EXIF from its TIFF header on: every tag as stored, nothing added.
struct ExifRead {
    std::unique_ptr<ExifData, void (*)(ExifData*)> data{exif_data_new(), exif_data_unref};
    explicit ExifRead(const Bytes& tiff) {
        exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
        exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        const Bytes segment = exifSegment(tiff);
        exif_data_load_data(data.get(), segment.data(), static_cast<unsigned>(segment.size()));
    }
    Bytes raw(ExifIfd ifd, unsigned tag) const {
        const ExifEntry* e = exif_content_get_entry(data->ifd[ifd], static_cast<ExifTag>(tag));
        return e ? Bytes(e->data, e->data + e->size) : Bytes();
    }
    std::string text(ExifIfd ifd, unsigned tag) const {
        const Bytes r = raw(ifd, tag);
        return std::string(r.begin(), std::find(r.begin(), r.end(), 0));
    }
    long number(ExifIfd ifd, unsigned tag) const {
        const Bytes r = raw(ifd, tag);
        const ExifByteOrder order = exif_data_get_byte_order(data.get());
        return r.size() == 2 ? exif_get_short(r.data(), order) : r.size() == 4 ? exif_get_long(r.data(), order) : -1;
    }
};

// A LittleCMS profile as the bytes of a file; the profile is closed.
inline Bytes savedProfile(cmsHPROFILE profile) {
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    Bytes bytes(length);
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

// A printer-like CMYK profile: ink darkens its opposite colour, black darkens all.
inline Bytes cmykProfile() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);  // a lone grid is a v2 lut16, not a v4 A-to-B table
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
    cmsStageSampleCLut16bit(grid, [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
        const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0, k = in[3] / 65535.0;
        const cmsCIELab lab = {100 * (1 - k) * (1 - 0.3 * (c + m + y)), 60 * (m - c), 60 * (y - m)};
        cmsFloat2LabEncoded(out, &lab);
        return TRUE;
    }, nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    return savedProfile(profile);
}

inline Bytes taken(const std::uint8_t* data, std::size_t size) {  // from libwebp's allocation
    Bytes bytes(data, data + size);
    WebPFree(const_cast<std::uint8_t*>(data));
    return bytes;
}

// A WebP animation of lossless frames of RGBA, each the whole canvas.
inline Bytes animation(const std::vector<Bytes>& frames, int width, int height) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    int timestamp = 0;
    for (const Bytes& frame : frames) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = width, picture.height = height, picture.use_argb = 1;
        WebPPictureImportRGBA(&picture, frame.data(), 4 * width);
        WebPAnimEncoderAdd(encoder, &picture, timestamp += 100, &config);
        WebPPictureFree(&picture);
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp + 100, nullptr);
    WebPData out = {nullptr, 0};
    WebPAnimEncoderAssemble(encoder, &out);
    WebPAnimEncoderDelete(encoder);
    return taken(out.bytes, out.size);
}
