// SPDX-License-Identifier: MIT
#include "run_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> worstStatus{0};
}  // namespace

MyThread::MyThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run)
    : wxThread(wxTHREAD_JOINABLE), client(std::move(client)), run(std::move(run)) {}

wxThread::ExitCode MyThread::Entry() {
    // Lowest priority for this thread only (wxThread::SetPriority does
    // nothing here but log); threads started from it inherit it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    pthread_setname_np(pthread_self(), "pixloom-run");
    run->runConversion();
    return nullptr;
}

bool RunThread::start(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> converting) {
    join();
    auto* started = new MyThread(std::move(client), converting);
    if (started->Create(0) != wxTHREAD_NO_ERROR || started->Run() != wxTHREAD_NO_ERROR) {
        delete started;
        return false;
    }
    thread = started;
    run = std::move(converting);
    return true;
}

void RunThread::join() {
    if (!thread) return;
    thread->Wait();
    delete thread;
    thread = nullptr;
    int seen = worstStatus;
    while (run->exitStatus() > seen && !worstStatus.compare_exchange_weak(seen, run->exitStatus())) {}
    run.reset();
}

int runsExitStatus() { return worstStatus; }
