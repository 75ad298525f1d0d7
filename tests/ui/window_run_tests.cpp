// SPDX-License-Identifier: MIT
// The conversion run through the real window: start checks, whole runs, and what the user may do meanwhile.
#include "image.h"
#include "window_probe.h"

#include <fcntl.h>
#include <sys/stat.h>

using guitest::pumpUntil;

const wxString processingText = L"Processing... (Click to Stop)";

struct RunTest : FrameProbe {
    void SetUp() override { start(); }
};

TEST_F(RunTest, StartChecksShowTheFirstFailureOnly) {
    const wxString folder = wx(dir.dir), noFolder = L"保存先を指定してください。\nSet save directory.";
    const struct { const char* mode; wxString suffix, saveDir, message; } cases[] = {  // message "": passes
        {"Same Folder", "", "", L"画像ファイルを指定してください。\nSet image file."},  // no file listed yet
        {"Same Folder", "", "", L"Suffixを指定してください。\nSet suffix.\n\n"
                                L"{w} 幅(width)、{h} 高さ(height)、{size} 指定サイズ(size asked for) が使えます。\n"
                                L"{w}, {h} and {size} stand for the output's width, height and the size asked for."},
        {"Same Folder", "   ", "", ""},
        {"Other Folder", "", "", noFolder},  // the suffix is not looked at
        {"Other Folder", "", folder + "/new", ""},  // missing, inside an existing folder
        {"Other Folder", "", folder + "/new/", noFolder},
    };
    for (const auto& c : cases) {
        guitest::clearShownDialogs();
        select(optDst, c.mode);
        txtSuffix->SetValue(c.suffix);
        txtSaveDir->SetValue(c.saveDir);
        EXPECT_EQ(frame->validateInputs(), c.message.empty()) << c.mode << " '" << c.saveDir.utf8_str() << "'";
        EXPECT_EQ(messages(), c.message.empty() ? std::vector<wxString>{} : std::vector<wxString>{c.message});
        if (&c == cases) add(images({"a.png"}));
    }
}

// A run over a.png, b.png, c.png (640x480 to the preset 320x320, JPEG limit 10 KB; b.png undecodable
// when exitStatus is 1): what the user does while the worker holds the first file, files taken, outputs.
struct RunCase {
    const char* name; wxString type; std::function<void(RunTest&)> during;
    int taken; std::vector<std::string> written; int exitStatus = 0;
};
void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }
class RunCaseTest : public RunTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunCaseTest, WritesWhatTheSettingsOfEachFileSay) {
    const RunCase& c = GetParam();
    add(images({"a.png", "b.png", "c.png"}));
    cmbLimit->SetValue("10");
    if (c.exitStatus) writeText(dir / "b.png", "not a picture");
    select(optFiletype, c.type);
    startRun(true);
    ASSERT_TRUE(pumpUntil([this] { return taken >= 1; }));
    EXPECT_EQ(btnStart->GetLabel(), processingText);
    EXPECT_TRUE(frame->GetTitle().EndsWith(L" — 0 / 3")) << frame->GetTitle().utf8_str();  // files done of all
    if (c.during) c.during(*this);
    release();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(std::make_tuple(link->exitStatus(), taken.load(), niceness.load()),
              std::make_tuple(c.exitStatus, c.taken, 19));
    std::vector<std::string> outputs;  // or temporaries: all but the sources "x.png"
    for (const auto& name : namesIn(dir.dir)) if (name.size() != 5) outputs.push_back(name);
    EXPECT_EQ(outputs, c.written);
    for (const auto& name : outputs) {  // in the format its name says; lossy ones at the highest quality that fits
        const std::string extension = name.substr(name.rfind('.') + 1), head = readFile(dir / name).substr(0, 12);
        const std::string format = head.rfind("BM", 0) == 0 ? "bmp" : head.rfind("\x89PNG", 0) == 0 ? "png"
                                   : head.rfind("\xFF\xD8", 0) == 0 ? "jpg" : head.substr(8) == "WEBP" ? "webp" : "?";
        const auto bytes = std::filesystem::file_size(dir / name);
        EXPECT_EQ(format, extension) << name;
        EXPECT_EQ(sizeOf(dir / name), wxSize(320, 240)) << name;
        EXPECT_TRUE(extension != "jpg" || (bytes <= 10 * 1024 && bytes > 8 * 1024)) << name << ": " << bytes;
        EXPECT_TRUE(extension != "webp" || bytes <= 10 * 1024) << name << ": " << bytes;
    }
    ASSERT_EQ(messages().size(), c.exitStatus ? 1u : 0u);
    EXPECT_TRUE(!c.exitStatus || messages()[0].Contains(wx(dir / "b.png")));  // naming the file
}

const RunCase runCases[] = {
    {"UndecodableFileIsSkippedAndReported", "PNG", nullptr, 3, {"a_res.png", "c_res.png"}, 1},
    {"StopWritesOnlyTheCurrentFileAndNeedsNoValidInputs", "PNG",  // the checks only guard the start
     [](RunTest& t) {
         t.txtSuffix->SetValue(""), t.send(t.btnStart);
         EXPECT_NE(t.btnStart->GetLabel(), processingText);
         EXPECT_EQ(t.messages().size(), 0u);
     }, 1, {"a_res.png"}},
    {"StartWhileStoppingTakesTheStopBack", "PNG",  // with no second worker, as a run left alone
     [](RunTest& t) { t.send(t.btnStart), t.send(t.btnStart); EXPECT_TRUE(t.runLink() == t.link); }, 3,
     {"a_res.png", "b_res.png", "c_res.png"}},
    {"ClearEndsTheRunAfterTheCurrentFile", "PNG", [](RunTest& t) { t.send(t.btnClearList); }, 1, {"a_res.png"}},
    {"FileTypeChange", "BMP", [](RunTest& t) { t.select(t.optFiletype, "WebP"); }, 3,
     {"a_res.bmp", "b_res.webp", "c_res.webp"}},
    {"DroppedFilesAreConverted", "JPEG", [](RunTest& t) { t.drop(t.images({"d.png", "e.png"})); }, 5,
     {"a_res.jpg", "b_res.jpg", "c_res.jpg", "d_res.jpg", "e_res.jpg"}},
    {"ClosingLeavesNoPartialOutput", "PNG", [](RunTest& t) { EXPECT_TRUE(t.frame->Close() && t.windowClosed()); }, 1,
     {}},
};
INSTANTIATE_TEST_SUITE_P(Runs, RunCaseTest, ::testing::ValuesIn(runCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, EngineMessagesReachTheUserFromTheWindowsThread) {
    seams::onFileTaken([](const wxString&) { Image().resampleVertical(10); });  // "reduce only"
    add(images({"a.png"}));
    send(btnStart);
    ASSERT_TRUE((link = runLink()) && runEnded());
    EXPECT_EQ(messages(), std::vector<wxString>{wxString(L"縮小専用です")});
}

TEST_F(RunTest, ClicksDropsClearsAndSettingChangesDuringARunAreSafe) {  // under ThreadSanitizer too
    const wxArrayString files = images({"a0.png", "a1.png", "a2.png", "a3.png", "a4.png", "a5.png"}, 160, 120);
    add(files);
    startRun(false);
    for (unsigned i = 0; i < 300 && !wxTopLevelWindows.empty(); ++i) {  // changing what the worker reads
        select(optFiletype, optFiletype->GetString(i % optFiletype->GetCount()));
        select(optMethod, optMethod->GetString(i % optMethod->GetCount()));
        txtSuffix->SetValue(i % 2 ? "_s" : "_t");
        cmbLimit->SetValue(i % 2 ? "30" : "");
        send(btnStart), send(btnStart);  // stop, and take the stop back
        if (i % 20 == 19) send(btnClearList);
        drop(files);  // listed again once converted
        guitest::pumpOnce();
    }
    ASSERT_TRUE(runEnded());  // the files dropped last are converted too
    EXPECT_EQ(link->exitStatus(), 0);
    const auto names = namesIn(dir.dir);  // the sources "aN.png" 160x120, their outputs 320x240, no temporary
    for (const std::string& name : names)
        EXPECT_TRUE(name[0] != '.' && sizeOf(dir / name) == (name.size() == 6 ? wxSize(160, 120) : wxSize(320, 240)))
            << name;
    for (char k = '0'; k <= '5'; ++k)
        EXPECT_TRUE(std::any_of(names.begin(), names.end(), [&](const std::string& name) {
            return name.size() > 6 && name[1] == k;
        })) << "a" << k << ".png was not converted";
}

// A modal dialog's loop runs the worker's requests: the run's end must not destroy the window under it. The close
// after it saves the settings the command line starts from: it writes the same bytes, with the same dates and sizes
// (c.png fits the box and keeps its size).
TEST_F(RunTest, ARunEndingWhileADialogIsOpenClosesTheWindowOnlyAfterItAndTheCommandLineWritesTheSameBytes) {
    add(images({"a.png", "b.png"}, 500, 400));
    add(images({"c.png"}, 200, 100));
    select(optFiletype, "JPEG");
    select(optMethod, "LCD(max)");
    cmbLimit->SetValue("8");
    txtSuffix->SetValue("_{w}");
    chkOnlyReduce->SetValue(true), chkKeepDates->SetValue(true);
    const timespec sourceTimes[] = {{1600000000, 5}, {1500000000, 123456789}};  // accessed, modified
    for (const char* name : {"a.png", "b.png", "c.png"})
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / name).c_str(), sourceTimes, 0), 0);
    frame->setFolderChooser([this](const wxString&) {
        startRun(false);
        EXPECT_TRUE(pumpUntil([this] { return link->ended(); }));  // the whole run, inside the dialog
        guitest::pumpOnce();  // its end, told before it ended, reaches the window
        return wx(dir.dir);
    });
    send(btnSaveDir);  // in Same Folder mode: the run needs no folder
    ASSERT_FALSE(wxTopLevelWindows.empty());
    EXPECT_EQ(txtSaveDir->GetValue(), wx(dir.dir));  // the chooser's answer reached the living window
    EXPECT_TRUE(windowClosed());
    EXPECT_EQ(namesIn(dir.dir),
              (std::vector<std::string>{"a.png", "a_320.jpg", "b.png", "b_320.jpg", "c.png", "c_200.jpg"}));
    const std::string command = std::string(PIXLOOM_BATCH) + " --suffix _batch{w} " + dir / "a.png" + " " +
                                dir / "b.png" + " " + dir / "c.png";
    ASSERT_EQ(std::system(("HOME=" + home.dir + " " + command + " 2>/dev/null").c_str()), 0);
    const std::pair<std::string, std::string> outputs[] = {
        {"a_320.jpg", "a_batch320.jpg"}, {"b_320.jpg", "b_batch320.jpg"}, {"c_200.jpg", "c_batch200.jpg"}};
    for (const auto& [window, batch] : outputs) {
        for (const std::string& output : {window, batch}) {
            struct stat info {};
            ASSERT_EQ(stat((dir / output).c_str(), &info), 0) << output;
            EXPECT_EQ(std::make_pair(info.st_mtim.tv_sec, info.st_mtim.tv_nsec), std::make_pair(1500000000L, 123456789L));
        }
        EXPECT_FALSE(readFile(dir / window).empty());
        EXPECT_TRUE(readFile(dir / window) == readFile(dir / batch)) << window;
    }
    EXPECT_EQ(sizeOf(dir / "c_200.jpg"), wxSize(200, 100));
}

// A dropped folder's files go under its name and sub-folders in the other folder, also after the list was edited;
// a file dropped on its own goes straight in.
TEST_F(RunTest, KeepSubFoldersPutsADroppedFoldersFilesUnderItsName) {
    std::filesystem::create_directories(dir / "photos/2024");
    std::filesystem::create_directory(dir / "out");
    images({"photos/2024/a.png", "photos/b.png", "photos/d.png", "c.png"}, 64, 48);
    select(optDst, "Other Folder");
    txtSaveDir->SetValue(wx(dir / "out"));
    ASSERT_TRUE(chkKeepTree->IsEnabled());
    chkKeepTree->SetValue(true);
    const auto dropOne = [this](const std::string& path) { wxArrayString paths; paths.Add(wx(path)); drop(paths); };
    dropOne(dir / "photos");
    lstFiles->Delete(static_cast<unsigned>(lstFiles->FindString(wx(dir / "photos/d.png"))));  // gone some other way
    dropOne(dir / "c.png");  // the list is read again
    startRun(false);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(namesIn(dir / "out"), (std::vector<std::string>{"c.png", "photos/2024/a.png", "photos/b.png"}));
}
