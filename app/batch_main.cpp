// pixloom-batch: the window's conversion run from the command line, with no
// display. Options override the window's saved settings one by one.
#include "batch_options.h"
#include "conversion_run.h"
#include "file_listing.h"
#include "pixloom_version.h"
#include "queue_client.h"
#include "saved_settings.h"
#include "stderr_log.h"

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

void say(const wxString& line) { std::fprintf(stderr, "pixloom-batch: %s\n", static_cast<const char*>(line.utf8_str())); }

std::string clockText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// On a terminal, one line on standard error redrawn as files are done;
// elsewhere nothing but failures and the summary.
class Progress {
public:
    explicit Progress(size_t total) : total(total), shown(isatty(STDERR_FILENO)) {}

    void taken(const wxString& source) {
        current = wxFileName(source).GetFullName();
        draw();
    }
    void done() { ++finished, draw(); }
    void report(const wxString& line) {
        clear();
        say(line);
        draw();
    }
    void clear() {
        if (shown) std::fprintf(stderr, "\r\033[K");
    }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }

private:
    void draw() {
        if (!shown) return;
        std::string left = "?";
        if (finished > 0) left = clockText(elapsed() / static_cast<double>(finished) * static_cast<double>(total - finished));
        std::fprintf(stderr, "\r\033[K%zu/%zu  %s  %s elapsed, %s left", finished, total,
                     static_cast<const char*>(current.utf8_str()), clockText(elapsed()).c_str(), left.c_str());
    }
    size_t total;
    size_t finished = 0;
    bool shown;
    wxString current;
    Clock::time_point start = Clock::now();
};

// Ctrl-C or a termination request gives up the file in progress; nothing
// partial is written. Before the run, while files are listed, it ends the
// program at once: nothing has been written then. The signals are taken by
// a thread of their own.
class Interruption {
public:
    Interruption() {
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // in every thread started from here on
        watcher = std::thread([this] {
            const timespec tick{0, 100 * 1000 * 1000};
            while (!over) {
                if (sigtimedwait(&signals, nullptr, &tick) <= 0) continue;
                std::lock_guard<std::mutex> lock(mutex);
                interrupted = true;
                if (!run) {
                    std::fprintf(stderr, "pixloom-batch: interrupted\n");
                    std::_Exit(130);
                }
                run->cancel();
            }
        });
    }
    ~Interruption() {
        over = true;
        watcher.join();
    }
    void watch(ConversionRun* converting) {
        std::lock_guard<std::mutex> lock(mutex);
        run = converting;
    }
    bool wasInterrupted() {
        std::lock_guard<std::mutex> lock(mutex);
        return interrupted;
    }

private:
    sigset_t signals;
    std::atomic<bool> over{false};
    std::mutex mutex;
    ConversionRun* run = nullptr;
    bool interrupted = false;
    std::thread watcher;
};

RunSettings savedSettings() {
    std::vector<wxString> notes;
    const StoredSettings stored = readStoredSettings(notes, false);
    for (const wxString& note : notes) say(note);
    return runSettingsFrom(stored);
}

// The inputs as the window lists them; a name that gives nothing is told.
wxArrayString listInputs(const wxArrayString& inputs, std::vector<FileFailure>& failures) {
    FileListing listing;
    wxArrayString files;
    for (const wxString& input : inputs) {
        const bool usable = isImageFilePath(input) || wxDirExists(input);
        if (!usable) failures.push_back({input, wxFileName::Exists(input) ? wxT("not an image file (png, jpg, tiff, gif, bmp) or a folder")
                                                                          : wxT("no such file or folder")});
        for (const wxString& file : listing.add(wxArrayString(1, &input))) files.Add(file);
    }
    return files;
}

int convert(const wxArrayString& files, const RunSettings& settings, std::vector<FileFailure> failures,
            Interruption& interruption) {
    Progress progress(files.size());
    for (const FileFailure& failure : failures) progress.report(failure.source + wxT(": ") + failure.reason);
    QueueClient client(files, settings);
    client.onFileTaken = [&](const wxString& source) { progress.taken(source); };
    client.onFileDone = [&](const wxString& source, const FileOutcome& outcome) {
        for (const wxString& line : reportLines(source, outcome)) progress.report(line);
        progress.done();
    };
    ConversionRun run(client);
    interruption.watch(&run);
    run.runConversion();
    interruption.watch(nullptr);
    progress.clear();
    const bool interrupted = interruption.wasInterrupted();
    const size_t failed = failures.size() + client.failures().size();
    const size_t written = client.filesDone() - client.failures().size();
    say(wxString::Format(wxT("%zu of %zu files written, %zu failed, in %s%s"), written, files.size(), failed,
                         clockText(progress.elapsed()), interrupted ? " (interrupted)" : ""));
    if (interrupted) return 130;
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Interruption interruption;
    wxInitializer toolkit;  // base and image code only: no display is opened
    if (!toolkit.IsOk()) return say(wxT("cannot start the toolkit")), 1;
    logToStandardError("pixloom-batch");
    // Names from the file system as bytes, whatever the locale says.
    static wxConvBrokenFileNames fileNames(wxT("UTF-8"));
    wxConvFileName = &fileNames;
    wxInitAllImageHandlers();

    BatchRequest request;
    wxString error;
    if (!parseBatchArguments(std::vector<std::string>(argv + 1, argv + argc), savedSettings(), request, error)) {
        say(error);
        std::fprintf(stderr, "Try 'pixloom-batch --help'.\n");
        return 2;
    }
    if (request.help) return std::printf("%s", static_cast<const char*>(batchUsage().utf8_str())), 0;
    if (request.version) return std::printf("pixloom-batch %s\n", PIXLOOM_VERSION), 0;
    std::vector<FileFailure> failures;
    const wxArrayString files = listInputs(request.inputs, failures);
    return convert(files, request.settings, failures, interruption);
}
