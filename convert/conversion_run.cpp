// SPDX-License-Identifier: MIT
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
    over = true;
    return status;
}

bool ConversionRun::convertFirstFile() {
    const std::optional<FileJob> job = client.takeFile();
    if (!job || stopped) return false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        inProgress = wxString(job->source.wc_str());  // a copy of its own for cancel's thread
    }
    names.sourceTaken(job->source);
    if (runTookFile) runTookFile(job->source);
    FileOutcome outcome = convertFile(job->source, job->settings, contextFor(job->source));
    {
        std::lock_guard<std::mutex> lock(mutex);
        inProgress.clear();
    }
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
    if (!loaded) loaded = DecodeAhead::decode(source, false, &stopped);
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
    context.commit = [this] { return commit(); };
    return context;
}

wxString ConversionRun::cancel() {
    wxString givenUp;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
        if (current) current->cancel();
        givenUp = wxString(inProgress.wc_str());
    }
    ahead.cancel();
    return givenUp;
}

bool ConversionRun::commit() {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopped) return false;
    inProgress.clear();  // written, whatever comes now
    return true;
}

void ConversionRun::track(Image* image) {
    std::lock_guard<std::mutex> lock(mutex);
    current = image;
    if (current && stopped) current->cancel();
}
