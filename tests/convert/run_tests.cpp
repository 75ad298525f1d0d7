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
    pixloomFrame* frame = nullptr;
    wxListBox* list = nullptr;
    wxButton *start = nullptr, *clear = nullptr;
    wxRadioBox *type = nullptr, *method = nullptr, *dst = nullptr;
    wxTextCtrl *suffix = nullptr, *saveDir = nullptr;
    wxComboBox* limit = nullptr;
    void attach(pixloomFrame* f) {
        frame = f;
        list = f->lstFiles;
        start = f->btnStart;
        clear = f->btnClearList;
        type = f->optFiletype;
        method = f->optMethod;
        dst = f->optDst;
        suffix = f->txtSuffix;
        saveDir = f->txtSaveDir;
        limit = f->cmbLimit;
    }
    std::shared_ptr<RunLink> runLink() const { return frame->run.link; }
};

namespace {

const wxString startText = L"6. 変換開始(Start convert)";
const wxString processingText = L"Processing... (Click to Stop)";
const wxString noFilesMessage = L"画像ファイルを指定してください。\nSet image file.";
const wxString noSuffixMessage = L"Suffixを指定してください。\nSet suffix.";
const wxString noFolderMessage = L"保存先を指定してください。\nSet save directory.";

// Holds the worker as it takes each file, until the test opens the gate.
struct Gate {
    std::atomic<int> taken{0}, niceness{0};
    std::atomic<bool> open{false};
    void arrive() {
        niceness = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        ++taken;
        while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

struct RunTest : ::testing::Test, FrameProbe {
    void SetUp() override {
        static bool handlers = (wxInitAllImageHandlers(), true);
        (void)handlers;
        guitest::clearShownDialogs();
        attach(new pixloomFrame(nullptr));
        frame->Show();
        ASSERT_TRUE(pumpUntil([this] { return frame->IsShownOnScreen(); }));
    }
    void TearDown() override {
        gate.open = true;
        EXPECT_TRUE(guitest::destroyAllWindows());
        EXPECT_TRUE(!link || pumpUntil([this] { return link->finished(); }));
        setFileTakenHook(nullptr);
    }

    void click(wxButton* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->ProcessWindowEvent(event);
    }
    void select(wxRadioBox* box, const wxString& label) {
        ASSERT_TRUE(box->SetStringSelection(label)) << label.utf8_str();
        wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
        event.SetEventObject(box);
        event.SetInt(box->GetSelection());
        box->ProcessWindowEvent(event);
    }
    // Writes the images; their full paths.
    wxArrayString images(const std::vector<std::string>& names, int width = 64, int height = 48) {
        wxArrayString paths;
        for (const auto& name : names) {
            savePng(dir / name, width, height);
            paths.Add(wx(dir / name));
        }
        return paths;
    }
    void add(const wxArrayString& paths) { frame->addFiles(list, paths); }
    void drop(wxArrayString paths) { static_cast<wxFileDropTarget*>(frame->GetDropTarget())->OnDropFiles(0, 0, paths); }
    // Starts the run and keeps its link, which outlives the window; a gated
    // run returns once the worker holds its first file.
    void startRun(bool gated) {
        if (gated) setFileTakenHook([this](const wxString&) { gate.arrive(); });
        click(start);
        link = runLink();
        ASSERT_TRUE(link);
        ASSERT_TRUE(!gated || pumpUntil([this] { return gate.taken >= 1; }));
    }
    bool windowClosed() { return pumpUntil([] { return wxTopLevelWindows.empty(); }); }
    bool runEnded() { return windowClosed() && pumpUntil([this] { return link->finished(); }); }
    std::vector<wxString> messages() {
        std::vector<wxString> texts;
        for (const auto& dialog : guitest::shownDialogs()) texts.push_back(dialog.message);
        return texts;
    }
    bool exists(const std::string& name) { return std::filesystem::exists(dir / name); }

    guitest::TempHome home;
    Folder dir;
    std::shared_ptr<RunLink> link;
    Gate gate;
};

}  // namespace

TEST_F(RunTest, StartChecksShowTheFirstFailureOnly) {
    suffix->SetValue("");
    click(start);
    ASSERT_EQ(messages(), std::vector<wxString>{noFilesMessage});
    EXPECT_EQ(guitest::shownDialogs()[0].caption, "Error");
    EXPECT_TRUE(guitest::shownDialogs()[0].style & wxICON_ERROR);
    EXPECT_EQ(start->GetLabel(), startText);
    EXPECT_FALSE(runLink());
    add(images({"a.png"}));
    const wxString folder = wx(dir.dir);
    const struct {
        const char* mode;
        wxString suffix, saveDir, message;  // message "": passes
    } cases[] = {
        {"Same Folder", "", "", noSuffixMessage},
        {"Same Folder", "   ", "", ""},
        {"Other Folder", "", "", noFolderMessage},  // the suffix is not looked at
        {"Other Folder", "", "nofolder", noFolderMessage},
        {"Other Folder", "", folder, ""},
        {"Other Folder", "", folder + "/new", ""},  // missing, inside an existing folder
        {"Other Folder", "", folder + "/new/", noFolderMessage},
    };
    for (const auto& c : cases) {
        guitest::clearShownDialogs();
        select(dst, c.mode);
        suffix->SetValue(c.suffix);
        saveDir->SetValue(c.saveDir);
        const auto expected = c.message.empty() ? std::vector<wxString>{} : std::vector<wxString>{c.message};
        EXPECT_EQ(frame->validateInputs(), c.message.empty()) << c.mode << " '" << c.saveDir.utf8_str() << "'";
        EXPECT_EQ(messages(), expected) << c.mode << " '" << c.suffix.utf8_str() << "'";
    }
}

struct FileType {
    const char* label;
    const char* extension;
    wxBitmapType type;
};

class WholeRunTest : public RunTest, public ::testing::WithParamInterface<FileType> {};

TEST_P(WholeRunTest, ConvertsEveryListedFileThenClosesTheWindow) {
    const FileType& t = GetParam();
    add(images({"a.png", "b.png", "c.png"}, 640, 480));
    select(type, t.label);
    limit->SetValue("10");  // KB: JPEG goes down to fit
    startRun(false);
    EXPECT_EQ(start->GetLabel(), processingText);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    EXPECT_TRUE(messages().empty());
    for (const std::string name : {"a_res", "b_res", "c_res"}) {
        const std::string path = dir / (name + t.extension);
        EXPECT_EQ(sizeOf(path, t.type), wxSize(320, 240)) << path;  // the preset 320x320, ratio kept
        EXPECT_LE(t.type == wxBITMAP_TYPE_JPEG ? std::filesystem::file_size(path) : 0, 10u * 1024) << path;
    }
    EXPECT_EQ(namesIn(dir.dir).size(), 6u);  // no temporaries left
}

INSTANTIATE_TEST_SUITE_P(Types, WholeRunTest,
                         ::testing::Values(FileType{"BMP", ".bmp", wxBITMAP_TYPE_BMP},
                                           FileType{"PNG", ".png", wxBITMAP_TYPE_PNG},
                                           FileType{"JPEG", ".jpg", wxBITMAP_TYPE_JPEG}),
                         [](const auto& info) { return std::string(info.param.label); });

// What the user does while the worker holds the first of a.png, b.png and
// c.png, and what the run writes after.
struct DuringRun {
    const char* name;
    std::function<void(RunTest&)> act;
    std::vector<std::string> written, notWritten;
    int taken;
};

class DuringRunTest : public RunTest, public ::testing::WithParamInterface<DuringRun> {};

TEST_P(DuringRunTest, TakesEffectFromTheNextFile) {
    add(images({"a.png", "b.png", "c.png"}));
    startRun(true);
    GetParam().act(*this);
    gate.open = true;
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    EXPECT_EQ(gate.niceness.load(), 19);
    EXPECT_EQ(gate.taken.load(), GetParam().taken);
    for (const auto& name : GetParam().written) EXPECT_TRUE(exists(name)) << name;
    for (const auto& name : GetParam().notWritten) EXPECT_FALSE(exists(name)) << name;
}

const DuringRun duringRuns[] = {
    {"StopWritesOnlyTheCurrentFile",
     [](RunTest& t) {
         t.click(t.start);
         EXPECT_EQ(t.start->GetLabel(), startText);  // at once, while the file goes on
         EXPECT_FALSE(wxTopLevelWindows.empty());
     },
     {"a_res.png"}, {"b_res.png", "c_res.png"}, 1},
    {"StartWhileStoppingTakesTheStopBack",
     [](RunTest& t) {
         t.click(t.start);
         t.click(t.start);
         EXPECT_EQ(t.start->GetLabel(), processingText);
         EXPECT_EQ(t.runLink(), t.link);  // no second worker
     },
     {"a_res.png", "b_res.png", "c_res.png"}, {}, 3},
    {"StopWithInvalidInputsIsRefused",
     [](RunTest& t) {
         t.suffix->SetValue("");
         t.click(t.start);
         EXPECT_EQ(t.messages(), std::vector<wxString>{noSuffixMessage});
         EXPECT_EQ(t.start->GetLabel(), processingText);
     },
     {"a_res.png", "b_res.png", "c_res.png"}, {}, 3},  // an empty suffix gives "_res"
    {"ClearEndsTheRunAfterTheCurrentFile", [](RunTest& t) { t.click(t.clear); },
     {"a_res.png"}, {"b_res.png", "c_res.png"}, 1},
    {"FileTypeChange", [](RunTest& t) { t.select(t.type, "JPEG"); },
     {"a_res.png", "b_res.jpg", "c_res.jpg"}, {"b_res.png"}, 3},
    {"DroppedFilesAreConverted", [](RunTest& t) { t.drop(t.images({"d.png", "e.png"})); },
     {"a_res.png", "c_res.png", "d_res.png", "e_res.png"}, {}, 5},
};

INSTANTIATE_TEST_SUITE_P(Actions, DuringRunTest, ::testing::ValuesIn(duringRuns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, TwoQuickClicksConvertNothing) {
    add(images({"a.png"}));
    startRun(false);
    click(start);  // before the worker's first look at the list
    ASSERT_TRUE(runEnded());
    EXPECT_FALSE(exists("a_res.png"));
    EXPECT_EQ(link->exitStatus(), 0);
}

TEST_F(RunTest, ClosingDuringARunSavesOnceAndLeavesNoPartialOutput) {
    add(images({"a.png", "b.png"}));
    startRun(true);
    frame->Close();
    ASSERT_TRUE(windowClosed());
    const std::string settings = home.dir() / ".pixloom";
    EXPECT_TRUE(std::filesystem::remove(settings));  // written at the close
    gate.open = true;
    ASSERT_TRUE(link->waitFinished(std::chrono::seconds(20)));
    guitest::pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(settings));  // and not again
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(gate.taken.load(), 1);
}

TEST_F(RunTest, UndecodableFileIsSkippedAndReported) {
    add(images({"a.png"}));
    writeText(dir / "broken.png", "not a picture");
    const wxString broken = wx(dir / "broken.png");
    add(wxArrayString(1, &broken));
    add(images({"c.png"}));
    ASSERT_EQ(list->GetCount(), 3u);
    startRun(false);
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png") && exists("c_res.png"));
    EXPECT_FALSE(exists("broken_res.png"));
    EXPECT_EQ(link->exitStatus(), 1);
    const auto shown = guitest::shownDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Error");
    EXPECT_TRUE(shown[0].message.Contains(broken));
}

TEST_F(RunTest, EngineMessagesReachTheUserFromTheWindowsThread) {
    setFileTakenHook([](const wxString&) { Image().resampleVertical(10); });  // "reduce only"
    add(images({"a.png"}));
    startRun(false);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(messages(), std::vector<wxString>{wxString(L"縮小専用です")});
}

TEST_F(RunTest, ClicksDropsClearsAndSettingChangesDuringARunAreSafe) {
    // Run under ThreadSanitizer too: the window's thread keeps changing what
    // the worker reads while files are converted.
    wxArrayString later;
    for (int i = 0; i < 6; ++i) {
        add(images({"a" + std::to_string(i) + ".png"}, 160, 120));
        WX_APPEND_ARRAY(later, images({"x" + std::to_string(i) + ".png"}, 160, 120));
    }
    startRun(false);
    const char* types[] = {"BMP", "PNG", "JPEG"};
    const char* methods[] = {"Nearest", "Lanczos3", "LCD(low)", "LCD(max)"};
    for (int step = 0; step < 3000 && !wxTopLevelWindows.empty(); ++step) {
        switch (step % 6) {
        case 0: select(type, types[step / 6 % 3]); break;
        case 1: select(method, methods[step / 6 % 4]); break;
        case 2: suffix->SetValue(step % 4 ? "_s" : "_t"); break;
        case 3: drop(later); break;
        case 4:  // stop, and take the stop back
            click(start);
            click(start);
            break;
        case 5:
            limit->SetValue(step % 4 ? "3" : "");
            if (step > 300) click(clear);
            break;
        }
        guitest::pumpFor(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    int written = 0;
    for (const std::string& name : namesIn(dir.dir)) {
        EXPECT_NE(name[0], '.') << "temporary left: " << name;
        if (name.find("_s.") == std::string::npos && name.find("_t.") == std::string::npos) continue;
        ++written;
        EXPECT_EQ(sizeOf(dir / name), wxSize(320, 240)) << name;
    }
    EXPECT_GE(written, 6);
}
