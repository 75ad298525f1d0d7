// SPDX-License-Identifier: MIT
#include "conversion_run.h"

#include "image.h"

#include <algorithm>

ConversionRun::ConversionRun(RunClient& client)
    : client(client), names([&client](const wxString& path) { return client.isWaiting(path); }) {}

ConversionRun::~ConversionRun() = default;

int ConversionRun::runConversion() {
    while (!stopped.requested() && convertFirstFile()) {}
    ahead.stop();  // stopped, cleared or closed: the next file is not wanted
    status = failures.empty() ? 0 : 1;
    client.runEnded(failures);
    over = true;
    return status;
}

bool ConversionRun::convertFirstFile() {
    const std::optional<FileJob> job = client.takeFile();
    if (!job || stopped.requested()) return false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        inProgress = wxString(job->source.wc_str());  // a copy of its own for cancel's thread
    }
    names.sourceTaken(job->source);
    FileOutcome outcome = convertFile(job->source, job->settings, contextFor(*job));
    {
        std::lock_guard<std::mutex> lock(mutex);
        inProgress.clear();
    }
    if (outcome.kind == FileOutcome::Abandoned) return false;
    if (outcome.failed()) failures.push_back({job->source, outcome.reason()});
    client.fileDone(job->source, outcome);
    return true;
}

std::vector<wxString> filesAfter(std::size_t listed, const std::function<wxString(std::size_t)>& entry,
                                 const wxString& current, std::size_t count) {
    std::vector<wxString> files;
    for (std::size_t i = 0; i < listed && i <= count && files.size() < count; ++i)
        if (wxString file = entry(i); file != current) files.push_back(file);
    return files;
}

// The source, decoded ahead if it was and is unchanged since; then the
// next files start decoding while this one is reduced.
LoadedSource ConversionRun::load(const wxString& source) {
    std::optional<LoadedSource> loaded = ahead.take(source);
    // Memory short while another picture was held may suffice now: try once more.
    if (loaded && !loaded->image && loaded->error.StartsWith(wxT("not enough memory"))) loaded.reset();
    if (!loaded) loaded = DecodeAhead::decode(source, false, stopped);
    if (!stopped.requested()) ahead.want(client.nextFiles(source, ahead.decoders()));
    // Decoding is the longer part of a file and runs on one core a file: the
    // reduction takes the cores the decoders leave, so that none waits.
    if (const int decoding = static_cast<int>(ahead.busy()); loaded->image && decoding > 0)
        loaded->image->threadsSetting(std::max(1, Image::threadCount() - decoding));
    return std::move(*loaded);
}

FileContext ConversionRun::contextFor(const FileJob& job) {
    const wxString source = job.source;
    FileContext context;
    context.walkedFolder = job.walkedFolder;
    context.load = [this, source] { return load(source); };
    context.names = &names;
    context.cancel = stopped;
    context.commit = [this] { return commit(); };
    return context;
}

wxString ConversionRun::cancel() {
    wxString givenUp;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped.request();
        givenUp = wxString(inProgress.wc_str());
    }
    ahead.cancel();
    return givenUp;
}

bool ConversionRun::commit() {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopped.requested()) return false;
    inProgress.clear();  // written, whatever comes now
    return true;
}
