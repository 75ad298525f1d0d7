// SPDX-License-Identifier: MIT
#include "colour.h"

#include "filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace formats {
namespace {

// Colour spaces as the profile's header stores them: any four bytes, not
// only the values LittleCMS's enumeration names.
using Space = std::uint32_t;

wxString spaceName(Space space) {
    switch (space) {
    case cmsSigGrayData:
        return wxT("grey");
    case cmsSigRgbData:
        return wxT("RGB");
    case cmsSigCmykData:
        return wxT("CMYK");
    default: {  // the signature's four letters ("Lab ", "HSV ")
        wxString name;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const char letter = static_cast<char>((space >> shift) & 0xFF);
            if (letter > ' ' && letter < 127) name += wxUniChar(letter);
        }
        return name.empty() ? wxString(wxT("other")) : name;
    }
    }
}

Space spaceOf(Samples samples) {
    return samples == Samples::Grey ? cmsSigGrayData : samples == Samples::Rgb ? cmsSigRgbData : cmsSigCmykData;
}

// CMYK samples come from JPEG files, stored inverted (Adobe's convention).
cmsUInt32Number formatOf(Samples samples) {
    return samples == Samples::Grey ? TYPE_GRAY_8 : samples == Samples::Rgb ? TYPE_RGB_8 : TYPE_CMYK_8_REV;
}

// Probe colours for the sRGB test: every level of the grey axis and of each
// primary, and a 9x9x9 grid of the cube.
std::vector<float> probeColours(bool grey) {
    std::vector<float> in;
    auto add = [&](int r, int g, int b) {
        in.push_back(r / 255.0f);
        if (grey) return;
        in.push_back(g / 255.0f);
        in.push_back(b / 255.0f);
    };
    for (int level = 0; level < 256; ++level) {
        add(level, level, level);
        if (grey) continue;
        add(level, 0, 0);
        add(0, level, 0);
        add(0, 0, level);
    }
    if (!grey)
        for (int r = 0; r <= 256; r += 32)
            for (int g = 0; g <= 256; g += 32)
                for (int b = 0; b <= 256; b += 32) add(std::min(r, 255), std::min(g, 255), std::min(b, 255));
    return in;
}

}  // namespace

ColourConversion::ColourConversion(const Bytes& profile, Samples samples, std::vector<wxString>& notes) {
    if (profile.empty()) return;
    context = cmsCreateContext(nullptr, &firstError);
    if (!context) return;
    cmsSetLogErrorHandlerTHR(context, [](cmsContext context, cmsUInt32Number, const char* text) {
        auto* first = static_cast<std::string*>(cmsGetContextUserData(context));
        if (first->empty() && text) *first = text;
    });
    cmsHPROFILE source =
        cmsOpenProfileFromMemTHR(context, profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!source) {
        notes.push_back(ignored());
        return;
    }
    const Space space = static_cast<Space>(cmsGetColorSpace(source));
    cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
    if (space != spaceOf(samples)) {
        notes.push_back(wxString::Format(wxT("colour profile ignored: it is for %s pictures, this one is %s"),
                                         spaceName(space), spaceName(spaceOf(samples))));
    } else if (srgb && (samples == Samples::Cmyk || !leavesSamples(source, srgb, samples))) {
        transform = cmsCreateTransformTHR(context, source, formatOf(samples), srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
        if (!transform) notes.push_back(ignored());
    }
    if (srgb) cmsCloseProfile(srgb);
    cmsCloseProfile(source);
}

ColourConversion::~ColourConversion() {
    if (transform) cmsDeleteTransform(transform);
    if (context) cmsDeleteContext(context);
}

void ColourConversion::apply(const unsigned char* in, int inChannels, unsigned char* out, std::size_t pixels,
                             int threads) const {
    resample::parallelFor(static_cast<long long>(pixels), threads, [&](long long begin, long long end) {
        const long long chunk = 1 << 20;
        for (long long done = begin; done < end; done += chunk)
            cmsDoTransform(transform, in + done * inChannels, out + done * 3,
                           static_cast<cmsUInt32Number>(std::min(chunk, end - done)));
    });
}

wxString ColourConversion::ignored() const {
    return wxT("colour profile ignored: ") +
           (firstError.empty() ? wxString(wxT("LittleCMS cannot use it")) : wxString(firstError));
}

// Whether converting would leave every sample where it is: true for sRGB
// whatever its name or version (the built-in one, the IEC 61966-2.1 ones,
// compact ones) and for grey profiles on sRGB's curve. Measured in floating
// point on a grid of colours: within one level everywhere counts as sRGB.
// Real sRGB profiles stay within about half a level of the built-in one;
// the nearest other working spaces (a plain 2.2 gamma, Display P3) move dark
// or saturated colours by several levels.
bool ColourConversion::leavesSamples(cmsHPROFILE source, cmsHPROFILE srgb, Samples samples) const {
    const float tolerance = 1.0f;  // in 8-bit levels
    const bool grey = samples == Samples::Grey;
    cmsHTRANSFORM probe = cmsCreateTransformTHR(context, source, grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT, srgb,
                                                TYPE_RGB_FLT, INTENT_PERCEPTUAL, 0);
    if (!probe) return false;
    const std::vector<float> in = probeColours(grey);
    const std::size_t count = grey ? in.size() : in.size() / 3;
    std::vector<float> out(3 * count);
    cmsDoTransform(probe, in.data(), out.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(probe);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const float expected = grey ? in[i / 3] : in[i];
        if (!(std::abs(out[i] - expected) * 255.0f <= tolerance)) return false;
    }
    return true;
}

void convertColours(const ColourConversion& conversion, DecodedPicture& picture, Samples samples, int threads) {
    const std::size_t pixels = std::size_t(picture.width) * std::size_t(picture.height);
    if (samples == Samples::Rgb) {
        conversion.apply(picture.pixels, 3, picture.pixels, pixels, threads);
        return;
    }
    unsigned char* grey = allocate(picture, picture.width, picture.height, 1);
    if (!grey) return;
    for (std::size_t i = 0; i < pixels; ++i) grey[i] = picture.pixels[3 * i];
    conversion.apply(grey, 1, picture.pixels, pixels, threads);
    std::free(grey);
}

}  // namespace formats
