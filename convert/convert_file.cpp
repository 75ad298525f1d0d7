// SPDX-License-Identifier: MIT
#include "convert_file.h"

#include "image.h"
#include "output_path.h"
#include "pixloom_version.h"
#include "report.h"
#include "safe_write.h"
#include "size_search.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>

namespace {

bool abandoned(const FileContext& context) { return context.cancel.requested(); }

FileOutcome failed(const wxString& output, const wxString& problem) {
    return {FileOutcome::Failed, output, problem, {}};
}
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
                            const CancelToken& cancel) {
    EncodeOptions options{settings.quality, exif, cancel};
    options.progressive = settings.progressive;
    return options;
}

// Encoded at the highest quality within the limit, when that is the lowest
// quality or better; false when it is not, or the encoding failed (reason).
bool encodeAtLowest(const Image& image, const RunSettings& settings, const std::vector<unsigned char>& exif,
                    const CancelToken& cancel, EncodedOutput& output, wxString& reason) {
    Encoder encoder(image, settings.type, encodeOptions(settings, exif, cancel));
    auto sizeAt = [&](int q) -> long long {
        return cancel.requested() ? 0 : static_cast<long long>(encoder.at(q).size());
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
                                   const CancelToken& cancel, wxString& reason) {
    auto picture = std::make_unique<Image>(source);
    if (picture->isEmpty()) {
        reason = wxT("not enough memory to reduce it to ") + sizeText(size);
        return nullptr;
    }
    picture->threadsSetting(source.threadsSetting(-1));
    settings.width = size.width, settings.height = size.height;
    settings.percent = false, settings.keepRatio = false;
    picture->cancelWith(cancel);
    reason = reduceImage(*picture, settings);
    return reason.empty() ? std::move(picture) : nullptr;
}

}  // namespace

LoadedSource::LoadedSource() = default;
LoadedSource::LoadedSource(LoadedSource&&) noexcept = default;
LoadedSource& LoadedSource::operator=(LoadedSource&&) noexcept = default;
LoadedSource::~LoadedSource() = default;

// Each step a file goes through fails that file, never the program, when
// memory runs out: what it had is freed on the way out.
LoadedSource loadSource(const wxString& path, const DecodeOptions& options) try {
    DecodedPicture picture = decodePicture(path, options);
    LoadedSource loaded;
    loaded.error = picture.error;
    loaded.notes = std::move(picture.notes);
    loaded.exif = std::move(picture.exif);
    loaded.damaged = picture.damaged;
    if (picture.ok()) {
        const int width = picture.width, height = picture.height;
        loaded.image = std::make_unique<Image>(picture.release(), width, height);
    }
    if (!loaded.image && loaded.error.empty()) loaded.error = wxT("not a readable image");
    return loaded;
} catch (const std::bad_alloc&) {
    LoadedSource failed;
    failed.error = wxT("not enough memory to read it");
    return failed;
}

namespace {

// What "only reduce" leaves of the box: the picture's own size where the box
// would enlarge it (nothing to do), else the box, or for a stretch the box
// with no side made longer.
std::optional<RunSettings> reductionOnly(const Image& image, const RunSettings& settings, const Image::Size& target) {
    const int width = image.getWidth(), height = image.getHeight();
    if (target.width >= width && target.height >= height) return std::nullopt;
    RunSettings clamped = settings;
    if (target.width > width || target.height > height) {
        clamped.width = std::min(target.width, width), clamped.height = std::min(target.height, height);
        clamped.keepRatio = clamped.percent = false;
    }
    return clamped;
}

}  // namespace

wxString reduceImage(Image& image, const RunSettings& asked) try {
    RunSettings settings = asked;
    Image::Size target = image.targetSize(settings.width, settings.height, settings.keepRatio, settings.percent);
    if (settings.onlyReduce) {
        const std::optional<RunSettings> reduced = reductionOnly(image, settings, target);
        if (!reduced) return wxString();  // it fits: its pixels as they are
        settings = *reduced;
        target = image.targetSize(settings.width, settings.height, settings.keepRatio, settings.percent);
    }
    if (tooLarge(target)) return sizeText(target) + wxT(" is too large");
    image.lcdSetting(settings.method.lcdType);
    image.linearSetting(settings.linear);
    const bool done = settings.method.nearest
                          ? image.resizeNearest(settings.width, settings.height, settings.keepRatio, settings.percent)
                          : image.resize(settings.width, settings.height, settings.keepRatio, settings.percent);
    // A pass not done, a fold skipped: even at the right size (an LCD method
    // to the source's width) that is not the picture asked for.
    if (done && image.getWidth() == target.width && image.getHeight() == target.height) return wxString();
    return failureText(image, settings, target);
} catch (const std::bad_alloc&) {
    return wxT("not enough memory to reduce it");
}

OutputExif exifFor(const LoadedSource& source, const Image& reduced, const RunSettings& settings) try {
    OutputExif exif = outputExif(source.exif, settings.metadata, static_cast<std::size_t>(reduced.getWidth()),
                                 static_cast<std::size_t>(reduced.getHeight()), "pixloom " PIXLOOM_VERSION);
    if (settings.type == FileType::JPEG && exif.bytes.size() > maxJpegExif) {
        exif.note = "EXIF data left out: its " + std::to_string(exif.bytes.size()) +
                    " bytes are more than a JPEG file holds (" + std::to_string(maxJpegExif) + ")";
        exif.bytes.clear();
    }
    return exif;
} catch (const std::bad_alloc&) {
    return {{}, "EXIF data left out: not enough memory"};
}

wxString encodeOutput(const Image& image, const RunSettings& settings, const std::vector<unsigned char>& exif,
                      const CancelToken& cancel, EncodedOutput& output) try {
    Encoder encoder(image, settings.type, encodeOptions(settings, exif, cancel));
    int quality = settings.quality;
    if (infoOf(settings.type).lossy) {
        // Once abandoned, every try "fits", which ends the walk at once.
        auto sizeAt = [&](int q) -> long long {
            return cancel.requested() ? 0 : static_cast<long long>(encoder.at(q).size());
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
} catch (const std::bad_alloc&) {
    output.bytes = std::vector<char>();
    return wxT("not enough memory to encode it");
}

bool maySmallen(const RunSettings& settings) {
    return infoOf(settings.type).lossy && settings.limitBytes > 0 && settings.quality > 1 &&
           std::min(settings.minQuality, settings.quality) > 1;
}

wxString encodeWithinLimit(const Image& reduced, const RunSettings& settings, const Smaller& smaller,
                           const CancelToken& cancel, EncodedOutput& output) {
    const auto exifOf = [&](const Image& picture) {
        return smaller.loaded ? exifFor(*smaller.loaded, picture, settings).bytes : std::vector<unsigned char>();
    };
    if (!smaller.source || !maySmallen(settings))
        return encodeOutput(reduced, settings, exifOf(reduced), cancel, output);
    wxString reason;
    if (encodeAtLowest(reduced, settings, exifOf(reduced), cancel, output, reason) || !reason.empty()) return reason;
    for (int step = 1; !cancel.requested(); ++step) {
        const Image::Size size = smallerSize(reduced, step);
        if (size.width < 16 || size.height < 16) break;
        const std::unique_ptr<Image> picture = reducedAnew(*smaller.source, settings, size, smaller.cancel, reason);
        if (!picture) return reason;
        if (encodeAtLowest(*picture, settings, exifOf(*picture), cancel, output, reason)) {
            output.note = wxT("written at ") + sizeText(size) + wxT(" to fit ") + kilobytes(settings.limitBytes) +
                          wxString::Format(wxT(" at quality %d"), output.quality);
            return wxString();
        }
        if (!reason.empty()) return reason;
    }
    reason = encodeOutput(reduced, settings, exifOf(reduced), cancel, output);  // as if there were no lowest
    if (reason.empty() && output.overLimit.empty())
        output.note = wxString::Format(wxT("no size down to 16x16 fits %s at quality %d: written at quality %d"),
                                       kilobytes(settings.limitBytes), std::min(settings.minQuality, settings.quality),
                                       output.quality);
    return reason;
}

namespace {

// The source's access and modification times, for an output that keeps them.
bool sourceTimes(const wxString& source, FileTimes& times, wxString& reason) {
    struct stat info;
    if (stat(nativePath(source).c_str(), &info) == 0) {
        times = {info.st_atim, info.st_mtim};
        return true;
    }
    reason = wxT("cannot read the file's dates: ") + wxString::FromUTF8(std::strerror(errno));
    return false;
}

// The folders of a kept tree, made where missing; never over a file.
wxString makeFolders(const wxString& path) {
    const std::string folder = nativePath(wxFileName(path).GetPath(wxPATH_GET_VOLUME));
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error)) return wxString();
    std::filesystem::create_directories(folder, error);
    if (!error) return wxString();
    return wxT("cannot create the folder ") + wxString(folder.c_str(), *wxConvFileName) + wxT(": ") +
           wxString::FromUTF8(error.message().c_str());
}

// The sizes an output is written in, in order.
std::vector<TargetBox> boxesOf(const RunSettings& settings) {
    std::vector<TargetBox> boxes{{settings.width, settings.height}};
    boxes.insert(boxes.end(), settings.moreSizes.begin(), settings.moreSizes.end());
    return boxes;
}

// An output of the source written in this run, by its planned name.
struct Written {
    wxString planned;
    int width, height;
};

struct SizeJob {
    const wxString& source;
    const LoadedSource& loaded;
    RunSettings settings;  // with this box as the size
    const FileContext& context;
    const FileTimes* times;
    std::vector<Written>& written;  // this source's outputs so far
    Image* decoded;                 // as decoded, for smaller sizes under a limit; else null
};

// An earlier size that gave the same picture under the same name (a box the
// picture already fits, with "only reduce"): written once is enough.
const Written* sameOutput(const std::vector<Written>& written, const wxString& planned, const Image& image) {
    for (const Written& output : written)
        if (output.planned == planned && output.width == image.getWidth() && output.height == image.getHeight())
            return &output;
    return nullptr;
}

// Reduces, encodes, names and writes image, one of the source's sizes.
FileOutcome writeSize(const SizeJob& job, std::unique_ptr<Image> image) {
    const FileContext& context = job.context;
    const RunSettings& settings = job.settings;
    OutputNaming naming = namingFor(settings, {settings.width, settings.height});
    const wxString planned = outputPathFor(job.source, naming, context.walkedFolder).path;
    if (!image || image->isEmpty()) return failed(planned, wxT("not enough memory to convert it"));
    wxString reason;
    image->cancelWith(context.cancel);
    reason = reduceImage(*image, settings);
    if (abandoned(context)) return givenUp(planned);
    if (!reason.empty()) return failed(planned, reason);

    naming.size.width = image->getWidth(), naming.size.height = image->getHeight();
    const OutputPath path = outputPathFor(job.source, naming, context.walkedFolder);
    if (path.path.empty()) return failed(planned, path.error);
    if (sameOutput(job.written, path.path, *image))
        return {FileOutcome::Written,
                path.path,
                wxString(),
                {naming.size.box + wxT(" gives the same picture as ") + path.path + wxT(", not written again")}};
    const OutputExif exif = exifFor(job.loaded, *image, settings);
    std::vector<wxString> notes;
    if (!exif.note.empty()) notes.push_back(exif.note);
    EncodedOutput encoded;
    const Smaller smaller{job.decoded, &job.loaded, context.cancel};
    reason = encodeWithinLimit(*image, settings, smaller, context.cancel, encoded);
    image.reset();  // the pixels are no longer needed
    if (abandoned(context)) return givenUp(path.path);
    if (!reason.empty()) return failed(path.path, reason);
    if (!encoded.note.empty()) notes.push_back(encoded.note);

    FileOutcome outcome{FileOutcome::Written, path.path, encoded.overLimit, notes};
    if (context.names) outcome.output = context.names->freeName(path.path, context.cancel);
    if (outcome.output.empty()) return givenUp(path.path);
    if (outcome.output != path.path)
        outcome.notes.push_back(wxT("written as ") + outcome.output + wxT(", since ") + path.path +
                                wxT(" is another file of this run"));
    bool committed = false;  // from then on a failure is the file's, whatever stop comes
    const auto commit = [&] { return committed = !context.commit || context.commit(); };
    if (settings.keepTree) reason = makeFolders(outcome.output);
    if (reason.empty()) reason = writeFileAtomically(encoded.bytes, outcome.output, context.cancel, commit, job.times);
    if (reason.empty()) {
        if (context.names) context.names->outputWritten(outcome.output);
        job.written.push_back({path.path, naming.size.width, naming.size.height});
        return outcome;
    }
    const bool dropped = !committed && abandoned(context);
    return {dropped ? FileOutcome::Abandoned : FileOutcome::Failed, outcome.output, reason, outcome.notes};
}

// The outcome of a source written in several sizes: written when every size
// was; what went wrong with a size is told with its box.
void addSize(FileOutcome& whole, FileOutcome size, const wxString& box, bool several) {
    whole.notes.insert(whole.notes.end(), size.notes.begin(), size.notes.end());
    if (!several) {
        whole.kind = size.kind, whole.output = size.output, whole.problem = size.problem;
        return;
    }
    if (!size.problem.empty())
        whole.problem += (whole.problem.empty() ? wxT("") : wxT("; ")) + box + wxT(": ") + size.problem;
    if (size.kind == FileOutcome::Written && whole.kind == FileOutcome::Written) whole.output = size.output;
    if (size.kind != FileOutcome::Written && whole.kind != FileOutcome::Abandoned) {
        whole.kind = size.kind;
        whole.output = size.output;
    }
}

}  // namespace

FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context) try {
    const OutputPath planned = outputPathFor(source, namingFor(settings), context.walkedFolder);
    if (planned.path.empty()) return failed(planned.path, planned.error);
    FileTimes times;
    wxString reason;
    if (settings.keepDates && !sourceTimes(source, times, reason)) return failed(planned.path, reason);

    LoadedSource loaded = context.load ? context.load() : loadSource(source);
    if (abandoned(context)) return givenUp(planned.path);
    if (!loaded.image) return failed(planned.path, loaded.error);

    const std::vector<TargetBox> boxes = boxesOf(settings);
    const bool keepSource = maySmallen(settings);
    FileOutcome outcome{FileOutcome::Written, planned.path, wxString(), loaded.notes, loaded.damaged};
    std::vector<Written> written;
    for (size_t i = 0; i < boxes.size() && outcome.kind != FileOutcome::Abandoned; ++i) {
        SizeJob job{source,
                    loaded,
                    settings,
                    context,
                    settings.keepDates ? &times : nullptr,
                    written,
                    keepSource ? loaded.image.get() : nullptr};
        job.settings.width = boxes[i].width, job.settings.height = boxes[i].height;
        // Each size from the decoded picture; the last takes it unless smaller
        // sizes may be reduced from it too.
        std::unique_ptr<Image> image =
            i + 1 == boxes.size() && !keepSource ? std::move(loaded.image) : std::make_unique<Image>(*loaded.image);
        addSize(outcome, writeSize(job, std::move(image)), boxText(boxes[i], settings.percent), boxes.size() > 1);
    }
    return outcome;
} catch (const std::bad_alloc&) {
    return failed(wxString(), wxT("not enough memory"));
}

wxString damagedDataText() { return wxT("damaged JPEG data: converted as far as it could be read"); }

wxString FileOutcome::reason() const {
    if (!damaged) return problem;
    return problem.empty() ? damagedDataText() : damagedDataText() + wxT("; ") + problem;
}

void reportOutcome(const wxString& source, const FileOutcome& outcome) {
    for (const wxString& note : outcome.notes) report(source, note);
    if (outcome.failed() && !outcome.reason().empty()) report(source, outcome.reason());
}
