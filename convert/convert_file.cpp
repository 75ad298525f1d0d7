// SPDX-License-Identifier: MIT
#include "convert_file.h"

#include "image.h"
#include "output_path.h"
#include "pixloom_version.h"
#include "report.h"
#include "safe_write.h"
#include "size_search.h"

#include <climits>

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
    Encoder encoder(image, settings.type, {settings.quality, exif, abandoned});
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
    if (!encoder.failure().empty()) return encoder.failure();
    const long long size = static_cast<long long>(output.bytes.size());
    if (infoOf(settings.type).lossy && settings.limitBytes > 0 && size > settings.limitBytes)
        output.overLimit = kilobytes(size) + wxString::Format(wxT(" at quality %d, over the "), quality) +
                           kilobytes(settings.limitBytes) + wxT(" limit");
    return wxString();
}

FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context) {
    const OutputPath planned = outputPathFor(source, namingFor(settings));
    if (planned.path.empty()) return failed(planned.path, planned.error);

    LoadedSource loaded = context.load ? context.load() : loadSource(source);
    if (abandoned(context)) return givenUp(planned.path);
    if (!loaded.image) return failed(planned.path, loaded.error);
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
    reason = encodeOutput(*loaded.image, settings, exif.bytes, context.abandoned, encoded);
    loaded.image.reset();  // the pixels are no longer needed
    if (abandoned(context)) return givenUp(planned.path);
    if (!reason.empty()) return failed(planned.path, reason);

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
