// SPDX-License-Identifier: MIT
#include "preview_reducer.h"

#include "image.h"

#include <pthread.h>

#include <algorithm>
#include <system_error>

// A seam for test programs, which may define it to hold a reduction at its
// start (on the preview's thread) until the preview stops; the programs
// themselves leave it undefined.
void previewReductionStarted(const std::atomic<bool>& stopping) __attribute__((weak));

namespace {

std::size_t indexOf(const Method& method) {
    const auto& rows = methods();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].method == method) return i;
    return rows.size();
}

bool sameSize(const RunSettings& a, const RunSettings& b) {
    return a.width == b.width && a.height == b.height && a.percent == b.percent && a.keepRatio == b.keepRatio;
}

// Quality and limit count for lossy types only.
bool sameOutput(const RunSettings& a, const RunSettings& b) {
    if (a.type != b.type || a.metadata != b.metadata) return false;
    return !infoOf(a.type).lossy || (a.quality == b.quality && a.limitBytes == b.limitBytes);
}

// A copy that shares no buffer with text another thread may be reading.
wxString ownCopy(const wxString& text) { return wxString(text.wc_str()); }

}  // namespace

PreviewReducer::PreviewReducer(std::function<void()> ready, std::size_t budget)
    : ready(std::move(ready)), budget(budget) {
    dropResults();
}

PreviewReducer::~PreviewReducer() { stop(); }

void PreviewReducer::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        dropDecode = true;
        if (inProgress) inProgress->cancel();
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
}

void PreviewReducer::open(const wxString& file) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        path = ownCopy(file);
        ++fileGeneration, ++sizeGeneration, ++outputGeneration;
        dropDecode = true;
        decoded = false;
        decodeCount = 0;
        loadError.reset();
        dropResults();
        waiting = false;  // until the worker has looked at the new file
        if (inProgress) inProgress->cancel();
        if (!worker.joinable() && !quit) {
            try {
                worker = std::thread([this] { serve(); });
            } catch (const std::system_error&) {
                loadError = wxString(wxT("no thread could be started for the preview"));
            }
        }
    }
    changed.notify_all();
}

void PreviewReducer::show(const RunSettings& wanted, const std::vector<Method>& onScreen) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!told || !sameSize(wanted, settings)) {
            ++sizeGeneration, ++outputGeneration;
            dropResults();
            if (inProgress) inProgress->cancel();
        } else if (!sameOutput(wanted, settings)) {
            ++outputGeneration;
            outputs.assign(methods().size(), std::nullopt);
        }
        told = true;
        waiting = false;  // until the worker has looked at what is wanted now
        settings = wanted;
        settings.suffix.clear();  // only the worker's copies of the rest are read there
        settings.saveDir.clear();
        shown.clear();
        unsigned mask = 0;
        for (const Method& method : onScreen) {
            const std::size_t index = indexOf(method);
            if (index >= methods().size() || (mask & (1u << index))) continue;
            shown.push_back(index);
            mask |= 1u << index;
        }
        shownMask = mask;
    }
    changed.notify_all();
}

void PreviewReducer::dropResults() {
    pictures.assign(methods().size(), std::nullopt);
    outputs.assign(methods().size(), std::nullopt);
    reduceCounts.assign(methods().size(), 0);
}

std::optional<wxString> PreviewReducer::sourceError() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (!loadError) return std::nullopt;
    return ownCopy(*loadError);
}

std::optional<PreviewReducer::Reduced> PreviewReducer::reduced(const Method& method) const {
    const std::size_t index = indexOf(method);
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= pictures.size() || !pictures[index]) return std::nullopt;
    return Reduced{pictures[index]->image, ownCopy(pictures[index]->error)};
}

std::optional<PreviewReducer::Figures> PreviewReducer::figures(const Method& method) const {
    const std::size_t index = indexOf(method);
    std::lock_guard<std::mutex> lock(mutex);
    if (index >= outputs.size() || !outputs[index]) return std::nullopt;
    const Figures& kept = *outputs[index];
    return Figures{kept.bytes, kept.quality, ownCopy(kept.overLimit), ownCopy(kept.error)};
}

bool PreviewReducer::reducing() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (loadError || path.empty()) return false;
    if (!decoded) return true;
    return std::any_of(shown.begin(), shown.end(), [this](std::size_t index) { return !pictures[index]; });
}

bool PreviewReducer::idle() const {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting;
}

int PreviewReducer::decodes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return decodeCount;
}

int PreviewReducer::reductions(const Method& method) const {
    const std::size_t index = indexOf(method);
    std::lock_guard<std::mutex> lock(mutex);
    return index < reduceCounts.size() ? reduceCounts[index] : 0;
}

void PreviewReducer::serve() {
    pthread_setname_np(pthread_self(), "pixloom-preview");  // for debuggers and thread lists
    for (;;) {
        Job next;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] {
                next = quit ? Job() : nextJob();
                waiting = !quit && next.task == Task::None;
                return quit || !waiting;
            });
            if (quit) return;
        }
        if (next.task == Task::Decode) decode(next);
        if (next.task == Task::Reduce) reduce(next);
        if (next.task == Task::Encode) encode(next);
        if (ready) ready();
    }
}

// The file first; then the shown methods' pictures, then their figures, then
// the pictures of the methods not shown.
PreviewReducer::Job PreviewReducer::nextJob() {
    if (path.empty() || loadError) return {};
    if (!decoded) {
        dropDecode = false;
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
    Job next{task, method, ownCopy(path), settings, fileGeneration, sizeGeneration, outputGeneration, nullptr};
    next.settings.method = methods()[method].method;
    if (task == Task::Encode) next.picture = pictures[method]->image;
    return next;
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
    options.cancel = &dropDecode;
    LoadedSource loaded = loadSource(job.path, options);
    std::lock_guard<std::mutex> lock(mutex);
    if (givenUp(job)) return;
    ++decodeCount;
    if (loaded.image) {
        source = std::move(loaded);
        decoded = true;
    } else {
        loadError = ownCopy(loaded.error);
    }
}

// From a copy of the source, which stays as decoded for the next method.
void PreviewReducer::reduce(const Job& job) {
    auto copy = std::make_shared<Image>(*source.image);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (givenUp(job)) return;
        inProgress = copy.get();
    }
    if (previewReductionStarted) previewReductionStarted(quit);
    const wxString error = copy->isEmpty() ? wxString(wxT("not enough memory to preview it"))
                                           : reduceImage(*copy, job.settings);
    std::lock_guard<std::mutex> lock(mutex);
    inProgress = nullptr;
    if (givenUp(job)) return;
    pictures[job.method] = Reduced{error.empty() ? copy : nullptr, error};
    ++reduceCounts[job.method];
}

// With the EXIF the run would write: it counts against a size limit.
void PreviewReducer::encode(const Job& job) {
    const OutputExif exif = exifFor(source, *job.picture, job.settings);
    EncodedOutput output;
    const wxString error = encodeOutput(*job.picture, job.settings, exif.bytes, [this, &job] { return givenUp(job); }, output);
    std::lock_guard<std::mutex> lock(mutex);
    if (givenUp(job)) return;
    outputs[job.method] = Figures{output.bytes.size(), output.quality, output.overLimit, error};
}
