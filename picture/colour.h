// SPDX-License-Identifier: MIT
// Colour profiles: a picture's samples converted from its embedded ICC
// profile to sRGB with LittleCMS. Internal to picture/.
#pragma once

#include "formats.h"

#include <lcms2.h>

#include <string>

namespace formats {

enum class Samples { Grey, Rgb, Cmyk };

// The conversion of one picture's samples from its embedded profile to
// sRGB. Inactive when there is no profile, when the profile is sRGB, or when
// LittleCMS can't use it (a note says so).
class ColourConversion {
public:
    ColourConversion(const Bytes& profile, Samples samples, std::vector<wxString>& notes);
    ColourConversion(const ColourConversion&) = delete;
    ColourConversion& operator=(const ColourConversion&) = delete;
    ~ColourConversion();

    bool active() const { return transform != nullptr; }

    // in: pixels in the source's layout; out: RGB (may be in itself for RGB).
    // A transform may run on several threads at once; each slice is its own.
    void apply(const unsigned char* in, int inChannels, unsigned char* out, std::size_t pixels, int threads) const;

private:
    wxString ignored() const;
    bool leavesSamples(cmsHPROFILE source, cmsHPROFILE srgb, Samples samples) const;

    std::string firstError;
    cmsContext context = nullptr;
    cmsHTRANSFORM transform = nullptr;
};

// Converts an RGB picture in place, or a grey one (taken from the red
// samples, all three equal) into RGB.
void convertColours(const ColourConversion& conversion, DecodedPicture& picture, Samples samples, int threads);

}  // namespace formats
