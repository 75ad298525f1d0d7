// SPDX-License-Identifier: MIT
// JPEG: decoded here with the library the toolkit uses, with its settings,
// in one pass that keeps the EXIF and ICC markers.
#include "colour.h"
#include "exif.h"
#include "formats.h"
#include "orientation.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

// After <cstdio>: the JPEG headers need FILE. jpeglib.h first: its
// configuration decides which messages jerror.h has.
#include <jpeglib.h>
// clang-format off
#include <jerror.h>
// clang-format on

namespace formats {
namespace {

// Message code for a decode stopped from another thread; beyond the
// library's own codes.
constexpr int cancelledCode = -2;

// Warnings that mean samples are lost or made up: the picture is kept as the
// library decodes it (as viewers show it) and marked damaged. Others (stray
// bytes between segments, an unknown JFIF revision or Adobe transform, a bad
// profile marker) lose nothing and are noted.
bool losesData(int code) {
    switch (code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
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
    char damage[JMSG_LENGTH_MAX] = "";   // the first one that loses data
    JOCTET* profile = nullptr;
    unsigned profileLength = 0;
    unsigned char* side = nullptr;  // grey or CMYK samples for the colour conversion
    const Source* source = nullptr;

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

    // Level -1 is a warning; higher levels are trace messages.
    static void emit(j_common_ptr info, int level) {
        if (level >= 0) return;
        Jpeg& jpeg = of(info);
        if (jpeg.readingProfile) {
            if (!jpeg.profileMessage[0]) info->err->format_message(info, jpeg.profileMessage);
            return;
        }
        char* kept = losesData(info->err->msg_code) ? jpeg.damage : jpeg.warning;
        if (!kept[0]) info->err->format_message(info, kept);
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

    void stopIfCancelled() {
        if (!source->cancelled()) return;
        messageCode = cancelledCode;
        std::longjmp(jump, 1);
    }

    // Reads count rows into rows; CMYK without side goes through cmyk and
    // is converted as the toolkit converts it: the ink scaled by the key,
    // rounded up (inverted CMYK, as Adobe stores it).
    void readRows(JSAMPROW* rows, int count, JSAMPARRAY cmyk) {
        JSAMPARRAY into = cmyk ? cmyk : rows;
        for (int read = 0; read < count;) {
            const JDIMENSION got = jpeg_read_scanlines(&info, into + read, static_cast<JDIMENSION>(count - read));
            if (got == 0) {
                info.err->msg_code = JERR_INPUT_EOF;
                fail(reinterpret_cast<j_common_ptr>(&info));
            }
            read += static_cast<int>(got);
        }
        for (int r = 0; cmyk && r < count; ++r) {
            const unsigned char* in = cmyk[r];
            unsigned char* out = rows[r];
            for (std::size_t x = 0; x < info.output_width; ++x, in += 4, out += 3) {
                const int k = in[3];
                for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned char>((in[c] * k + 254) / 255);
            }
        }
    }

    // Decoded rows go into side when it is set (as many channels as the
    // output colour space has, for the colour conversion); otherwise RGB
    // rows go into rgb, turned upright on the way when there is a placement.
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
            stopIfCancelled();
            const JDIMENSION first = info.output_scanline;
            const int count = std::min<int>(stripRows, static_cast<int>(info.output_height - first));
            for (int r = 0; r < count; ++r)
                rows[r] = side    ? side + channels * width * (first + r)
                          : strip ? strip[r]
                                  : rgb + 3 * width * (first + r);
            readRows(rows, count, cmyk);
            if (strip) placement->place(rows, first, count, rgb);
        }
        jpeg_finish_decompress(&info);
        return true;
    }

    wxString reason() const {
        const wxString text = wxString(message);
        switch (messageCode) {
        case cancelledCode:
            return wxT("cancelled");
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

// The EXIF block of the first APP1 marker that holds one, from its TIFF
// header on.
Bytes exifOf(const jpeg_decompress_struct& info) {
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        const std::size_t prefix = exifPrefixLength(marker->data, marker->data_length);
        if (marker->marker == JPEG_APP0 + 1 && prefix > 0 && marker->data_length > prefix)
            return Bytes(marker->data + prefix, marker->data + marker->data_length);
    }
    return Bytes();
}

Samples samplesOf(const jpeg_decompress_struct& info) {
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) return Samples::Cmyk;
    return info.num_components == 1 ? Samples::Grey : Samples::Rgb;
}

// Header, EXIF and profile; false with the picture's error set on failure.
bool readMetadata(Jpeg& jpeg, DecodedPicture& picture) {
    if (!jpeg.readHeader(jpeg.source->file) || !jpeg.readProfile()) {
        picture.error = jpeg.reason();
        return false;
    }
    picture.exif = exifOf(jpeg.info);
    if (jpeg.profileMessage[0])
        picture.notes.push_back(wxT("colour profile ignored: ") + wxString(jpeg.profileMessage));
    return true;
}

}  // namespace

void decodeJpeg(const Source& source, DecodedPicture& picture, DecodeTimes& times) {
    auto jpeg = std::make_unique<Jpeg>();
    jpeg->source = &source;
    Clock::time_point start = Clock::now();
    if (!readMetadata(*jpeg, picture)) return;
    const int orientation = orientationFromExif(picture.exif, picture.notes);
    times.metadata = millisecondsSince(start);

    start = Clock::now();
    jpeg_decompress_struct& info = jpeg->info;
    const Samples samples = samplesOf(info);
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
    info.out_color_space = samples == Samples::Cmyk ? JCS_CMYK : JCS_RGB;
    if (throughSide) {
        if (samples == Samples::Grey) info.out_color_space = JCS_GRAYSCALE;
        jpeg->side = allocate(picture, width, height, samples == Samples::Grey ? 1 : 4);
        if (!jpeg->side) return picture.fail(picture.error);
    }
    start = Clock::now();
    if (!jpeg->readSamples(picture.pixels, !throughSide && orientation != 1 ? &upright : nullptr))
        return picture.fail(jpeg->reason());
    for (const char* warning : {jpeg->damage, jpeg->warning})
        if (warning[0]) picture.notes.push_back(wxT("JPEG warning: ") + wxString(warning));
    picture.damaged = jpeg->damage[0] != '\0';
    times.samples = millisecondsSince(start);

    start = Clock::now();
    if (conversion.active()) {
        const std::size_t pixels = std::size_t(width) * std::size_t(height);
        const unsigned char* in = samples == Samples::Rgb ? picture.pixels : jpeg->side;
        conversion.apply(in,
                         samples == Samples::Rgb    ? 3
                         : samples == Samples::Grey ? 1
                                                    : 4,
                         picture.pixels, pixels, source.threads());
    }
    jpeg.reset();
    if (throughSide && !orientPicture(picture, orientation, source.threads()))
        picture.fail(wxString::Format(wxT("not enough memory to turn a %lldx%lld picture"), width, height));
    times.conversion += millisecondsSince(start);
}

namespace {

// Compressed bytes go straight into the caller's vector.
struct VectorDestination {
    jpeg_destination_mgr manager{};
    std::vector<char>* out = nullptr;
    static constexpr std::size_t chunk = 64 * 1024;

    static VectorDestination& of(j_compress_ptr info) { return *reinterpret_cast<VectorDestination*>(info->dest); }
    static void start(j_compress_ptr info) { grow(info, 0); }
    static boolean empty(j_compress_ptr info) {
        grow(info, of(info).out->size());  // the whole buffer was filled
        return TRUE;
    }
    static void finish(j_compress_ptr info) {
        VectorDestination& destination = of(info);
        destination.out->resize(destination.out->size() - destination.manager.free_in_buffer);
    }
    // No exception may cross the library's frames: a failure is its error.
    static void grow(j_compress_ptr info, std::size_t used) {
        VectorDestination& destination = of(info);
        bool grown = true;
        try {
            destination.out->resize(used + chunk);
        } catch (const std::bad_alloc&) {
            grown = false;
        }
        if (!grown) ERREXIT(info, JERR_OUT_OF_MEMORY);
        destination.manager.next_output_byte = reinterpret_cast<JOCTET*>(destination.out->data() + used);
        destination.manager.free_in_buffer = chunk;
    }
};

struct JpegWriter {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    VectorDestination destination;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    bool created = false;

    ~JpegWriter() {
        if (created) jpeg_destroy_compress(&info);
    }
    static void fail(j_common_ptr info) {
        auto& writer = *static_cast<JpegWriter*>(info->client_data);
        info->err->format_message(info, writer.message);
        std::longjmp(writer.jump, 1);
    }
    static void quiet(j_common_ptr) {}

    // The library's defaults at the quality asked for (the toolkit's writer's
    // settings, so the coefficients and the decoded pixels stay what they
    // were), with Huffman tables made for the picture: the same pixels in
    // fewer bytes, still baseline unless progressive is asked for.
    bool start(const RgbPicture& picture, const EncodeOptions& options, std::vector<char>& out) {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = fail;
        errors.output_message = quiet;
        info.client_data = this;
        if (setjmp(jump)) return false;
        jpeg_create_compress(&info);
        created = true;
        destination.out = &out;
        destination.manager.init_destination = VectorDestination::start;
        destination.manager.empty_output_buffer = VectorDestination::empty;
        destination.manager.term_destination = VectorDestination::finish;
        info.dest = &destination.manager;
        info.image_width = static_cast<JDIMENSION>(picture.width);
        info.image_height = static_cast<JDIMENSION>(picture.height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, options.quality, TRUE);
        info.optimize_coding = TRUE;
        if (options.progressive) jpeg_simple_progression(&info);
        jpeg_start_compress(&info, TRUE);
        return true;
    }

    // After the JFIF header, as APP1; left out when it does not fit one
    // marker.
    bool writeExif(const std::vector<unsigned char>& exif) {
        if (exif.empty() || exif.size() > maxJpegExif) return true;
        Bytes marker{'E', 'x', 'i', 'f', 0, 0};
        marker.insert(marker.end(), exif.begin(), exif.end());
        if (setjmp(jump)) return false;
        jpeg_write_marker(&info, JPEG_APP0 + 1, marker.data(), static_cast<unsigned>(marker.size()));
        return true;
    }

    // False when the library failed (message says why) or cancel was requested.
    bool writeRows(const RgbPicture& picture, const CancelToken& cancel) {
        if (setjmp(jump)) return false;
        const std::size_t stride = 3 * std::size_t(picture.width);
        while (info.next_scanline < info.image_height) {
            if (info.next_scanline % 64 == 0 && cancel.requested()) return false;
            JSAMPROW row = const_cast<JSAMPROW>(picture.pixels + info.next_scanline * stride);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        return true;
    }
};

}  // namespace

wxString encodeJpeg(const RgbPicture& picture, const EncodeOptions& options, std::vector<char>& out) {
    JpegWriter writer;
    if (!writer.start(picture, options, out) || !writer.writeExif(options.exif) ||
        !writer.writeRows(picture, options.cancel)) {
        out.clear();
        if (writer.message[0]) return wxT("the picture could not be encoded (") + wxString(writer.message) + wxT(")");
        return wxT("abandoned");
    }
    return wxString();
}

bool readJpegSize(std::FILE* file, long long& width, long long& height) {
    auto jpeg = std::make_unique<Jpeg>();
    const Source source{file, {}};
    jpeg->source = &source;
    if (!jpeg->readHeader(file)) return false;
    width = jpeg->info.image_width, height = jpeg->info.image_height;
    return true;
}

}  // namespace formats
