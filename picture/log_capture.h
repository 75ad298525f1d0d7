// SPDX-License-Identifier: MIT
// The toolkit's log messages raised on this thread while a LogCapture lives,
// kept instead of reaching any log target (a window's would show a box).
// So are its failed checks: raised while it reads a damaged file, they are
// about the file, and count as errors.
#pragma once

#include <wx/debug.h>
#include <wx/log.h>
#include <wx/thread.h>

#include <mutex>

class LogCapture : public wxLog {
public:
    // On the main thread the toolkit only consults the main target.
    LogCapture() : mainThread(wxThread::IsMain()), outer(current) {
        captureChecks();
        current = this;
        wasEnabled = wxLog::EnableLogging(true);  // under wxLogNull too
        previous = mainThread ? wxLog::SetActiveTarget(this) : wxLog::SetThreadActiveTarget(this);
    }
    ~LogCapture() override {
        if (mainThread)
            wxLog::SetActiveTarget(previous);
        else
            wxLog::SetThreadActiveTarget(previous);
        wxLog::EnableLogging(wasEnabled);
        current = outer;
    }

    bool sawError() const { return !firstError.empty() || !firstCheck.empty(); }
    // The first error, else the first failed check, else the first warning;
    // empty when there was none.
    const wxString& first() const {
        return !firstError.empty() ? firstError : !firstCheck.empty() ? firstCheck : firstWarning;
    }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override {
        if (level <= wxLOG_Error && firstError.empty())
            firstError = text;
        else if (level == wxLOG_Warning && firstWarning.empty())
            firstWarning = text;
    }

private:
    // The handler is the process's: installed once, over the one set before
    // (which still gets the checks that fail outside any capture).
    static void captureChecks() {
        static std::once_flag installed;
        std::call_once(installed, [] { otherChecks = wxSetAssertHandler(onCheck); });
    }
    static void onCheck(const wxString& file, int line, const wxString& function, const wxString& condition,
                        const wxString& message) {
        if (!current) {
            if (otherChecks) otherChecks(file, line, function, condition, message);
            return;
        }
        if (current->firstCheck.empty())
            current->firstCheck = wxT("the toolkit's check failed: ") + (message.empty() ? condition : message);
    }

    inline static thread_local LogCapture* current = nullptr;
    inline static wxAssertHandler_t otherChecks = nullptr;

    bool mainThread;
    LogCapture* outer;
    bool wasEnabled = true;
    wxLog* previous = nullptr;
    wxString firstError, firstWarning, firstCheck;
};
