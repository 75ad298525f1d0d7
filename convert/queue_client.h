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
    // The folder whose walk listed a file, if any.
    std::function<wxString(const wxString& source)> walkedFolderOf;

    std::optional<FileJob> takeFile() override;
    std::vector<wxString> nextFiles(const wxString& current, size_t count) override;
    bool isWaiting(const wxString& path) override;
    void fileDone(const wxString& source, const FileOutcome& outcome) override;
    void runEnded(const std::vector<FileFailure>& failures) override;

    // The files the run did not do as asked, once it has ended.
    const std::vector<FileFailure>& failures() const { return ended; }

private:
    std::deque<wxString> waiting;
    FileSet waitingFiles;
    RunSettings settings;
    std::vector<FileFailure> ended;
};
