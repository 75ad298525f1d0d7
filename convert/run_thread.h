// A conversion run on a detached worker thread of the lowest priority.
#pragma once

#include "conversion_run.h"

#include <wx/thread.h>

#include <functional>
#include <memory>

class MyThread : public wxThread {
public:
    // The thread keeps the client and the run alive until it is gone.
    MyThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run);

protected:
    ExitCode Entry() override;

private:
    std::shared_ptr<RunClient> client;
    std::shared_ptr<ConversionRun> run;
};

// Starts run over client on a new MyThread; false when no thread could be
// started (the run then never begins).
bool startConversionThread(std::shared_ptr<RunClient> client, std::shared_ptr<ConversionRun> run);

// Waits until every run started in this process has ended and its thread is
// gone; returns the exit status they call for: 1 when any failed a file.
int waitForConversionRuns();
