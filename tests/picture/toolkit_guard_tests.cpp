// SPDX-License-Identifier: MIT
// GIF and BMP files the toolkit's decoders must not see: refused before they
// run, with a reason.
// The files are inputs the fuzz targets found (fuzz/regressions/).
#include "picture.h"

#include <gtest/gtest.h>

namespace {

wxString regression(const char* name) { return wxString(PIXLOOM_FUZZ_REGRESSIONS "/") + name; }

// LZW code sizes that overrun the toolkit's tables; BMP runs the toolkit writes past the picture's end.
TEST(ToolkitGuards, RefuseWhatTheToolkitsDecodersMustNotSee) {
    const struct { const char* file; const char* error; } cases[] = {
        {"gif/lzw-code-size-130", "damaged GIF data (LZW code size 130)"},
        {"gif/lzw-code-size-56", "damaged GIF data (LZW code size 56)"},
        {"gif/no-rows", "damaged GIF data (a 2316x0 picture)"},
        {"gif/cut-after-a-sub-block", "damaged GIF data (cut short)"},
        {"gif/huge-frame-in-562-bytes", "damaged GIF data (a 48830x48830 picture in 562 bytes)"},
        {"bmp/rle8-run-past-the-picture", "unsupported BMP (run-length encoded)"},
        {"bmp/rle4-run-past-the-picture", "unsupported BMP (run-length encoded)"},
    };
    for (const auto& c : cases) {
        const DecodedPicture picture = decodePicture(regression(c.file));
        EXPECT_TRUE(!picture.ok() && picture.error == c.error) << c.file << ": " << picture.error;
    }
}

}  // namespace
