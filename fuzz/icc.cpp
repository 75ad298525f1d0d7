// SPDX-License-Identifier: MIT
// Colour profiles: a fuzzed ICC profile converting a small picture's grey,
// RGB or CMYK samples to sRGB, as the decoders do.
#include "colour.h"
#include "fuzz_support.h"

#include <cstdlib>

namespace {

constexpr int width = 9, height = 7;
constexpr std::size_t pixels = std::size_t(width) * height;

void fill(unsigned char* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<unsigned char>(i * 37);
}

void convertPicture(const formats::ColourConversion& conversion, formats::Samples samples) {
    DecodedPicture picture;
    picture.pixels = static_cast<unsigned char*>(std::malloc(3 * pixels));
    if (!picture.pixels) return;
    picture.width = width, picture.height = height;
    fill(picture.pixels, 3 * pixels);
    formats::convertColours(conversion, picture, samples, 1);
    if (!picture.ok()) fuzzing::broken("a small picture's colours were not converted");
}

void convertCmyk(const formats::ColourConversion& conversion) {
    std::vector<unsigned char> cmyk(4 * pixels), rgb(3 * pixels);
    fill(cmyk.data(), cmyk.size());
    conversion.apply(cmyk.data(), 4, rgb.data(), pixels, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

// The first byte chooses the samples, the rest is the profile.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return -1;
    const auto samples = static_cast<formats::Samples>(data[0] % 3);
    const formats::Bytes profile(data + 1, data + size);
    std::vector<wxString> notes;
    const formats::ColourConversion conversion(profile, samples, notes);
    if (!conversion.active()) return 0;
    if (samples == formats::Samples::Cmyk)
        convertCmyk(conversion);
    else
        convertPicture(conversion, samples);
    return 0;
}
