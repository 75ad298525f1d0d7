#include "convert_file.h"

#include "image.h"
#include "output_path.h"
#include "pixloom_version.h"
#include "report.h"
#include "safe_write.h"
#include "size_search.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Forgets the tracked image however the conversion leaves.
struct Tracking {
    const FileContext& context;
    Tracking(const FileContext& context, Image* image) : context(context) {
        if (context.track) context.track(image);
    }
    ~Tracking() {
        if (context.track) context.track(nullptr);
    }
};

bool abandoned(const FileContext& context) { return context.abandoned && context.abandoned(); }

FileOutcome failed(const wxString& output, const wxString& problem) { return {FileOutcome::Failed, output, problem, {}}; }
FileOutcome givenUp(const wxString& output) { return {FileOutcome::Abandoned, output, wxT("abandoned"), {}}; }

wxString sizeText(const Image::Size& size) { return wxString::Format(wxT("%dx%d"), size.width, size.height); }

// Sizes the program cannot produce: an output is at most INT_MAX bytes of
// samples (the toolkit's writers count in int), which also keeps an LCD
// pass's threefold width in an int.
bool tooLarge(const Image::Size& target) { return 3LL * target.width * target.height > INT_MAX; }

wxString failureText(const Image& image, const RunSettings& settings, const Image::Size& target) {
    switch (image.failure()) {
    case Image::Failure::Cancelled:
        return wxT("cancelled");
    case Image::Failure::TooLarge:
        return sizeText(target) + wxT(" is too large");
    case Image::Failure::InvalidSetting:
        return labelOf(settings.method) + wxT(" is not a method pixloom has");
    case Image::Failure::Empty:
        return wxT("there is no picture to reduce");
    default:
        return wxT("not enough memory to reduce it to ") + sizeText(target);
    }
}

wxString kilobytes(long long bytes) { return wxString::Format(wxT("%lld KB"), (bytes + 1023) / 1024); }

// The most recent encoding, kept: the size search usually ends on the
// quality it tried last.
class Encoder {
public:
    Encoder(const Image& image, FileType type, EncodeOptions options)
        : image(image), type(type), options(std::move(options)) {}

    const std::vector<char>& at(int q) {
        if (q != quality) {
            options.quality = quality = q;
            reason = encodePicture({image.pixelData(), image.getWidth(), image.getHeight()}, type, options, bytes);
        }
        return bytes;
    }
    const wxString& failure() const { return reason; }

private:
    const Image& image;
    FileType type;
    EncodeOptions options;
    int quality = -1;
    std::vector<char> bytes;
    wxString reason;
};

EncodeOptions encodeOptions(const RunSettings& settings, const std::vector<unsigned char>& exif,
                            const std::function<bool()>& abandoned) {
    EncodeOptions options{settings.quality, exif, abandoned};
    options.progressive = settings.progressive;
    return options;
}

// Encoded at the highest quality within the limit, when that is the lowest
// quality or better; false when it is not, or the encoding failed (reason).
bool encodeAtLowest(const Image& image, const RunSettings& settings, const std::vector<unsigned char>& exif,
                    const std::function<bool()>& abandoned, EncodedOutput& output, wxString& reason) {
    Encoder encoder(image, settings.type, encodeOptions(settings, exif, abandoned));
    auto sizeAt = [&](int q) -> long long {
        return abandoned && abandoned() ? 0 : static_cast<long long>(encoder.at(q).size());
    };
    const int quality = fitQualityAtLeast(settings.limitBytes, settings.quality, settings.minQuality, sizeAt);
    reason = encoder.failure();
    if (quality == 0 || !reason.empty()) return false;
    output.bytes = encoder.at(quality);
    output.quality = quality;
    output.width = image.getWidth(), output.height = image.getHeight();
    reason = encoder.failure();
    return reason.empty();
}

// Step n of the smaller sizes: both sides of the reduced size by 0.9^n.
Image::Size smallerSize(const Image& reduced, int step) {
    const double factor = std::pow(0.9, step);
    return {static_cast<int>(std::lround(reduced.getWidth() * factor)),
            static_cast<int>(std::lround(reduced.getHeight() * factor))};
}

// The source reduced to exactly size by the settings' method, from a copy:
// the source stays for the next step.
std::unique_ptr<Image> reducedAnew(Image& source, RunSettings settings, const Image::Size& size,
                                   const std::function<void(Image*)>& track, wxString& reason) {
    auto picture = std::make_unique<Image>(source);
    if (picture->isEmpty()) {
        reason = wxT("not enough memory to reduce it to ") + sizeText(size);
        return nullptr;
    }
    picture->threadsSetting(source.threadsSetting(-1));
    settings.width = size.width, settings.height = size.height;
    settings.percent = false, settings.keepRatio = false;
    if (track) track(picture.get());
    reason = reduceImage(*picture, settings);
    if (track) track(nullptr);
    return reason.empty() ? std::move(picture) : nullptr;
}

}  // namespace

LoadedSource::LoadedSource() = default;
LoadedSource::LoadedSource(LoadedSource&&) noexcept = default;
LoadedSource& LoadedSource::operator=(LoadedSource&&) noexcept = default;
LoadedSource::~LoadedSource() = default;

LoadedSource loadSource(const wxString& path, const DecodeOptions& options) {
    DecodedPicture picture = decodePicture(path, options);
    LoadedSource loaded;
    loaded.error = picture.error;
    loaded.notes = std::move(picture.notes);
    loaded.exif = std::move(picture.exif);
    if (picture.ok()) {
        const int width = picture.width, height = picture.height;
        loaded.image = std::make_unique<Image>(picture.release(), width, height);
    }
    if (!loaded.image && loaded.error.empty()) loaded.error = wxT("not a readable image");
    return loaded;
}

wxString reduceImage(Image& image, const RunSettings& settings) {
    const Image::Size target = image.targetSize(settings.width, settings.height, settings.keepRatio, settings.percent);
    if (tooLarge(target)) return sizeText(target) + wxT(" is too large");
    image.lcdSetting(settings.method.lcdType);
    const bool done = settings.method.nearest
                          ? image.resizeNearest(settings.width, settings.height, settings.keepRatio, settings.percent)
                          : image.resize(settings.width, settings.height, settings.keepRatio, settings.percent);
    // A pass not done, a fold skipped: even at the right size (an LCD method
    // to the source's width) that is not the picture asked for.
    if (done && image.getWidth() == target.width && image.getHeight() == target.height) return wxString();
    return failureText(image, settings, target);
}

OutputExif exifFor(const LoadedSource& source, const Image& reduced, const RunSettings& settings) {
    return outputExif(source.exif, settings.metadata, static_cast<std::size_t>(reduced.getWidth()),
                      static_cast<std::size_t>(reduced.getHeight()), "pixloom " PIXLOOM_VERSION);
}

wxString encodeOutput(const Image& image, const RunSettings& settings, const std::vector<unsigned char>& exif,
                      const std::function<bool()>& abandoned, EncodedOutput& output) {
    Encoder encoder(image, settings.type, encodeOptions(settings, exif, abandoned));
    int quality = settings.quality;
    if (infoOf(settings.type).lossy) {
        // Once abandoned, every try "fits", which ends the walk at once.
        auto sizeAt = [&](int q) -> long long {
            return abandoned && abandoned() ? 0 : static_cast<long long>(encoder.at(q).size());
        };
        quality = fitJpegQuality(settings.limitBytes, settings.quality, sizeAt);
    }
    output.bytes = encoder.at(quality);
    output.quality = quality;
    output.width = image.getWidth(), output.height = image.getHeight();
    if (!encoder.failure().empty()) return encoder.failure();
    const long long size = static_cast<long long>(output.bytes.size());
    if (infoOf(settings.type).lossy && settings.limitBytes > 0 && size > settings.limitBytes)
        output.overLimit = kilobytes(size) + wxString::Format(wxT(" at quality %d, over the "), quality) +
                           kilobytes(settings.limitBytes) + wxT(" limit");
    return wxString();
}

bool maySmallen(const RunSettings& settings) {
    return infoOf(settings.type).lossy && settings.limitBytes > 0 && settings.quality > 1 &&
           std::min(settings.minQuality, settings.quality) > 1;
}

wxString encodeWithinLimit(const Image& reduced, const RunSettings& settings, const Smaller& smaller,
                           const std::function<bool()>& abandoned, EncodedOutput& output) {
    const auto exifOf = [&](const Image& picture) {
        return smaller.loaded ? exifFor(*smaller.loaded, picture, settings).bytes : std::vector<unsigned char>();
    };
    if (!smaller.source || !maySmallen(settings))
        return encodeOutput(reduced, settings, exifOf(reduced), abandoned, output);
    wxString reason;
    if (encodeAtLowest(reduced, settings, exifOf(reduced), abandoned, output, reason) || !reason.empty())
        return reason;
    for (int step = 1; !(abandoned && abandoned()); ++step) {
        const Image::Size size = smallerSize(reduced, step);
        if (size.width < 16 || size.height < 16) break;
        const std::unique_ptr<Image> picture = reducedAnew(*smaller.source, settings, size, smaller.track, reason);
        if (!picture) return reason;
        if (encodeAtLowest(*picture, settings, exifOf(*picture), abandoned, output, reason)) {
            output.note = wxT("written at ") + sizeText(size) + wxT(" to fit ") + kilobytes(settings.limitBytes) +
                          wxString::Format(wxT(" at quality %d"), output.quality);
            return wxString();
        }
        if (!reason.empty()) return reason;
    }
    reason = encodeOutput(reduced, settings, exifOf(reduced), abandoned, output);  // as if there were no lowest
    if (reason.empty() && output.overLimit.empty())
        output.note = wxString::Format(wxT("no size down to 16x16 fits %s at quality %d: written at quality %d"),
                                       kilobytes(settings.limitBytes), std::min(settings.minQuality, settings.quality),
                                       output.quality);
    return reason;
}

FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context) {
    const OutputPath planned = outputPathFor(source, namingFor(settings));
    if (planned.path.empty()) return failed(planned.path, planned.error);

    LoadedSource loaded = context.load ? context.load() : loadSource(source);
    if (abandoned(context)) return givenUp(planned.path);
    if (!loaded.image) return failed(planned.path, loaded.error);
    // Smaller sizes are reduced from the source as decoded: a copy is reduced first.
    std::unique_ptr<Image> kept;
    if (maySmallen(settings)) {
        kept = std::move(loaded.image);
        loaded.image = std::make_unique<Image>(*kept);
        loaded.image->threadsSetting(kept->threadsSetting(-1));
        if (loaded.image->isEmpty())
            return failed(planned.path, wxT("not enough memory to keep its picture for a smaller size"));
    }
    wxString reason;
    {
        Tracking tracking(context, loaded.image.get());
        reason = reduceImage(*loaded.image, settings);
    }
    if (abandoned(context)) return givenUp(planned.path);
    if (!reason.empty()) return failed(planned.path, reason);

    const OutputExif exif = exifFor(loaded, *loaded.image, settings);
    if (!exif.note.empty()) loaded.notes.push_back(wxString::FromUTF8(exif.note.c_str()));
    EncodedOutput encoded;
    const Smaller smaller{kept.get(), &loaded, context.track};
    reason = encodeWithinLimit(*loaded.image, settings, smaller, context.abandoned, encoded);
    loaded.image.reset();  // the pixels are no longer needed
    kept.reset();
    if (abandoned(context)) return givenUp(planned.path);
    if (!reason.empty()) return failed(planned.path, reason);
    if (!encoded.note.empty()) loaded.notes.push_back(encoded.note);

    FileOutcome outcome{FileOutcome::Written, planned.path, encoded.overLimit, loaded.notes};
    if (context.names) outcome.output = context.names->freeName(planned.path, [&] { return !abandoned(context); });
    if (outcome.output.empty()) return givenUp(planned.path);
    if (outcome.output != planned.path)
        outcome.notes.push_back(wxT("written as ") + outcome.output + wxT(", since ") + planned.path +
                                wxT(" is another file of this run"));
    reason = writeFileAtomically(encoded.bytes, outcome.output, context.abandoned, context.commit);
    if (reason.empty()) return outcome;
    return {abandoned(context) ? FileOutcome::Abandoned : FileOutcome::Failed, outcome.output, reason, outcome.notes};
}

void reportOutcome(const wxString& source, const FileOutcome& outcome) {
    for (const wxString& note : outcome.notes) report(source, note);
    if (outcome.failed() && !outcome.problem.empty()) report(source, outcome.problem);
}
