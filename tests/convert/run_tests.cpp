// The conversion run through the real window: the start checks, whole runs,
// and what the user may do while the worker converts a file.
#include "guitest.h"
#include "image.h"
#include "pixloomFrame.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using guitest::pumpUntil;
using namespace testfiles;

// The window's controls and run, which only this friend may reach.
struct FrameProbe {
    explicit FrameProbe(pixloomFrame* f)
        : frame(f), list(f->lstFiles), start(f->btnStart), clear(f->btnClearList), type(f->optFiletype),
          method(f->optMethod), dst(f->optDst), suffix(f->txtSuffix), saveDir(f->txtSaveDir), limit(f->cmbLimit),
          units(f->selUnits), width(f->spnWidth), height(f->spnHeight), browse(f->btnSaveDir) {}
    std::shared_ptr<RunLink> runLink() const { return frame->run.link; }
    pixloomFrame* frame;
    wxListBox* list;
    wxButton *start, *clear;
    wxRadioBox *type, *method, *dst;
    wxTextCtrl *suffix, *saveDir;
    wxComboBox* limit;
    wxChoice* units;
    wxSpinCtrl *width, *height;
    wxButton* browse;
};

namespace {

const wxString startText = L"6. 変換開始(Start convert)";
const wxString processingText = L"Processing... (Click to Stop)";
const wxString noSuffixMessage = L"Suffixを指定してください。\nSet suffix.";
const wxString noFolderMessage = L"保存先を指定してください。\nSet save directory.";

std::vector<wxString> messages() {
    std::vector<wxString> texts;
    for (const auto& dialog : guitest::shownDialogs()) texts.push_back(dialog.message);
    return texts;
}

struct RunTest : ::testing::Test {
    void SetUp() override {
        wxInitAllImageHandlers();  // each handler is added once
        guitest::clearShownDialogs();
        ui.frame->Show();
        ASSERT_TRUE(pumpUntil([this] { return ui.frame->IsShownOnScreen(); }));
    }
    void TearDown() override {
        open = true;
        EXPECT_TRUE(guitest::destroyAllWindows());
        EXPECT_TRUE(!link || pumpUntil([this] { return link->finished(); }));
        setFileTakenHook(nullptr);
    }

    // The control's command event, as a user's click or choice sends it.
    void send(wxControl* control, wxEventType type, int selection = 0) {
        wxCommandEvent event(type, control->GetId());
        event.SetEventObject(control);
        event.SetInt(selection);
        control->ProcessWindowEvent(event);
    }
    void click(wxButton* button) { send(button, wxEVT_BUTTON); }
    void select(wxRadioBox* box, const wxString& label) {
        ASSERT_TRUE(box->SetStringSelection(label)) << label.utf8_str();
        send(box, wxEVT_RADIOBOX, box->GetSelection());
    }
    // Writes the images; their full paths.
    wxArrayString images(const std::vector<std::string>& names, int width = 640, int height = 480) {
        wxArrayString paths;
        for (const auto& name : names) paths.Add(savePng(dir / name, width, height));
        return paths;
    }
    void add(const wxArrayString& paths) { ui.frame->addFiles(ui.list, paths); }
    void drop(wxArrayString paths) { static_cast<wxFileDropTarget*>(ui.frame->GetDropTarget())->OnDropFiles(0, 0, paths); }
    // Starts the run, keeping its link. The worker waits at each file it takes
    // until `open`; with untilFirstFile, returns once it holds the first one.
    void startRun(bool untilFirstFile) {
        open = !untilFirstFile;
        setFileTakenHook([this](const wxString&) {
            niceness = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            ++taken;
            while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        click(ui.start);
        link = ui.runLink();
        ASSERT_TRUE(link);
        ASSERT_TRUE(!untilFirstFile || pumpUntil([this] { return taken >= 1; }));
    }
    bool windowClosed() { return pumpUntil([] { return wxTopLevelWindows.empty(); }); }
    bool runEnded() { return windowClosed() && pumpUntil([this] { return link->finished(); }); }

    guitest::TempHome home;  // before the window, which reads the settings
    Folder dir;
    FrameProbe ui{new pixloomFrame(nullptr)};
    std::shared_ptr<RunLink> link;
    std::atomic<int> taken{0}, niceness{0};
    std::atomic<bool> open{false};
};

}  // namespace

TEST_F(RunTest, StartChecksShowTheFirstFailureOnly) {
    ui.suffix->SetValue("");
    click(ui.start);
    ASSERT_EQ(messages(), std::vector<wxString>{wxString(L"画像ファイルを指定してください。\nSet image file.")});
    EXPECT_TRUE(guitest::shownDialogs()[0].caption == "Error" && (guitest::shownDialogs()[0].style & wxICON_ERROR));
    EXPECT_EQ(ui.start->GetLabel(), startText);
    EXPECT_FALSE(ui.runLink());
    add(images({"a.png"}));
    const wxString folder = wx(dir.dir);
    const struct { const char* mode; wxString suffix, saveDir, message; } cases[] = {  // message "": passes
        {"Same Folder", "", "", noSuffixMessage},
        {"Same Folder", "   ", "", ""},
        {"Other Folder", "", "", noFolderMessage},  // the suffix is not looked at
        {"Other Folder", "", folder, ""},
        {"Other Folder", "", folder + "/new", ""},  // missing, inside an existing folder
        {"Other Folder", "", folder + "/new/", noFolderMessage},
    };
    for (const auto& c : cases) {
        guitest::clearShownDialogs();
        select(ui.dst, c.mode);
        ui.suffix->SetValue(c.suffix);
        ui.saveDir->SetValue(c.saveDir);
        EXPECT_EQ(ui.frame->validateInputs(), c.message.empty()) << c.mode << " '" << c.saveDir.utf8_str() << "'";
        EXPECT_EQ(messages(), c.message.empty() ? std::vector<wxString>{} : std::vector<wxString>{c.message});
    }
}

// A run over a.png, b.png, c.png (640x480 to the preset 320x320, JPEG limit 10 KB;
// b.png undecodable when exitStatus is 1): settings before the start, what the user
// does while the worker holds the first file (at once if none taken), what is written.
struct RunCase {
    const char* name;
    std::function<void(RunTest&)> before, during;
    std::vector<std::string> written, notWritten;
    int taken, exitStatus = 0;
};
void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }  // for test names and failures

class RunCaseTest : public RunTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunCaseTest, WritesWhatTheSettingsOfEachFileSay) {
    const RunCase& c = GetParam();
    add(images({"a.png", "b.png", "c.png"}));
    ui.limit->SetValue("10");
    if (c.exitStatus) writeText(dir / "b.png", "not a picture");
    if (c.before) c.before(*this);
    startRun(c.taken > 0);
    EXPECT_EQ(ui.start->GetLabel(), processingText);
    if (c.during) c.during(*this);
    open = true;
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), c.exitStatus);
    EXPECT_EQ(niceness.load(), c.taken ? 19 : 0);
    EXPECT_EQ(taken.load(), c.taken);
    for (const auto& name : c.written) {  // in the format its name says
        const std::string extension = name.substr(name.size() - 3);
        const wxBitmapType format = wxImage::FindHandler(extension, wxBITMAP_TYPE_ANY)->GetType();
        EXPECT_EQ(sizeOf(dir / name, format), wxSize(320, 240)) << name;
        const auto bytes = std::filesystem::file_size(dir / name);  // JPEG: the highest quality that fits
        EXPECT_TRUE(extension != "jpg" || (bytes <= 10 * 1024 && bytes > 8 * 1024)) << name << ": " << bytes;
    }
    for (const auto& name : c.notWritten) EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
    for (const auto& name : namesIn(dir.dir)) EXPECT_NE(name[0], '.') << "temporary left: " << name;
    if (c.during) return;  // its own messages
    ASSERT_EQ(messages().size(), c.exitStatus ? 1u : 0u);
    EXPECT_TRUE(!c.exitStatus || messages()[0].Contains(wx(dir / "b.png")));  // naming the file
}

const std::vector<std::string> allPng{"a_res.png", "b_res.png", "c_res.png"};

const RunCase runCases[] = {
    {"Bmp", [](RunTest& t) { t.select(t.ui.type, "BMP"); }, nullptr, {"a_res.bmp", "b_res.bmp", "c_res.bmp"}, {}, 3},
    {"Png", nullptr, nullptr, allPng, {}, 3},
    {"Jpeg", [](RunTest& t) { t.select(t.ui.type, "JPEG"); }, nullptr, {"a_res.jpg", "b_res.jpg", "c_res.jpg"}, {}, 3},
    {"UndecodableFileIsSkippedAndReported", nullptr, nullptr, {"a_res.png", "c_res.png"}, {"b_res.png"}, 3, 1},
    {"PercentIsPassedAsPercent",
     [](RunTest& t) { t.ui.units->SetStringSelection("%"); t.ui.width->SetValue(50); t.ui.height->SetValue(50); },
     nullptr, allPng, {}, 3},
    {"TwoQuickClicksConvertNothing", nullptr, [](RunTest& t) { t.click(t.ui.start); }, {}, {"a_res.png"}, 0},
    {"StopWritesOnlyTheCurrentFile", nullptr,
     [](RunTest& t) { t.click(t.ui.start); EXPECT_EQ(t.ui.start->GetLabel(), startText); },  // at once
     {"a_res.png"}, {"b_res.png", "c_res.png"}, 1},
    {"StartWhileStoppingTakesTheStopBack", nullptr,  // with no second worker
     [](RunTest& t) {
         t.click(t.ui.start);
         t.click(t.ui.start);
         EXPECT_TRUE(t.ui.start->GetLabel() == processingText && t.ui.runLink() == t.link);
     },
     allPng, {}, 3},
    {"StopWithInvalidInputsIsRefused", nullptr,  // the empty suffix is then "_res"
     [](RunTest& t) {
         t.ui.suffix->SetValue("");
         t.click(t.ui.start);
         EXPECT_EQ(messages(), std::vector<wxString>{noSuffixMessage});
         EXPECT_EQ(t.ui.start->GetLabel(), processingText);
     },
     allPng, {}, 3},
    {"ClearEndsTheRunAfterTheCurrentFile", nullptr, [](RunTest& t) { t.click(t.ui.clear); }, {"a_res.png"},
     {"b_res.png", "c_res.png"}, 1},
    {"FileTypeChange", nullptr, [](RunTest& t) { t.select(t.ui.type, "JPEG"); },
     {"a_res.png", "b_res.jpg", "c_res.jpg"}, {"b_res.png"}, 3},
    {"DroppedFilesAreConverted", nullptr, [](RunTest& t) { t.drop(t.images({"d.png", "e.png"})); },
     {"a_res.png", "c_res.png", "d_res.png", "e_res.png"}, {}, 5},
};

INSTANTIATE_TEST_SUITE_P(Runs, RunCaseTest, ::testing::ValuesIn(runCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, ClosingDuringARunSavesOnceAndLeavesNoPartialOutput) {
    add(images({"a.png", "b.png"}));
    startRun(true);
    ui.frame->Close();
    ASSERT_TRUE(windowClosed());
    const std::string settings = std::string(getenv("HOME")) + "/.pixloom";
    EXPECT_TRUE(std::filesystem::remove(settings));  // written at the close
    open = true;
    ASSERT_TRUE(link->waitFinished(std::chrono::seconds(20)));
    guitest::pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(settings));  // and not again
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(taken.load(), 1);
}

TEST_F(RunTest, EngineMessagesReachTheUserFromTheWindowsThread) {
    setFileTakenHook([](const wxString&) { Image().resampleVertical(10); });  // "reduce only"
    add(images({"a.png"}));
    click(ui.start);
    link = ui.runLink();
    ASSERT_TRUE(link && runEnded());
    EXPECT_EQ(messages(), std::vector<wxString>{wxString(L"縮小専用です")});
}

TEST_F(RunTest, ClicksDropsClearsAndSettingChangesDuringARunAreSafe) {
    // Run under ThreadSanitizer too: the window's thread keeps changing what
    // the worker reads while files are converted.
    add(images({"a0.png", "a1.png", "a2.png", "a3.png", "a4.png", "a5.png"}, 160, 120));
    const wxArrayString later = images({"x0.png", "x1.png", "x2.png", "x3.png", "x4.png", "x5.png"}, 160, 120);
    startRun(false);
    const char* types[] = {"BMP", "PNG", "JPEG"};
    const char* methods[] = {"Nearest", "Lanczos3", "LCD(low)", "LCD(mid)", "LCD(hi)", "LCD(ex)", "LCD(max)"};
    for (int i = 0; i < 300 && !wxTopLevelWindows.empty(); ++i) {
        select(ui.type, types[i % 3]);
        select(ui.method, methods[i % 7]);
        ui.suffix->SetValue(i % 2 ? "_s" : "_t");
        ui.limit->SetValue(i % 2 ? "3" : "");
        click(ui.start);  // stop, and take the stop back
        click(ui.start);
        if (i % 20 == 19) click(ui.clear);
        drop(later);
        guitest::pumpFor(std::chrono::milliseconds(1));
    }
    if (!wxTopLevelWindows.empty()) click(ui.clear);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    const auto names = namesIn(dir.dir);  // 12 sources of 160x120, their outputs 320x240
    for (const std::string& name : names) {
        EXPECT_NE(name[0], '.') << "temporary left: " << name;
        EXPECT_EQ(sizeOf(dir / name), name.find('_') == std::string::npos ? wxSize(160, 120) : wxSize(320, 240)) << name;
    }
    EXPECT_GE(names.size(), 12u + 6u);
}

TEST_F(RunTest, ARunEndingWhileADialogIsOpenClosesTheWindowOnlyAfterIt) {
    // A modal dialog's loop runs the worker's requests; the run's end must not
    // destroy the window under the dialog.
    add(images({"a.png"}));
    ui.frame->setFolderChooser([this](const wxString&) {
        startRun(false);
        EXPECT_TRUE(pumpUntil([this] { return link->finished(); }));  // the whole run, inside the dialog
        guitest::pumpFor(std::chrono::milliseconds(100));
        return wx(dir.dir);
    });
    select(ui.dst, "Other Folder");
    ui.saveDir->SetValue(wx(dir.dir));
    click(ui.browse);
    ASSERT_FALSE(wxTopLevelWindows.empty());
    EXPECT_EQ(ui.saveDir->GetValue(), wx(dir.dir));
    EXPECT_TRUE(windowClosed());
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "a_res.png"}));
}
