// SPDX-License-Identifier: MIT
#include "guitest.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/toplevel.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace guitest {
namespace {
std::vector<ShownDialog> dialogs;  // the hook runs on the window thread, as the tests do

class RecordingHook : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override {
        ShownDialog shown{dialog->GetClassInfo()->GetClassName(), "", "", 0};
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog))
            shown = {"message", box->GetMessage(), box->GetTitle(), box->GetMessageDialogStyle()};
        else if (auto* chooser = dynamic_cast<wxDirDialog*>(dialog))
            shown = {"dir", chooser->GetMessage(), "", 0};
        dialogs.push_back(shown);
        return shown.kind == "dir" ? wxID_CANCEL : wxID_OK;
    }
    void Exit(wxDialog*) override {}
};

void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
    ADD_FAILURE() << "wx assert at " << file.utf8_str() << ":" << line << " in " << func.utf8_str() << ": "
                  << cond.utf8_str() << " " << msg.utf8_str();
}
}  // namespace

void pumpOnce() {
    wxYield();
    wxTheApp->ProcessPendingEvents();
    while (wxTheApp->ProcessIdle()) continue;
}

bool pumpUntil(const std::function<bool()>& condition, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pumpOnce();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
}

bool destroyAllWindows(milliseconds timeout) {
    for (wxWindow* window : std::vector<wxWindow*>(wxTopLevelWindows.begin(), wxTopLevelWindows.end()))
        window->Destroy();
    return pumpUntil([] { return wxTopLevelWindows.empty(); }, timeout);
}

std::vector<ShownDialog> shownDialogs() { return dialogs; }
void clearShownDialogs() { dialogs.clear(); }
}  // namespace guitest

namespace {
// Each test program on an X server of its own: tests click with real input
// and read the screen back, so no other program's window may lie over theirs
// (ctest runs several programs at once).
class PrivateScreen {
public:
    PrivateScreen() {
        int ready[2];
        if (pipe(ready) != 0) return;
        server = fork();
        if (server == 0) startServer(ready[1]);
        close(ready[1]);
        std::string number;
        char c;
        while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;  // written once it takes connections
        close(ready[0]);
        if (!number.empty()) setenv("DISPLAY", (":" + number).c_str(), 1);
        unsetenv("XAUTHORITY");  // the server checks no credentials
        started = !number.empty();
    }
    ~PrivateScreen() {
        if (server <= 0) return;
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    bool ok() const { return started; }

private:
    [[noreturn]] static void startServer(int readyFd) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test program that crashed leaves no server behind
        freopen("/dev/null", "w", stdout), freopen("/dev/null", "w", stderr);
        const std::string fd = std::to_string(readyFd);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0",
               "1280x1024x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_t server = -1;
    bool started = false;
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no display
    PrivateScreen screen;
    if (!screen.ok()) return fprintf(stderr, "cannot start Xvfb (scripts/setup.sh installs it)\n"), 1;
    wxSetAssertHandler(guitest::failOnAssert);
    wxApp::SetInstance(new wxApp);  // a plain app: each test builds its own windows
    if (!wxEntryStart(argc, argv)) return fprintf(stderr, "cannot start the toolkit\n"), 1;
    static guitest::RecordingHook hook;
    hook.Register();
    wxLog::SetActiveTarget(new wxLogStderr);
    wxInitAllImageHandlers();  // once: a second time only logs each as a duplicate
    const int rc = RUN_ALL_TESTS();
    wxEntryCleanup();
    return rc;
}
