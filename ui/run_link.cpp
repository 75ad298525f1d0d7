// SPDX-License-Identifier: MIT
#include "run_link.h"

#include "pixloomFrame.h"
#include "report.h"

#include <wx/app.h>

WindowLink::WindowLink(pixloomFrame* window) : frame(window) {}

pixloomFrame* WindowLink::window() const {
    std::lock_guard<std::mutex> lock(mutex);
    return frame;
}

void WindowLink::windowClosing() {
    stopRequested = true;
    std::lock_guard<std::mutex> lock(mutex);
    frame = nullptr;
    changed.notify_all();
}

bool WindowLink::windowGone() const {
    std::lock_guard<std::mutex> lock(mutex);
    return frame == nullptr;
}

bool WindowLink::runOnWindow(std::function<void(pixloomFrame&)> task) {
    if (wxThread::IsMain()) {  // already there: waiting for ourselves would never end
        pixloomFrame* here = window();
        if (here) task(*here);
        return here != nullptr;
    }
    struct Call {
        bool over = false;
        bool ran = false;
    };
    auto call = std::make_shared<Call>();
    if (windowGone()) return false;
    auto self = shared_from_this();
    wxTheApp->CallAfter([self, call, task] {
        pixloomFrame* there = self->window();  // null once closing: never touch it then
        if (there) task(*there);
        std::lock_guard<std::mutex> lock(self->mutex);
        call->over = true;
        call->ran = there != nullptr;
        self->changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return call->over || frame == nullptr; });
    return call->over && call->ran;
}

void WindowLink::post(std::function<void(pixloomFrame&)> task) {
    if (windowGone()) return;
    auto self = shared_from_this();
    wxTheApp->CallAfter([self, task] {
        if (pixloomFrame* there = self->window()) task(*there);  // never once it is closing
    });
}

std::optional<FileJob> WindowLink::takeFile() {
    auto taken = onWindow<std::optional<FileJob>>([](pixloomFrame& window) { return window.takeFile(); });
    return taken ? *taken : std::nullopt;
}

std::vector<wxString> WindowLink::nextFiles(const wxString& current, size_t count) {
    const wxString file(current.wc_str());  // a copy of its own for the window's thread
    auto next = onWindow<std::vector<wxString>>([file, count](pixloomFrame& window) {
        std::vector<wxString> copies;  // of their own for the worker
        for (const wxString& listed : window.nextFiles(file, count)) copies.emplace_back(listed.wc_str());
        return copies;
    });
    return next ? *next : std::vector<wxString>();
}

bool WindowLink::isWaiting(const wxString& path) {
    // Once the window is gone nothing more is written; claiming the name
    // waits is the safe answer meanwhile.
    return onWindow<bool>([path](pixloomFrame& window) { return window.isListed(path); }).value_or(true);
}

void WindowLink::fileDone(const wxString& source, const FileOutcome& outcome) {
    reportOutcome(source, outcome);
    const wxString done(source.wc_str());  // a copy of its own for the other thread
    post([done](pixloomFrame& window) { window.forgetFile(done); });
}

void WindowLink::runEnded(const std::vector<FileFailure>& failures) {
    std::vector<FileFailure> copies;  // of their own for the other thread
    for (const FileFailure& failure : failures)
        copies.push_back({wxString(failure.source.wc_str()), wxString(failure.reason.wc_str())});
    post([copies](pixloomFrame& window) { window.endRun(copies); });
}
