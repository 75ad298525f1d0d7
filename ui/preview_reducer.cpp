// SPDX-License-Identifier: MIT
#include "preview_reducer.h"

#include "image.h"

#include <algorithm>

namespace {

// The same size, reduced the same way.
bool sameSize(const RunSettings& a, const RunSettings& b) {
    return a.width == b.width && a.height == b.height && a.percent == b.percent && a.keepRatio == b.keepRatio &&
           a.onlyReduce == b.onlyReduce && a.linear == b.linear;
}

// Quality and limit count for lossy types only.
bool sameOutput(const RunSettings& a, const RunSettings& b) {
    if (a.type != b.type || a.metadata != b.metadata) return false;
    if (a.progressive != b.progressive && a.type == FileType::JPEG) return false;
    return !infoOf(a.type).lossy ||
           (a.quality == b.quality && a.limitBytes == b.limitBytes && a.minQuality == b.minQuality);
}

// A copy that shares no buffer with text another thread may be reading.
wxString ownCopy(const wxString& text) { return wxString(text.wc_str()); }

}  // namespace

PreviewReducer::PreviewReducer(std::function<void()> ready, std::size_t budget)
    : ready(std::move(ready)), budget(budget), pool("pixloom-preview", [this] { return pick(); }) {
    dropResults();
}

PreviewReducer::~PreviewReducer() { stop(); }

void PreviewReducer::stop() {
    {
        auto lock = pool.lock();
        quit = true;
        dropStale();
    }
    pool.stop();
}

void PreviewReducer::open(const wxString& file) {
    {
        auto lock = pool.lock();
        path = ownCopy(file);
        ++fileGeneration, ++sizeGeneration, ++outputGeneration;
        decoded = damaged = false;
        decodeCount = 0;
        loadError.reset();
        dropResults();
        dropStale();
    }
    if (!quit && !pool.start(1)) {
        auto lock = pool.lock();
        loadError = wxString(wxT("no thread could be started for the preview"));
    }
    pool.wake();
}

void PreviewReducer::show(const RunSettings& wanted, const std::vector<Method>& onScreen) {
    {
        auto lock = pool.lock();
        if (!told || !sameSize(wanted, settings)) {
            ++sizeGeneration, ++outputGeneration;
            dropResults();
        } else if (!sameOutput(wanted, settings)) {
            ++outputGeneration;
            outputs.assign(methods().size(), std::nullopt);
        }
        told = true;
        settings = wanted;
        settings.suffix.clear();  // only the worker's copies of the rest are read there
        settings.saveDir.clear();
        shown.clear();
        unsigned mask = 0;
        for (const Method& method : onScreen) {
            const std::size_t index = methodIndex(method);
            if (index >= methods().size() || (mask & (1u << index))) continue;
            shown.push_back(index);
            mask |= 1u << index;
        }
        shownMask = mask;
        dropStale();
    }
    pool.wake();
}

void PreviewReducer::dropResults() {
    pictures.assign(methods().size(), std::nullopt);
    outputs.assign(methods().size(), std::nullopt);
}

std::optional<wxString> PreviewReducer::sourceError() const {
    auto lock = pool.lock();
    if (!loadError) return std::nullopt;
    return ownCopy(*loadError);
}

bool PreviewReducer::sourceDamaged() const {
    auto lock = pool.lock();
    return damaged;
}

std::optional<PreviewReducer::Reduced> PreviewReducer::reduced(const Method& method) const {
    const std::size_t index = methodIndex(method);
    auto lock = pool.lock();
    if (index >= pictures.size() || !pictures[index]) return std::nullopt;
    return Reduced{pictures[index]->image, ownCopy(pictures[index]->error)};
}

std::optional<PreviewReducer::Figures> PreviewReducer::figures(const Method& method) const {
    const std::size_t index = methodIndex(method);
    auto lock = pool.lock();
    if (index >= outputs.size() || !outputs[index]) return std::nullopt;
    const Figures& kept = *outputs[index];
    return Figures{kept.bytes, kept.quality, kept.width, kept.height, ownCopy(kept.overLimit), ownCopy(kept.error)};
}

bool PreviewReducer::reducing() const {
    auto lock = pool.lock();
    if (loadError || path.empty()) return false;
    if (!decoded) return true;
    return std::any_of(shown.begin(), shown.end(), [this](std::size_t index) { return !pictures[index]; });
}

int PreviewReducer::decodes() const {
    auto lock = pool.lock();
    return decodeCount;
}

WorkerPool::Work PreviewReducer::pick() {
    running = Job();  // the one worker is done with the last
    if (quit) return {};
    Job next = nextJob();
    if (next.task == Task::None) return {};
    running = next;
    return [this, next] {
        if (next.task == Task::Decode) decode(next);
        if (next.task == Task::Reduce) reduce(next);
        if (next.task == Task::Encode) encode(next);
        if (ready) ready();
    };
}

// The file first; then the shown methods' pictures, then their figures, then
// the pictures of the methods not shown.
PreviewReducer::Job PreviewReducer::nextJob() {
    if (path.empty() || loadError) return {};
    if (!decoded) {
        return job(Task::Decode, 0);
    }
    if (!told) return {};
    for (std::size_t index : shown)
        if (!pictures[index]) return job(Task::Reduce, index);
    for (std::size_t index : shown)
        if (pictures[index]->image && !outputs[index]) return job(Task::Encode, index);
    if (!roomForAnother()) return {};
    for (std::size_t index = 0; index < pictures.size(); ++index)
        if (!pictures[index]) return job(Task::Reduce, index);
    return {};
}

// The methods not shown are kept only while all seven pictures fit the
// budget: a huge output is reduced when it is asked for.
bool PreviewReducer::roomForAnother() const {
    std::size_t kept = 0, each = 0;
    for (const auto& picture : pictures) {
        if (!picture || !picture->image) continue;
        const Image& image = *picture->image;
        each = static_cast<std::size_t>(image.getWidth()) * static_cast<std::size_t>(image.getHeight()) * 3;
        kept += each;
    }
    return kept <= budget && each <= budget - kept;
}

PreviewReducer::Job PreviewReducer::job(Task task, std::size_t method) const {
    Job next{task, method, ownCopy(path), settings, fileGeneration, sizeGeneration, outputGeneration, nullptr, {}};
    next.settings.method = methods()[method].method;
    if (task == Task::Encode) next.picture = pictures[method]->image;
    return next;
}

void PreviewReducer::dropStale() {
    if (running.task != Task::None && givenUp(running)) running.cancel.request();
}

bool PreviewReducer::givenUp(const Job& job) const {
    if (quit) return true;
    switch (job.task) {
    case Task::Decode:
        return job.fileGeneration != fileGeneration;
    case Task::Reduce:
        return job.sizeGeneration != sizeGeneration;
    case Task::Encode:
        return job.sizeGeneration != sizeGeneration || job.outputGeneration != outputGeneration ||
               !(shownMask & (1u << job.method));
    default:
        return true;
    }
}

void PreviewReducer::decode(const Job& job) {
    source = LoadedSource();  // the previous file's picture is not wanted any more
    DecodeOptions options;
    options.cancel = job.cancel;
    LoadedSource loaded = loadSource(job.path, options);
    auto lock = pool.lock();
    if (givenUp(job)) return;
    ++decodeCount;
    if (loaded.image) {
        damaged = loaded.damaged;
        source = std::move(loaded);
        decoded = true;
    } else {
        loadError = ownCopy(loaded.error);
    }
}

// From a copy of the source, which stays as decoded for the next method.
void PreviewReducer::reduce(const Job& job) {
    auto copy = std::make_shared<Image>(*source.image);
    copy->cancelWith(job.cancel);
    const wxString error =
        copy->isEmpty() ? wxString(wxT("not enough memory to preview it")) : reduceImage(*copy, job.settings);
    auto lock = pool.lock();
    if (givenUp(job)) return;
    pictures[job.method] = Reduced{error.empty() ? copy : nullptr, error};
}

// With the EXIF the run would write: it counts against a size limit. A
// smaller size, reduced anew from the source, can be given up like any
// reduction.
void PreviewReducer::encode(const Job& job) {
    const Smaller smaller{source.image.get(), &source, job.cancel};
    EncodedOutput output;
    const wxString error = encodeWithinLimit(*job.picture, job.settings, smaller, job.cancel, output);
    auto lock = pool.lock();
    if (givenUp(job)) return;
    outputs[job.method] =
        Figures{output.bytes.size(), output.quality, output.width, output.height, output.overLimit, error};
}
