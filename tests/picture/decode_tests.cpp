// SPDX-License-Identifier: MIT
// The decoding stage as a user sees it: plain files (TIFF of every kind the toolkit read) as the toolkit reads them,
// pictures upright, transparency on white, TIFF of every other kind libtiff writes, profiles converted as LittleCMS
// does, damaged files refused with a reason (damaged JPEG data decoded as libjpeg does, and marked) and nothing on
// stderr or in a log.
#include "image.h"
#include "picture.h"
#include "test_files.h"
#include "test_pictures.h"
#include "webp.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/palette.h>

#include <sstream>
#include <thread>

#include <lcms2.h>
#include <png.h>
#include <zlib.h>

namespace {

Raster noise(int width, int height, int channels, unsigned seed) {
    std::mt19937 random(seed);
    Raster r{width, height, channels, Bytes(std::size_t(width) * height * channels)};
    for (auto& s : r.samples) s = static_cast<unsigned char>(random());
    return r;
}

// JPEG by libjpeg at quality 92. chroma: luma sampling, 22 is 4:2:0, 21 4:2:2, 11 4:4:4.
struct JpegOptions {
    int chroma = 22;
    bool progressive = false;
    Bytes exif = {}, profile = {};
};
Bytes jpegFile(const Raster& p, const JpegOptions& o = {}) {
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = p.width, c.image_height = p.height, c.input_components = p.channels;
    c.in_color_space = p.channels == 1 ? JCS_GRAYSCALE : p.channels == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    if (p.channels == 3) c.comp_info[0].h_samp_factor = o.chroma / 10, c.comp_info[0].v_samp_factor = o.chroma % 10;
    if (o.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    const Bytes app1 = exifSegment(o.exif);
    if (!o.exif.empty()) jpeg_write_marker(&c, JPEG_APP0 + 1, app1.data(), unsigned(app1.size()));
    if (!o.profile.empty()) jpeg_write_icc_profile(&c, o.profile.data(), unsigned(o.profile.size()));
    for (JSAMPROW row = const_cast<unsigned char*>(p.samples.data()); c.next_scanline < c.image_height;
         row += std::size_t(p.width) * p.channels)
        jpeg_write_scanlines(&c, &row, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes file(out, out + size);
    std::free(out);
    return file;
}

// PNG by libpng: rows of the colour type and depth given (by default 8-bit, of the raster's channels).
struct PngOptions {
    int colourType = -1, depth = 8;
    bool interlaced = false;
    std::vector<png_color> palette = {};
    Bytes alphas = {};                             // tRNS of a palette
    std::vector<png_color_16> transparent = {};    // tRNS of grey or RGB: one colour
    Bytes profile = {}, exif = {};
};
Bytes pngFile(int width, int height, const PngOptions& o, const std::function<const unsigned char*(int)>& row) {
    Bytes file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &file, [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
    }, nullptr);
    const int interlace = o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    png_set_IHDR(png, info, width, height, o.depth, o.colourType, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!o.palette.empty()) png_set_PLTE(png, info, o.palette.data(), int(o.palette.size()));
    if (!o.alphas.empty()) png_set_tRNS(png, info, o.alphas.data(), int(o.alphas.size()), nullptr);
    if (!o.transparent.empty()) png_set_tRNS(png, info, nullptr, 0, o.transparent.data());
    if (!o.profile.empty())
        png_set_iCCP(png, info, "embedded", PNG_COMPRESSION_TYPE_BASE, o.profile.data(), png_uint_32(o.profile.size()));
    if (!o.exif.empty()) png_set_eXIf_1(png, info, png_uint_32(o.exif.size()), const_cast<png_bytep>(o.exif.data()));
    png_write_info(png, info);
    for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
        for (int y = 0; y < height; ++y) png_write_row(png, row(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return file;
}
Bytes pngFile(const Raster& p, PngOptions o = {}) {
    const int types[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA};
    if (o.colourType < 0) o.colourType = o.palette.empty() ? types[p.channels] : PNG_COLOR_TYPE_PALETTE;
    const std::size_t stride = (std::size_t(p.width) * p.channels * o.depth + 7) / 8;
    return pngFile(p.width, p.height, o, [&](int y) { return &p.samples[y * stride]; });
}

// Standard error as captured, but for AddressSanitizer's own note on an allocation refused (a huge picture's).
std::string withoutSanitizerNotes(const std::string& text) {
    std::istringstream lines(text);
    std::string kept, line;
    while (std::getline(lines, line))
        if (line.find("AddressSanitizer failed to allocate") == std::string::npos) kept += line + "\n";
    return kept;
}

// Samples of the format (LittleCMS's) converted from the profile to sRGB, as LittleCMS does it.
Bytes transformed(const Bytes& profile, cmsUInt32Number format, const Bytes& samples) {
    cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(from, format, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    const std::size_t pixels = samples.size() / T_CHANNELS(format);
    Bytes out(3 * pixels);
    cmsDoTransform(t, samples.data(), out.data(), cmsUInt32Number(pixels));
    cmsDeleteTransform(t), cmsCloseProfile(from), cmsCloseProfile(srgb);
    return out;
}

const Folder folder;
std::string place(const std::string& name) { return folder / name; }
void put(const std::string& name, const Bytes& bytes) { writeBytes(place(name), bytes); }

Bytes rgbOf(const unsigned char* data, std::size_t pixels) { return data ? Bytes(data, data + 3 * pixels) : Bytes(); }
Bytes rgbOf(const wxImage& i) { return rgbOf(i.IsOk() ? i.GetData() : nullptr, size_t(i.GetWidth()) * i.GetHeight()); }
Bytes rgbOf(const DecodedPicture& p) { return rgbOf(p.ok() ? p.pixels : nullptr, std::size_t(p.width) * p.height); }

// On one curve, which it frees: grey, or RGB of these primaries with a D65 white.
Bytes profileOn(cmsToneCurve* curve, const cmsCIExyYTRIPLE* primaries = nullptr) {
    const cmsCIExyY white = {0.3127, 0.3290, 1};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const Bytes profile =
        savedProfile(primaries ? cmsCreateRGBProfile(&white, primaries, curves) : cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return profile;
}

// Adobe RGB (1998) as its primaries and curve define it; grey on the same curve.
const cmsCIExyYTRIPLE adobePrimaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
Bytes adobeLike() { return profileOn(cmsBuildGamma(nullptr, 2.2), &adobePrimaries); }
Bytes greyGamma22() { return profileOn(cmsBuildGamma(nullptr, 2.2)); }

// sRGB as a file may carry it: its curve a table 0.6 of a level off the built-in one, close enough to count as sRGB,
// though converting would move nearly every sample by one.
Bytes nearSrgb() {
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* exact = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    cmsUInt16Number table[1024];
    for (int i = 0; i < 1024; ++i)
        table[i] = cmsUInt16Number(cmsEvalToneCurveFloat(exact, std::min(1.0f, i / 1023.f + 0.6f / 255)) * 65535 + .5f);
    cmsFreeToneCurve(exact);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    return profileOn(cmsBuildTabulatedToneCurve16(nullptr, 1024, table), &primaries);
}

// A profile LittleCMS refuses though its structure is sound (libpng takes it): the red colorant's type is unknown.
Bytes broken() {
    Bytes p = adobeLike();
    auto word = [&](std::size_t at) { return std::size_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3]; };
    for (std::size_t entry = 132; entry < 132 + 12 * word(128); entry += 12)
        if (std::equal(&p[entry], &p[entry] + 4, "rXYZ")) std::copy_n("bad!", 4, &p[word(entry + 4)]);
    return p;
}

// The stored picture as it is to be shown, by the toolkit's own turns and mirrors.
Raster shownAs(Raster stored, int o) {
    const wxImage s(stored.width, stored.height, stored.samples.data(), true);
    const wxImage turned = o >= 5 ? s.Rotate90(o != 8) : o == 3 ? s.Rotate180() : s;
    const wxImage shown = o == 2 || o == 5 ? turned.Mirror() : o == 4 || o == 7 ? turned.Mirror(false) : turned;
    return Raster{shown.GetWidth(), shown.GetHeight(), 3, rgbOf(shown)};
}

Raster decoded(const std::string& path) {
    DecodedPicture d = decodePicture(wxString(path));
    EXPECT_TRUE(d.ok()) << path << ": " << d.error;
    return Raster{d.width, d.height, 3, rgbOf(d)};
}

void expectDecoded(const std::string& path, const Raster& expected) {
    const Raster shown = decoded(path);
    EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(expected.width, expected.height)) << path;
    EXPECT_EQ(shown.samples, expected.samples) << path;
}

// For GIF, whose palette holds them: two colours (RGB, RGB) in a pattern of noise.
wxImage twoColours(int width, int height, unsigned seed, const Bytes& rgb) {
    const Raster pattern = noise(width, height, 1, seed);
    wxImage image(width, height);
    for (std::size_t i = 0; i < pattern.samples.size(); ++i)
        std::copy_n(&rgb[pattern.samples[i] % 2 * 3], 3, image.GetData() + 3 * i);
    const unsigned char r[] = {rgb[0], rgb[3]}, g[] = {rgb[1], rgb[4]}, b[] = {rgb[2], rgb[5]};
    image.SetPalette(wxPalette(2, r, g, b));
    return image;
}

// The toolkit's own decoding, laid on white (alpha, or its mask colour): what pixloom gave before it read files itself.
wxImage toolkitOnWhite(const std::string& path) {
    wxLogNull quiet;  // libtiff's warnings on tags it does not know
    wxImage image{wxString(path)};
    for (int i = 0; image.IsOk() && i < image.GetWidth() * image.GetHeight(); ++i) {
        unsigned char* rgb = image.GetData() + 3 * i;
        const bool masked = image.HasMask() && rgb[0] == image.GetMaskRed() && rgb[1] == image.GetMaskGreen() &&
                            rgb[2] == image.GetMaskBlue();
        const int alpha = masked ? 0 : image.HasAlpha() ? image.GetAlpha()[i] : 255;
        for (int c = 0; c < 3; ++c) rgb[c] = onWhite(rgb[c], alpha);
    }
    image.ClearAlpha(), image.SetMask(false);
    return image;
}

// A 37x21 PNG as libpng writes it: any colour type and depth, interlaced or not, with black transparent (trns) or
// palette entries with and without alpha.
struct PngKind {
    const char* name;
    int colourType, depth;
    bool interlaced, trns = false;
};

Bytes pngOfKind(const PngKind& k) {
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    const std::size_t rowBytes = (std::size_t(37) * channels[k.colourType] * k.depth + 7) / 8;
    Raster rows = noise(static_cast<int>(rowBytes), 21, 1, unsigned(k.depth * 16 + k.colourType));
    for (std::size_t y = 0; k.trns && y < 21; y += 2) std::fill_n(&rows.samples[y * rowBytes], rowBytes / 2, 0);
    PngOptions o{k.colourType, k.depth, k.interlaced};
    for (int i = 0; k.colourType == PNG_COLOR_TYPE_PALETTE && i < 1 << k.depth; ++i)
        o.palette.push_back({png_byte(i), png_byte(255 - i), png_byte(i * 7)});
    if (k.colourType == PNG_COLOR_TYPE_PALETTE) o.alphas = {0, 100, 200};
    if (k.trns) o.transparent = {{0, 0, 0, 0, 0}};
    return pngFile(37, 21, o, [&](int y) { return &rows.samples[y * rowBytes]; });
}

// Odd sizes: partial MCUs and chroma blocks at both edges.
const Raster colours = noise(37, 23, 3, 1);

// TIFF of every layout (libtiff's codecs are its own: a few compressions; JPEG's colours are pixloom's), and the kinds
// the toolkit read right: 16-bit colour rounded, grey of fewer bits, palettes of 16-bit colours, CMYK by the plain
// inverse of its inks, YCbCr.
const uint16_t rgb = PHOTOMETRIC_RGB, grey = PHOTOMETRIC_MINISBLACK;
const TiffKind tiffKinds[] = {
    {"rgb8-strips-of-one-row.tif", rgb, 3, 8, COMPRESSION_NONE, 0, 1},
    {"rgb8-lzw.tif", rgb, 3, 8, COMPRESSION_LZW},
    {"rgb8-deflate-tiles.tif", rgb, 3, 8, COMPRESSION_ADOBE_DEFLATE, 16},
    {"rgb8-packbits-tiles-planes.tif", rgb, 3, 8, COMPRESSION_PACKBITS, 16, 0, true},
    {"rgb8-planes.tif", rgb, 3, 8, COMPRESSION_LZW, 0, 8, true},
    {"rgb8-one-strip.tif", rgb, 3, 8, COMPRESSION_NONE, 0, TiffKind{}.height},
    {"rgb8-bigtiff.tif", rgb, 3, 8, COMPRESSION_LZW, 16, 0, false, "", true},
    {"rgb8-jpeg-ycbcr.tif", PHOTOMETRIC_YCBCR, 3, 8, COMPRESSION_JPEG, 0, 16},
    {"rgb8-jpeg-tiles.tif", rgb, 3, 8, COMPRESSION_JPEG, 16},
    {"rgb16-lzw.tif", rgb, 3, 16, COMPRESSION_LZW},
    {"grey1.tif", grey, 1, 1}, {"grey2.tif", grey, 1, 2}, {"grey4-lzw.tif", grey, 1, 4, COMPRESSION_LZW},
    {"grey8.tif", grey, 1, 8},
    {"white-is-zero.tif", PHOTOMETRIC_MINISWHITE, 1, 8},
    {"palette4.tif", PHOTOMETRIC_PALETTE, 1, 4},
    {"palette8-tiles.tif", PHOTOMETRIC_PALETTE, 1, 8, COMPRESSION_LZW, 16},
    {"cmyk8.tif", PHOTOMETRIC_SEPARATED, 4, 8},
    {"cmyk8-planes.tif", PHOTOMETRIC_SEPARATED, 4, 8, COMPRESSION_NONE, 0, 4, true},
    {"ycbcr-uncompressed.tif", PHOTOMETRIC_YCBCR, 3, 8},  // read by libtiff's RGBA reader
};

// As the toolkit decodes them, laid on white; their headers tell their size; the engine loads them turned (3
// quarters: as 1) and hands back a copy of its own.
TEST(PlainFiles, ComeOutAsTheToolkitReadsThemOnWhiteAndTurnAsBefore) {
    const Raster greys = noise(41, 17, 1, 2), inks = noise(67, 45, 4, 3);
    const std::pair<const char*, Bytes> written[] = {
        {"baseline.jpg", jpegFile(colours)}, {"progressive.jpg", jpegFile(colours, {22, true})},
        {"chroma-422.jpg", jpegFile(colours, {21})}, {"chroma-444.jpg", jpegFile(colours, {11, true})},
        {"grey.jpg", jpegFile(greys)}, {"cmyk.jpg", jpegFile(inks)},  // EXIF without an orientation, or unreadable
        {"make.jpg", jpegFile(colours, {22, false, oneTagExif(false, 0x010f, EXIF_FORMAT_ASCII, 'A')})},
        {"unreadable-exif.jpg", jpegFile(colours, {22, false, Bytes(40, 0x4d)})}};
    const PngKind pngs[] = {
        {"rgb8.png", PNG_COLOR_TYPE_RGB, 8, false}, {"rgb16.png", PNG_COLOR_TYPE_RGB, 16, false},
        {"rgba8.png", PNG_COLOR_TYPE_RGB_ALPHA, 8, false}, {"rgba16.png", PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
        {"grey1.png", PNG_COLOR_TYPE_GRAY, 1, false}, {"grey4.png", PNG_COLOR_TYPE_GRAY, 4, true},
        {"grey16.png", PNG_COLOR_TYPE_GRAY, 16, false}, {"greyalpha8.png", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true},
        {"greyalpha16.png", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}, {"palette2.png", PNG_COLOR_TYPE_PALETTE, 2, false},
        {"palette8.png", PNG_COLOR_TYPE_PALETTE, 8, true}, {"interlaced.png", PNG_COLOR_TYPE_RGB, 8, true},
        {"grey-trns.png", PNG_COLOR_TYPE_GRAY, 8, false, true}, {"rgb-trns.png", PNG_COLOR_TYPE_RGB, 8, true, true},
    };
    std::vector<std::string> names = {"plain.bmp", "plain.tif", "plain.gif", "mask.gif", "opaque-alpha.png"};
    for (const auto& [name, bytes] : written) put(name, bytes), names.push_back(name);
    for (const PngKind& k : pngs) put(k.name, pngOfKind(k)), names.push_back(k.name);
    for (const TiffKind& k : tiffKinds) {
        put(k.name, tiffOf(k, tiffValues(k, 7), [&k](TIFF* t) {
            if (k.photometric == PHOTOMETRIC_YCBCR && k.compression != COMPRESSION_JPEG)
                TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
        }));
        names.push_back(k.name);
    }
    wxImage toolkit(colours.width, colours.height, const_cast<unsigned char*>(colours.samples.data()), true);
    for (const char* name : {"plain.bmp", "plain.tif"}) ASSERT_TRUE(toolkit.SaveFile(wxString(place(name))));
    toolkit.InitAlpha();  // opaque: composited, the samples stay
    ASSERT_TRUE(toolkit.SaveFile(wxString(place("opaque-alpha.png"))));
    ASSERT_TRUE(twoColours(5, 3, 13, {200, 40, 10, 10, 90, 250}).SaveFile(wxString(place("plain.gif"))));
    wxImage masked = twoColours(8, 4, 14, {20, 30, 40, 1, 2, 3});
    masked.SetMaskColour(1, 2, 3);
    ASSERT_TRUE(masked.SaveFile(wxString(place("mask.gif"))));

    for (const auto& name : names) {
        const wxString path(place(name));
        const wxImage expected = toolkitOnWhite(place(name));
        ASSERT_TRUE(expected.IsOk()) << name;
        long long width = 0, height = 0;  // what a header alone tells, for the decode ahead
        EXPECT_TRUE(readPictureSize(path, width, height)) << name;
        EXPECT_EQ(wxSize(static_cast<int>(width), static_cast<int>(height)), expected.GetSize()) << name;
        const DecodedPicture d = decodePicture(path);
        EXPECT_TRUE(d.ok() && d.notes.empty()) << name << ": " << d.error;
        for (int turns : {0, 1, 2, 3}) {
            const wxImage turned = !turns ? expected : turns == 2 ? expected.Rotate180() : expected.Rotate90(true);
            Image image(path, turns);
            const std::unique_ptr<wxImage> copy(image.createImage());
            ASSERT_TRUE(image.resize(1, 1, false, false));  // the copy is the toolkit image's own
            ASSERT_TRUE(copy && !copy->HasAlpha()) << name << " " << turns;
            EXPECT_EQ(copy->GetSize(), turned.GetSize()) << name << " " << turns;
            EXPECT_EQ(rgbOf(*copy), rgbOf(turned)) << name << " " << turns;
        }
    }
}

// JPEG (colour, CMYK, and grey with a profile, converted before it is turned) and lossy WebP: the same file untagged,
// decoded and turned here. TIFF's tag and PNG's EXIF: the samples written. EXIF's byte order changes with the value.
TEST(Orientation, AllEightStandUpright) {
    const Raster colour = noise(13, 7, 3, 4), inks = noise(11, 6, 4, 5), greys = noise(9, 5, 1, 6);
    const auto webp = [&](const Bytes& exif) {
        std::vector<char> file;
        EXPECT_EQ(encodeWebp(colour.samples.data(), 13, 7, 90, exif, file), "");
        return bytesOf(file);
    };
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const struct { std::string name; Bytes untagged, tagged; } turned[] = {
            {"colour.jpg", jpegFile(colour), jpegFile(colour, {22, false, orientationExif(o)})},
            {"cmyk.jpg", jpegFile(inks), jpegFile(inks, {22, false, orientationExif(o)})},
            {"grey.jpg", jpegFile(greys, {22, false, {}, greyGamma22()}),
             jpegFile(greys, {22, false, orientationExif(o), greyGamma22()})},
            {"colour.webp", webp({}), webp(orientationExif(o))}};
        for (const auto& t : turned) {
            put("untagged-" + t.name, t.untagged), put(t.name, t.tagged);
            expectDecoded(place(t.name), shownAs(decoded(place("untagged-" + t.name)), o));
        }
        put("tagged.tif", tiffFile(colour, [o](TIFF* t) { TIFFSetField(t, TIFFTAG_ORIENTATION, o); }));
        put("tagged.png", pngFile(colour, {-1, 8, false, {}, {}, {}, {}, orientationExif(o)}));
        for (const char* name : {"tagged.tif", "tagged.png"}) expectDecoded(place(name), shownAs(colour, o));
    }
}

// Two decodes at once too (a worker per file in the program): the same samples.
TEST(ColourProfiles, ConvertToSrgbAsLittleCmsDoesAlsoTwoAtOnce) {
    const Bytes adobe = adobeLike(), srgb = savedProfile(cmsCreate_sRGBProfile()), grey = greyGamma22(), cmyk = cmykProfile();
    const Raster greys = noise(19, 11, 1, 7), inks = noise(23, 13, 4, 12);
    const Bytes asStored = colours.samples, asJpeg = readJpeg(jpegFile(colours)).samples;
    const char* const ignored = "colour profile ignored: ";
    const struct {
        const char* name;
        Bytes profile, expected;
        const char* note;
        const Raster& picture = colours;
    } cases[] = {
        {"adobe.png", adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"adobe.jpg", adobe, transformed(adobe, TYPE_RGB_8, asJpeg), nullptr},
        {"adobe.tif", adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"srgb.png", srgb, asStored, nullptr},
        {"near-srgb.png", nearSrgb(), asStored, nullptr},
        {"grey.jpg", grey, transformed(grey, TYPE_GRAY_8, readJpeg(jpegFile(greys)).samples), nullptr, greys},
        {"grey.png", grey, transformed(grey, TYPE_GRAY_8, greys.samples), nullptr, greys},
        {"broken.png", broken(), asStored, ignored},
        {"grey-on-colour.jpg", grey, asJpeg, "colour profile ignored: it is for grey pictures, this one is RGB"},
        {"cmyk.jpg", cmyk, transformed(cmyk, TYPE_CMYK_8_REV, readJpeg(jpegFile(inks)).samples), nullptr, inks},
    };
    for (const auto& c : cases) {
        const std::string format = std::string(c.name).substr(std::string(c.name).rfind('.'));
        put(c.name, format == ".png" ? pngFile(c.picture, {-1, 8, false, {}, {}, {}, c.profile})
                    : format == ".tif" ? tiffFile(c.picture, [&c = c](TIFF* t) {
                          TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(c.profile.size()), c.profile.data()); })
                                       : jpegFile(c.picture, {22, false, {}, c.profile}));
    }
    const auto check = [&](int rounds) {
        for (int round = 0; round < rounds; ++round)
            for (const auto& c : cases) {
                const DecodedPicture d = decodePicture(wxString(place(c.name)));
                EXPECT_EQ(rgbOf(d), c.expected) << c.name;
                EXPECT_TRUE(c.note ? d.notes.size() == 1 && d.notes[0].StartsWith(c.note) : d.notes.empty())
                    << c.name << ": " << (d.notes.empty() ? wxString() : d.notes[0]);
            }
    };
    std::thread other(check, 10);
    check(10);
    other.join();
    EXPECT_NE(transformed(adobe, TYPE_RGB_8, asStored), asStored);  // the conversion is no identity
}

unsigned eight(unsigned v, int bits) { return bits == 16 ? (v + 128) / 257 : v; }

// TIFF: only associated (premultiplied) or unassociated alpha is transparency; an unspecified extra channel, as a saved
// selection is, is not part of the picture. 16-bit grey is rounded like 16-bit colour (the toolkit cut it). CMYK with
// a profile goes through it. A multi-page file gives its first page. Kinds the toolkit could not read: 16-bit planes,
// bilevel tiles.
TEST(TiffKinds, OnlyAlphaIsTransparencyAndInksGoThroughTheirProfile) {
    const char *unspecified = "0", *associated = "1", *unassociated = "2";
    const Bytes cmyk = cmykProfile();
    struct Case {
        TiffKind kind;
        std::function<unsigned(const unsigned* pixel, int channel)> expected;
        Bytes profile = {};
        bool secondPage = false;
    };
    const std::vector<Case> cases = {
        {{"mask.tif", rgb, 4, 8, COMPRESSION_LZW, 0, 4, false, unspecified},
         [](const unsigned* p, int c) { return p[c]; }},
        {{"mask-planes.tif", rgb, 4, 8, COMPRESSION_NONE, 16, 0, true, unspecified},
         [](const unsigned* p, int c) { return p[c]; }},
        {{"alpha.tif", rgb, 4, 8, COMPRESSION_NONE, 0, 4, false, unassociated},
         [](const unsigned* p, int c) { return onWhite(p[c], p[3]); }},
        {{"premultiplied.tif", rgb, 4, 8, COMPRESSION_NONE, 0, 4, false, associated},
         [](const unsigned* p, int c) { return std::min(255u, p[c] + 255 - p[3]); }},
        {{"mask-then-alpha16-tiles.tif", rgb, 5, 16, COMPRESSION_NONE, 16, 0, false, "02"},
         [](const unsigned* p, int c) { return onWhite(eight(p[c], 16), eight(p[4], 16)); }},
        {{"rgb16-tiles-planes.tif", rgb, 3, 16, COMPRESSION_NONE, 16, 0, true},
         [](const unsigned* p, int c) { return eight(p[c], 16); }},
        {{"grey1-tiles.tif", PHOTOMETRIC_MINISBLACK, 1, 1, COMPRESSION_NONE, 16},
         [](const unsigned* p, int) { return p[0] * 255; }},
        {{"grey16.tif", PHOTOMETRIC_MINISBLACK, 1, 16}, [](const unsigned* p, int) { return eight(p[0], 16); }},
        {{"grey-alpha.tif", PHOTOMETRIC_MINISBLACK, 2, 8, COMPRESSION_NONE, 0, 4, false, unassociated},
         [](const unsigned* p, int) { return onWhite(p[0], p[1]); }},
        {{"cmyk-alpha.tif", PHOTOMETRIC_SEPARATED, 5, 8, COMPRESSION_NONE, 0, 4, false, unassociated},
         [](const unsigned* p, int c) { return onWhite(255 - p[c], p[4]) * onWhite(255 - p[3], p[4]) / 255; }},
        {{"two-pages.tif", rgb, 3, 8}, [](const unsigned* p, int c) { return p[c]; }, {}, true},
        {{"cmyk-profile.tif", PHOTOMETRIC_SEPARATED, 4, 8, COMPRESSION_LZW, 16}, nullptr, cmyk},
        {{"cmyk16-profile.tif", PHOTOMETRIC_SEPARATED, 4, 16}, nullptr, cmyk},
    };
    for (const Case& c : cases) {
        const TiffKind& k = c.kind;
        const std::vector<unsigned> values = tiffValues(k, 11);
        put(k.name, tiffOf(k, values, [&](TIFF* t) {
            if (!c.profile.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(c.profile.size()), c.profile.data());
        }, c.secondPage));
        Bytes expected(3 * std::size_t(k.width) * k.height), inks(values.size());
        for (std::size_t i = 0; c.expected && i < expected.size(); ++i)
            expected[i] = static_cast<unsigned char>(c.expected(&values[i / 3 * k.samples], int(i % 3)));
        for (std::size_t i = 0; !c.expected && i < inks.size(); ++i)
            inks[i] = static_cast<unsigned char>(eight(values[i], k.bits));
        if (!c.expected) expected = transformed(c.profile, TYPE_CMYK_8, inks);
        const DecodedPicture d = decodePicture(wxString(place(k.name)));
        EXPECT_TRUE(d.ok() && d.notes.empty()) << k.name << ": " << d.error << (d.notes.empty() ? "" : d.notes[0]);
        EXPECT_EQ(rgbOf(d), expected) << k.name;
    }
}

// Log messages that reach a target would become boxes in the program.
struct RecordingLog : wxLog {
    std::vector<wxString> seen;
    void DoLogRecord(wxLogLevel, const wxString& text, const wxLogRecordInfo&) override { seen.push_back(text); }
};

// A TIFF file of a million by a million, RGB in one strip of no bytes: three terabytes of samples.
Bytes millionTiff() {
    Bytes million = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
    const uint16_t entries[][2] = {{256, 4}, {257, 4}, {258, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t entryValues[] = {1000000, 1000000, 8, 2, 8, 3, 1000000, 0};
    for (int i = 0; i < 8; ++i) {
        million.insert(million.end(), {uint8_t(entries[i][0]), uint8_t(entries[i][0] >> 8), uint8_t(entries[i][1]), 0});
        for (uint32_t word : {1u, entryValues[i]})
            for (int b = 0; b < 32; b += 8) million.push_back(uint8_t(word >> b));
    }
    million.insert(million.end(), 4, 0);
    return million;
}

// An input the fuzz targets found (fuzz/regressions/).
Bytes regression(const std::string& name) { return fileBytes(PIXLOOM_FUZZ_REGRESSIONS "/" + name); }

// Whether a text is the one expected, or begins as it does up to its "*" (and is not empty).
bool matches(const wxString& text, const wxString& expected) {
    return expected.EndsWith("*") ? !text.empty() && text.StartsWith(expected.BeforeLast('*')) : text == expected;
}

// Damaged files fail with a reason (any for the toolkit's: "*"), also a TIFF file too large, of a kind pixloom
// cannot read or stopped whatever its layout; files every viewer shows convert as their clean twin with one note, or
// none for a private tag; on a worker too, silenced with wxLogNull as the program's run is; nothing on stderr or in a
// log.
TEST(FlawedFiles, FailWithAReasonOrConvertWithANoteAndSayNothingElsewhere) {
    const Raster picture = noise(300, 200, 3, 8);
    const Bytes jpeg = jpegFile(picture), progressive = jpegFile(picture, {22, true}), png = pngFile(picture);
    const auto cut = [](const Bytes& file) { return Bytes(file.begin(), file.begin() + file.size() / 2); };
    const wxImage greys = twoColours(300, 200, 8, {0, 0, 0, 128, 128, 128});  // loaders that report missing data
    for (const char* name : {"cut.gif", "cut.tif"}) ASSERT_TRUE(greys.SaveFile(wxString(place(name))));  // and give one
    Bytes marker = jpeg, jfif2 = jpeg, stray = jpeg;
    std::copy_n("\xFF\xD9", 2, &marker[9000]);  // an end marker inside the data
    jfif2[11] = 2;                               // JFIF major revision 2
    stray.insert(stray.begin() + 20, 4, 0);      // between the JFIF header and the quantisation tables
    const wxString premature = wxT("JPEG warning: Premature end of JPEG file");
    const wxString damaged = wxT("damaged");  // decoded as libjpeg does, marked, the note naming its warning
    const wxString outside = wxT(" is not one of 1 to 8: the picture is used as stored");
    Bytes million = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0x0F, 0x42, 0x40,
                     0, 0x0F, 0x42, 0x40, 8, 2, 0, 0, 0};  // RGB, a million by a million: three terabytes of samples
    const uLong crc = crc32(0, million.data() + 12, 17);
    for (int shift = 24; shift >= 0; shift -= 8) million.push_back(static_cast<unsigned char>(crc >> shift));
    const Bytes emptyData = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};  // its header ends there
    million.insert(million.end(), emptyData.begin(), emptyData.end());
    const std::vector<unsigned> values = tiffValues({"", PHOTOMETRIC_RGB, 3, 8}, 3);
    const TiffKind plain = {"", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, 0, 4}, floats = {"", grey, 1, 16};
    const TiffKind fourth = {"", PHOTOMETRIC_RGB, 4, 8};  // no ExtraSamples for the fourth sample
    const Bytes tiles = tiffOf({"", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, 16}, values);
    const TIFFFieldInfo privateTag = {50341, -1, -1, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1, const_cast<char*>("Private")};
    Bytes orientation9 = tiffOf(plain, values, [](TIFF* t) { TIFFSetField(t, TIFFTAG_ORIENTATION, 3); });
    const unsigned char entry[] = {0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0};  // Orientation, a SHORT: 3
    const auto at = std::search(orientation9.begin(), orientation9.end(), entry, entry + sizeof entry);
    ASSERT_NE(at, orientation9.end());
    at[8] = 9;
    put("plain.tif", tiffOf(plain, values));
    const struct { const char* name; Bytes file; wxString error, note = {}; int rowsRead = 0;
                   const char* twin = "clean.jpg"; bool stopped = false; } cases[] = {
        {"cut.jpg", cut(jpeg), damaged, premature, 64}, {"cut-progressive.jpg", cut(progressive), damaged, premature},
        {"marker.jpg", marker, damaged, wxT("JPEG warning: Corrupt JPEG data: premature end of data segment")},
        {"header.jpg", Bytes(jpeg.begin(), jpeg.begin() + 100),
         wxT("damaged JPEG data (JPEG datastream contains no image)")},
        {"cut.png", cut(png), wxT("damaged PNG data (Read Error)")}, {"cut.gif", cut(fileBytes(place("cut.gif"))), "*"},
        {"cut.tif", cut(fileBytes(place("cut.tif"))), "*"}, {"text.png", bytesOf(std::string("not a picture\n")), "*"},
        {"missing.jpg", {}, wxT("cannot open: No such file or directory")},
        {".", {}, wxT("cannot open: Is a directory")},
        {"million.png", million, wxT("not enough memory for a 1000000x1000000 picture")},
        {"jfif2.jpg", jfif2, "", wxT("JPEG warning: Warning: unknown JFIF revision number 2.01")},
        {"stray.jpg", stray, "", wxT("JPEG warning: Corrupt JPEG data: 4 extraneous bytes before marker 0xdb")},
        {"orientation9.jpg", jpegFile(picture, {22, false, orientationExif(9)}), "", "EXIF orientation 9" + outside},
        {"orientation256.jpg", jpegFile(picture, {22, false, orientationExif(256)}), "",
         "EXIF orientation 256" + outside},
        {"orientation0.jpg", jpegFile(picture, {22, false, orientationExif(0)}), "", "EXIF orientation 0" + outside},
        {"orientation-long.jpg", jpegFile(picture, {22, false, oneTagExif(false, 0x0112, EXIF_FORMAT_LONG, 6)}), "",
         "EXIF orientation 0" + outside},  // 6, but not a SHORT: not turned
        {"million.tif", millionTiff(), wxT("not enough memory for a 1000000x1000000 picture")},
        {"float.tif", tiffOf(floats, tiffValues(floats, 1), [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); }),
         wxT("unsupported TIFF (floating-point samples)")},
        {"many-samples.tif", regression("tiff/5889-samples-per-pixel"),
         wxT("unsupported TIFF (5889 samples per pixel)")},
        // What the toolkit's decoders must not see: LZW code sizes that overrun their tables, BMP runs past the end.
        {"lzw-130.gif", regression("gif/lzw-code-size-130"), wxT("damaged GIF data (LZW code size 130)")},
        {"lzw-56.gif", regression("gif/lzw-code-size-56"), wxT("damaged GIF data (LZW code size 56)")},
        {"no-rows.gif", regression("gif/no-rows"), wxT("damaged GIF data (a 2316x0 picture)")},
        {"sub-block.gif", regression("gif/cut-after-a-sub-block"), wxT("damaged GIF data (cut short)")},
        {"huge.gif", regression("gif/huge-frame-in-562-bytes"),
         wxT("damaged GIF data (a 48830x48830 picture in 562 bytes)")},
        {"rle8.bmp", regression("bmp/rle8-run-past-the-picture"), wxT("unsupported BMP (run-length encoded)")},
        {"rle4.bmp", regression("bmp/rle4-run-past-the-picture"), wxT("unsupported BMP (run-length encoded)")},
        {"cut-tiles.tif", Bytes(tiles.begin(), tiles.begin() + tiles.size() / 2), wxT("damaged TIFF data (*")},
        {"stopped-strips.tif", tiffOf(plain, values), wxT("cancelled"), {}, 0, nullptr, true},
        {"stopped-tiles.tif", tiles, wxT("cancelled"), {}, 0, nullptr, true},
        {"stopped-ycbcr.tif", tiffOf({"", PHOTOMETRIC_YCBCR, 3, 8}, values, [](TIFF* t) {
             TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 1, 1); }), wxT("cancelled"), {}, 0, nullptr, true},
        {"fourth-sample.tif", tiffOf(fourth, tiffValues(fourth, 3)), "", wxT("TIFF warning: *"), 0, nullptr},
        {"orientation9.tif", orientation9, "", "TIFF orientation 9" + outside, 0, "plain.tif"},
        {"private-tag.tif", tiffOf(plain, values, [&](TIFF* t) {
             TIFFMergeFieldInfo(t, &privateTag, 1);
             TIFFSetField(t, 50341, 3, "abc");
         }), "", "", 0, "plain.tif"},
    };
    for (const auto& c : cases)
        if (!c.file.empty()) put(c.name, c.file);
    put("clean.jpg", jpeg);
    const Bytes clean = decoded(place("clean.jpg")).samples;
    DecodeOptions stop;
    stop.cancel.request();
    RecordingLog log;
    wxLog* previous = wxLog::SetActiveTarget(&log);
    testing::internal::CaptureStderr();
    auto check = [&](const char* where) {
        for (const auto& c : cases) {
            const DecodedPicture d = decodePicture(wxString(place(c.name)), c.stopped ? stop : DecodeOptions());
            EXPECT_EQ(d.damaged, c.error == damaged) << where << c.name;
            if (c.error == damaged) {
                ASSERT_TRUE(d.ok()) << where << c.name << ": " << d.error;
                const Bytes rgb = rgbOf(d);
                const std::size_t top = 3 * 300 * c.rowsRead;
                ASSERT_EQ(rgb.size(), clean.size()) << where << c.name;
                EXPECT_EQ(Bytes(rgb.begin(), rgb.begin() + top), Bytes(clean.begin(), clean.begin() + top))
                    << where << c.name << ": the rows read";
                EXPECT_EQ(d.notes, std::vector<wxString>{c.note}) << where << c.name;
                continue;
            }
            if (c.error.empty()) {
                EXPECT_TRUE(!c.twin || rgbOf(d) == decoded(place(c.twin)).samples) << where << c.name;
                EXPECT_TRUE(c.note.empty() ? d.notes.empty() : d.notes.size() == 1 && matches(d.notes[0], c.note))
                    << where << c.name << ": " << (d.notes.empty() ? wxString() : d.notes[0]);
                continue;
            }
            EXPECT_EQ(d.pixels, nullptr) << where << c.name;
            EXPECT_TRUE(matches(d.error, c.error)) << where << c.name << ": " << d.error;
            if (c.stopped) continue;  // a stop is the decode's, not the file's
            for (int turns : {0, 1}) {
                const Image image(wxString(place(c.name)), turns);
                EXPECT_EQ(image.getWidth() + image.getHeight(), 0) << where << c.name;
            }
        }
    };
    check("main thread: ");
    std::thread([&] {
        wxLogNull quiet;
        check("worker: ");
    }).join();
    EXPECT_EQ(withoutSanitizerNotes(testing::internal::GetCapturedStderr()), "");
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_TRUE(log.seen.empty()) << log.seen[0];
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    return RUN_ALL_TESTS();
}
