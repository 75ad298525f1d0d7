// SPDX-License-Identifier: MIT
// pixloom-batch: the window's conversion run from the command line, with no
// display. Options override the window's saved settings one by one.
#include "batch_options.h"
#include "conversion_run.h"
#include "file_listing.h"
#include "pixloom_version.h"
#include "queue_client.h"
#include "report.h"
#include "safe_write.h"
#include "settings_file.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string clockText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// On a terminal, one line on standard error redrawn as files are done;
// elsewhere nothing but reports and the summary. Any thread.
class Progress {
public:
    explicit Progress(const wxArrayString& files) : files(files), total(files.size()), shown(isatty(STDERR_FILENO)) {}

    void taken(const wxString& source) {
        std::lock_guard<std::mutex> lock(mutex);
        current = wxString(source.wc_str());
        ++takenCount;
        draw();
    }
    void done() {
        std::lock_guard<std::mutex> lock(mutex);
        ++finished;
        draw();
    }
    // The file the run would take next, if any.
    wxString next() {
        std::lock_guard<std::mutex> lock(mutex);
        return takenCount < files.size() ? wxString(files[takenCount].wc_str()) : wxString();
    }
    void report(const wxString& file, const wxString& message) {
        std::lock_guard<std::mutex> lock(mutex);
        clear();
        ::report(file, message);
        draw();
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex);
        clear();
        shown = false;
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

private:
    void clear() {
        if (shown) std::fprintf(stderr, "\r\033[K");
    }
    void draw() {
        if (!shown) return;
        std::string left = "?";
        if (finished > 0)
            left = clockText(elapsed() / static_cast<double>(finished) * static_cast<double>(total - finished));
        std::fprintf(stderr, "\r\033[K%zu/%zu  %s  %s elapsed, %s left", finished, total,
                     escapedBytes(nativePath(wxFileName(current).GetFullName())).c_str(), clockText(elapsed()).c_str(),
                     left.c_str());
    }
    std::mutex mutex;
    const wxArrayString files;
    size_t total;
    size_t takenCount = 0;
    size_t finished = 0;
    bool shown;
    wxString current;
    Clock::time_point start = Clock::now();
};

// Ctrl-C or a termination request gives up the file in progress at once:
// one line says which, nothing partial is written, the exit status is 130.
// A second one, or one while files are listed, ends the program at once:
// nothing has been written then. The signals are taken by a thread of
// their own.
class Interruption {
public:
    Interruption() {
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // in every thread started from here on
        watcher = std::thread([this] { watch(); });
    }
    ~Interruption() {
        over = true;
        watcher.join();
    }
    void watch(ConversionRun* converting, Progress* progress) {
        std::lock_guard<std::mutex> lock(mutex);
        run = converting;
        this->progress = progress;
    }
    bool wasInterrupted() {
        std::lock_guard<std::mutex> lock(mutex);
        return interrupted;
    }

private:
    void watch() {
        const timespec tick{0, 100 * 1000 * 1000};
        while (!over) {
            if (sigtimedwait(&signals, nullptr, &tick) <= 0) continue;
            std::lock_guard<std::mutex> lock(mutex);
            if (interrupted || !run) {
                report(wxT("interrupted"));
                std::_Exit(130);
            }
            interrupted = true;
            // The file given up, or, between files, the one that would have been next.
            wxString file = run->cancel();
            if (file.empty()) file = progress->next();
            progress->report(file,
                             file.empty() ? wxT("interrupted") : wxT("interrupted: this file will not be written"));
        }
    }

    sigset_t signals;
    std::atomic<bool> over{false};
    std::mutex mutex;
    ConversionRun* run = nullptr;
    Progress* progress = nullptr;
    bool interrupted = false;
    std::thread watcher;
};

RunSettings savedSettings() {
    std::vector<wxString> notes;
    const StoredSettings stored = readStoredSettings(notes, false);
    for (const wxString& note : notes) report(note);
    return runSettingsFrom(settingValuesFrom(stored));
}

wxString extensionList() {
    wxString list;
    for (const wxString& extension : imageExtensions()) list += (list.empty() ? wxT("") : wxT(", ")) + extension;
    return list;
}

// The inputs as the window lists them; a name that gives nothing is told.
wxArrayString listInputs(FileListing& listing, const wxArrayString& inputs, const RunSettings& settings,
                         std::vector<FileFailure>& failures) {
    const OutputNaming naming = namingFor(settings);
    wxArrayString files;
    for (const wxString& input : inputs) {
        const bool usable = isImageFilePath(input) || wxDirExists(input);
        if (!usable)
            failures.push_back({input, wxFileName::Exists(input)
                                           ? wxT("not an image file (") + extensionList() + wxT(") or a folder")
                                           : wxString(wxT("no such file or folder"))});
        for (const wxString& file : listing.add(wxArrayString(1, &input), &naming)) files.Add(file);
    }
    return files;
}

struct Counts {
    size_t written = 0, overLimit = 0, damaged = 0, failed = 0;
};

wxString summary(const Counts& counts, size_t total, double seconds, bool interrupted) {
    wxString text = wxString::Format(wxT("%zu of %zu files written"), counts.written, total);
    if (counts.overLimit) text += wxString::Format(wxT(", %zu over its size limit"), counts.overLimit);
    if (counts.damaged) text += wxString::Format(wxT(", %zu from damaged data"), counts.damaged);
    if (counts.failed) text += wxString::Format(wxT(", %zu failed"), counts.failed);
    return text + wxT(", in ") + clockText(seconds) + (interrupted ? wxT(" (interrupted)") : wxT(""));
}

int convert(const FileListing& listing, const wxArrayString& files, const RunSettings& settings,
            const std::vector<FileFailure>& failures, Interruption& interruption) {
    Progress progress(files);
    Counts counts;
    counts.failed = failures.size();
    for (const FileFailure& failure : failures) progress.report(failure.source, failure.reason);
    QueueClient client(files, settings);
    client.onFileTaken = [&](const wxString& source) { progress.taken(source); };
    client.walkedFolderOf = [&](const wxString& source) { return listing.walkedFolderOf(source); };
    client.onFileDone = [&](const wxString& source, const FileOutcome& outcome) {
        for (const wxString& note : outcome.notes) progress.report(source, note);
        if (outcome.failed() && !outcome.reason().empty()) progress.report(source, outcome.reason());
        if (outcome.kind == FileOutcome::Written) {
            ++counts.written;
            counts.overLimit += !outcome.problem.empty();
            counts.damaged += outcome.damaged;
        } else {
            ++counts.failed;
        }
        progress.done();
    };
    ConversionRun run(client);
    interruption.watch(&run, &progress);
    const int status = run.runConversion();
    interruption.watch(nullptr, nullptr);
    progress.finish();
    const bool interrupted = interruption.wasInterrupted();
    report(summary(counts, files.size(), progress.elapsed(), interrupted));
    if (interrupted) return 130;
    return status == 0 && failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    reportToStandardError("pixloom-batch");
    Interruption interruption;
    wxInitializer toolkit;  // base and image code only: no display is opened
    if (!toolkit.IsOk()) return report(wxT("cannot start the toolkit")), 1;
    // Names from the file system as bytes, whatever the locale says.
    static wxConvBrokenFileNames fileNames(wxT("UTF-8"));
    wxConvFileName = &fileNames;
    wxInitAllImageHandlers();

    BatchRequest request;
    wxString error;
    if (!parseBatchArguments(std::vector<std::string>(argv + 1, argv + argc), savedSettings(), request, error)) {
        report(error);
        std::fprintf(stderr, "Try 'pixloom-batch --help'.\n");
        return 2;
    }
    if (request.help) return std::printf("%s", static_cast<const char*>(batchUsage().utf8_str())), 0;
    if (request.version) return std::printf("pixloom-batch %s\n", PIXLOOM_VERSION), 0;
    std::vector<FileFailure> failures;
    FileListing listing;
    const wxArrayString files = listInputs(listing, request.inputs, request.settings, failures);
    return convert(listing, files, request.settings, failures, interruption);
}
