// SPDX-License-Identifier: MIT
// PNG: decoded with libpng, with the transformations the toolkit asks for
// (palettes and small depths expanded, 16 bits cut to 8, a transparent
// colour made alpha), so plain files come out sample for sample as the
// toolkit decodes them; but row by row into the picture, so that any PNG
// whose picture fits in memory converts.
#include "colour.h"
#include "formats.h"
#include "transparency.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace formats {
namespace {

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const Source* source = nullptr;
    std::vector<wxString>* notes = nullptr;
    std::string error;
    bool cancelled = false;
    unsigned char* rows = nullptr;  // the decoded rows, before they become RGB

    ~PngReader() {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::free(rows);
    }

    static PngReader& of(png_structp png) { return *static_cast<PngReader*>(png_get_error_ptr(png)); }
    static void fail(png_structp png, png_const_charp text) {
        of(png).error = text ? text : "";
        png_longjmp(png, 1);
    }
    // A profile libpng refuses is dropped with a warning: say so. Other
    // warnings are about chunks that do not change the picture.
    static void warn(png_structp png, png_const_charp text) {
        if (text && std::strncmp(text, "iCCP", 4) == 0)
            of(png).notes->push_back(wxT("colour profile ignored: ") + wxString(text));
    }

    void stopIfCancelled() {
        if (!source->cancelled()) return;
        cancelled = true;
        png_longjmp(png, 1);
    }

    wxString reason() const {
        if (cancelled) return wxT("cancelled");
        if (error.find("memory") != std::string::npos) return wxT("not enough memory to decode it");
        return wxT("damaged PNG data (") + wxString(error.c_str()) + wxT(")");
    }
};

struct Header {
    png_uint_32 width = 0, height = 0;
    int channels = 0;  // after the transformations: 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    int passes = 1;
    Bytes profile;
    bool grey = false;
};

// Steps run under libpng's error jump; no object with a destructor is made
// in them.
bool readHeader(PngReader& reader, Header& header) {
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, reader.source->file);
    png_read_info(png, info);
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    header.grey = (colourType & (PNG_COLOR_MASK_COLOR | PNG_COLOR_MASK_PALETTE)) == 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE || png_get_bit_depth(png, info) < 8 ||
        png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    png_set_strip_16(png);
    png_set_packing(png);
    header.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header.channels = png_get_channels(png, info);
    return true;
}

// An sRGB chunk names the colour space outright; else an embedded profile.
Bytes profileOf(png_structp png, png_infop info) {
    int intent;
    png_charp name;
    int compression;
    png_bytep data;
    png_uint_32 length;
    if (png_get_sRGB(png, info, &intent) || !png_get_iCCP(png, info, &name, &compression, &data, &length))
        return Bytes();
    return Bytes(data, data + length);
}

Bytes exifOf(png_structp png, png_infop info) {
    png_uint_32 length = 0;
    png_bytep data = nullptr;
    if (!png_get_eXIf_1(png, info, &length, &data) || !data) return Bytes();
    return Bytes(data, data + length);
}

// Every pass of every row. Without interlacing each row becomes RGB as it
// comes; with it, the passes fill all rows before any is final.
bool readRows(PngReader& reader, const Header& header, DecodedPicture& picture) {
    png_structp png = reader.png;
    const std::size_t rowBytes = std::size_t(header.channels) * header.width;
    if (setjmp(png_jmpbuf(png))) return false;
    for (int pass = 0; pass < header.passes; ++pass) {
        for (png_uint_32 y = 0; y < header.height; ++y) {
            if (y % 64 == 0) reader.stopIfCancelled();
            unsigned char* row = reader.rows + (header.passes > 1 ? y * rowBytes : 0);
            png_read_row(png, row, nullptr);
            if (header.passes == 1)
                toOpaqueRgb(row, header.channels, header.width, picture.pixels + std::size_t(y) * 3 * header.width);
        }
    }
    png_read_end(png, reader.info);  // errors after the picture's data fail it too
    return true;
}

void makeRgb(const Header& header, const unsigned char* rows, DecodedPicture& picture) {
    const std::size_t in = std::size_t(header.channels) * header.width, out = 3 * std::size_t(header.width);
    for (png_uint_32 y = 0; y < header.height; ++y)
        toOpaqueRgb(rows + y * in, header.channels, header.width, picture.pixels + y * out);
}

}  // namespace

void decodePng(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    Clock::time_point start = Clock::now();
    PngReader reader;
    reader.source = &source;
    reader.notes = &picture.notes;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, PngReader::fail, PngReader::warn);
    reader.info = reader.png ? png_create_info_struct(reader.png) : nullptr;
    Header header;
    if (!reader.info) return picture.fail(wxT("not enough memory to decode it"));
    if (!readHeader(reader, header)) return picture.fail(reader.reason());
    const Bytes profile = profileOf(reader.png, reader.info);
    times.metadata = millisecondsSince(start);

    start = Clock::now();
    picture.pixels = allocate(picture, header.width, header.height, 3);
    if (!picture.pixels) return;
    picture.width = static_cast<int>(header.width);
    picture.height = static_cast<int>(header.height);
    reader.rows = allocate(picture, header.width, header.passes > 1 ? header.height : 1, header.channels);
    if (!reader.rows || !readRows(reader, header, picture))
        return picture.fail(reader.rows ? reader.reason() : picture.error);
    if (header.passes > 1) makeRgb(header, reader.rows, picture);
    picture.exif = exifOf(reader.png, reader.info);  // before the picture or after it
    times.samples = millisecondsSince(start);

    start = Clock::now();
    const Samples samples = header.grey ? Samples::Grey : Samples::Rgb;
    ColourConversion conversion(profile, samples, picture.notes);
    if (conversion.active()) convertColours(conversion, picture, samples, source.threads());
    if (!picture.error.empty()) return picture.fail(picture.error);
    const int orientation = orientationFromExif(picture.exif, picture.notes);
    if (!orientPicture(picture, orientation, source.threads()))
        picture.fail(wxString::Format(wxT("not enough memory to turn a %ux%u picture"), header.width, header.height));
    times.conversion = millisecondsSince(start);
}

}  // namespace formats
