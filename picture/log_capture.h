// The toolkit's log messages raised on this thread while a LogCapture lives,
// kept instead of reaching any log target (a window's would show a box).
#pragma once

#include <wx/log.h>
#include <wx/thread.h>

class LogCapture : public wxLog {
public:
    // On the main thread the toolkit only consults the main target.
    LogCapture() : mainThread(wxThread::IsMain()) {
        wasEnabled = wxLog::EnableLogging(true);  // under wxLogNull too
        previous = mainThread ? wxLog::SetActiveTarget(this) : wxLog::SetThreadActiveTarget(this);
    }
    ~LogCapture() override {
        if (mainThread) wxLog::SetActiveTarget(previous);
        else wxLog::SetThreadActiveTarget(previous);
        wxLog::EnableLogging(wasEnabled);
    }

    bool sawError() const { return !firstError.empty(); }
    // The first error, else the first warning; empty when there was none.
    const wxString& first() const { return sawError() ? firstError : firstWarning; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override {
        if (level <= wxLOG_Error && firstError.empty()) firstError = text;
        else if (level == wxLOG_Warning && firstWarning.empty()) firstWarning = text;
    }

private:
    bool mainThread;
    bool wasEnabled = true;
    wxLog* previous = nullptr;
    wxString firstError, firstWarning;
};
