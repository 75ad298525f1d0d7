// The decoding stage against what a user sees: plain files exactly as the toolkit reads them, pictures turned
// upright, transparency on white, colour profiles converted by LittleCMS's own rules, damaged files refused with a
// reason and without a word on standard error or in a log. Every file is written here with the libraries themselves.
#include "decode.h"
#include "image.h"

#include <gtest/gtest.h>
#include <wx/file.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/palette.h>

#include <cstdio>
#include <functional>
#include <random>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include <jpeglib.h>
#include <lcms2.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <tiffio.h>

namespace {

using Bytes = std::vector<unsigned char>;

struct Picture {
    int width = 0, height = 0, channels = 3;
    Bytes samples;
};

Picture noise(int width, int height, int channels, unsigned seed) {
    std::mt19937 random(seed);
    Picture p{width, height, channels, Bytes(std::size_t(width) * height * channels)};
    for (auto& s : p.samples) s = static_cast<unsigned char>(random());
    return p;
}

wxString folder() { return wxFileName::GetTempDir() + wxString::Format(wxT("/pixloom-decode-%d/"), int(getpid())); }
std::string place(const char* name) { return (folder() + name).ToStdString(); }

Bytes rgbOf(const wxImage& image) {
    return image.IsOk() ? Bytes(image.GetData(), image.GetData() + 3 * image.GetWidth() * image.GetHeight()) : Bytes();
}
Bytes rgbOf(const DecodedPicture& p) { return p.ok() ? Bytes(p.pixels, p.pixels + 3 * p.width * p.height) : Bytes(); }
Bytes rgbOf(const Image& i) { return i.isEmpty() ? Bytes() : Bytes(i.pixelData(), i.pixelData() + 3 * i.getWidth() * i.getHeight()); }
Bytes toolkitSamples(const std::string& path) { return rgbOf(wxImage(wxString(path))); }

Bytes saved(cmsHPROFILE profile) {
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    Bytes bytes(length);
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

// Adobe RGB (1998) as its primaries and curve define it.
cmsHPROFILE adobeLike() {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return profile;
}

cmsHPROFILE greyGamma22() {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    return profile;
}

// A printer-like CMYK profile: ink darkens its opposite colour, black darkens all.
cmsHPROFILE cmykLike() {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);  // a lone grid is a v2 lut16, not a v4 A-to-B table
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 3, 4, 3, nullptr);
    cmsStageSampleCLut16bit(grid, [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
        double ink[4];
        for (int i = 0; i < 4; ++i) ink[i] = in[i] / 65535.0;
        const cmsCIELab lab = {100 * (1 - ink[3]) * (1 - 0.3 * (ink[0] + ink[1] + ink[2])), 60 * (ink[1] - ink[0]),
                               60 * (ink[2] - ink[1])};
        cmsFloat2LabEncoded(out, &lab);
        return TRUE;
    }, nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    return profile;
}

Bytes storedInks(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct d;
    jpeg_error_mgr errors;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    Bytes inks(std::size_t(d.output_width) * d.output_height * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &inks[std::size_t(d.output_scanline) * d.output_width * 4];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return inks;
}

// JPEG stores CMYK inverted, as Adobe writes it: hence the _REV layout.
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

J_COLOR_SPACE spaceOf(const Picture& p) { return p.channels == 1 ? JCS_GRAYSCALE : p.channels == 4 ? JCS_CMYK : JCS_RGB; }

struct JpegOptions {
    bool progressive = false;
    int exifOrientation = 0;  // 0: no EXIF
    Bytes profile;
    int chroma = 22;  // luma sampling factors, horizontal and vertical: 22 is 4:2:0, 21 4:2:2, 11 4:4:4
};

void writeJpeg(const std::string& path, const Picture& p, const JpegOptions& o = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = p.width, c.image_height = p.height, c.input_components = p.channels;
    c.in_color_space = spaceOf(p);
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    if (p.channels == 3) c.comp_info[0].h_samp_factor = o.chroma / 10, c.comp_info[0].v_samp_factor = o.chroma % 10;
    if (o.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    if (o.exifOrientation) {
        ExifData* exif = exif_data_new();
        exif_data_set_byte_order(exif, o.exifOrientation % 2 ? EXIF_BYTE_ORDER_MOTOROLA : EXIF_BYTE_ORDER_INTEL);
        ExifEntry* entry = exif_entry_new();
        exif_content_add_entry(exif->ifd[EXIF_IFD_0], entry);
        exif_entry_initialize(entry, EXIF_TAG_ORIENTATION);
        exif_set_short(entry->data, exif_data_get_byte_order(exif), ExifShort(o.exifOrientation));
        unsigned char* block = nullptr;
        unsigned int blockLength = 0;
        exif_data_save_data(exif, &block, &blockLength);
        jpeg_write_marker(&c, JPEG_APP0 + 1, block, blockLength);
        free(block);
        exif_entry_unref(entry);
        exif_data_unref(exif);
    }
    if (!o.profile.empty()) jpeg_write_icc_profile(&c, o.profile.data(), unsigned(o.profile.size()));
    for (int y = 0; y < p.height; ++y) {
        JSAMPROW row = const_cast<unsigned char*>(&p.samples[std::size_t(y) * p.width * p.channels]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

struct PngOptions {
    int colourType = PNG_COLOR_TYPE_RGB;
    std::vector<png_color> palette;
    Bytes transparency;  // tRNS alpha per palette entry
    Bytes profile;
};

void writePng(const std::string& path, const Picture& p, const PngOptions& o = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, p.width, p.height, 8, o.colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!o.palette.empty()) png_set_PLTE(png, info, o.palette.data(), int(o.palette.size()));
    if (!o.transparency.empty()) png_set_tRNS(png, info, o.transparency.data(), int(o.transparency.size()), nullptr);
    if (!o.profile.empty())
        png_set_iCCP(png, info, "embedded", PNG_COMPRESSION_TYPE_BASE, o.profile.data(), png_uint_32(o.profile.size()));
    png_write_info(png, info);
    for (int y = 0; y < p.height; ++y)
        png_write_row(png, &p.samples[std::size_t(y) * p.width * p.channels]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void writeTiff(const std::string& path, const Picture& p, int orientation, const Bytes& profile = {}) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
    if (!profile.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(profile.size()), profile.data());
    for (int y = 0; y < p.height; ++y)
        TIFFWriteScanline(t, const_cast<unsigned char*>(&p.samples[std::size_t(y) * p.width * 3]), y, 0);
    TIFFClose(t);
}

// The stored picture as it is to be shown: displayed pixel (X, Y) comes from stored pixel source(X, Y).
Picture shownAs(const Picture& stored, int orientation) {
    const int W = stored.width, H = stored.height;
    const bool swapped = orientation >= 5;
    Picture shown{swapped ? H : W, swapped ? W : H, 3, Bytes(stored.samples.size())};
    for (int Y = 0; Y < shown.height; ++Y)
        for (int X = 0; X < shown.width; ++X) {
            const std::pair<int, int> from[] = {{X, Y},         {X, Y},         {W - 1 - X, Y},         {W - 1 - X, H - 1 - Y},
                                                {X, H - 1 - Y}, {Y, X},         {Y, H - 1 - X},         {W - 1 - Y, H - 1 - X},
                                                {W - 1 - Y, X}};
            const auto [x, y] = from[orientation];
            for (int c = 0; c < 3; ++c)
                shown.samples[3 * (std::size_t(Y) * shown.width + X) + c] = stored.samples[3 * (std::size_t(y) * W + x) + c];
        }
    return shown;
}

Picture decoded(const std::string& path) {
    DecodedPicture d = decodePicture(wxString(path));
    EXPECT_TRUE(d.ok()) << path << ": " << d.error;
    return Picture{d.width, d.height, 3, rgbOf(d)};
}

// Odd sizes: partial MCUs and chroma blocks at both edges.
const Picture colours = noise(37, 23, 3, 1);

TEST(PlainFiles, ComeOutAsTheToolkitReadsThemAndTurnAsBefore) {  // and their headers tell their size
    writeJpeg(place("baseline.jpg"), colours);
    writeJpeg(place("progressive.jpg"), colours, {true, 0, {}, 22});
    writeJpeg(place("chroma-422.jpg"), colours, {false, 0, {}, 21});
    writeJpeg(place("chroma-444.jpg"), colours, {true, 0, {}, 11});
    writeJpeg(place("grey.jpg"), noise(41, 17, 1, 2));
    writeJpeg(place("cmyk.jpg"), noise(67, 45, 4, 3));
    writePng(place("plain.png"), colours);
    wxImage toolkit(colours.width, colours.height, const_cast<unsigned char*>(colours.samples.data()), true);
    for (const char* name : {"plain.bmp", "plain.tif"}) ASSERT_TRUE(toolkit.SaveFile(wxString(place(name))));
    wxImage gif(5, 3);
    gif.SetRGB(wxRect(0, 0, 5, 3), 200, 40, 10);
    gif.SetRGB(wxRect(1, 1, 2, 2), 10, 90, 250);
    const unsigned char r[] = {200, 10}, g[] = {40, 90}, b[] = {10, 250};
    gif.SetPalette(wxPalette(2, r, g, b));
    ASSERT_TRUE(gif.SaveFile(wxString(place("plain.gif"))));

    for (const char* name :
         {"baseline.jpg", "progressive.jpg", "chroma-422.jpg", "chroma-444.jpg", "grey.jpg", "cmyk.jpg", "plain.png", "plain.bmp", "plain.tif", "plain.gif"}) {
        const wxString path(place(name));
        const wxImage expected(path);
        ASSERT_TRUE(expected.IsOk()) << name;
        EXPECT_EQ(rgbOf(Image(path, 0, wxBITMAP_TYPE_ANY, -1)), rgbOf(expected)) << name;
        long long width = 0, height = 0;  // what a header alone tells, for the decode ahead
        EXPECT_TRUE(readPictureSize(path, width, height)) << name;
        EXPECT_EQ(wxSize(static_cast<int>(width), static_cast<int>(height)), expected.GetSize()) << name;
        for (int turns : {1, 2, 3}) {
            const wxImage turned = turns == 2 ? expected.Rotate180() : expected.Rotate90(true);
            const Image image(path, turns, wxBITMAP_TYPE_ANY, -1);
            EXPECT_EQ(image.getWidth(), turned.GetWidth()) << name << " " << turns;
            EXPECT_EQ(rgbOf(image), rgbOf(turned)) << name << " " << turns;
        }
    }
}

// JPEG: the stored picture is the same file decoded untagged (decoding itself is held to the toolkit elsewhere), in
// colour, CMYK, and grey with a profile (converted before it is turned). TIFF: the samples written.
TEST(Orientation, AllEightStandUpright) {
    const Picture colour = noise(13, 7, 3, 4), inks = noise(11, 6, 4, 5), greys = noise(9, 5, 1, 6);
    const struct {
        const char* name;
        const Picture& picture;
        Bytes profile;
    } jpegs[] = {{"colour", colour, {}}, {"cmyk", inks, {}}, {"grey", greys, saved(greyGamma22())}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        std::vector<std::pair<std::string, Picture>> files;
        for (const auto& j : jpegs) {
            const std::string untagged = place((j.name + std::string("-untagged.jpg")).c_str()), tagged = place((j.name + std::string(".jpg")).c_str());
            writeJpeg(untagged, j.picture, {false, 0, j.profile, 22});
            writeJpeg(tagged, j.picture, {false, orientation, j.profile, 22});
            files.emplace_back(tagged, shownAs(decoded(untagged), orientation));
        }
        writeTiff(place("tagged.tif"), colour, orientation);
        files.emplace_back(place("tagged.tif"), shownAs(colour, orientation));
        for (const auto& [path, expected] : files) {
            const Picture shown = decoded(path);
            EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(expected.width, expected.height)) << path;
            EXPECT_EQ(shown.samples, expected.samples) << path;
        }
    }
}

unsigned char onWhite(int c, int a) { return static_cast<unsigned char>((c * a + 255 * (255 - a) + 127) / 255); }

TEST(Transparency, LiesOnWhite) {
    const Picture rgba = noise(9, 6, 4, 5);
    writePng(place("alpha.png"), rgba, {PNG_COLOR_TYPE_RGB_ALPHA, {}, {}, {}});
    Bytes expectedAlpha;
    for (std::size_t i = 0; i < rgba.samples.size(); i += 4)
        for (int c = 0; c < 3; ++c) expectedAlpha.push_back(onWhite(rgba.samples[i + c], rgba.samples[i + 3]));

    // Palette entries fully transparent, half, opaque and without a tRNS entry.
    const std::vector<png_color> palette = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {30, 60, 90}};
    const Bytes alphas = {0, 128, 255};
    Picture indices = noise(8, 5, 1, 6);
    Bytes expectedPalette;
    for (auto& i : indices.samples) {
        i %= 4;
        const png_color& p = palette[i];
        const int a = i < 3 ? alphas[i] : 255;
        for (int c : {p.red, p.green, p.blue}) expectedPalette.push_back(onWhite(c, a));
    }
    writePng(place("palette.png"), indices, {PNG_COLOR_TYPE_PALETTE, palette, alphas, {}});

    wxImage gif(4, 2);
    gif.SetRGB(wxRect(0, 0, 4, 2), 20, 30, 40);
    gif.SetRGB(wxRect(1, 0, 2, 1), 1, 2, 3);
    const unsigned char r[] = {20, 1}, g[] = {30, 2}, b[] = {40, 3};
    gif.SetPalette(wxPalette(2, r, g, b));
    gif.SetMaskColour(1, 2, 3);
    ASSERT_TRUE(gif.SaveFile(wxString(place("mask.gif"))));
    const Bytes expectedGif = {20, 30, 40, 255, 255, 255, 255, 255, 255, 20, 30, 40, 20, 30, 40, 20, 30, 40, 20, 30, 40, 20, 30, 40};

    for (const auto& [name, expected] : {std::pair{"alpha.png", expectedAlpha}, std::pair{"palette.png", expectedPalette},
                                         std::pair{"mask.gif", expectedGif}})
        EXPECT_EQ(decoded(place(name)).samples, expected) << name;
}

// A profile LittleCMS refuses though its structure is sound (libpng takes it): the red colorant's type is unknown.
Bytes broken() {
    Bytes profile = saved(adobeLike());
    auto word = [&](std::size_t at) { return std::size_t(profile[at]) << 24 | profile[at + 1] << 16 | profile[at + 2] << 8 | profile[at + 3]; };
    for (std::size_t entry = 132; entry < 132 + 12 * word(128); entry += 12)
        if (std::equal(profile.begin() + entry, profile.begin() + entry + 4, "rXYZ")) std::copy_n("bad!", 4, profile.begin() + word(entry + 4));
    return profile;
}

TEST(ColourProfiles, ConvertToSrgbAsLittleCmsDoes) {
    const Bytes adobe = saved(adobeLike()), srgb = saved(cmsCreate_sRGBProfile()), grey = saved(greyGamma22());
    const Picture greys = noise(19, 11, 1, 7);
    writePng(place("untagged.png"), colours);
    writeJpeg(place("untagged.jpg"), colours);
    writeJpeg(place("grey.jpg"), greys);
    Bytes greySamples;
    const Bytes greyRgb = toolkitSamples(place("grey.jpg"));
    for (std::size_t i = 0; i < greyRgb.size(); i += 3) greySamples.push_back(greyRgb[i]);
    const Bytes asStored = colours.samples, asJpeg = toolkitSamples(place("untagged.jpg"));
    const Bytes cmyk = saved(cmykLike());
    const Picture inks = noise(23, 13, 4, 12);
    writeJpeg(place("untagged-cmyk.jpg"), inks);
    const struct {
        const char* name;
        char format;  // j, p or t
        Bytes profile;
        Bytes expected;
        const char* note;
        const Picture& picture = colours;
    } cases[] = {
        {"adobe.png", 'p', adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"adobe.jpg", 'j', adobe, transformed(adobe, TYPE_RGB_8, asJpeg), nullptr},
        {"adobe.tif", 't', adobe, transformed(adobe, TYPE_RGB_8, asStored), nullptr},
        {"srgb.png", 'p', srgb, asStored, nullptr},
        {"srgb.jpg", 'j', srgb, asJpeg, nullptr},
        {"grey.jpg", 'j', grey, transformed(grey, TYPE_GRAY_8, greySamples), nullptr, greys},
        {"grey.png", 'p', grey, transformed(grey, TYPE_GRAY_8, greys.samples), nullptr, greys},
        {"broken.jpg", 'j', broken(), asJpeg, "colour profile ignored: "},
        {"broken.png", 'p', broken(), asStored, "colour profile ignored: "},
        {"grey-on-colour.jpg", 'j', grey, asJpeg, "colour profile ignored: it is for grey pictures, this one is RGB"},
        {"cmyk.jpg", 'j', cmyk, transformed(cmyk, TYPE_CMYK_8_REV, storedInks(place("untagged-cmyk.jpg"))), nullptr, inks},
    };
    for (const auto& c : cases) {
        const bool isGrey = c.picture.channels == 1;
        if (c.format == 'p') writePng(place(c.name), c.picture, {isGrey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, {}, {}, c.profile});
        else if (c.format == 't') writeTiff(place(c.name), c.picture, 1, c.profile);
        else writeJpeg(place(c.name), c.picture, {false, 0, c.profile, 22});
        const DecodedPicture d = decodePicture(wxString(place(c.name)));
        EXPECT_EQ(rgbOf(d), c.expected) << c.name;
        if (c.note) {
            ASSERT_EQ(d.notes.size(), 1u) << c.name;
            EXPECT_TRUE(d.notes[0].StartsWith(c.note)) << c.name << ": " << d.notes[0];
        } else {
            EXPECT_TRUE(d.notes.empty()) << c.name << ": " << d.notes[0];
        }
    }
    EXPECT_NE(transformed(adobe, TYPE_RGB_8, asStored), asStored);  // the conversion is no identity
}

// Log messages that reach a target would become boxes in the program.
struct RecordingLog : wxLog {
    std::vector<wxString> seen;
    void DoLogRecord(wxLogLevel, const wxString& text, const wxLogRecordInfo&) override { seen.push_back(text); }
};

TEST(DamagedFiles, FailWithAReasonAndSayNothingElsewhere) {
    const Picture picture = noise(300, 200, 3, 8);
    writeJpeg(place("cut.jpg"), picture);
    writeJpeg(place("cut-progressive.jpg"), picture, {true, 0, {}, 22});
    writeJpeg(place("marker.jpg"), picture);
    writePng(place("cut.png"), picture);
    for (const char* name : {"cut.jpg", "cut-progressive.jpg", "cut.png"}) ASSERT_EQ(truncate(place(name).c_str(), 9000), 0);
    FILE* f = std::fopen(place("marker.jpg").c_str(), "r+b");
    std::fseek(f, 9000, SEEK_SET), std::fputs("\xFF\xD9", f), std::fclose(f);  // an end marker inside the data
    wxFile(wxString(place("text.png")), wxFile::write).Write("not a picture\n");
    wxImage twoColours(300, 200);  // loaders that report missing data and still give a picture
    for (int i = 0; i < 300 * 200 * 3; ++i) twoColours.GetData()[i] = picture.samples[i / 3 * 3] & 0x80;  // grey: in the palette
    const unsigned char levels[] = {0, 128};
    twoColours.SetPalette(wxPalette(2, levels, levels, levels));
    for (const char* name : {"cut.gif", "cut.tif"}) {
        ASSERT_TRUE(twoColours.SaveFile(wxString(place(name))));
        ASSERT_EQ(truncate(place(name).c_str(), static_cast<off_t>(std::filesystem::file_size(place(name)) / 2)), 0);
    }
    const std::pair<const char*, wxString> cases[] = {
        {"cut.jpg", wxT("damaged JPEG data (Premature end of JPEG file)")},
        {"cut-progressive.jpg", wxT("damaged JPEG data (Premature end of JPEG file)")},
        {"marker.jpg", wxT("damaged JPEG data (Corrupt JPEG data: premature end of data segment)")},
        {"cut.png", wxT("")},  // the toolkit's words; not empty
        {"cut.gif", wxT("")},
        {"cut.tif", wxT("")},
        {"text.png", wxT("")},
        {"missing.jpg", wxT("cannot open: No such file or directory")},
        {".", wxT("cannot open: Is a directory")},
    };
    RecordingLog log;
    wxLog* previous = wxLog::SetActiveTarget(&log);
    testing::internal::CaptureStderr();
    auto check = [&](const char* where) {
        for (const auto& [name, reason] : cases) {
            const DecodedPicture d = decodePicture(wxString(place(name)));
            EXPECT_EQ(d.pixels, nullptr) << where << name;
            EXPECT_FALSE(d.ok()) << where << name;
            if (!reason.empty()) EXPECT_EQ(d.error, reason) << where << name;
            else EXPECT_FALSE(d.error.empty()) << where << name;
            EXPECT_EQ(Image(wxString(place(name)), 0, wxBITMAP_TYPE_ANY, -1).getWidth(), 0) << where << name;
        }
    };
    check("main thread: ");
    // A worker, as the program's run is: silenced with wxLogNull, its reasons still told.
    std::thread([&] {
        wxLogNull quiet;
        check("worker: ");
    }).join();
    writeJpeg(place("jfif2.jpg"), picture);  // a warning that loses nothing: converted, and noted
    f = std::fopen(place("jfif2.jpg").c_str(), "r+b");
    std::fseek(f, 11, SEEK_SET), std::fputc(2, f), std::fclose(f);  // JFIF major revision 2
    const DecodedPicture jfif = decodePicture(wxString(place("jfif2.jpg")));
    EXPECT_TRUE(jfif.ok()) << jfif.error;
    ASSERT_EQ(jfif.notes.size(), 1u);
    EXPECT_TRUE(jfif.notes[0].StartsWith(wxT("JPEG warning: "))) << jfif.notes[0];
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_TRUE(log.seen.empty()) << log.seen[0];
}

TEST(Threads, TwoDecodesAtOnceGiveWhatOneGives) {
    writeJpeg(place("one.jpg"), noise(200, 150, 3, 10), {false, 6, saved(adobeLike()), 22});
    writePng(place("two.png"), noise(150, 200, 4, 11), {PNG_COLOR_TYPE_RGB_ALPHA, {}, {}, saved(adobeLike())});
    const Picture one = decoded(place("one.jpg")), two = decoded(place("two.png"));
    auto repeat = [](const std::string& path, const Picture& expected) {
        for (int i = 0; i < 20; ++i) EXPECT_EQ(decoded(path).samples, expected.samples);
    };
    std::thread a(repeat, place("one.jpg"), one), b(repeat, place("two.png"), two);
    a.join();
    b.join();
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
