// SPDX-License-Identifier: MIT
// A run's list without a window: a fixed queue of files converted with one
// set of settings. The command-line program's, and the tests'.
#pragma once

#include "conversion_run.h"
#include "name_guard.h"

#include <wx/arrstr.h>

#include <deque>
#include <functional>

class QueueClient : public RunClient {
public:
    QueueClient(const wxArrayString& files, const RunSettings& settings);

    // Called as each file is taken, and as it is done with.
    std::function<void(const wxString& source)> onFileTaken;
    std::function<void(const wxString& source, const FileOutcome& outcome)> onFileDone;

    std::optional<FileJob> takeFile() override;
    std::optional<wxString> peekFile(const wxString& current) override;
    bool isWaiting(const wxString& path) override;
    void fileDone(const wxString& source, const FileOutcome& outcome) override;
    void runEnded(const std::vector<FileFailure>& failures) override;

    // What the run did: files done with (written or not), of all listed.
    size_t filesDone() const { return done; }
    size_t filesListed() const { return listed; }
    const std::vector<FileFailure>& failures() const { return ended; }

private:
    std::deque<wxString> waiting;
    FileSet waitingFiles;
    RunSettings settings;
    size_t done = 0;
    size_t listed = 0;
    std::vector<FileFailure> ended;
};
