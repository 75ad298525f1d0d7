#include "run_link.h"

#include "image.h"
#include "pixloomFrame.h"

#include <wx/app.h>
#include <wx/log.h>

#include <sys/resource.h>
#include <unistd.h>

#include <vector>

RunLink::RunLink(pixloomFrame* window) : frame(window) {}

pixloomFrame* RunLink::window() const {
    std::lock_guard<std::mutex> lock(mutex);
    return frame;
}

void RunLink::windowClosing() {
    stopRequested = true;
    std::lock_guard<std::mutex> lock(mutex);
    frame = nullptr;
    if (current) current->cancel();
    changed.notify_all();
}

bool RunLink::windowGone() const {
    std::lock_guard<std::mutex> lock(mutex);
    return frame == nullptr;
}

bool RunLink::runOnWindow(std::function<void(pixloomFrame&)> task) {
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

void RunLink::track(Image* image) {
    std::lock_guard<std::mutex> lock(mutex);
    current = image;
    if (current && !frame) current->cancel();
}

void RunLink::finish(int exitStatus) {
    std::lock_guard<std::mutex> lock(mutex);
    status = exitStatus;
}

void RunLink::threadGone() {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
}

bool RunLink::finished() const {
    std::lock_guard<std::mutex> lock(mutex);
    return done;
}

bool RunLink::waitFinished(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return done; });
}

int RunLink::exitStatus() const {
    std::lock_guard<std::mutex> lock(mutex);
    return status;
}

namespace {

// Destroyed when the worker thread exits, after the toolkit has done its
// own bookkeeping for the thread: only then may the toolkit be torn down.
struct LeavingThread {
    std::shared_ptr<RunLink> link;
    ~LeavingThread() {
        if (link) link->threadGone();
    }
};
thread_local LeavingThread leaving;

}  // namespace

MyThread::MyThread(std::shared_ptr<RunLink> link) : wxThread(wxTHREAD_DETACHED), link(std::move(link)) {}

wxThread::ExitCode MyThread::Entry() {
    // Lowest priority for this thread only (wxThread::SetPriority does
    // nothing here but log); threads the engine starts from it inherit it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    // The toolkit's image log would end up in dialogs; failures are
    // reported by the run itself. wxLogNull holds for this thread only.
    wxLogNull quiet;
    leaving.link = link;
    pixloomFrame::runConversion(link);
    return nullptr;
}

namespace {

std::mutex registryMutex;
std::vector<std::shared_ptr<RunLink>> runs;
std::function<void(const wxString&)> takenHook;

}  // namespace

void registerConversionRun(std::shared_ptr<RunLink> link) {
    std::lock_guard<std::mutex> lock(registryMutex);
    runs.push_back(std::move(link));
}

int waitForConversionRuns() {
    std::vector<std::shared_ptr<RunLink>> all;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        all = runs;
    }
    int status = 0;
    for (const auto& run : all) {
        while (!run->waitFinished(std::chrono::hours(1))) {
        }
        status = std::max(status, run->exitStatus());
    }
    return status;
}

void setFileTakenHook(std::function<void(const wxString& source)> hook) {
    std::lock_guard<std::mutex> lock(registryMutex);
    takenHook = std::move(hook);
}

void fileTaken(const wxString& source) {
    std::function<void(const wxString&)> hook;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        hook = takenHook;
    }
    if (hook) hook(source);
}
