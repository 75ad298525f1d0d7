#include "guitest.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/toplevel.h>

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

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no display
    wxSetAssertHandler(guitest::failOnAssert);
    wxApp::SetInstance(new wxApp);  // a plain app: each test builds its own windows
    if (!wxEntryStart(argc, argv)) return fprintf(stderr, "cannot start the toolkit (no display?)\n"), 1;
    static guitest::RecordingHook hook;
    hook.Register();
    wxLog::SetActiveTarget(new wxLogStderr);
    wxInitAllImageHandlers();  // once: a second time only logs each as a duplicate
    const int rc = RUN_ALL_TESTS();
    wxEntryCleanup();
    return rc;
}
