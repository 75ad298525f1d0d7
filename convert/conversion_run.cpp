#include "conversion_run.h"

#include "image.h"

#include <algorithm>

// A seam for test programs, which may define it to watch or pause the run
// at each file it takes; the programs themselves leave it undefined.
void runTookFile(const wxString& source) __attribute__((weak));

ConversionRun::ConversionRun(RunClient& client)
    : client(client), names([&client](const wxString& path) { return client.isWaiting(path); }) {}

ConversionRun::~ConversionRun() = default;

int ConversionRun::runConversion() {
    while (!stopped && convertFirstFile()) {
    }
    ahead.stop();  // stopped, cleared or closed: the next file is not wanted
    status = failures.empty() ? 0 : 1;
    client.runEnded(failures);
    return status;
}

bool ConversionRun::convertFirstFile() {
    const std::optional<FileJob> job = client.takeFile();
    if (!job || stopped) return false;
    names.sourceTaken(job->source);
    if (runTookFile) runTookFile(job->source);
    FileOutcome outcome = convertFile(job->source, job->settings, contextFor(job->source));
    if (outcome.kind == FileOutcome::Abandoned) return false;
    if (outcome.kind == FileOutcome::Written) names.outputWritten(outcome.output);
    if (outcome.failed()) failures.push_back({job->source, outcome.problem});
    client.fileDone(job->source, outcome);
    return true;
}

// The source, decoded ahead if it was and is unchanged since; then the
// next file starts decoding while this one is reduced.
LoadedSource ConversionRun::load(const wxString& source) {
    std::optional<LoadedSource> loaded = ahead.take(source);
    if (!loaded) loaded = DecodeAhead::decode(source, false);
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
    context.names = &names;
    context.track = [this](Image* image) { track(image); };
    context.abandoned = [this] { return cancelled(); };
    return context;
}

void ConversionRun::cancel() {
    stopped = true;
    ahead.cancel();
    std::lock_guard<std::mutex> lock(mutex);
    if (current) current->cancel();
}

void ConversionRun::track(Image* image) {
    std::lock_guard<std::mutex> lock(mutex);
    current = image;
    if (current && stopped) current->cancel();
}
