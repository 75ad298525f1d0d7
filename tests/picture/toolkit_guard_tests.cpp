// GIF and BMP files the toolkit's decoders must not see: refused before they
// run, with a reason; a GIF header's size is the size of the picture decoded.
// The files are inputs the fuzz targets found (fuzz/regressions/).
#include "picture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

wxString regression(const char* name) { return wxString(PIXLOOM_FUZZ_REGRESSIONS "/gif/") + name; }

TEST(GifGuard, RefusesCodeSizesThatOverrunTheToolkitsTables) {
    for (const char* name : {"lzw-code-size-130", "lzw-code-size-56"}) {
        const DecodedPicture picture = decodePicture(regression(name));
        EXPECT_FALSE(picture.ok()) << name;
        EXPECT_TRUE(picture.error.StartsWith(wxT("damaged GIF data (LZW code size "))) << picture.error;
    }
}

TEST(GifGuard, RefusesAPictureWithoutPixels) {
    const DecodedPicture picture = decodePicture(regression("no-rows"));
    EXPECT_EQ(picture.error, wxT("damaged GIF data (a 2316x0 picture)"));
}

TEST(GifGuard, RefusesDataCutShort) {
    const DecodedPicture picture = decodePicture(regression("cut-after-a-sub-block"));
    EXPECT_EQ(picture.error, wxT("damaged GIF data (cut short)"));
}

TEST(GifGuard, RefusesASizeTheFileCannotHold) {
    const DecodedPicture picture = decodePicture(regression("huge-frame-in-562-bytes"));
    EXPECT_EQ(picture.error, wxT("damaged GIF data (a 48830x48830 picture in 562 bytes)"));
}

TEST(GifGuard, HeaderSizeIsTheFirstImagesNotTheScreens) {
    const wxString path = regression("frame-not-screen-size");
    long long width = 0, height = 0;
    ASSERT_TRUE(readPictureSize(path, width, height));
    EXPECT_EQ(width, 12);  // the screen is 12x3953
    EXPECT_EQ(height, 9);
    const DecodedPicture picture = decodePicture(path);
    if (picture.ok()) {
        EXPECT_EQ(picture.width, width);
        EXPECT_EQ(picture.height, height);
    }
}

TEST(BmpGuard, RefusesRunLengthEncoding) {  // the toolkit writes runs past the picture's end
    for (const char* name : {"rle8-run-past-the-picture", "rle4-run-past-the-picture"}) {
        const DecodedPicture picture = decodePicture(wxString(PIXLOOM_FUZZ_REGRESSIONS "/bmp/") + name);
        EXPECT_EQ(picture.error, wxT("unsupported BMP (run-length encoded)")) << name;
    }
}

}  // namespace
