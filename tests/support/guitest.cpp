#include "guitest.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dirdlg.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/toplevel.h>
#include <wx/utils.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

namespace guitest {
namespace {

std::mutex dialogsMutex;
std::vector<ShownDialog> dialogs;
int asserts = 0;

class RecordingHook : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override {
        ShownDialog shown;
        int answer = wxID_OK;
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            shown.kind = "message";
            shown.message = box->GetMessage();
            shown.caption = box->GetTitle();
            shown.style = box->GetMessageDialogStyle();
        } else if (auto* chooser = dynamic_cast<wxDirDialog*>(dialog)) {
            shown.kind = "dir";
            shown.message = chooser->GetMessage();
            answer = wxID_CANCEL;
        } else {
            shown.kind = dialog->GetClassInfo()->GetClassName();
        }
        std::lock_guard<std::mutex> lock(dialogsMutex);
        dialogs.push_back(shown);
        return answer;
    }
    void Exit(wxDialog*) override {}
};

void failOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ++asserts;
    ADD_FAILURE() << "wx assert at " << file.utf8_str() << ":" << line << " in "
                  << func.utf8_str() << ": " << cond.utf8_str() << " " << msg.utf8_str();
}

}  // namespace

// Outside the anonymous namespace: the app macro defines wxGetApp() for it.
class TestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        wxYield();
        wxTheApp->ProcessPendingEvents();
        while (wxTheApp->ProcessIdle()) {
        }
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

std::vector<ShownDialog> shownDialogs() {
    std::lock_guard<std::mutex> lock(dialogsMutex);
    return dialogs;
}

void clearShownDialogs() {
    std::lock_guard<std::mutex> lock(dialogsMutex);
    dialogs.clear();
    asserts = 0;
}

int assertCount() { return asserts; }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pixloom-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    dir = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TempHome::TempHome() {
    if (const char* previous = std::getenv("HOME")) {
        hadHome = true;
        savedHome = previous;
    }
    setenv("HOME", home.path().c_str(), 1);
}

TempHome::~TempHome() {
    if (hadHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

bool destroyAllWindows(std::chrono::milliseconds timeout) {
    const std::vector<wxWindow*> windows(wxTopLevelWindows.begin(), wxTopLevelWindows.end());
    for (wxWindow* window : windows) window->Destroy();
    return pumpUntil([] { return wxTopLevelWindows.empty(); }, timeout);
}

}  // namespace guitest

wxIMPLEMENT_APP_NO_MAIN(guitest::TestApp);

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no display
    wxSetAssertHandler(guitest::failOnAssert);
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot start the toolkit (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    static guitest::RecordingHook hook;
    hook.Register();
    wxLog::SetActiveTarget(new wxLogStderr);
    int rc = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
