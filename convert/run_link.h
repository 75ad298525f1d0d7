// What the window and the worker of one conversion run share, and the
// worker thread itself.
#pragma once

#include "convert_file.h"

#include <wx/string.h>
#include <wx/thread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Image;
class pixloomFrame;

// One file taken from the head of the list, with the settings of the moment.
struct FileJob {
    wxString source;
    RunSettings settings;
};

struct FileFailure {
    wxString source;
    wxString reason;
};

// The worker never touches the window: it hands each step that needs the
// window to the window's thread (onWindow) and waits for it. Once the window
// is closing, those steps are no longer run and the worker is let go.
class RunLink : public std::enable_shared_from_this<RunLink> {
public:
    explicit RunLink(pixloomFrame* window);

    // Window's thread. The stop request changes together with the button's
    // label; `ending` is set once the worker has been told the run is over.
    std::atomic<bool> stopRequested{false};
    bool ending = false;
    pixloomFrame* window() const;
    // The window is going: forget it, stop the run, cancel the resize in
    // progress and wake the worker if it waits for the window.
    void windowClosing();

    // Worker. Runs task on the window's thread and returns its result;
    // nothing when the window has gone before the task could finish.
    template <class R>
    std::optional<R> onWindow(std::function<R(pixloomFrame&)> task);
    bool windowGone() const;
    // The image being resized, cancelled when the window closes.
    void track(Image* image);
    void finish(int exitStatus);
    // The worker thread has left the toolkit's thread code for good.
    void threadGone();

    // Any thread. Finished once the worker thread is gone.
    bool finished() const;
    bool waitFinished(std::chrono::milliseconds timeout) const;
    int exitStatus() const;  // 0 when every file taken was written, else 1

private:
    bool runOnWindow(std::function<void(pixloomFrame&)> task);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    pixloomFrame* frame;  // null once the window is closing
    Image* current = nullptr;
    bool done = false;
    int status = 0;
};

template <class R>
std::optional<R> RunLink::onWindow(std::function<R(pixloomFrame&)> task) {
    // The result lives with the task: a task still running when the worker
    // is let go must not write into the worker's frame.
    auto result = std::make_shared<std::optional<R>>();
    bool ran = runOnWindow([task, result](pixloomFrame& window) { *result = task(window); });
    if (!ran) return std::nullopt;
    return std::move(*result);
}

// The window's handle on its run; lets the worker go however the window goes.
struct RunHandle {
    std::shared_ptr<RunLink> link;
    RunHandle() = default;
    RunHandle(const RunHandle&) = delete;
    RunHandle& operator=(const RunHandle&) = delete;
    ~RunHandle() {
        if (link) link->windowClosing();
    }
};

// The detached worker of a run; lowest priority, no toolkit log dialogs.
class MyThread : public wxThread {
public:
    explicit MyThread(std::shared_ptr<RunLink> link);

protected:
    ExitCode Entry() override;

private:
    std::shared_ptr<RunLink> link;
};

// Waits until every run started in this process has ended; returns the exit
// status they call for: 1 when any of them failed a file, else 0.
int waitForConversionRuns();
void registerConversionRun(std::shared_ptr<RunLink> link);

// Tests only: called on the worker with each file taken, before it is
// converted. Set it while no run is active.
void setFileTakenHook(std::function<void(const wxString& source)> hook);
void fileTaken(const wxString& source);
