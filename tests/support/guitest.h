// Support for in-process tests against real wx windows under Xvfb.
#pragma once

#include <wx/string.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace guitest {

// Runs the event loop's pending work (events, CallAfter, idle handlers)
// until the condition holds or the timeout passes; returns the condition.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs pending work for roughly the given time.
void pumpFor(std::chrono::milliseconds duration);

// A modal dialog the hook answered instead of showing it.
struct ShownDialog {
    wxString kind;     // "message", "dir" or the dialog's class name
    wxString message;  // text of a message box, prompt of a folder chooser
    wxString caption;
    long style = 0;
};

// Every modal dialog shown since the last clear, in order. The hook answers
// each with wxID_OK (wxID_CANCEL for folder choosers).
std::vector<ShownDialog> shownDialogs();
void clearShownDialogs();

// Failed wx asserts since the last clear; the harness fails the running test
// on each one as it happens.
int assertCount();

// A fresh empty folder below the system temp folder, removed by the caller's
// TempDir destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return dir; }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

// Points $HOME at a fresh empty folder while it lives, so that nothing reads
// or writes the real ~/.pixloom (wxFileConfig follows $HOME).
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    const TempDir& dir() const { return home; }

private:
    TempDir home;
    bool hadHome = false;
    std::string savedHome;
};

// Destroys every top-level window and pumps until they are gone; returns
// whether they went within the timeout.
bool destroyAllWindows(std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace guitest
