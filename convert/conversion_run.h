// SPDX-License-Identifier: MIT
// The conversion run: takes files from the head of a list, one after
// another, and converts each with the settings of the moment. It knows
// nothing of windows: whoever holds the list serves it through RunClient.
#pragma once

#include "convert_file.h"
#include "decode_ahead.h"
#include "name_guard.h"
#include "settings.h"

#include <wx/string.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class Image;

// One file taken from the head of the list, with the settings of the moment.
struct FileJob {
    FileJob(wxString source = wxString(), RunSettings settings = RunSettings(), wxString walkedFolder = wxString())
        : source(std::move(source)), settings(std::move(settings)), walkedFolder(std::move(walkedFolder)) {}
    wxString source;
    RunSettings settings;
    wxString walkedFolder;  // the folder whose walk listed it, if any
};

struct FileFailure {
    wxString source;
    wxString reason;
};

// The holder of a run's list, called on the run's thread, one call at a time.
class RunClient {
public:
    virtual ~RunClient() = default;
    // The head of a list that is not empty, with the settings of the moment;
    // nothing ends the run (an empty list, a stop, a closed window).
    virtual std::optional<FileJob> takeFile() = 0;
    // The files takeFile will give after `current` as things stand, count of
    // them at most (filesAfter).
    virtual std::vector<wxString> nextFiles(const wxString& current, std::size_t count) = 0;
    // Whether path names a file still waiting in the list.
    virtual bool isWaiting(const wxString& path) = 0;
    // The file taken is done with: it leaves the list, written or not. Told,
    // not asked: the run does not wait for it, but what it is told arrives
    // before its next question.
    virtual void fileDone(const wxString& source, const FileOutcome& outcome) = 0;
    // The run is over; failures lists every file not done as asked. The last
    // call the run makes; told, not asked.
    virtual void runEnded(const std::vector<FileFailure>& failures) = 0;
};

// The files a list gives after `current` while current may still head it:
// up to count of the first count + 1 entries (entry(0) on), leaving out
// current.
std::vector<wxString> filesAfter(std::size_t listed, const std::function<wxString(std::size_t)>& entry,
                                 const wxString& current, std::size_t count);

class ConversionRun {
public:
    explicit ConversionRun(RunClient& client);
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;
    ~ConversionRun();

    // Converts file after file until the client gives none or the run is
    // cancelled, then tells the client the run has ended. Returns the exit
    // status it calls for: 0 when every file taken was done as asked, else 1.
    // No thread of the run's own outlives it.
    int runConversion();
    // Takes and converts the head of the list; false when there was none.
    bool convertFirstFile();

    // Any thread: the file in progress is given up (nothing written) and no
    // other is taken. Returns that file, or nothing when no file was in
    // progress or its output was already written.
    wxString cancel();
    bool cancelled() const { return stopped.requested(); }

    // Whether runConversion has returned, and the exit status it called for.
    bool ended() const { return over; }
    int exitStatus() const { return status; }

private:
    FileContext contextFor(const FileJob& job);
    LoadedSource load(const wxString& source);

    RunClient& client;
    NameGuard names;  // the sources taken and the files written so far, and those still listed
    std::vector<FileFailure> failures;
    DecodeAhead ahead;    // the next files, decoded while this one is reduced
    CancelToken stopped;  // asked by every step of the file in progress
    std::atomic<int> status{0};
    std::atomic<bool> over{false};

    bool commit();  // the output of the file in progress is to be named now

    std::mutex mutex;
    wxString inProgress;  // the file taken, until its output is named or it is done with
};
