// Support for in-process tests against real wx windows under Xvfb.
#pragma once

#include <wx/string.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace guitest {

// Runs pending events, CallAfter and idle work until the condition holds or the
// timeout passes; returns the condition.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));
void pumpFor(std::chrono::milliseconds duration);
// Destroys every top-level window; true when all went within the timeout.
bool destroyAllWindows(std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A modal dialog that the hook answered (wxID_OK, folder choosers wxID_CANCEL) instead of showing it.
struct ShownDialog {
    wxString kind;     // "message", "dir" or the dialog's class name
    wxString message;  // a message box's text, a folder chooser's prompt
    wxString caption;
    long style = 0;
};
std::vector<ShownDialog> shownDialogs();  // in order, since the last clear
void clearShownDialogs();

// Points $HOME at a fresh empty folder below the system temp folder while it lives, and removes the
// folder after: nothing touches the real ~/.pixloom, and tests may keep their files there too.
struct TempHome {
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
    std::string saved;  // the previous $HOME; empty when it was unset
};

}  // namespace guitest
