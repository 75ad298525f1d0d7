#include "convert_file.h"

#include "decode.h"
#include "image.h"
#include "jpeg_quality.h"
#include "output_path.h"
#include "write_image.h"

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

wxString sizeText(const Image::Size& size) { return wxString::Format(wxT("%dx%d"), size.width, size.height); }

// Sizes the program cannot produce: the toolkit image that is written holds
// at most INT_MAX bytes (which also keeps an LCD pass's threefold width in
// an int).
bool tooLarge(const Image::Size& target) { return 3LL * target.width * target.height > INT_MAX; }

// True when every pass the method needs was done.
bool reduce(Image& image, const RunSettings& settings) {
    image.lcdSetting(settings.method.lcdType);
    if (settings.method.nearest)
        return image.resizeNearest(settings.width, settings.height, settings.keepRatio, settings.percent);
    return image.resize(settings.width, settings.height, settings.keepRatio, settings.percent);
}

wxString kilobytes(long long bytes) { return wxString::Format(wxT("%lld KB"), (bytes + 1023) / 1024); }

// Encodes the reduced image, for JPEG at the highest quality within the
// limit; problem tells when even quality 1 is over it.
wxString encode(wxImage& result, const RunSettings& settings, const FileContext& context, std::vector<char>& bytes,
                wxString& problem) {
    int quality = settings.quality;
    if (settings.type == FileType::JPEG) {
        // Once abandoned, every try "fits", which ends the walk at once.
        auto sizeAt = [&](int q) { return abandoned(context) ? 0 : jpegSize(result, q); };
        quality = fitJpegQuality(settings.limitBytes, settings.quality, sizeAt);
        result.SetOption(wxIMAGE_OPTION_QUALITY, quality);
    }
    wxString reason = encodeImage(result, extensionFor(settings.type).Mid(1), bytes);
    const long long size = static_cast<long long>(bytes.size());
    if (reason.empty() && settings.type == FileType::JPEG && settings.limitBytes > 0 && size > settings.limitBytes)
        problem = kilobytes(size) + wxString::Format(wxT(" at quality %d, over the "), quality) +
                  kilobytes(settings.limitBytes) + wxT(" limit");
    return reason;
}

// The planned path, or its first variant that is neither a source of the
// run nor written by it. A file an earlier run left there is replaced.
// Empty once the file is given up: a closed window protects every name.
wxString freeName(const wxString& planned, const FileContext& context) {
    for (int n = 1; !abandoned(context); ++n) {
        const wxString candidate = n == 1 ? planned : variantPath(planned, n);
        if (!context.isProtected || !context.isProtected(candidate)) return candidate;
    }
    return wxString();
}

}  // namespace

LoadedSource::LoadedSource() = default;
LoadedSource::LoadedSource(LoadedSource&&) noexcept = default;
LoadedSource& LoadedSource::operator=(LoadedSource&&) noexcept = default;
LoadedSource::~LoadedSource() = default;

LoadedSource loadSource(const wxString& path) {
    DecodedPicture picture = decodePicture(path);
    LoadedSource loaded;
    loaded.error = picture.error;
    loaded.notes = std::move(picture.notes);
    if (picture.ok()) loaded.image = std::make_unique<Image>(std::move(picture));
    if (!loaded.image && loaded.error.empty()) loaded.error = wxT("not a readable image");
    return loaded;
}

FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context) {
    const OutputPath planned = outputPathFor(source, namingFor(settings));
    if (planned.path.empty()) return failed(planned.path, planned.error);

    LoadedSource loaded = context.load ? context.load() : loadSource(source);
    if (!loaded.image) return failed(planned.path, loaded.error);
    Image& image = *loaded.image;
    const Image::Size target = image.targetSize(settings.width, settings.height, settings.keepRatio, settings.percent);
    if (tooLarge(target)) return failed(planned.path, sizeText(target) + wxT(" is too large"));
    bool reduced;
    {
        Tracking tracking(context, &image);
        reduced = reduce(image, settings);
    }
    if (abandoned(context)) return {FileOutcome::Abandoned, planned.path, wxT("abandoned"), {}};
    // A pass not done, a fold skipped: even at the right size (an LCD method
    // to the source's width) that is not the picture asked for.
    if (!reduced || image.getWidth() != target.width || image.getHeight() != target.height)
        return failed(planned.path, wxT("not enough memory to reduce it to ") + sizeText(target));

    std::unique_ptr<wxImage> result(image.createImage());
    loaded.image.reset();  // the source's pixels are no longer needed
    if (!result) return failed(planned.path, wxT("not enough memory"));
    FileOutcome outcome{FileOutcome::Written, planned.path, wxString(), loaded.notes};
    std::vector<char> bytes;
    wxString reason = encode(*result, settings, context, bytes, outcome.problem);
    if (!reason.empty()) return failed(planned.path, reason);

    outcome.output = freeName(planned.path, context);
    if (outcome.output.empty()) return {FileOutcome::Abandoned, planned.path, wxT("abandoned"), {}};
    if (outcome.output != planned.path)
        outcome.notes.push_back(wxT("written as ") + outcome.output + wxT(", since ") + planned.path +
                                wxT(" is another file of this run"));
    reason = writeFileAtomically(bytes, outcome.output, context.abandoned);
    if (reason.empty()) return outcome;
    return {abandoned(context) ? FileOutcome::Abandoned : FileOutcome::Failed, outcome.output, reason, outcome.notes};
}

std::vector<wxString> reportLines(const wxString& source, const FileOutcome& outcome) {
    std::vector<wxString> lines;
    for (const wxString& note : outcome.notes) lines.push_back(source + wxT(": ") + note);
    if (outcome.failed() && !outcome.problem.empty()) lines.push_back(source + wxT(": ") + outcome.problem);
    return lines;
}
