// SPDX-License-Identifier: MIT
// TIFF files of every kind libtiff writes, read by pixloom's own reader (the kinds the toolkit read and flawed files:
// decode_tests): alpha (and only alpha) is laid on white; CMYK goes through its profile.
#include "picture.h"
#include "test_files.h"
#include "test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>

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

}  // namespace
