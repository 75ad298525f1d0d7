// SPDX-License-Identifier: MIT
// TIFF: decoded with libtiff, row by row (strips) or a row of tiles at a
// time straight into the picture, so that any TIFF whose picture fits in
// memory converts. Read here: grey, palette, RGB and CMYK samples of 1 to 16
// bits, in strips or tiles, interleaved or in planes, and JPEG-compressed
// YCbCr as RGB; libtiff's RGBA reader takes the rarer kinds (other YCbCr,
// CIE L*a*b*, LogLuv). Only associated or unassociated alpha is
// transparency; any other extra channel (a saved selection, say) is not part
// of the picture. 16-bit samples become 8 rounded to the nearest level.
#include "colour.h"
#include "exif.h"
#include "formats.h"
#include "image.h"
#include "transparency.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace formats {
namespace {

// What libtiff said while a file was open: its first error, and its first
// warning worth a note.
struct TiffMessages {
    std::string error, warning;
};

// Messages that name the file start with its name, which is empty here.
std::string formatted(const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    return std::strncmp(text, ": ", 2) == 0 ? text + 2 : text;
}

int keepError(TIFF*, void* data, const char*, const char* format, va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(data);
    if (messages && messages->error.empty()) messages->error = formatted(format, arguments);
    return 1;
}

// Private tags of cameras and editors say nothing about the picture.
int keepWarning(TIFF*, void* data, const char*, const char* format, va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(data);
    if (!messages || !messages->warning.empty()) return 1;
    std::string text = formatted(format, arguments);
    if (text.rfind("Unknown field with tag", 0) != 0) messages->warning = std::move(text);
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// The file's first image, its messages kept in messages (none kept when
// null); null when libtiff cannot read its header. On a duplicate
// descriptor: closing the TIFF closes it.
Tiff openTiff(std::FILE* file, TiffMessages* messages) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, keepWarning, messages);
    const int descriptor = dup(fileno(file));
    const bool atStart = descriptor >= 0 && lseek(descriptor, 0, SEEK_SET) == 0;
    TIFF* tiff = atStart ? TIFFFdOpenExt(descriptor, "", "rm", options) : nullptr;
    TIFFOpenOptionsFree(options);
    if (!tiff && descriptor >= 0) close(descriptor);
    return Tiff(tiff);
}

struct FreeDeleter {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

enum class Colours { Grey, Palette, Rgb, Cmyk, Other };

// How the first image's samples are stored.
struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
    Colours colours = Colours::Grey;
    bool minIsWhite = false;
    int alpha = -1;           // the sample that is transparency; -1: none
    bool associated = false;  // the colours are premultiplied by it
    bool tiled = false;
    uint32_t blockWidth = 0, blockHeight = 0;  // a tile's, or a strip's (the picture's width)
    unsigned char palette[256][3] = {};

    int channels() const { return colours == Colours::Rgb ? 3 : colours == Colours::Cmyk ? 4 : 1; }
    bool inPlanes() const { return planar == PLANARCONFIG_SEPARATE && samples > 1; }
    // The samples decoded of each pixel: its colours, then its alpha.
    int kept() const { return channels() + (alpha >= 0); }
    int storedIndex(int keptIndex) const { return keptIndex < channels() ? keptIndex : alpha; }
    // 8-bit RGB as the picture holds it: no conversion.
    bool plainRgb() const { return colours == Colours::Rgb && samples == 3 && bits == 8 && !inPlanes(); }
    // Rows decoded at once: a block's, but no more than the picture has.
    uint32_t bandHeight() const { return std::min(blockHeight, height); }
};

wxString unsupported(const wxString& what) { return wxT("unsupported TIFF (") + what + wxT(")"); }

wxString damaged(const std::string& message) {
    if (message.find("memory") != std::string::npos || message.find("No space") != std::string::npos)
        return wxT("not enough memory to decode it");
    return message.empty() ? wxString(wxT("damaged TIFF data"))
                           : wxT("damaged TIFF data (") + wxString(message.c_str()) + wxT(")");
}

// libtiff's RGBA reader takes a colour map whose entries all fit in 8 bits
// for one written by an old 8-bit writer; so do we.
bool readPalette(TIFF* tiff, Layout& layout) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue) return false;
    const int entries = 1 << layout.bits;
    bool wide = false;
    for (int i = 0; i < entries; ++i) wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
    const int shift = wide ? 8 : 0;
    for (int i = 0; i < entries; ++i) {
        layout.palette[i][0] = static_cast<unsigned char>(red[i] >> shift);
        layout.palette[i][1] = static_cast<unsigned char>(green[i] >> shift);
        layout.palette[i][2] = static_cast<unsigned char>(blue[i] >> shift);
    }
    return true;
}

Colours coloursOf(TIFF* tiff, uint16_t photometric, uint16_t compression, uint16_t planar) {
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return Colours::Grey;
    case PHOTOMETRIC_PALETTE:
        return Colours::Palette;
    case PHOTOMETRIC_RGB:
        return Colours::Rgb;
    case PHOTOMETRIC_SEPARATED: {
        uint16_t inks = INKSET_CMYK;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
        return inks == INKSET_CMYK ? Colours::Cmyk : Colours::Other;
    }
    case PHOTOMETRIC_YCBCR:  // libjpeg makes it RGB, upsampled
        if (compression != COMPRESSION_JPEG || planar != PLANARCONFIG_CONTIG) return Colours::Other;
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        return Colours::Rgb;
    default:
        return Colours::Other;
    }
}

// Which extra sample is alpha (the first so marked), or -1; any other is
// ignored.
int firstAlpha(TIFF* tiff, bool& associated) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) || !kinds) return -1;
    for (int i = 0; i < count; ++i)
        if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA) {
            associated = kinds[i] == EXTRASAMPLE_ASSOCALPHA;
            return i;
        }
    return -1;
}

void findAlpha(TIFF* tiff, Layout& layout) {
    const int extra = firstAlpha(tiff, layout.associated);
    if (extra >= 0 && layout.channels() + extra < layout.samples) layout.alpha = layout.channels() + extra;
}

// More than a picture with every channel an editor allows: no photo's.
constexpr uint16_t maxSamples = 64;

// The layout, or why it cannot be read.
wxString readLayout(TIFF* tiff, Layout& layout) {
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE, photometric = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (layout.width == 0 || layout.height == 0)
        return wxString::Format(wxT("damaged TIFF data (a %ux%u picture)"), layout.width, layout.height);
    if (layout.samples > maxSamples) return unsupported(wxString::Format(wxT("%u samples per pixel"), layout.samples));
    if (format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXIEEEFP)
        return unsupported(wxT("floating-point samples"));
    if (format == SAMPLEFORMAT_COMPLEXINT) return unsupported(wxT("complex samples"));
    layout.colours = coloursOf(tiff, photometric, compression, layout.planar);
    layout.minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    layout.tiled = TIFFIsTiled(tiff);
    if (layout.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.blockWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.blockHeight);
        if (!layout.blockWidth || !layout.blockHeight) return damaged("tiles without a size");
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
        layout.blockWidth = layout.width;
        layout.blockHeight = std::clamp<uint32_t>(rows, 1, layout.height);
    }
    if (layout.colours == Colours::Other) return wxString();  // libtiff's RGBA reader decides
    if (layout.bits != 1 && layout.bits != 2 && layout.bits != 4 && layout.bits != 8 && layout.bits != 16)
        return unsupported(wxString::Format(wxT("%u-bit samples"), layout.bits));
    if (layout.samples < layout.channels())
        return unsupported(
            wxString::Format(wxT("%u samples per pixel for %d colours"), layout.samples, layout.channels()));
    if (layout.colours == Colours::Palette) {
        if (layout.bits > 8) return unsupported(wxT("a 16-bit palette"));
        if (!readPalette(tiff, layout)) return damaged("a palette picture without a colour map");
    }
    findAlpha(tiff, layout);
    return wxString();
}

Samples samplesOf(const Layout& layout) {
    return layout.colours == Colours::Grey   ? Samples::Grey
           : layout.colours == Colours::Cmyk ? Samples::Cmyk
                                             : Samples::Rgb;
}

// One sample of each of count pixels (sample first, then every stride-th)
// of bits each, into 8-bit samples step apart: 16 bits rounded to the
// nearest level (as libtiff's RGBA reader does for colour), fewer spread
// over 0 to 255 unless they are palette indexes. 16-bit samples come in the
// machine's byte order.
void unpack(const unsigned char* in, int bits, std::size_t first, std::size_t stride, std::size_t count, bool indexes,
            unsigned char* out, std::size_t step) {
    if (bits == 8) {
        for (std::size_t i = 0, k = first; i < count; ++i, k += stride) out[i * step] = in[k];
    } else if (bits == 16) {
        for (std::size_t i = 0, k = first; i < count; ++i, k += stride) {
            uint16_t value;
            std::memcpy(&value, in + 2 * k, 2);
            out[i * step] = static_cast<unsigned char>((value + 128u) / 257u);
        }
    } else {
        const unsigned mask = (1u << bits) - 1, scale = indexes ? 1 : 255 / mask;
        for (std::size_t i = 0, k = first; i < count; ++i, k += stride) {
            const std::size_t bit = k * bits;
            out[i * step] = static_cast<unsigned char>((in[bit / 8] >> (8 - bits - bit % 8) & mask) * scale);
        }
    }
}

// The kept samples of count interleaved pixels of a stored row.
void unpackPixels(const Layout& layout, const unsigned char* in, std::size_t count, unsigned char* out) {
    for (int j = 0; j < layout.kept(); ++j)
        unpack(in, layout.bits, layout.storedIndex(j), layout.samples, count,
               j == 0 && layout.colours == Colours::Palette, out + j, layout.kept());
}

// A colour laid on white by its alpha. Premultiplied colours have white's
// share added; inks (stored inverted, 255 for none) premultiplied are
// already over paper.
unsigned char composite(unsigned colour, unsigned alpha, bool associated, bool inks) {
    if (!associated) return onWhite(colour, alpha);
    if (inks) return static_cast<unsigned char>(colour);
    return static_cast<unsigned char>(std::min(255u, colour + 255 - alpha));
}

// One row of 8-bit samples as opaque RGB into rgb; CMYK that goes through
// a profile goes as inverted inks into inks instead. Inks without a
// profile are their plain inverse, as libtiff's RGBA reader gives them.
void convertRow(const Layout& layout, const unsigned char* in, std::size_t pixels, unsigned char* rgb,
                unsigned char* inks) {
    if (layout.colours == Colours::Rgb && layout.alpha < 0) {  // already RGB (from 16 bits, say)
        std::memcpy(rgb, in, 3 * pixels);
        return;
    }
    const int channels = layout.channels();
    const bool cmyk = layout.colours == Colours::Cmyk;
    const int alpha = layout.alpha >= 0 ? channels : -1;  // where kept() put it
    for (std::size_t p = 0; p < pixels; ++p, in += layout.kept()) {
        unsigned char c[4];
        if (layout.colours == Colours::Palette)
            std::memcpy(c, layout.palette[in[0]], 3);
        else
            for (int i = 0; i < channels; ++i) c[i] = in[i];
        if (cmyk || layout.minIsWhite)
            for (int i = 0; i < channels; ++i) c[i] = static_cast<unsigned char>(255 - c[i]);
        const int colours = layout.colours == Colours::Palette ? 3 : channels;
        if (alpha >= 0)
            for (int i = 0; i < colours; ++i) c[i] = composite(c[i], in[alpha], layout.associated, cmyk);
        unsigned char* out = rgb + 3 * p;
        if (cmyk && inks)
            std::memcpy(inks + 4 * p, c, 4);
        else if (cmyk)
            for (int i = 0; i < 3; ++i) out[i] = static_cast<unsigned char>(c[i] * c[3] / 255);
        else if (colours == 1)
            out[0] = out[1] = out[2] = c[0];
        else
            std::memcpy(out, c, 3);
    }
}

// One decode: the file, its layout, where the samples go.
struct TiffReader {
    TIFF* tiff;
    const Source& source;
    const TiffMessages& messages;
    const Layout& layout;
    DecodedPicture& picture;
    unsigned char* inks = nullptr;  // CMYK for the profile: 4 bytes a pixel

    unsigned char* rgbRow(uint32_t y) const { return picture.pixels + std::size_t(y) * 3 * layout.width; }
    unsigned char* inkRow(uint32_t y) const { return inks ? inks + std::size_t(y) * 4 * layout.width : nullptr; }
    bool failed() const { return !messages.error.empty(); }
    wxString reason() const { return source.cancelled() ? wxString(wxT("cancelled")) : damaged(messages.error); }

    // Interleaved strips, one row at a time: no strip is held whole.
    wxString readRows() const {
        const std::size_t rowBytes = (std::size_t(layout.width) * layout.samples * layout.bits + 7) / 8;
        const tmsize_t scanline = TIFFScanlineSize(tiff);
        if (scanline <= 0 || std::size_t(scanline) < rowBytes) return damaged(messages.error);
        // Plain 8-bit RGB is read straight into the picture.
        const bool direct = layout.plainRgb() && std::size_t(scanline) == 3 * std::size_t(layout.width);
        Buffer raw(direct ? nullptr : allocate(picture, scanline, 1, 1));
        Buffer samples(direct ? nullptr : allocate(picture, layout.width, 1, layout.kept()));
        if (!direct && (!raw || !samples)) return picture.error;
        for (uint32_t y = 0; y < layout.height; ++y) {
            if (y % 64 == 0 && source.cancelled()) return reason();
            unsigned char* into = direct ? rgbRow(y) : raw.get();
            if (TIFFReadScanline(tiff, into, y, 0) < 0 || failed()) return reason();
            if (direct) continue;
            unpackPixels(layout, raw.get(), layout.width, samples.get());
            convertRow(layout, samples.get(), layout.width, rgbRow(y), inkRow(y));
        }
        return wxString();
    }

    // Tiles, or strips stored a sample plane at a time: a band of rows, one
    // block high, gathered from every block across it and every plane kept.
    wxString readBlocks() const {
        const bool inPlanes = layout.inPlanes();
        const int planes = inPlanes ? layout.kept() : 1;
        const int perBlock = inPlanes ? 1 : layout.samples;
        const std::size_t rowBytes = (std::size_t(layout.blockWidth) * perBlock * layout.bits + 7) / 8;
        const tmsize_t blockBytes = layout.tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
        // A block far larger than the part of the picture it covers is no
        // real file's: refused before it is allocated.
        std::size_t covered = 0;
        pictureByteCount(std::min(layout.blockWidth, layout.width), layout.bandHeight(), layout.samples * 2, covered);
        if (blockBytes <= 0 || std::size_t(blockBytes) / 4 > std::max<std::size_t>(covered, 16 << 20))
            return wxString::Format(wxT("damaged TIFF data (blocks of %ux%u for a %ux%u picture)"), layout.blockWidth,
                                    layout.blockHeight, layout.width, layout.height);
        // Plain 8-bit RGB goes straight into the picture.
        const bool plain = layout.plainRgb();
        Buffer raw(allocate(picture, blockBytes, 1, 1));
        Buffer band(raw && !plain ? allocate(picture, layout.width, layout.bandHeight(), layout.kept()) : nullptr);
        if (!raw || (!plain && !band)) return picture.error;
        const std::size_t bandStride = std::size_t(layout.width) * layout.kept();
        for (uint32_t y0 = 0; y0 < layout.height; y0 += layout.blockHeight) {
            const uint32_t rows = std::min(layout.blockHeight, layout.height - y0);
            for (int plane = 0; plane < planes; ++plane)
                for (uint32_t x0 = 0; x0 < layout.width; x0 += layout.blockWidth) {
                    if (source.cancelled()) return reason();
                    const int stored = inPlanes ? layout.storedIndex(plane) : 0;
                    const tmsize_t got = readBlock(raw.get(), blockBytes, x0, y0, stored);
                    if (got < 0 || std::size_t(got) < rowBytes * rows || failed()) return reason();
                    placeBlock(raw.get(), rowBytes, rows, x0, y0, plane, band.get());
                }
            for (uint32_t r = 0; !plain && r < rows; ++r)
                convertRow(layout, band.get() + r * bandStride, layout.width, rgbRow(y0 + r), inkRow(y0 + r));
        }
        return wxString();
    }

    // A decoded block's rows: plain RGB straight into the picture, else
    // their kept samples into the band (null for plain RGB).
    void placeBlock(const unsigned char* raw, std::size_t rowBytes, uint32_t rows, uint32_t x0, uint32_t y0, int plane,
                    unsigned char* band) const {
        const std::size_t pixels = std::min(layout.blockWidth, layout.width - x0);
        const std::size_t stride = std::size_t(layout.width) * layout.kept(), at = std::size_t(x0) * layout.kept();
        const bool indexes = plane == 0 && layout.colours == Colours::Palette;
        for (uint32_t r = 0; r < rows; ++r) {
            const unsigned char* in = raw + r * rowBytes;
            if (!band)
                std::memcpy(rgbRow(y0 + r) + 3 * std::size_t(x0), in, 3 * pixels);
            else if (!layout.inPlanes())
                unpackPixels(layout, in, pixels, band + r * stride + at);
            else
                unpack(in, layout.bits, 0, 1, pixels, indexes, band + r * stride + at + plane, layout.kept());
        }
    }

    tmsize_t readBlock(unsigned char* into, tmsize_t size, uint32_t x0, uint32_t y0, int plane) const {
        const uint16_t sample = static_cast<uint16_t>(plane);
        if (layout.tiled) return TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, x0, y0, 0, sample), into, size);
        return TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, y0, sample), into, size);
    }

    // libtiff's RGBA reader, a block's rows at a time; it gives colours
    // premultiplied by the alpha it took (an unspecified extra sample too).
    wxString readThroughRgba() const {
        char message[1024] = "";
        TIFFRGBAImage image;
        if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 0, message))
            return failed() ? reason() : unsupported(wxString(message));
        // The whole turn is made afterwards, as for every other kind.
        image.req_orientation = image.orientation = ORIENTATION_TOPLEFT;
        const wxString result = readRgbaBands(image);
        TIFFRGBAImageEnd(&image);
        return result;
    }

    wxString readRgbaBands(TIFFRGBAImage& image) const {
        Buffer raster(allocate(picture, layout.width, layout.bandHeight(), 4));
        if (!raster) return picture.error;
        bool associated = false;
        const bool alpha = firstAlpha(tiff, associated) >= 0;
        for (uint32_t y0 = 0; y0 < layout.height; y0 += layout.blockHeight) {
            if (source.cancelled()) return reason();
            const uint32_t rows = std::min(layout.blockHeight, layout.height - y0);
            image.row_offset = static_cast<int>(y0);
            auto* pixels = reinterpret_cast<uint32_t*>(raster.get());
            if (!TIFFRGBAImageGet(&image, pixels, layout.width, rows) || failed()) return reason();
            unsigned char* out = rgbRow(y0);
            for (std::size_t i = 0; i < std::size_t(rows) * layout.width; ++i, out += 3) {
                const uint32_t p = pixels[i];
                const unsigned rgb[3] = {TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)};
                for (int c = 0; c < 3; ++c)
                    out[c] = alpha ? composite(rgb[c], TIFFGetA(p), true, false) : static_cast<unsigned char>(rgb[c]);
            }
        }
        return wxString();
    }

    wxString read() const {
        if (layout.colours == Colours::Other) return readThroughRgba();
        if (layout.tiled || layout.inPlanes()) return readBlocks();
        return readRows();
    }
};

Bytes profileOf(TIFF* tiff) {
    uint32_t length = 0;
    void* data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data) || !data) return Bytes();
    return Bytes(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + length);
}

// libtiff drops an Orientation outside 1 to 8 with an error; as with
// EXIF, the picture is then used as stored, with a note, and the error is
// no longer the file's.
void noteOrientationRefused(TiffMessages& messages, std::vector<wxString>& notes) {
    unsigned value = 0;
    if (std::sscanf(messages.error.c_str(), "Bad value %u for \"Orientation\" tag", &value) != 1) return;
    notes.push_back(
        wxString::Format(wxT("TIFF orientation %u is not one of 1 to 8: the picture is used as stored"), value));
    messages.error.clear();
}

int orientationOf(TIFF* tiff) {
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation);
    return orientation;
}

void convertThroughProfile(const ColourConversion& conversion, const Layout& layout, const unsigned char* inks,
                           DecodedPicture& picture, int threads) {
    if (!conversion.active()) return;
    if (inks) {
        conversion.apply(inks, 4, picture.pixels, std::size_t(layout.width) * layout.height, threads);
        return;
    }
    convertColours(conversion, picture, samplesOf(layout), threads);
}

}  // namespace

void decodeTiff(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    Clock::time_point start = Clock::now();
    picture.exif = tiffFileExif(source.file);
    TiffMessages messages;
    const Tiff tiff = openTiff(source.file, &messages);
    if (!tiff) return picture.fail(damaged(messages.error));
    Layout layout;
    const wxString refusal = readLayout(tiff.get(), layout);
    if (!refusal.empty()) return picture.fail(refusal);
    noteOrientationRefused(messages, picture.notes);
    if (!messages.error.empty()) return picture.fail(damaged(messages.error));
    const Bytes profile = profileOf(tiff.get());
    const int orientation = orientationOf(tiff.get());
    times.metadata = millisecondsSince(start);

    start = Clock::now();
    const ColourConversion conversion(profile, samplesOf(layout), picture.notes);
    picture.pixels = allocate(picture, layout.width, layout.height, 3);
    if (!picture.pixels) return;
    picture.width = static_cast<int>(layout.width);
    picture.height = static_cast<int>(layout.height);
    const bool throughInks = layout.colours == Colours::Cmyk && conversion.active();
    Buffer inks(throughInks ? allocate(picture, layout.width, layout.height, 4) : nullptr);
    if (throughInks && !inks) return picture.fail(picture.error);
    const TiffReader reader{tiff.get(), source, messages, layout, picture, inks.get()};
    const wxString failure = reader.read();
    if (!failure.empty()) return picture.fail(failure);
    if (!messages.warning.empty()) picture.notes.push_back(wxT("TIFF warning: ") + wxString(messages.warning.c_str()));
    times.samples = millisecondsSince(start);

    start = Clock::now();
    convertThroughProfile(conversion, layout, inks.get(), picture, source.threads());
    inks.reset();
    if (!picture.error.empty()) return picture.fail(picture.error);
    if (!orientPicture(picture, orientation, source.threads()))
        picture.fail(wxString::Format(wxT("not enough memory to turn a %ux%u picture"), layout.width, layout.height));
    times.conversion = millisecondsSince(start);
}

bool readTiffSize(std::FILE* file, long long& width, long long& height) {
    const Tiff tiff = openTiff(file, nullptr);
    if (!tiff) return false;
    uint32_t w = 0, h = 0;
    const bool known =
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &h);
    width = w, height = h;
    return known;
}

}  // namespace formats
