// The conversion run through the real window: the start checks, whole runs,
// and what the user may do while the worker converts a file.
#include "guitest.h"
#include "pixloomFrame.h"
#include "run_link.h"
#include "test_files.h"

#include "image.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/image.h>

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

using guitest::pumpUntil;
using testfiles::Folder;

struct FrameProbe {
    pixloomFrame* frame;
    explicit FrameProbe(pixloomFrame* frame) : frame(frame) {}

    wxListBox* list() const { return frame->lstFiles; }
    wxButton* start() const { return frame->btnStart; }
    wxTextCtrl* suffix() const { return frame->txtSuffix; }
    wxTextCtrl* saveDir() const { return frame->txtSaveDir; }
    wxComboBox* limit() const { return frame->cmbLimit; }
    std::shared_ptr<RunLink> link() const { return frame->run.link; }

    void click(wxButton* button) const {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->ProcessWindowEvent(event);
    }
    void select(wxRadioBox* box, const wxString& label) const {
        ASSERT_TRUE(box->SetStringSelection(label)) << label.utf8_str();
        wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
        event.SetEventObject(box);
        event.SetInt(box->GetSelection());
        box->ProcessWindowEvent(event);
    }
    void clickStart() const { click(frame->btnStart); }
    void clearList() const { click(frame->btnClearList); }
    void fileType(const wxString& label) const { select(frame->optFiletype, label); }
    void method(const wxString& label) const { select(frame->optMethod, label); }
    void destination(const wxString& label) const { select(frame->optDst, label); }
    void add(const std::vector<std::string>& paths) const {
        wxArrayString array;
        for (const auto& path : paths) array.Add(wxString::FromUTF8(path.c_str()));
        frame->addFiles(frame->lstFiles, array);
    }
    void drop(const std::vector<std::string>& paths) const {
        wxArrayString array;
        for (const auto& path : paths) array.Add(wxString::FromUTF8(path.c_str()));
        static_cast<wxFileDropTarget*>(frame->GetDropTarget())->OnDropFiles(0, 0, array);
    }
};

namespace {

const wxString startText = L"6. 変換開始(Start convert)";
const wxString processingText = L"Processing... (Click to Stop)";
const wxString noFilesMessage = L"画像ファイルを指定してください。\nSet image file.";
const wxString noSuffixMessage = L"Suffixを指定してください。\nSet suffix.";
const wxString noFolderMessage = L"保存先を指定してください。\nSet save directory.";

// Holds the worker as it takes each file, until the test lets it go on.
class Gate {
public:
    void install() {
        setFileTakenHook([this](const wxString& source) { arrive(source); });
    }
    void arrive(const wxString& source) {
        std::unique_lock<std::mutex> lock(mutex);
        taken.push_back(wxString(source.wc_str()));
        niceness = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    size_t takenCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return taken.size();
    }
    bool waitTaken(size_t count) {
        return pumpUntil([&] { return takenCount() >= count; });
    }
    void openAll() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    int workerNiceness() {
        std::lock_guard<std::mutex> lock(mutex);
        return niceness;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<wxString> taken;
    bool open = false;
    int niceness = 0;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool handlers = (wxInitAllImageHandlers(), true);
        (void)handlers;
        guitest::clearShownDialogs();
        frame = new pixloomFrame(nullptr);
        frame->Show();
        probe = std::make_unique<FrameProbe>(frame);
        ASSERT_TRUE(pumpUntil([this] { return frame->IsShownOnScreen(); }));
    }
    void TearDown() override {
        gate.openAll();
        EXPECT_TRUE(guitest::destroyAllWindows());
        if (link) {
            EXPECT_TRUE(pumpUntil([this] { return link->finished(); }));
        }
        setFileTakenHook(nullptr);
    }

    // Image files in the folder; their full paths.
    std::vector<std::string> images(const std::vector<std::string>& names, int width = 64, int height = 48) {
        std::vector<std::string> paths;
        for (const auto& name : names) {
            testfiles::save(testfiles::pattern(width, height), dir / name, wxBITMAP_TYPE_PNG);
            paths.push_back(dir / name);
        }
        return paths;
    }

    // Starts the run and keeps its link, which outlives the window.
    void start() {
        probe->clickStart();
        link = probe->link();
        ASSERT_TRUE(link);
    }

    bool windowClosed() { return pumpUntil([] { return wxTopLevelWindows.empty(); }); }
    bool runEnded() { return windowClosed() && pumpUntil([this] { return link->finished(); }); }

    std::vector<wxString> messages() {
        std::vector<wxString> texts;
        for (const auto& dialog : guitest::shownDialogs()) texts.push_back(dialog.message);
        return texts;
    }

    bool exists(const std::string& name) { return std::filesystem::exists(dir / name); }

    wxSize sizeOf(const std::string& name) {
        wxImage image;
        if (!image.LoadFile(wxString::FromUTF8((dir / name).c_str()))) return wxSize(-1, -1);
        return image.GetSize();
    }

    guitest::TempHome home;
    Folder dir;
    pixloomFrame* frame = nullptr;
    std::unique_ptr<FrameProbe> probe;
    std::shared_ptr<RunLink> link;
    Gate gate;
};

}  // namespace

TEST_F(RunTest, EmptyListShowsOnlyTheFirstMessage) {
    probe->suffix()->SetValue(wxT(""));
    probe->clickStart();
    ASSERT_EQ(messages(), std::vector<wxString>{noFilesMessage});
    const auto shown = guitest::shownDialogs().front();
    EXPECT_EQ(shown.caption, wxT("Error"));
    EXPECT_TRUE(shown.style & wxICON_ERROR);
    EXPECT_EQ(probe->start()->GetLabel(), startText);
    EXPECT_FALSE(probe->link());
}

TEST_F(RunTest, SuffixIsCheckedInSameFolderMode) {
    probe->add(images({"a.png"}));
    probe->suffix()->SetValue(wxT(""));
    probe->clickStart();
    EXPECT_EQ(messages(), std::vector<wxString>{noSuffixMessage});
    guitest::clearShownDialogs();
    probe->suffix()->SetValue(wxT("   "));  // blanks are a suffix
    EXPECT_TRUE(frame->validateInputs());
    EXPECT_TRUE(messages().empty());
}

TEST_F(RunTest, FolderPartIsCheckedInOtherFolderMode) {
    probe->add(images({"a.png"}));
    probe->destination(wxT("Other Folder"));
    probe->suffix()->SetValue(wxT(""));  // not looked at in this mode
    const wxString folder = wxString::FromUTF8(dir.path().c_str());
    const std::pair<wxString, bool> cases[] = {
        {wxT(""), false},
        {wxT("nofolder"), false},
        {folder, true},
        {folder + wxT("/new"), true},  // a missing folder inside an existing one
        {folder + wxT("/new/"), false},
        {folder + wxT("/"), true},
    };
    for (const auto& [text, passes] : cases) {
        guitest::clearShownDialogs();
        probe->saveDir()->SetValue(text);
        EXPECT_EQ(frame->validateInputs(), passes) << text.utf8_str();
        EXPECT_EQ(messages(), passes ? std::vector<wxString>{} : std::vector<wxString>{noFolderMessage})
            << text.utf8_str();
    }
}

class WholeRunTest : public RunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WholeRunTest, ConvertsEveryListedFileThenClosesTheWindow) {
    const wxString type = GetParam();
    const std::string extension = type == wxT("JPEG") ? ".jpg" : type == wxT("PNG") ? ".png" : ".bmp";
    probe->add(images({"a.png", "b.png", "c.png"}, 640, 480));
    probe->fileType(type);
    probe->limit()->SetValue(wxT("10"));  // KB: JPEG goes down to fit
    start();
    EXPECT_EQ(probe->start()->GetLabel(), processingText);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    EXPECT_TRUE(messages().empty());
    for (const std::string name : {"a_res", "b_res", "c_res"}) {
        EXPECT_EQ(sizeOf(name + extension), wxSize(320, 240)) << name;  // the preset 320x320, ratio kept
        if (type == wxT("JPEG")) {
            EXPECT_LE(std::filesystem::file_size(dir / (name + extension)), 10u * 1024);
        }
    }
    EXPECT_EQ(testfiles::namesIn(dir.path()).size(), 6u);  // no temporaries left
}

INSTANTIATE_TEST_SUITE_P(Types, WholeRunTest, ::testing::Values("BMP", "PNG", "JPEG"));

TEST_F(RunTest, RunReducesWithTheSizeControls) {
    testfiles::save(testfiles::pattern(800, 600), dir / "big.png", wxBITMAP_TYPE_PNG);
    probe->add({dir / "big.png"});
    probe->method(wxT("Nearest"));
    start();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(sizeOf("big_res.png"), wxSize(320, 240));
}

TEST_F(RunTest, WorkerRunsAtTheLowestPriority) {
    gate.install();
    probe->add(images({"a.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    EXPECT_EQ(gate.workerNiceness(), 19);
    gate.openAll();
    ASSERT_TRUE(runEnded());
}

TEST_F(RunTest, StopDuringTheFirstFileWritesOnlyThatFile) {
    gate.install();
    probe->add(images({"a.png", "b.png", "c.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->clickStart();
    EXPECT_EQ(probe->start()->GetLabel(), startText);  // at once
    EXPECT_FALSE(wxTopLevelWindows.empty());           // the file in progress goes on
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png"));
    EXPECT_FALSE(exists("b_res.png"));
    EXPECT_FALSE(exists("c_res.png"));
    EXPECT_EQ(gate.takenCount(), 1u);
}

TEST_F(RunTest, TwoQuickClicksConvertNothing) {
    probe->add(images({"a.png"}));
    start();
    probe->clickStart();  // before the worker's first look at the list
    ASSERT_TRUE(runEnded());
    EXPECT_FALSE(exists("a_res.png"));
    EXPECT_EQ(link->exitStatus(), 0);
}

TEST_F(RunTest, StartClickWhileStoppingTakesTheStopBack) {
    gate.install();
    probe->add(images({"a.png", "b.png", "c.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->clickStart();  // stop
    probe->clickStart();  // start again while the first file is in progress
    EXPECT_EQ(probe->start()->GetLabel(), processingText);
    EXPECT_EQ(probe->link(), link);  // the same run, no second worker
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png") && exists("b_res.png") && exists("c_res.png"));
    EXPECT_EQ(gate.takenCount(), 3u);
}

TEST_F(RunTest, StopClickWithInvalidInputsShowsTheMessageAndGoesOn) {
    gate.install();
    probe->add(images({"a.png", "b.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->suffix()->SetValue(wxT(""));
    probe->clickStart();
    EXPECT_EQ(messages(), std::vector<wxString>{noSuffixMessage});
    EXPECT_EQ(probe->start()->GetLabel(), processingText);
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png"));
    EXPECT_TRUE(exists("b_res.png"));  // empty suffix: the "_res" of the collision rule
}

TEST_F(RunTest, ClearingTheListEndsTheRunAfterTheCurrentFile) {
    gate.install();
    probe->add(images({"a.png", "b.png", "c.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->clearList();
    EXPECT_EQ(probe->list()->GetCount(), 0u);
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png"));
    EXPECT_FALSE(exists("b_res.png"));
    EXPECT_EQ(link->exitStatus(), 0);
}

TEST_F(RunTest, FileTypeChangedDuringARunAppliesToTheNextFile) {
    gate.install();
    probe->add(images({"a.png", "b.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->fileType(wxT("JPEG"));
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png"));
    EXPECT_TRUE(exists("b_res.jpg"));
    EXPECT_FALSE(exists("b_res.png"));
}

TEST_F(RunTest, FilesDroppedDuringARunAreConverted) {
    gate.install();
    probe->add(images({"a.png"}));
    const auto later = images({"b.png", "c.png"});
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    probe->drop(later);
    EXPECT_EQ(probe->list()->GetCount(), 3u);
    gate.openAll();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png") && exists("b_res.png") && exists("c_res.png"));
}

TEST_F(RunTest, ClosingDuringARunSavesOnceAndLeavesNoPartialOutput) {
    gate.install();
    probe->add(images({"a.png", "b.png"}));
    start();
    ASSERT_TRUE(gate.waitTaken(1));
    frame->Close();
    ASSERT_TRUE(windowClosed());
    const std::string settings = home.dir() / ".pixloom";
    EXPECT_TRUE(std::filesystem::exists(settings));
    std::filesystem::remove(settings);
    gate.openAll();
    ASSERT_TRUE(link->waitFinished(std::chrono::seconds(20)));
    guitest::pumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(settings));  // written once, at the close
    EXPECT_EQ(testfiles::namesIn(dir.path()), (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(gate.takenCount(), 1u);
}

TEST_F(RunTest, UndecodableFileIsSkippedAndReported) {
    probe->add(images({"a.png"}));
    testfiles::writeText(dir / "broken.png", "not a picture");
    probe->add({dir / "broken.png"});
    probe->add(images({"c.png"}));
    ASSERT_EQ(probe->list()->GetCount(), 3u);
    start();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(exists("a_res.png"));
    EXPECT_FALSE(exists("broken_res.png"));
    EXPECT_TRUE(exists("c_res.png"));
    EXPECT_EQ(link->exitStatus(), 1);
    const auto shown = guitest::shownDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, wxT("Error"));
    EXPECT_TRUE(shown[0].message.Contains(wxString::FromUTF8((dir / "broken.png").c_str())));
}

TEST_F(RunTest, EngineMessagesReachTheUserFromTheWindowsThread) {
    setFileTakenHook([](const wxString&) {
        Image empty;
        empty.resampleVertical(10);  // the engine's "reduce only" complaint
    });
    probe->add(images({"a.png"}));
    start();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(messages(), std::vector<wxString>{wxString(L"縮小専用です")});
}

TEST_F(RunTest, ClicksDropsClearsAndSettingChangesDuringARunAreSafe) {
    // Meant to be run under ThreadSanitizer too: the window's thread keeps
    // changing what the worker reads while files are converted.
    std::vector<std::string> names, extras;
    for (int i = 0; i < 6; ++i) {
        names.push_back("a" + std::to_string(i) + ".png");
        extras.push_back("x" + std::to_string(i) + ".png");
    }
    probe->add(images(names, 160, 120));
    const auto later = images(extras, 160, 120);
    start();
    const wxString types[] = {wxT("BMP"), wxT("PNG"), wxT("JPEG")};
    const wxString methods[] = {wxT("Nearest"), wxT("Lanczos3"), wxT("LCD(low)"), wxT("LCD(max)")};
    for (int step = 0; step < 3000 && !wxTopLevelWindows.empty(); ++step) {
        switch (step % 6) {
        case 0: probe->fileType(types[step / 6 % 3]); break;
        case 1: probe->method(methods[step / 6 % 4]); break;
        case 2: probe->suffix()->SetValue(step % 4 ? wxT("_s") : wxT("_t")); break;
        case 3: probe->drop(later); break;
        case 4:  // stop, then take the stop back
            probe->clickStart();
            probe->clickStart();
            break;
        case 5:
            probe->limit()->SetValue(step % 4 ? wxT("3") : wxT(""));
            if (step > 300) probe->clearList();
            break;
        }
        guitest::pumpFor(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(link->exitStatus(), 0);
    int written = 0;
    for (const std::string& name : testfiles::namesIn(dir.path())) {
        EXPECT_NE(name[0], '.') << "temporary left: " << name;
        if (name.find("_s.") == std::string::npos && name.find("_t.") == std::string::npos) continue;
        ++written;
        EXPECT_EQ(sizeOf(name), wxSize(320, 240)) << name;
    }
    EXPECT_GE(written, 6);
}
