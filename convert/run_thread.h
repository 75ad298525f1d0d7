// SPDX-License-Identifier: MIT
// A conversion run on a worker thread of the lowest priority. The thread is
// joined by whoever started it, before the toolkit is torn down.
#pragma once

#include "conversion_run.h"

#include <wx/thread.h>

#include <memory>

class MyThread : public wxThread {
public:
    // Joinable: its owner waits for it. It keeps the client and the run
    // alive while it runs.
    MyThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run);

protected:
    ExitCode Entry() override;

private:
    std::shared_ptr<RunClient> client;
    std::shared_ptr<ConversionRun> run;
};

// Owns the worker of one run.
class RunThread {
public:
    RunThread() = default;
    RunThread(const RunThread&) = delete;
    RunThread& operator=(const RunThread&) = delete;
    ~RunThread() { join(); }

    // Starts run over client on a new MyThread; false when no thread could
    // be started (the run then never begins).
    bool start(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run);
    // Waits until the worker has ended (at once when there is none); the
    // run's exit status then joins the program's (runsExitStatus).
    void join();
    bool started() const { return thread != nullptr; }

private:
    MyThread* thread = nullptr;
    std::shared_ptr<ConversionRun> run;
};

// The exit status the runs that ended so far call for: 1 when any failed a
// file, else 0.
int runsExitStatus();
