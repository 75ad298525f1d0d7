// SPDX-License-Identifier: MIT
#include "queue_client.h"

QueueClient::QueueClient(const wxArrayString& files, const RunSettings& settings)
    : waiting(files.begin(), files.end()), settings(settings), listed(files.size()) {
    for (const wxString& file : files) waitingFiles.add(file);
}

std::optional<FileJob> QueueClient::takeFile() {
    if (waiting.empty()) return std::nullopt;
    if (onFileTaken) onFileTaken(waiting.front());
    return FileJob{waiting.front(), settings};
}

std::optional<wxString> QueueClient::peekFile(const wxString& current) {
    for (size_t i = 0; i < waiting.size() && i < 2; ++i)
        if (waiting[i] != current) return waiting[i];
    return std::nullopt;
}

bool QueueClient::isWaiting(const wxString& path) { return waitingFiles.names(path); }

void QueueClient::fileDone(const wxString& source, const FileOutcome& outcome) {
    if (!waiting.empty() && waiting.front() == source) {
        waiting.pop_front();
        waitingFiles.remove(source);
    }
    ++done;
    if (onFileDone) onFileDone(source, outcome);
}

void QueueClient::runEnded(const std::vector<FileFailure>& failures) { ended = failures; }
