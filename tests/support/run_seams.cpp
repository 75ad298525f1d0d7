// SPDX-License-Identifier: MIT
#include "run_seams.h"

#include <mutex>

namespace {
std::mutex mutex;
std::function<void(const wxString&)> fileTaken;
std::function<void(const wxString&, bool)> sourceDecoded;

template <class F>
F current(const F& watcher) {
    std::lock_guard<std::mutex> lock(mutex);
    return watcher;
}
}  // namespace

namespace seams {
void onFileTaken(std::function<void(const wxString&)> watcher) {
    std::lock_guard<std::mutex> lock(mutex);
    fileTaken = std::move(watcher);
}
void onSourceDecoded(std::function<void(const wxString&, bool)> watcher) {
    std::lock_guard<std::mutex> lock(mutex);
    sourceDecoded = std::move(watcher);
}
}  // namespace seams

// The definitions the run's weak declarations find in a test program.
void runTookFile(const wxString& source) {
    if (auto watcher = current(fileTaken)) watcher(source);
}
void runDecodedSource(const wxString& source, bool ahead) {
    if (auto watcher = current(sourceDecoded)) watcher(source, ahead);
}
