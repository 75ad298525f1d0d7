#include "conversion_run.h"

#include "image.h"

#include <algorithm>

namespace {
std::mutex hookMutex;
std::function<void(const wxString&)> takenHook;
}  // namespace

ConversionRun::ConversionRun(RunClient& client) : client(client) {}

ConversionRun::~ConversionRun() = default;

int ConversionRun::runConversion() {
    while (!stopped && convertFirstFile()) {
    }
    ahead.drop();  // stopped, cleared or closed: the next file is not wanted
    client.runEnded(failures);
    return failures.empty() ? 0 : 1;
}

bool ConversionRun::convertFirstFile() {
    const std::optional<FileJob> job = client.takeFile();
    if (!job || stopped) return false;
    taken.add(job->source);
    fileTaken(job->source);
    FileOutcome outcome = convertFile(job->source, job->settings, contextFor(job->source));
    if (outcome.kind == FileOutcome::Abandoned) return false;
    if (outcome.kind == FileOutcome::Written) written.add(outcome.output);
    if (outcome.failed()) failures.push_back({job->source, outcome.problem});
    client.fileDone(job->source, outcome);
    return true;
}

// The source, decoded ahead if it was and is unchanged since; then the
// next file starts decoding while this one is reduced.
LoadedSource ConversionRun::load(const wxString& source) {
    std::optional<LoadedSource> loaded = ahead.take(source);
    if (!loaded) {
        loaded = loadSource(source);
        sourceDecoded(source, false);
    }
    if (!stopped)
        if (const std::optional<wxString> next = client.peekFile(source)) ahead.start(*next);
    // Decoding is the longer part of a file and runs on one core: the
    // reduction takes the others, so that neither waits for the other.
    if (loaded->image && ahead.busy()) loaded->image->threadsSetting(std::max(1, Image::threadCount() - 1));
    return std::move(*loaded);
}

FileContext ConversionRun::contextFor(const wxString& source) {
    FileContext context;
    context.load = [this, source] { return load(source); };
    context.isProtected = [this](const wxString& path) { return isProtected(path); };
    context.track = [this](Image* image) { track(image); };
    context.abandoned = [this] { return cancelled(); };
    return context;
}

bool ConversionRun::isProtected(const wxString& path) {
    return taken.names(path) || written.names(path) || client.isWaiting(path);
}

void ConversionRun::cancel() {
    stopped = true;
    std::lock_guard<std::mutex> lock(mutex);
    if (current) current->cancel();
}

void ConversionRun::track(Image* image) {
    std::lock_guard<std::mutex> lock(mutex);
    current = image;
    if (current && stopped) current->cancel();
}

void ConversionRun::finish(int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex);
    status = exitStatus;
    done = true;
    changed.notify_all();
}

bool ConversionRun::finished() const {
    std::lock_guard<std::mutex> lock(mutex);
    return done;
}

bool ConversionRun::waitFinished(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return done; });
}

int ConversionRun::exitStatus() const {
    std::lock_guard<std::mutex> lock(mutex);
    return status;
}

void setFileTakenHook(std::function<void(const wxString& source)> hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    takenHook = std::move(hook);
}

void fileTaken(const wxString& source) {
    std::function<void(const wxString&)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = takenHook;
    }
    if (hook) hook(source);
}
