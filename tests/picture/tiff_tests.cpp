// SPDX-License-Identifier: MIT
// TIFF files of every kind libtiff writes, read by pixloom's own reader (the kinds the toolkit read: decode_tests):
// alpha (and only alpha) is laid on white; CMYK goes through its profile; flawed files fail with a reason or convert
// with one note, and libtiff prints nothing.
#include "picture.h"
#include "test_files.h"
#include "test_pictures.h"

#include <gtest/gtest.h>
#include <wx/log.h>

#include <algorithm>
#include <atomic>

namespace {

const Folder folder;
using Kind = TiffKind;
const int width = Kind{}.width, height = Kind{}.height;

Bytes put(const std::string& name, const Bytes& file) { return writeBytes(folder / name, file), file; }

Bytes rgbOf(const DecodedPicture& d) {
    return d.ok() ? Bytes(d.pixels, d.pixels + 3 * std::size_t(d.width) * d.height) : Bytes();
}

unsigned eight(unsigned v, int bits) { return bits == 16 ? (v + 128) / 257 : v; }

// Only associated (premultiplied) or unassociated alpha is transparency; an unspecified extra channel, as a saved
// selection is, is not part of the picture. 16-bit grey is rounded like 16-bit colour (the toolkit cut it). CMYK with
// a profile goes through it. A multi-page file gives its first page. Kinds the toolkit could not read: 16-bit planes,
// bilevel tiles.
TEST(TiffKinds, OnlyAlphaIsTransparencyAndInksGoThroughTheirProfile) {
    const uint16_t rgb = PHOTOMETRIC_RGB;
    const char *unspecified = "0", *associated = "1", *unassociated = "2";
    const Bytes cmyk = cmykProfile();
    struct Case {
        Kind kind;
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
        const Kind& k = c.kind;
        const std::vector<unsigned> values = tiffValues(k, 11);
        put(k.name, tiffOf(k, values, [&](TIFF* t) {
            if (!c.profile.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(c.profile.size()), c.profile.data());
        }, c.secondPage));
        Bytes expected(3 * std::size_t(width) * height), inks(values.size());
        for (std::size_t i = 0; c.expected && i < expected.size(); ++i)
            expected[i] = static_cast<unsigned char>(c.expected(&values[i / 3 * k.samples], int(i % 3)));
        for (std::size_t i = 0; !c.expected && i < inks.size(); ++i)
            inks[i] = static_cast<unsigned char>(eight(values[i], k.bits));
        if (!c.expected) expected = transformed(c.profile, TYPE_CMYK_8, inks);
        const DecodedPicture d = decodePicture(wx(folder / k.name));
        EXPECT_TRUE(d.ok() && d.notes.empty()) << k.name << ": " << d.error << (d.notes.empty() ? "" : d.notes[0]);
        EXPECT_EQ(rgbOf(d), expected) << k.name;
    }
}

// A header over memory fails naming its size, an unreadable kind says what it is, damaged data fails with libtiff's
// reason, a stop is seen whatever the layout; a warning is one note, a private tag none; nothing on stderr or in a log.
TEST(TiffKinds, FlawedFilesFailWithAReasonOrConvertWithOneNote) {
    const std::vector<unsigned> values = tiffValues({"", PHOTOMETRIC_RGB, 3, 8}, 3);
    const Kind plain = {"", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, 0, 4};
    const Kind tiled = {"", PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, 16};
    const Kind ycbcr = {"", PHOTOMETRIC_YCBCR, 3, 8};
    const Bytes tiles = tiffOf(tiled, values);
    const Kind floats = {"", PHOTOMETRIC_MINISBLACK, 1, 16};
    const Kind fourth = {"", PHOTOMETRIC_RGB, 4, 8};  // no ExtraSamples for the fourth sample
    const TIFFFieldInfo privateTag = {50341, -1, -1, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1, const_cast<char*>("Private")};
    // RGB, a million by a million in one strip of no bytes: three terabytes of samples.
    Bytes million = {'I', 'I', 42, 0, 8, 0, 0, 0, 8, 0};
    const uint16_t entries[][2] = {{256, 4}, {257, 4}, {258, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t entryValues[] = {1000000, 1000000, 8, 2, 8, 3, 1000000, 0};
    for (int i = 0; i < 8; ++i) {
        const uint32_t count = 1;
        million.insert(million.end(), {uint8_t(entries[i][0]), uint8_t(entries[i][0] >> 8), uint8_t(entries[i][1]), 0});
        for (uint32_t word : {count, entryValues[i]})
            for (int b = 0; b < 32; b += 8) million.push_back(uint8_t(word >> b));
    }
    million.insert(million.end(), 4, 0);
    Bytes orientation9 = tiffOf(plain, values, [](TIFF* t) { TIFFSetField(t, TIFFTAG_ORIENTATION, 3); });
    const unsigned char entry[] = {0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0};  // Orientation, a SHORT: 3
    const auto at = std::search(orientation9.begin(), orientation9.end(), entry, entry + sizeof entry);
    ASSERT_NE(at, orientation9.end());
    at[8] = 9;
    CancelToken stop;
    stop.request();
    const struct {
        const char* name;
        Bytes file;
        wxString error;
        const CancelToken* cancel = nullptr;
    } cases[] = {
        {"million.tif", million, "not enough memory for a 1000000x1000000 picture"},
        {"float.tif",
         tiffOf(floats, tiffValues(floats, 1),
                [](TIFF* t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); }),
         "unsupported TIFF (floating-point samples)"},
        {"many-samples.tif", fileBytes(PIXLOOM_FUZZ_REGRESSIONS "/tiff/5889-samples-per-pixel"),
         "unsupported TIFF (5889 samples per pixel)"},
        {"cut-tiles.tif", Bytes(tiles.begin(), tiles.begin() + tiles.size() / 2), "damaged TIFF data (*"},
        {"stopped-strips.tif", tiffOf(plain, values), "cancelled", &stop},
        {"stopped-tiles.tif", tiles, "cancelled", &stop},
        {"stopped-ycbcr.tif", tiffOf(ycbcr, values, [](TIFF* t) { TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 1, 1); }),
         "cancelled", &stop},
        {"fourth-sample.tif", tiffOf(fourth, tiffValues(fourth, 3)), "TIFF warning: *"},
        {"orientation9.tif", orientation9, "TIFF orientation 9 is not one of 1 to 8: the picture is used as stored"},
        {"private-tag.tif", tiffOf(plain, values, [&](TIFF* t) {
             TIFFMergeFieldInfo(t, &privateTag, 1);
             TIFFSetField(t, 50341, 3, "abc");
         }), ""},
    };
    wxLogBuffer log;
    wxLog* previous = wxLog::SetActiveTarget(&log);
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        put(c.name, c.file);
        DecodeOptions options;
        if (c.cancel) options.cancel = *c.cancel;
        const DecodedPicture d = decodePicture(wx(folder / c.name), options);
        const bool isNote = c.error.StartsWith("TIFF ") || c.error.empty();
        const wxString said = isNote ? (d.notes.empty() ? wxString() : d.notes[0]) : d.error;
        EXPECT_TRUE(c.error.EndsWith("*") ? said.StartsWith(c.error.Left(c.error.length() - 1)) : said == c.error)
            << c.name << ": " << said;
        EXPECT_EQ(d.ok(), isNote) << c.name << ": " << d.error;
        EXPECT_LE(d.notes.size(), 1u) << c.name;
    }
    EXPECT_EQ(withoutSanitizerNotes(testing::internal::GetCapturedStderr()), "");
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(log.GetBuffer(), "");
}

}  // namespace
