// SPDX-License-Identifier: MIT
#include "queue_client.h"

QueueClient::QueueClient(const wxArrayString& files, const RunSettings& settings)
    : waiting(files.begin(), files.end()), settings(settings) {
    for (const wxString& file : files) waitingFiles.add(file);
}

std::optional<FileJob> QueueClient::takeFile() {
    if (waiting.empty()) return std::nullopt;
    if (onFileTaken) onFileTaken(waiting.front());
    const wxString& source = waiting.front();
    return FileJob{source, settings, walkedFolderOf ? walkedFolderOf(source) : wxString()};
}

std::vector<wxString> QueueClient::nextFiles(const wxString& current, size_t count) {
    return filesAfter(
        waiting.size(), [this](size_t i) { return waiting[i]; }, current, count);
}

bool QueueClient::isWaiting(const wxString& path) { return waitingFiles.names(path); }

void QueueClient::fileDone(const wxString& source, const FileOutcome& outcome) {
    if (!waiting.empty() && waiting.front() == source) {
        waiting.pop_front();
        waitingFiles.remove(source);
    }
    if (onFileDone) onFileDone(source, outcome);
}

void QueueClient::runEnded(const std::vector<FileFailure>& failures) { ended = failures; }
