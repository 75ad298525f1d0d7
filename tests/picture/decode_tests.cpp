// The decoding stage as a user sees it: plain files as the toolkit reads them, pictures upright, transparency on
// white, profiles converted as LittleCMS does, damaged files refused with a reason and nothing on stderr or in a log.
#include "picture.h"
#include "image.h"

#include <gtest/gtest.h>
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/palette.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include <unistd.h>

#include <jpeglib.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

namespace {

using Bytes = std::vector<unsigned char>;

struct Picture {
    int width = 0, height = 0, channels = 3;
    Bytes samples = {};
};

Picture noise(int width, int height, int channels, unsigned seed) {
    std::mt19937 random(seed);
    Picture p{width, height, channels, Bytes(std::size_t(width) * height * channels)};
    for (auto& s : p.samples) s = static_cast<unsigned char>(random());
    return p;
}

wxString folder() { return wxFileName::GetTempDir() + wxString::Format(wxT("/pixloom-decode-%d/"), int(getpid())); }
std::string place(const std::string& name) { return (folder() + wxString(name)).ToStdString(); }

Bytes rgbOf(const unsigned char* data, std::size_t pixels) { return data ? Bytes(data, data + 3 * pixels) : Bytes(); }
Bytes rgbOf(const wxImage& i) { return rgbOf(i.IsOk() ? i.GetData() : nullptr, size_t(i.GetWidth()) * i.GetHeight()); }
Bytes rgbOf(const DecodedPicture& p) { return rgbOf(p.ok() ? p.pixels : nullptr, std::size_t(p.width) * p.height); }
wxSize sizeOf(const Image& i) { return {i.getWidth(), i.getHeight()}; }

Bytes saved(cmsHPROFILE profile) {
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    Bytes bytes(length);
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

// On one curve, which it frees: grey, or RGB of these primaries with a D65 white.
Bytes profileOn(cmsToneCurve* curve, const cmsCIExyYTRIPLE* primaries = nullptr) {
    const cmsCIExyY white = {0.3127, 0.3290, 1};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = primaries ? cmsCreateRGBProfile(&white, primaries, curves) : cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return saved(profile);
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
        table[i] = cmsUInt16Number(cmsEvalToneCurveFloat(exact, std::min(1.0f, i / 1023.0f + 0.6f / 255)) * 65535 + 0.5f);
    cmsFreeToneCurve(exact);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    return profileOn(cmsBuildTabulatedToneCurve16(nullptr, 1024, table), &primaries);
}

// A printer-like CMYK profile: ink darkens its opposite colour, black darkens all.
Bytes cmykLike() {
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
    return saved(profile);
}

// A profile LittleCMS refuses though its structure is sound (libpng takes it): the red colorant's type is unknown.
Bytes broken() {
    Bytes p = adobeLike();
    auto word = [&](std::size_t at) { return std::size_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3]; };
    for (std::size_t entry = 132; entry < 132 + 12 * word(128); entry += 12)
        if (std::equal(&p[entry], &p[entry] + 4, "rXYZ")) std::copy_n("bad!", 4, &p[word(entry + 4)]);
    return p;
}

// A JPEG's samples as libjpeg reads them; CMYK inverted, as Adobe writes it: hence TYPE_CMYK_8_REV below.
Bytes stored(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    const std::size_t stride = std::size_t(d.output_width) * d.output_components;
    Bytes samples(stride * d.output_height);
    for (JSAMPROW row = samples.data(); d.output_scanline < d.output_height; row += stride)
        jpeg_read_scanlines(&d, &row, 1);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return samples;
}

Bytes transformed(const Bytes& profile, cmsUInt32Number format, const Bytes& samples) {
    cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(from, format, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    const std::size_t pixels = samples.size() / T_CHANNELS(format);
    Bytes out(3 * pixels);
    cmsDoTransform(t, samples.data(), out.data(), cmsUInt32Number(pixels));
    cmsDeleteTransform(t);
    cmsCloseProfile(from);
    cmsCloseProfile(srgb);
    return out;
}

struct Options {
    Bytes profile;
    int orientation = 0;  // EXIF (JPEG) or tag (TIFF); 0: none
    bool progressive = false;
    int chroma = 22;  // JPEG luma sampling, horizontal and vertical: 22 is 4:2:0, 21 4:2:2, 11 4:4:4
    std::vector<png_color> palette = {};  // PNG, with its tRNS alpha per entry
    Bytes transparency = {};
};

// JPEG, PNG or TIFF by the name's extension; the picture's channels tell grey, RGB, RGBA (PNG) or CMYK (JPEG).
void write(const std::string& path, Picture p, const Options& o = {}) {
    std::vector<unsigned char*> rows;
    for (int y = 0; y < p.height; ++y) rows.push_back(&p.samples[std::size_t(y) * p.width * p.channels]);
    const std::string format = path.substr(path.rfind('.'));
    if (format == ".tif") {
        TIFF* t = TIFFOpen(path.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_ORIENTATION, std::max(o.orientation, 1));
        if (!o.profile.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(o.profile.size()), o.profile.data());
        for (int y = 0; y < p.height; ++y) TIFFWriteScanline(t, rows[y], y, 0);
        TIFFClose(t);
        return;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (format == ".png") {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        const int type = p.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : p.channels == 3 ? PNG_COLOR_TYPE_RGB
                         : o.palette.empty() ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
        png_set_IHDR(png, info, p.width, p.height, 8, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        if (!o.palette.empty()) png_set_PLTE(png, info, o.palette.data(), int(o.palette.size()));
        if (!o.transparency.empty()) png_set_tRNS(png, info, o.transparency.data(), int(o.transparency.size()), nullptr);
        if (!o.profile.empty())
            png_set_iCCP(png, info, "embedded", PNG_COMPRESSION_TYPE_BASE, o.profile.data(), png_uint_32(o.profile.size()));
        png_write_info(png, info);
        png_write_image(png, rows.data());
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
    } else {
        jpeg_compress_struct c;
        jpeg_error_mgr errors;
        c.err = jpeg_std_error(&errors);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, f);
        c.image_width = p.width, c.image_height = p.height, c.input_components = p.channels;
        c.in_color_space = p.channels == 1 ? JCS_GRAYSCALE : p.channels == 4 ? JCS_CMYK : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 92, TRUE);
        if (p.channels == 3) c.comp_info[0].h_samp_factor = o.chroma / 10, c.comp_info[0].v_samp_factor = o.chroma % 10;
        if (o.progressive) jpeg_simple_progression(&c);
        jpeg_start_compress(&c, TRUE);
        if (o.orientation) {  // EXIF with the one entry, in either byte order
            const bool big = o.orientation % 2;
            const unsigned char order = big ? 'M' : 'I';
            Bytes exif = {'E', 'x', 'i', 'f', 0, 0, order, order};
            auto put = [&](unsigned value, int bytes) {
                for (int i = 0; i < bytes; ++i) exif.push_back(value >> 8 * (big ? bytes - 1 - i : i));
            };
            put(42, 2), put(8, 4);  // the TIFF header, then the entry (a short) and no next IFD
            put(1, 2), put(0x112, 2), put(3, 2), put(1, 4), put(o.orientation, 2), put(0, 2), put(0, 4);
            jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
        }
        if (!o.profile.empty()) jpeg_write_icc_profile(&c, o.profile.data(), unsigned(o.profile.size()));
        jpeg_write_scanlines(&c, rows.data(), p.height);
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
    }
    std::fclose(f);
}

// The stored picture as it is to be shown, by the toolkit's own turns and mirrors.
Picture shownAs(Picture stored, int o) {
    const wxImage s(stored.width, stored.height, stored.samples.data(), true);
    const wxImage turned = o >= 5 ? s.Rotate90(o != 8) : o == 3 ? s.Rotate180() : s;
    const wxImage shown = o == 2 || o == 5 ? turned.Mirror() : o == 4 || o == 7 ? turned.Mirror(false) : turned;
    return Picture{shown.GetWidth(), shown.GetHeight(), 3, rgbOf(shown)};
}

Picture decoded(const std::string& path) {
    DecodedPicture d = decodePicture(wxString(path));
    EXPECT_TRUE(d.ok()) << path << ": " << d.error;
    return Picture{d.width, d.height, 3, rgbOf(d)};
}

void expectDecoded(const std::string& path, const Picture& expected) {
    const Picture shown = decoded(path);
    EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(expected.width, expected.height)) << path;
    EXPECT_EQ(shown.samples, expected.samples) << path;
}

// For GIF, whose palette holds them: two colours (RGB, RGB) in a pattern of noise.
wxImage twoColours(int width, int height, unsigned seed, const Bytes& rgb) {
    const Picture pattern = noise(width, height, 1, seed);
    wxImage image(width, height);
    for (std::size_t i = 0; i < pattern.samples.size(); ++i)
        std::copy_n(&rgb[pattern.samples[i] % 2 * 3], 3, image.GetData() + 3 * i);
    const unsigned char r[] = {rgb[0], rgb[3]}, g[] = {rgb[1], rgb[4]}, b[] = {rgb[2], rgb[5]};
    image.SetPalette(wxPalette(2, r, g, b));
    return image;
}

// Odd sizes: partial MCUs and chroma blocks at both edges.
const Picture colours = noise(37, 23, 3, 1);

// Their headers tell their size; the engine loads them turned (3 quarters: as 1) and hands back a copy of its own.
TEST(PlainFiles, ComeOutAsTheToolkitReadsThemAndTurnAsBefore) {
    const Picture greys = noise(41, 17, 1, 2), inks = noise(67, 45, 4, 3);
    const struct { const char* name; const Picture& picture; Options options; } written[] = {
        {"baseline.jpg", colours, {}}, {"progressive.jpg", colours, {{}, 0, true}},
        {"chroma-422.jpg", colours, {{}, 0, false, 21}}, {"chroma-444.jpg", colours, {{}, 0, true, 11}},
        {"grey.jpg", greys, {}}, {"cmyk.jpg", inks, {}}, {"plain.png", colours, {}}};
    std::vector<std::string> names = {"plain.bmp", "plain.tif", "plain.gif", "opaque-alpha.png"};
    for (const auto& w : written) write(place(w.name), w.picture, w.options), names.push_back(w.name);
    wxImage toolkit(colours.width, colours.height, const_cast<unsigned char*>(colours.samples.data()), true);
    for (const char* name : {"plain.bmp", "plain.tif"}) ASSERT_TRUE(toolkit.SaveFile(wxString(place(name))));
    toolkit.InitAlpha();  // opaque: composited, the samples stay
    ASSERT_TRUE(toolkit.SaveFile(wxString(place("opaque-alpha.png"))));
    ASSERT_TRUE(twoColours(5, 3, 13, {200, 40, 10, 10, 90, 250}).SaveFile(wxString(place("plain.gif"))));

    for (const auto& name : names) {
        const wxString path(place(name));
        const wxImage expected(path);
        ASSERT_TRUE(expected.IsOk()) << name;
        long long width = 0, height = 0;  // what a header alone tells, for the decode ahead
        EXPECT_TRUE(readPictureSize(path, width, height)) << name;
        EXPECT_EQ(wxSize(static_cast<int>(width), static_cast<int>(height)), expected.GetSize()) << name;
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

// JPEG (colour, CMYK, and grey with a profile, converted before it is turned): the same file untagged, decoded and
// turned here (decoding itself is held to the toolkit above). TIFF: the samples written.
TEST(Orientation, AllEightStandUpright) {
    const Picture colour = noise(13, 7, 3, 4), inks = noise(11, 6, 4, 5), greys = noise(9, 5, 1, 6);
    const struct { std::string name; const Picture& picture; Bytes profile; } jpegs[] = {
        {"colour", colour, {}}, {"cmyk", inks, {}}, {"grey", greys, greyGamma22()}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        for (const auto& j : jpegs) {
            write(place(j.name + "-untagged.jpg"), j.picture, {j.profile});
            write(place(j.name + ".jpg"), j.picture, {j.profile, orientation});
            expectDecoded(place(j.name + ".jpg"), shownAs(decoded(place(j.name + "-untagged.jpg")), orientation));
        }
        write(place("tagged.tif"), colour, {{}, orientation});
        expectDecoded(place("tagged.tif"), shownAs(colour, orientation));
    }
}

unsigned char onWhite(int c, int a) { return static_cast<unsigned char>((c * a + 255 * (255 - a) + 127) / 255); }

// Alpha; palette entries fully transparent, half, opaque and without a tRNS entry; a GIF's mask colour.
TEST(Transparency, LiesOnWhite) {
    const Picture rgba = noise(9, 6, 4, 5);
    Picture indices = noise(8, 5, 1, 6), alphaOnWhite{9, 6}, paletteOnWhite{8, 5};
    for (std::size_t i = 0; i < rgba.samples.size(); i += 4)
        for (int c = 0; c < 3; ++c) alphaOnWhite.samples.push_back(onWhite(rgba.samples[i + c], rgba.samples[i + 3]));
    Options paletted;
    paletted.palette = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {30, 60, 90}}, paletted.transparency = {0, 128, 255};
    for (auto& i : indices.samples) {
        const png_color& p = paletted.palette[i %= 4];
        const int alpha = i < 3 ? paletted.transparency[i] : 255;
        for (int c : {p.red, p.green, p.blue}) paletteOnWhite.samples.push_back(onWhite(c, alpha));
    }
    wxImage gif = twoColours(8, 4, 14, {20, 30, 40, 1, 2, 3});
    Picture maskOnWhite{8, 4, 3, rgbOf(gif)};
    for (std::size_t i = 0; i < maskOnWhite.samples.size(); i += 3)
        if (maskOnWhite.samples[i] == 1) std::fill_n(&maskOnWhite.samples[i], 3, 255);
    gif.SetMaskColour(1, 2, 3);
    write(place("alpha.png"), rgba);
    write(place("palette.png"), indices, paletted);
    ASSERT_TRUE(gif.SaveFile(wxString(place("mask.gif"))));
    expectDecoded(place("alpha.png"), alphaOnWhite);
    expectDecoded(place("palette.png"), paletteOnWhite);
    expectDecoded(place("mask.gif"), maskOnWhite);
}

TEST(ColourProfiles, ConvertToSrgbAsLittleCmsDoes) {
    const Bytes adobe = adobeLike(), srgb = saved(cmsCreate_sRGBProfile()), grey = greyGamma22(), cmyk = cmykLike();
    const Picture greys = noise(19, 11, 1, 7), inks = noise(23, 13, 4, 12);
    write(place("untagged.jpg"), colours);
    write(place("untagged-grey.jpg"), greys);
    write(place("untagged-cmyk.jpg"), inks);
    const Bytes asStored = colours.samples, asJpeg = stored(place("untagged.jpg"));
    const char* const ignored = "colour profile ignored: ";
    const struct {
        const char* name;
        Bytes profile, expected;
        const char* note;
        const Picture& picture = colours;
    } cases[] = {
        {"adobe.png", adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"adobe.jpg", adobe, transformed(adobe, TYPE_RGB_8, asJpeg), nullptr},
        {"adobe.tif", adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"srgb.png", srgb, asStored, nullptr},
        {"srgb.jpg", srgb, asJpeg, nullptr},
        {"near-srgb.png", nearSrgb(), asStored, nullptr},
        {"grey.jpg", grey, transformed(grey, TYPE_GRAY_8, stored(place("untagged-grey.jpg"))), nullptr, greys},
        {"grey.png", grey, transformed(grey, TYPE_GRAY_8, greys.samples), nullptr, greys},
        {"broken.jpg", broken(), asJpeg, ignored},
        {"broken.png", broken(), asStored, ignored},
        {"grey-on-colour.jpg", grey, asJpeg, "colour profile ignored: it is for grey pictures, this one is RGB"},
        {"cmyk.jpg", cmyk, transformed(cmyk, TYPE_CMYK_8_REV, stored(place("untagged-cmyk.jpg"))), nullptr, inks},
    };
    for (const auto& c : cases) {
        write(place(c.name), c.picture, {c.profile});
        const DecodedPicture d = decodePicture(wxString(place(c.name)));
        EXPECT_EQ(rgbOf(d), c.expected) << c.name;
        ASSERT_EQ(d.notes.size(), c.note ? 1u : 0u) << c.name << (d.notes.empty() ? wxString() : ": " + d.notes[0]);
        if (c.note) {
            EXPECT_TRUE(d.notes[0].StartsWith(c.note)) << c.name << ": " << d.notes[0];
        }
    }
    EXPECT_NE(transformed(adobe, TYPE_RGB_8, asStored), asStored);  // the conversion is no identity
}

// Log messages that reach a target would become boxes in the program.
struct RecordingLog : wxLog {
    std::vector<wxString> seen;
    void DoLogRecord(wxLogLevel, const wxString& text, const wxLogRecordInfo&) override { seen.push_back(text); }
};

void overwrite(const std::string& path, long at, const char* bytes) {
    FILE* f = std::fopen(path.c_str(), "r+b");
    std::fseek(f, at, SEEK_SET), std::fputs(bytes, f), std::fclose(f);
}

TEST(DamagedFiles, FailWithAReasonAndSayNothingElsewhere) {
    const Picture picture = noise(300, 200, 3, 8);
    for (const char* name : {"cut.jpg", "marker.jpg", "jfif2.jpg", "cut.png"}) write(place(name), picture);
    write(place("cut-progressive.jpg"), picture, {{}, 0, true});
    const wxImage greys = twoColours(300, 200, 8, {0, 0, 0, 128, 128, 128});  // loaders that report missing data
    for (const char* name : {"cut.gif", "cut.tif"}) ASSERT_TRUE(greys.SaveFile(wxString(place(name))));  // and give one
    for (const char* name : {"cut.jpg", "cut-progressive.jpg", "cut.png", "cut.gif", "cut.tif"})
        ASSERT_EQ(truncate(place(name).c_str(), static_cast<off_t>(std::filesystem::file_size(place(name)) / 2)), 0);
    overwrite(place("marker.jpg"), 9000, "\xFF\xD9");  // an end marker inside the data
    overwrite(place("jfif2.jpg"), 11, "\x02");  // JFIF major revision 2: a warning that loses nothing
    wxFile(wxString(place("text.png")), wxFile::write).Write("not a picture\n");
    const wxString cut = wxT("damaged JPEG data (Premature end of JPEG file)");
    const std::pair<const char*, wxString> cases[] = {  // empty: the toolkit's words, any
        {"cut.jpg", cut}, {"cut-progressive.jpg", cut},
        {"marker.jpg", wxT("damaged JPEG data (Corrupt JPEG data: premature end of data segment)")},
        {"cut.png", wxT("damaged PNG data (Read Error)")}, {"cut.gif", {}}, {"cut.tif", {}}, {"text.png", {}},
        {"missing.jpg", wxT("cannot open: No such file or directory")}, {".", wxT("cannot open: Is a directory")},
    };
    RecordingLog log;
    wxLog* previous = wxLog::SetActiveTarget(&log);
    testing::internal::CaptureStderr();
    auto check = [&](const char* where) {
        for (const auto& [name, reason] : cases) {
            const DecodedPicture d = decodePicture(wxString(place(name)));
            EXPECT_EQ(d.pixels, nullptr) << where << name;
            EXPECT_TRUE(reason.empty() ? !d.error.empty() : d.error == reason) << where << name << ": " << d.error;
            for (int turns : {0, 1})
                EXPECT_EQ(sizeOf(Image(wxString(place(name)), turns)), wxSize()) << where << name;
        }
    };
    check("main thread: ");
    // A worker, as the program's run is: silenced with wxLogNull, its reasons still told.
    std::thread([&] {
        wxLogNull quiet;
        check("worker: ");
    }).join();
    const DecodedPicture jfif = decodePicture(wxString(place("jfif2.jpg")));  // converted, and noted
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_TRUE(log.seen.empty()) << log.seen[0];
    EXPECT_TRUE(jfif.ok()) << jfif.error;
    ASSERT_EQ(jfif.notes.size(), 1u);
    EXPECT_TRUE(jfif.notes[0].StartsWith(wxT("JPEG warning: "))) << jfif.notes[0];
}

void insert(const std::string& path, long at, const std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    content.insert(static_cast<std::size_t>(at), bytes);
    std::ofstream(path, std::ios::binary) << content;
}

// Files every viewer shows: converted as their clean twins are, each with one note.
TEST(HarmlessFlaws, AreNotedAndTheFileConverts) {
    const Picture picture = noise(40, 30, 3, 15);
    write(place("clean.jpg"), picture);
    write(place("stray.jpg"), picture);
    insert(place("stray.jpg"), 20, std::string(4, '\0'));  // between the JFIF header and the quantisation tables
    write(place("orientation9.jpg"), picture, {{}, 9});
    write(place("orientation0.jpg"), picture, {{}, 0x100});
    const std::pair<const char*, const char*> cases[] = {
        {"stray.jpg", "JPEG warning: Corrupt JPEG data: 4 extraneous bytes before marker 0xdb"},
        {"orientation9.jpg", "EXIF orientation 9 is not one of 1 to 8: the picture is used as stored"},
        {"orientation0.jpg", "EXIF orientation 256 is not one of 1 to 8: the picture is used as stored"},
    };
    const Picture clean = decoded(place("clean.jpg"));
    for (const auto& [name, note] : cases) {
        const DecodedPicture d = decodePicture(wxString(place(name)));
        EXPECT_EQ(rgbOf(d), clean.samples) << name;
        EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(40, 30)) << name;
        EXPECT_EQ(d.notes, std::vector<wxString>{wxString(note)}) << name;
    }
}

// A PNG as libpng writes it: any colour type and depth, interlaced or not, with a transparent colour.
struct PngCase {
    const char* name;
    int colourType, depth;
    bool interlaced;
    std::vector<png_color_16> transparent = {};  // tRNS for grey or RGB: one colour
};

void writePng(const std::string& path, const PngCase& c, int width, int height, unsigned seed) {
    const int channels = c.colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : c.colourType == PNG_COLOR_TYPE_RGB ? 3
                         : c.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
    const std::size_t rowBytes = (std::size_t(width) * channels * c.depth + 7) / 8;
    Picture rows = noise(static_cast<int>(rowBytes), height, 1, seed);
    if (!c.transparent.empty())  // make some pixels the transparent colour
        for (std::size_t y = 0; y < std::size_t(height); y += 2) std::fill_n(&rows.samples[y * rowBytes], rowBytes / 2, 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, c.depth, c.colourType,
                 c.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (int i = 0; i < 256; ++i) palette.push_back({png_byte(i), png_byte(255 - i), png_byte(i * 7)});
    if (c.colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), 1 << c.depth);
    const Bytes alphas = {0, 100, 200};
    if (c.colourType == PNG_COLOR_TYPE_PALETTE) png_set_tRNS(png, info, alphas.data(), 3, nullptr);
    if (!c.transparent.empty()) png_set_tRNS(png, info, nullptr, 0, c.transparent.data());
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (int y = 0; y < height; ++y) pointers.push_back(&rows.samples[std::size_t(y) * rowBytes]);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// The toolkit's own decoding, laid on white: what pixloom gave before it read PNG itself.
Bytes toolkitOnWhite(const std::string& path) {
    wxImage image(wxString(path), wxBITMAP_TYPE_PNG);
    Bytes samples = rgbOf(image);
    for (std::size_t i = 0; i < samples.size() / 3; ++i) {
        const bool masked = image.HasMask() && samples[3 * i] == image.GetMaskRed() &&
                            samples[3 * i + 1] == image.GetMaskGreen() && samples[3 * i + 2] == image.GetMaskBlue();
        const int alpha = masked ? 0 : image.HasAlpha() ? image.GetAlpha()[i] : 255;
        for (int c = 0; c < 3; ++c) samples[3 * i + c] = onWhite(samples[3 * i + c], alpha);
    }
    return samples;
}

TEST(Png, EveryKindComesOutAsTheToolkitDecodedIt) {
    const PngCase cases[] = {
        {"rgb8.png", PNG_COLOR_TYPE_RGB, 8, false}, {"rgb16.png", PNG_COLOR_TYPE_RGB, 16, false},
        {"rgba8.png", PNG_COLOR_TYPE_RGB_ALPHA, 8, false}, {"rgba16.png", PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
        {"grey1.png", PNG_COLOR_TYPE_GRAY, 1, false}, {"grey4.png", PNG_COLOR_TYPE_GRAY, 4, true},
        {"grey16.png", PNG_COLOR_TYPE_GRAY, 16, false}, {"greyalpha8.png", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true},
        {"greyalpha16.png", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}, {"palette2.png", PNG_COLOR_TYPE_PALETTE, 2, false},
        {"palette8.png", PNG_COLOR_TYPE_PALETTE, 8, true}, {"interlaced.png", PNG_COLOR_TYPE_RGB, 8, true},
        {"grey-trns.png", PNG_COLOR_TYPE_GRAY, 8, false, {{0, 0, 0, 0, 0}}},
        {"rgb-trns.png", PNG_COLOR_TYPE_RGB, 8, true, {{0, 0, 0, 0, 0}}},
    };
    for (const PngCase& c : cases) {
        writePng(place(c.name), c, 37, 21, static_cast<unsigned>(c.depth * 16 + c.colourType));
        const DecodedPicture d = decodePicture(wxString(place(c.name)));
        EXPECT_TRUE(d.ok() && d.notes.empty()) << c.name << ": " << d.error;
        EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(37, 21)) << c.name;
        EXPECT_EQ(rgbOf(d), toolkitOnWhite(place(c.name))) << c.name;
    }
}

// Larger than the toolkit's images may be (over 2 GiB of samples), yet within memory: converted. Beyond what
// memory can hold: refused, naming the size. Stopped from another thread: given up.
TEST(Png, AnyPictureMemoryHoldsDecodesAndTheRestFailsNamingItsSize) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "gigabytes of samples take minutes under the sanitizers";
#endif
    const int side = 27000;  // 27000 x 27000 x 3 bytes > 2^31
    {
        FILE* f = std::fopen(place("huge.png").c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, side, side, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        Bytes row((side + 7) / 8, 0xAA);
        for (int y = 0; y < side; ++y) png_write_row(png, row.data());
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    const DecodedPicture huge = decodePicture(wxString(place("huge.png")));
    ASSERT_TRUE(huge.ok()) << huge.error;
    EXPECT_EQ(std::make_pair(huge.width, huge.height), std::make_pair(side, side));
    EXPECT_EQ(huge.pixels[3 * (std::size_t(side) * side - 1)], 0);  // the last pixel: 0xAA ends in a black one
    EXPECT_EQ(huge.pixels[0], 255);
    std::atomic<bool> stop{true};
    DecodeOptions stopped;
    stopped.cancel = &stop;
    EXPECT_EQ(decodePicture(wxString(place("huge.png")), stopped).error, wxT("cancelled"));
    // A header of a million by a million: three terabytes of samples.
    Bytes header(Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0x0F, 0x42, 0x40,
                       0, 0x0F, 0x42, 0x40, 8, 2, 0, 0, 0});
    const uLong crc = crc32(0, header.data() + 12, 17);
    for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<unsigned char>(crc >> shift));
    const Bytes emptyData = {0, 0, 0, 0, 'I', 'D', 'A', 'T', 0x35, 0xAF, 0x06, 0x1E};  // its header ends there
    header.insert(header.end(), emptyData.begin(), emptyData.end());
    std::ofstream(place("million.png"), std::ios::binary).write(reinterpret_cast<const char*>(header.data()),
                                                                 static_cast<std::streamsize>(header.size()));
    EXPECT_EQ(decodePicture(wxString(place("million.png"))).error, wxT("not enough memory for a 1000000x1000000 picture"));
}

TEST(Threads, TwoDecodesAtOnceGiveWhatOneGives) {
    write(place("one.jpg"), noise(200, 150, 3, 10), {adobeLike(), 6});
    write(place("two.png"), noise(150, 200, 4, 11), {adobeLike()});
    const Picture one = decoded(place("one.jpg")), two = decoded(place("two.png"));
    std::thread a([&] { for (int i = 0; i < 20; ++i) expectDecoded(place("one.jpg"), one); });
    std::thread b([&] { for (int i = 0; i < 20; ++i) expectDecoded(place("two.png"), two); });
    a.join(), b.join();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    wxFileName::Mkdir(folder(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    const int status = RUN_ALL_TESTS();
    wxFileName::Rmdir(folder(), wxPATH_RMDIR_RECURSIVE);
    return status;
}
