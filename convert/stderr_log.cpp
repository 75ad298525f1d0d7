#include "stderr_log.h"

#include <wx/debug.h>
#include <wx/log.h>

#include <cstdio>
#include <string>

namespace {

std::string program = "pixloom";

void printLine(const wxString& text) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), static_cast<const char*>(text.utf8_str()));
}

class StandardErrorLog : public wxLog {
protected:
    void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo&) override {
        if (level <= wxLOG_Info) printLine(message);  // not the toolkit's debug and trace chatter
    }
};

void reportFailedCheck(const wxString& file, int line, const wxString& function, const wxString& condition,
                       const wxString& message) {
    printLine(wxString::Format(wxT("internal check failed in %s (%s:%d): %s %s"), function, file, line, condition,
                               message));
}

}  // namespace

void logToStandardError(const char* programName) {
    program = programName;
    delete wxLog::SetActiveTarget(new StandardErrorLog);
    wxSetAssertHandler(reportFailedCheck);
}
