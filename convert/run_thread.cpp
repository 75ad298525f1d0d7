#include "run_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <vector>

namespace {

std::mutex registryMutex;
std::vector<std::shared_ptr<ConversionRun>> runs;

// Destroyed when the worker thread exits, after the toolkit has done its own
// bookkeeping for the thread: only then may the toolkit be torn down.
struct LeavingThread {
    std::shared_ptr<ConversionRun> run;
    int status = 1;
    ~LeavingThread() {
        if (run) run->finish(status);
    }
};
thread_local LeavingThread leaving;

}  // namespace

MyThread::MyThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run)
    : wxThread(wxTHREAD_DETACHED), client(std::move(client)), run(std::move(run)) {}

wxThread::ExitCode MyThread::Entry() {
    // Lowest priority for this thread only (wxThread::SetPriority does
    // nothing here but log); threads started from it inherit it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    leaving.run = run;
    leaving.status = run->runConversion();
    return nullptr;
}

bool startConversionThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run) {
    auto* thread = new MyThread(client, run);
    if (thread->Create(0) != wxTHREAD_NO_ERROR) {
        delete thread;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);  // before it can end
        runs.push_back(run);
    }
    if (thread->Run() == wxTHREAD_NO_ERROR) return true;
    delete thread;
    std::lock_guard<std::mutex> lock(registryMutex);
    runs.pop_back();
    return false;
}

int waitForConversionRuns() {
    std::vector<std::shared_ptr<ConversionRun>> all;
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
