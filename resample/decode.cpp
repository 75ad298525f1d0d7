#include "decode.h"

#include "log_capture.h"

#include "filter.h"
#include "image.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/stream.h>
#include <wx/thread.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

// After <cstdio>: the JPEG headers need FILE.
#include <jerror.h>
#include <jpeglib.h>
#include <lcms2.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <tiffio.h>

DecodedPicture::DecodedPicture(DecodedPicture&& other) noexcept
    : pixels(other.release()),
      width(other.width),
      height(other.height),
      error(std::move(other.error)),
      notes(std::move(other.notes)) {
    other.width = other.height = 0;
}

DecodedPicture& DecodedPicture::operator=(DecodedPicture&& other) noexcept {
    if (this != &other) {
        std::free(pixels);
        width = other.width;
        height = other.height;
        pixels = other.release();
        other.width = other.height = 0;
        error = std::move(other.error);
        notes = std::move(other.notes);
    }
    return *this;
}

DecodedPicture::~DecodedPicture() { std::free(pixels); }

unsigned char* DecodedPicture::release() {
    unsigned char* taken = pixels;
    pixels = nullptr;
    return taken;
}

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// channels x width x height in bytes, or false when that overflows size_t
// or a side does not fit an int.
bool byteCount(long long width, long long height, int channels, std::size_t& bytes) {
    if (width < 0 || height < 0 || width > INT_MAX || height > INT_MAX) return false;
    std::size_t pixels;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height), &pixels))
        return false;
    return !__builtin_mul_overflow(pixels, static_cast<std::size_t>(channels), &bytes);
}

// A malloc'd buffer of channels x width x height bytes; on failure the
// picture gets the reason.
unsigned char* allocate(DecodedPicture& picture, long long width, long long height, int channels) {
    std::size_t bytes;
    if (!byteCount(width, height, channels, bytes)) {
        picture.error = wxString::Format(wxT("%lldx%lld is too large"), width, height);
        return nullptr;
    }
    auto* buffer = static_cast<unsigned char*>(std::malloc(std::max<std::size_t>(bytes, 1)));
    if (!buffer)
        picture.error = wxString::Format(wxT("not enough memory for a %lldx%lld picture"), width, height);
    return buffer;
}

wxString systemReason(int code) {
    char buffer[256];
    return wxString(strerror_r(code, buffer, sizeof buffer));
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---------------------------------------------------------------------------
// Colour profiles

enum class Samples { Grey, Rgb, Cmyk };

wxString spaceName(cmsColorSpaceSignature space) {
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
            const char letter = static_cast<char>((static_cast<unsigned>(space) >> shift) & 0xFF);
            if (letter > ' ' && letter < 127) name += wxUniChar(letter);
        }
        return name.empty() ? wxString(wxT("other")) : name;
    }
    }
}

// The conversion of one picture's samples from its embedded profile to
// sRGB. Inactive when there is no profile, when the profile is sRGB, or when
// LittleCMS can't use it (a note says so).
class ColourConversion {
public:
    ColourConversion(const Bytes& profile, Samples samples, std::vector<wxString>& notes) {
        if (profile.empty()) return;
        context = cmsCreateContext(nullptr, &firstError);
        if (!context) return;
        cmsSetLogErrorHandlerTHR(context, [](cmsContext context, cmsUInt32Number, const char* text) {
            auto* first = static_cast<std::string*>(cmsGetContextUserData(context));
            if (first->empty() && text) *first = text;
        });
        cmsHPROFILE source = cmsOpenProfileFromMemTHR(context, profile.data(),
                                                      static_cast<cmsUInt32Number>(profile.size()));
        if (!source) {
            notes.push_back(ignored());
            return;
        }
        const cmsColorSpaceSignature wanted = samples == Samples::Grey  ? cmsSigGrayData
                                              : samples == Samples::Rgb ? cmsSigRgbData
                                                                        : cmsSigCmykData;
        const cmsColorSpaceSignature space = cmsGetColorSpace(source);
        cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(context);
        if (space != wanted) {
            notes.push_back(wxString::Format(wxT("colour profile ignored: it is for %s pictures, this one is %s"),
                                             spaceName(space), spaceName(wanted)));
        } else if (srgb && (samples == Samples::Cmyk || !leavesSamples(source, srgb, samples))) {
            // CMYK samples come from JPEG files, stored inverted (Adobe's convention).
            const cmsUInt32Number format = samples == Samples::Grey  ? TYPE_GRAY_8
                                           : samples == Samples::Rgb ? TYPE_RGB_8
                                                                     : TYPE_CMYK_8_REV;
            transform = cmsCreateTransformTHR(context, source, format, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
            if (!transform) notes.push_back(ignored());
        }
        if (srgb) cmsCloseProfile(srgb);
        cmsCloseProfile(source);
    }
    ColourConversion(const ColourConversion&) = delete;
    ColourConversion& operator=(const ColourConversion&) = delete;
    ~ColourConversion() {
        if (transform) cmsDeleteTransform(transform);
        if (context) cmsDeleteContext(context);
    }

    bool active() const { return transform != nullptr; }

    // in: pixels in the source's layout; out: RGB (may be in itself for RGB).
    // A transform may run on several threads at once; each slice is its own.
    void apply(const unsigned char* in, int inChannels, unsigned char* out, std::size_t pixels) const {
        resample::parallelFor(static_cast<long long>(pixels), Image::threadCount(), [&](long long begin, long long end) {
            const long long chunk = 1 << 20;
            for (long long done = begin; done < end; done += chunk)
                cmsDoTransform(transform, in + done * inChannels, out + done * 3,
                               static_cast<cmsUInt32Number>(std::min(chunk, end - done)));
        });
    }

private:
    wxString ignored() const {
        return wxT("colour profile ignored: ") +
               (firstError.empty() ? wxString(wxT("LittleCMS cannot use it")) : wxString(firstError));
    }

    // Whether converting would leave every sample where it is: true for sRGB
    // whatever its name or version (the built-in one, the IEC 61966-2.1 ones,
    // compact ones) and for grey profiles on sRGB's curve. Measured in
    // floating point on a grid of colours, every level of the grey axis and
    // of each primary: within one level everywhere counts as sRGB. Real sRGB
    // profiles stay within about half a level of the built-in one; the
    // nearest other working spaces (a plain 2.2 gamma, Display P3) move dark
    // or saturated colours by several levels.
    bool leavesSamples(cmsHPROFILE source, cmsHPROFILE srgb, Samples samples) const {
        const bool grey = samples == Samples::Grey;
        cmsHTRANSFORM probe = cmsCreateTransformTHR(context, source, grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT, srgb,
                                                    TYPE_RGB_FLT, INTENT_PERCEPTUAL, 0);
        if (!probe) return false;
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

    static constexpr float tolerance = 1.0f;  // in 8-bit levels
    std::string firstError;
    cmsContext context = nullptr;
    cmsHTRANSFORM transform = nullptr;
};

// Converts an RGB picture in place, or a grey one (taken from the red
// samples, all three equal) into RGB.
void convertColours(const ColourConversion& conversion, DecodedPicture& picture, Samples samples) {
    const std::size_t pixels = std::size_t(picture.width) * std::size_t(picture.height);
    if (samples == Samples::Rgb) {
        conversion.apply(picture.pixels, 3, picture.pixels, pixels);
        return;
    }
    unsigned char* grey = allocate(picture, picture.width, picture.height, 1);
    if (!grey) return;
    for (std::size_t i = 0; i < pixels; ++i) grey[i] = picture.pixels[3 * i];
    conversion.apply(grey, 1, picture.pixels, pixels);
    std::free(grey);
}

// ---------------------------------------------------------------------------
// Orientation: where each stored pixel goes in the upright picture.

class Placement {
public:
    // For a stored picture of width x height and an EXIF/TIFF orientation.
    Placement(int orientation, std::ptrdiff_t w, std::ptrdiff_t h)
        : width(static_cast<int>(orientation >= 5 ? h : w)), height(static_cast<int>(orientation >= 5 ? w : h)),
          storedWidth(w) {
        const std::ptrdiff_t out = width;
        switch (orientation) {
        case 2:  // mirrored left to right
            origin = w - 1, stepX = -1, stepY = out;
            break;
        case 3:  // half turn
            origin = (h - 1) * out + w - 1, stepX = -1, stepY = -out;
            break;
        case 4:  // mirrored top to bottom
            origin = (h - 1) * out, stepX = 1, stepY = -out;
            break;
        case 5:  // transposed
            origin = 0, stepX = out, stepY = 1;
            break;
        case 6:  // a clockwise quarter turn
            origin = h - 1, stepX = out, stepY = -1;
            break;
        case 7:  // transposed across the other diagonal
            origin = (w - 1) * out + h - 1, stepX = -out, stepY = -1;
            break;
        case 8:  // an anticlockwise quarter turn
            origin = (w - 1) * out, stepX = -out, stepY = 1;
            break;
        default:  // as stored
            origin = 0, stepX = 1, stepY = out;
        }
    }

    // Writes stored rows first .. first + count - 1 (RGB) into the upright
    // picture; in tiles, so that the rows written across stay in cache.
    void place(const unsigned char* const* rows, std::ptrdiff_t first, std::ptrdiff_t count,
               unsigned char* upright) const {
        const std::ptrdiff_t tile = 64;
        for (std::ptrdiff_t tx = 0; tx < storedWidth; tx += tile) {
            const std::ptrdiff_t end = std::min(tx + tile, storedWidth);
            for (std::ptrdiff_t r = 0; r < count; ++r) {
                const unsigned char* source = rows[r] + 3 * tx;
                std::ptrdiff_t target = origin + tx * stepX + (first + r) * stepY;
                for (std::ptrdiff_t x = tx; x < end; ++x, source += 3, target += stepX)
                    std::memcpy(upright + 3 * target, source, 3);
            }
        }
    }

    const int width, height;  // upright

private:
    const std::ptrdiff_t storedWidth;
    // Stored pixel (x, y) lands on origin + x * stepX + y * stepY.
    std::ptrdiff_t origin = 0, stepX = 1, stepY = 0;
};

// ---------------------------------------------------------------------------
// JPEG: decoded here with the library the toolkit uses, with its settings,
// in one pass that keeps the EXIF and ICC markers.

int exifOrientation(const unsigned char* data, unsigned length) {
    ExifData* exif = exif_data_new();
    if (!exif) return 1;
    // Only one tag is read: no fix-ups to the rest.
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(exif, data, length);
    int orientation = 1;
    ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 && entry->size >= 2)
        orientation = exif_get_short(entry->data, exif_data_get_byte_order(exif));
    exif_data_unref(exif);
    return orientation;
}

struct Jpeg {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump;
    bool created = false;
    bool readingProfile = false;  // a warning then is about the profile, not the picture
    int messageCode = 0;
    char message[JMSG_LENGTH_MAX] = "";
    char profileMessage[JMSG_LENGTH_MAX] = "";
    char warning[JMSG_LENGTH_MAX] = "";  // the first one that loses nothing
    JOCTET* profile = nullptr;
    unsigned profileLength = 0;
    unsigned char* side = nullptr;  // grey or CMYK samples for the colour conversion

    ~Jpeg() {
        if (created) jpeg_destroy_decompress(&info);
        std::free(profile);
        std::free(side);
    }

    static Jpeg& of(j_common_ptr info) { return *static_cast<Jpeg*>(info->client_data); }

    static void fail(j_common_ptr info) {
        Jpeg& jpeg = of(info);
        jpeg.messageCode = info->err->msg_code;
        info->err->format_message(info, jpeg.message);
        std::longjmp(jpeg.jump, 1);
    }

    // Warnings that mean samples are lost or made up: the file fails.
    static bool lostData(int code) {
        switch (code) {
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_JPEG_EOF:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            return true;
        default:
            return false;
        }
    }

    // Level -1 is a warning. One about corrupt or missing data fails the
    // file at once; the others (an unknown JFIF revision, say) are noted.
    // Higher levels are trace messages.
    static void emit(j_common_ptr info, int level) {
        if (level >= 0) return;
        Jpeg& jpeg = of(info);
        if (jpeg.readingProfile) {
            if (!jpeg.profileMessage[0]) info->err->format_message(info, jpeg.profileMessage);
            return;
        }
        if (lostData(info->err->msg_code)) fail(info);
        if (!jpeg.warning[0]) info->err->format_message(info, jpeg.warning);
    }

    static void quiet(j_common_ptr) {}

    // Steps run under the library's error jump; no object with a destructor
    // lives in them.
    bool readHeader(std::FILE* file) {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = fail;
        errors.emit_message = emit;
        errors.output_message = quiet;
        info.client_data = this;
        if (setjmp(jump)) return false;
        jpeg_create_decompress(&info);
        created = true;
        jpeg_stdio_src(&info, file);
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&info, TRUE);
        return true;
    }

    bool readProfile() {
        if (setjmp(jump)) return false;
        readingProfile = true;
        jpeg_read_icc_profile(&info, &profile, &profileLength);
        readingProfile = false;
        return true;
    }

    // Decoded rows go into side when it is set (as many channels as the
    // output colour space has, for the colour conversion); otherwise RGB
    // rows go into rgb, turned upright on the way when there is a placement.
    // CMYK without side is converted as the toolkit converts it.
    bool readSamples(unsigned char* rgb, const Placement* placement) {
        if (setjmp(jump)) return false;
        jpeg_start_decompress(&info);
        const std::size_t width = info.output_width;
        const int channels = info.output_components;
        const auto common = reinterpret_cast<j_common_ptr>(&info);
        // Rows decoded before they are converted or placed, while in cache.
        const int stripRows = 32;
        JSAMPARRAY strip = nullptr, cmyk = nullptr;
        if (placement && !side)
            strip = info.mem->alloc_sarray(common, JPOOL_IMAGE, static_cast<JDIMENSION>(3 * width), stripRows);
        if (!side && info.out_color_space == JCS_CMYK)
            cmyk = info.mem->alloc_sarray(common, JPOOL_IMAGE, static_cast<JDIMENSION>(4 * width), stripRows);
        JSAMPROW rows[stripRows];
        while (info.output_scanline < info.output_height) {
            const JDIMENSION first = info.output_scanline;
            const int count = std::min<int>(stripRows, static_cast<int>(info.output_height - first));
            for (int r = 0; r < count; ++r)
                rows[r] = side ? side + channels * width * (first + r) : strip ? strip[r] : rgb + 3 * width * (first + r);
            JSAMPARRAY into = cmyk ? cmyk : rows;
            for (int read = 0; read < count;) {
                const JDIMENSION got = jpeg_read_scanlines(&info, into + read, static_cast<JDIMENSION>(count - read));
                if (got == 0) {
                    info.err->msg_code = JERR_INPUT_EOF;
                    fail(common);
                }
                read += static_cast<int>(got);
            }
            // Inverted CMYK as Adobe stores it: the ink scaled by the key,
            // rounded up, as the toolkit does.
            for (int r = 0; cmyk && r < count; ++r) {
                const unsigned char* in = cmyk[r];
                unsigned char* out = rows[r];
                for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
                    const int k = in[3];
                    out[0] = static_cast<unsigned char>((in[0] * k + 254) / 255);
                    out[1] = static_cast<unsigned char>((in[1] * k + 254) / 255);
                    out[2] = static_cast<unsigned char>((in[2] * k + 254) / 255);
                }
            }
            if (strip) placement->place(rows, first, count, rgb);
        }
        jpeg_finish_decompress(&info);
        return true;
    }

    wxString reason() const {
        const wxString text = wxString(message);
        switch (messageCode) {
        case JERR_OUT_OF_MEMORY:
            return wxT("not enough memory to decode it");
        case JERR_CONVERSION_NOTIMPL:
        case JERR_NOT_COMPILED:
        case JERR_BAD_PRECISION:
            return wxT("unsupported JPEG (") + text + wxT(")");
        default:
            return wxT("damaged JPEG data (") + text + wxT(")");
        }
    }
};

void decodeJpeg(std::FILE* file, DecodedPicture& picture, DecodeTimes& times) {
    auto jpeg = std::make_unique<Jpeg>();
    Clock::time_point start = Clock::now();
    if (!jpeg->readHeader(file)) {
        picture.error = jpeg->reason();
        return;
    }
    int orientation = 1;
    for (jpeg_saved_marker_ptr marker = jpeg->info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length > 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
            orientation = exifOrientation(marker->data, marker->data_length);
            break;
        }
    }
    if (!jpeg->readProfile()) {
        picture.error = jpeg->reason();
        return;
    }
    if (jpeg->profileMessage[0])
        picture.notes.push_back(wxT("colour profile ignored: ") + wxString(jpeg->profileMessage));
    times.metadata = millisecondsSince(start);

    start = Clock::now();
    jpeg_decompress_struct& info = jpeg->info;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    const Samples samples = cmyk ? Samples::Cmyk : info.num_components == 1 ? Samples::Grey : Samples::Rgb;
    const Bytes profile(jpeg->profile, jpeg->profile + jpeg->profileLength);
    ColourConversion conversion(profile, samples, picture.notes);
    times.conversion = millisecondsSince(start);

    const long long width = info.image_width, height = info.image_height;
    // Grey and CMYK samples with a profile are converted from what was
    // stored, then turned; everything else is read as the toolkit reads it
    // and turned upright row by row as it comes.
    const bool throughSide = conversion.active() && samples != Samples::Rgb;
    const Placement upright(throughSide ? 1 : orientation, width, height);
    picture.pixels = allocate(picture, width, height, 3);
    if (!picture.pixels) return;
    picture.width = upright.width;
    picture.height = upright.height;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    if (throughSide) {
        if (samples == Samples::Grey) info.out_color_space = JCS_GRAYSCALE;
        jpeg->side = allocate(picture, width, height, samples == Samples::Grey ? 1 : 4);
        if (!jpeg->side) {
            std::free(picture.release());
            return;
        }
    }
    start = Clock::now();
    const bool placed = !throughSide && orientation >= 2 && orientation <= 8;
    if (!jpeg->readSamples(picture.pixels, placed ? &upright : nullptr)) {
        std::free(picture.release());
        picture.error = jpeg->reason();
        return;
    }
    if (jpeg->warning[0]) picture.notes.push_back(wxT("JPEG warning: ") + wxString(jpeg->warning));
    times.samples = millisecondsSince(start);

    start = Clock::now();
    if (conversion.active()) {
        const std::size_t pixels = std::size_t(width) * std::size_t(height);
        if (samples == Samples::Rgb) conversion.apply(picture.pixels, 3, picture.pixels, pixels);
        else conversion.apply(jpeg->side, samples == Samples::Grey ? 1 : 4, picture.pixels, pixels);
    }
    jpeg.reset();
    if (throughSide && !orientPicture(picture, orientation)) {
        std::free(picture.release());
        picture.error = wxString::Format(wxT("not enough memory to turn a %lldx%lld picture"), width, height);
    }
    times.conversion += millisecondsSince(start);
}

// ---------------------------------------------------------------------------
// Other formats: decoded by the toolkit; their metadata read from the header
// alone.

struct Metadata {
    Bytes profile;
    bool grey = false;
    int orientation = 1;  // still to apply after the toolkit's load
};

void readPngHeader(std::FILE* file, Metadata& metadata, std::vector<wxString>& notes) {
    struct Reader {
        png_structp png = nullptr;
        png_infop info = nullptr;
        std::vector<wxString>* notes;
        ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
        static void fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
        // A profile libpng refuses is dropped with a warning: say so.
        static void warn(png_structp png, png_const_charp text) {
            if (std::strncmp(text, "iCCP", 4) == 0)
                static_cast<Reader*>(png_get_error_ptr(png))
                    ->notes->push_back(wxT("colour profile ignored: ") + wxString(text));
        }
        bool read(std::FILE* file, Metadata& metadata) {
            png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, fail, warn);
            if (!png) return false;
            info = png_create_info_struct(png);
            if (!info) return false;
            if (setjmp(png_jmpbuf(png))) return false;
            png_init_io(png, file);
            png_read_info(png, info);
            metadata.grey = (png_get_color_type(png, info) & (PNG_COLOR_MASK_COLOR | PNG_COLOR_MASK_PALETTE)) == 0;
            png_charp name;
            int compression;
            png_bytep data;
            png_uint_32 length;
            int intent;
            // An sRGB chunk names the colour space outright.
            if (!png_get_sRGB(png, info, &intent) &&
                png_get_iCCP(png, info, &name, &compression, &data, &length))
                metadata.profile.assign(data, data + length);
            return true;
        }
    } reader;
    reader.notes = &notes;
    reader.read(file, metadata);  // a damaged header is the toolkit's to report
}

int ignoreTiffMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The file's TIFF header, quietly; null when it has none. On a duplicate
// descriptor: closing the TIFF closes it.
TIFF* openTiff(std::FILE* file) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, ignoreTiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreTiffMessage, nullptr);
    const int descriptor = dup(fileno(file));
    TIFF* tiff = descriptor < 0 ? nullptr : TIFFFdOpenExt(descriptor, "", "rm", options);
    TIFFOpenOptionsFree(options);
    if (!tiff && descriptor >= 0) close(descriptor);
    return tiff;
}

void readTiffHeader(std::FILE* file, Metadata& metadata) {
    TIFF* tiff = openTiff(file);
    if (!tiff) return;
    // libtiff's RGBA reader, which the toolkit uses, applies the mirrorings
    // of the orientation but not the transposition of 5 to 8: 5 and 7 come
    // out stored as 1 and 3 would, 6 and 8 as 2 and 4. What remains:
    // transposing (5), or transposing across the other diagonal (7).
    uint16_t orientation = 1;
    if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation >= 5 && orientation <= 8)
        metadata.orientation = orientation == 5 || orientation == 7 ? 5 : 7;
    uint16_t photometric = 0;
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        metadata.grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    uint32_t length = 0;
    void* data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &data) && data)
        metadata.profile.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + length);
    TIFFClose(tiff);
}

// The toolkit reads through this stream: its own would close the file.
class FileStream : public wxInputStream {
public:
    explicit FileStream(std::FILE* file) : file(file) {}
    wxFileOffset GetLength() const override {
        struct stat status;
        return fstat(fileno(file), &status) == 0 ? status.st_size : wxInvalidOffset;
    }
    bool IsSeekable() const override { return true; }

protected:
    size_t OnSysRead(void* buffer, size_t size) override {
        const size_t read = std::fread(buffer, 1, size, file);
        if (read < size) m_lasterror = std::ferror(file) ? wxSTREAM_READ_ERROR : wxSTREAM_EOF;
        return read;
    }
    wxFileOffset OnSysSeek(wxFileOffset position, wxSeekMode mode) override {
        const int whence = mode == wxFromStart ? SEEK_SET : mode == wxFromCurrent ? SEEK_CUR : SEEK_END;
        return fseeko(file, position, whence) == 0 ? ftello(file) : wxInvalidOffset;
    }
    wxFileOffset OnSysTell() const override { return ftello(file); }

private:
    std::FILE* file;
};

// The first thing the toolkit said about a file it could not load, as a
// short phrase.
wxString loadFailure(const LogCapture& log) {
    wxString reason = log.first();
    // libtiff's words come with the stream's name and the module.
    reason.StartsWith(wxT("image: "), &reason);
    const int module = reason.Find(wxT(" (in module"));
    if (module != wxNOT_FOUND) reason.Truncate(module);
    reason.Trim().Trim(false);
    while (reason.EndsWith(wxT("."))) reason.RemoveLast();
    if (reason.length() > 1 && wxIslower(reason[1])) reason[0] = wxTolower(reason[0]);
    return reason.empty() ? wxString(wxT("not a readable image")) : reason;
}

void decodeWithToolkit(std::FILE* file, const unsigned char* magic, DecodedPicture& picture, DecodeTimes& times) {
    Clock::time_point start = Clock::now();
    Metadata metadata;
    if (std::memcmp(magic, "\x89PNG", 4) == 0) readPngHeader(file, metadata, picture.notes);
    else if (std::memcmp(magic, "II*\0", 4) == 0 || std::memcmp(magic, "MM\0*", 4) == 0)
        readTiffHeader(file, metadata);
    std::rewind(file);
    times.metadata = millisecondsSince(start);

    start = Clock::now();
    wxImage image;
    {
        LogCapture log;
        FileStream stream(file);
        // Some loaders report missing data (a truncated GIF or TIFF) and
        // still give a picture, the rest made up: that is a failure too.
        if (!image.LoadFile(stream, wxBITMAP_TYPE_ANY, -1) || !image.IsOk() || log.sawError()) {
            picture.error = loadFailure(log);
            return;
        }
    }
    const long long width = image.GetWidth(), height = image.GetHeight();
    unsigned char* const pixels = allocate(picture, width, height, 3);
    if (!pixels) return;
    picture.pixels = pixels;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const unsigned char* const data = image.GetData();
    const unsigned char* const alpha = image.HasAlpha() ? image.GetAlpha() : nullptr;
    if (!alpha && !image.HasMask()) {
        std::memcpy(pixels, data, 3 * count);
        image.Destroy();
        times.samples = millisecondsSince(start);
        start = Clock::now();
    } else {
        times.samples = millisecondsSince(start);
        start = Clock::now();
        // Onto white: masked pixels become white, the others are blended by
        // their opacity.
        const bool masked = image.HasMask();
        const unsigned char maskColour[3] = {image.GetMaskRed(), image.GetMaskGreen(), image.GetMaskBlue()};
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* in = data + 3 * i;
            unsigned char* out = pixels + 3 * i;
            if (masked && std::memcmp(in, maskColour, 3) == 0) {
                std::memset(out, 255, 3);
                continue;
            }
            const int a = alpha ? alpha[i] : 255;
            for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>((in[c] * a + 255 * (255 - a) + 127) / 255);
        }
        image.Destroy();
    }

    const Samples samples = metadata.grey ? Samples::Grey : Samples::Rgb;
    ColourConversion conversion(metadata.profile, samples, picture.notes);
    if (conversion.active()) convertColours(conversion, picture, samples);
    if (!picture.error.empty()) {
        std::free(picture.release());
        return;
    }
    if (!orientPicture(picture, metadata.orientation)) {
        std::free(picture.release());
        picture.error = wxString::Format(wxT("not enough memory to turn a %lldx%lld picture"), width, height);
    }
    times.conversion = millisecondsSince(start);
}

unsigned littleEndian(const unsigned char* bytes, int count) {
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

unsigned bigEndian(const unsigned char* bytes, int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

bool readTiffSize(std::FILE* file, long long& width, long long& height) {
    TIFF* tiff = openTiff(file);
    if (!tiff) return false;
    uint32_t w = 0, h = 0;
    const bool known = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFClose(tiff);
    width = w, height = h;
    return known;
}

}  // namespace

bool readPictureSize(const wxString& path, long long& width, long long& height) {
    const wxCharBuffer name = wxConvFileName->cWX2MB(path);
    File file(name.data() ? std::fopen(name.data(), "rb") : nullptr);
    unsigned char head[26] = {};
    if (!file || std::fread(head, 1, sizeof head, file.get()) < sizeof head) return false;
    std::rewind(file.get());
    if (head[0] == 0xFF && head[1] == 0xD8) {
        auto jpeg = std::make_unique<Jpeg>();
        if (!jpeg->readHeader(file.get())) return false;
        width = jpeg->info.image_width, height = jpeg->info.image_height;
        return true;
    }
    if (std::memcmp(head, "\x89PNG", 4) == 0) {  // IHDR comes first
        width = bigEndian(head + 16, 4), height = bigEndian(head + 20, 4);
        return true;
    }
    if (std::memcmp(head, "GIF8", 4) == 0) {
        width = littleEndian(head + 6, 2), height = littleEndian(head + 8, 2);
        return true;
    }
    if (head[0] == 'B' && head[1] == 'M') {  // rows may be stored bottom up: a negative height
        width = static_cast<int>(littleEndian(head + 18, 4));
        height = std::llabs(static_cast<int>(littleEndian(head + 22, 4)));
        return true;
    }
    if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0)
        return readTiffSize(file.get(), width, height);
    return false;
}

DecodedPicture decodePicture(const wxString& path, DecodeTimes* times) {
    DecodedPicture picture;
    DecodeTimes spent;
    const wxCharBuffer name = wxConvFileName->cWX2MB(path);
    if (!name.data()) {
        picture.error = wxT("cannot open: the name cannot be converted to a file name");
        return picture;
    }
    File file(std::fopen(name.data(), "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0) {
        picture.error = wxT("cannot open: ") + systemReason(errno);
        return picture;
    }
    if (S_ISDIR(status.st_mode)) {
        picture.error = wxT("cannot open: ") + systemReason(EISDIR);
        return picture;
    }
    unsigned char magic[4] = {0, 0, 0, 0};
    const std::size_t read = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    if (read >= 2 && magic[0] == 0xFF && magic[1] == 0xD8) decodeJpeg(file.get(), picture, spent);
    else decodeWithToolkit(file.get(), magic, picture, spent);
    if (!picture.error.empty()) {
        std::free(picture.release());
        picture.width = picture.height = 0;
    }
    if (times) *times = spent;
    return picture;
}

bool orientPicture(DecodedPicture& picture, int orientation) {
    if (orientation < 2 || orientation > 8 || !picture.pixels) return true;
    const Placement placement(orientation, picture.width, picture.height);
    DecodedPicture turned;
    turned.pixels = allocate(turned, picture.width, picture.height, 3);
    if (!turned.pixels) return false;
    // Bands of rows on separate threads write separate pixels.
    const std::ptrdiff_t band = 64, w = picture.width, h = picture.height;
    const unsigned char* const in = picture.pixels;
    resample::parallelFor((h + band - 1) / band, Image::threadCount(), [&](long long first, long long end) {
        const unsigned char* rows[band];
        for (std::ptrdiff_t y = first * band; y < std::min<std::ptrdiff_t>(end * band, h); y += band) {
            const std::ptrdiff_t count = std::min(band, h - y);
            for (std::ptrdiff_t r = 0; r < count; ++r) rows[r] = in + 3 * w * (y + r);
            placement.place(rows, y, count, turned.pixels);
        }
    });
    std::free(picture.pixels);
    picture.pixels = turned.release();
    picture.width = placement.width;
    picture.height = placement.height;
    return true;
}
