// SPDX-License-Identifier: MIT
// The window's side of a conversion run: the worker reaches the window only
// through this link, which hands each step to the window's thread (and waits
// for it when the run needs an answer). Once the window is closing, those
// steps are no longer run and the worker is let go.
#pragma once

#include "conversion_run.h"
#include "run_thread.h"

#include <wx/string.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class pixloomFrame;

class WindowLink : public RunClient, public std::enable_shared_from_this<WindowLink> {
public:
    explicit WindowLink(pixloomFrame* window);

    // Window's thread. The stop request changes together with the button's
    // label; `ending` is set once the worker has been told the run is over.
    std::atomic<bool> stopRequested{false};
    bool ending = false;
    pixloomFrame* window() const;
    // The window is going: forget it and wake the worker if it waits for it.
    void windowClosing();

    // Worker. Runs task on the window's thread and returns its result;
    // nothing when the window has gone before the task could finish.
    template <class R>
    std::optional<R> onWindow(std::function<R(pixloomFrame&)> task);
    bool windowGone() const;

    std::optional<FileJob> takeFile() override;
    std::vector<wxString> nextFiles(const wxString& current, size_t count) override;
    bool isWaiting(const wxString& path) override;
    void fileDone(const wxString& source, const FileOutcome& outcome) override;
    void runEnded(const std::vector<FileFailure>& failures) override;

private:
    bool runOnWindow(std::function<void(pixloomFrame&)> task);
    // Hands task to the window's thread without waiting for it.
    void post(std::function<void(pixloomFrame&)> task);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    pixloomFrame* frame;  // null once the window is closing
};

template <class R>
std::optional<R> WindowLink::onWindow(std::function<R(pixloomFrame&)> task) {
    // The result lives with the task: a task still running when the worker
    // is let go must not write into the worker's frame.
    auto result = std::make_shared<std::optional<R>>();
    bool ran = runOnWindow([task, result](pixloomFrame& window) { *result = task(window); });
    if (!ran) return std::nullopt;
    return std::move(*result);
}

// The window's handle on its run; lets the worker go, and waits for it,
// however the window goes.
struct RunHandle {
    std::shared_ptr<WindowLink> link;
    std::shared_ptr<ConversionRun> run;
    RunThread worker;
    RunHandle() = default;
    RunHandle(const RunHandle&) = delete;
    RunHandle& operator=(const RunHandle&) = delete;
    ~RunHandle() { abandon(); }
    // The file in progress is given up, the window forgotten, and the worker
    // gone when it returns.
    void abandon() {
        if (link) link->windowClosing();
        if (run) run->cancel();
        worker.join();
    }
};
