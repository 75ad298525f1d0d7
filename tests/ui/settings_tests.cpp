// Settings: what ~/.pixloom restores at start and what a close writes,
// against a real window under Xvfb with HOME pointed at a temporary folder.
#include "commandline.h"
#include "guitest.h"
#include "pixloomFrame.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct FrameProbe {
    explicit FrameProbe(pixloomFrame& frame)
        : frame(frame), optSize(frame.optSize), spnWidth(frame.spnWidth), spnHeight(frame.spnHeight),
          selUnits(frame.selUnits), chkFixRatio(frame.chkFixRatio), optMethod(frame.optMethod),
          optFiletype(frame.optFiletype), spnQuality(frame.spnQuality), cmbLimit(frame.cmbLimit),
          optDst(frame.optDst), txtSuffix(frame.txtSuffix), txtSaveDir(frame.txtSaveDir) {}

    void save() { frame.saveSettings(); }

    pixloomFrame& frame;
    wxRadioBox* optSize;
    wxSpinCtrl* spnWidth;
    wxSpinCtrl* spnHeight;
    wxChoice* selUnits;
    wxCheckBox* chkFixRatio;
    wxRadioBox* optMethod;
    wxRadioBox* optFiletype;
    wxSpinCtrl* spnQuality;
    wxComboBox* cmbLimit;
    wxRadioBox* optDst;
    wxTextCtrl* txtSuffix;
    wxTextCtrl* txtSaveDir;
};

namespace {

std::string utf8(const wxString& text) { return std::string(text.utf8_str()); }

// The twelve settings as the controls show them, in key order.
std::vector<std::string> shown(const FrameProbe& c) {
    return {utf8(c.optSize->GetStringSelection()),     std::to_string(c.spnWidth->GetValue()),
            std::to_string(c.spnHeight->GetValue()),   utf8(c.selUnits->GetStringSelection()),
            c.chkFixRatio->GetValue() ? "1" : "0",     utf8(c.optMethod->GetStringSelection()),
            utf8(c.optFiletype->GetStringSelection()), std::to_string(c.spnQuality->GetValue()),
            utf8(c.cmbLimit->GetValue()),              utf8(c.optDst->GetStringSelection()),
            utf8(c.txtSuffix->GetValue()),             utf8(c.txtSaveDir->GetValue())};
}

const std::vector<std::string> builtIn{"320x320", "320", "320", "px", "1", "LCD(hi)",
                                       "PNG",     "90",  "",    "Same Folder", "_res", ""};

std::string fileText(const std::vector<std::string>& v) {
    return "[Size]\noptSize=" + v[0] + "\nspnWidth=" + v[1] + "\nspnHeight=" + v[2] + "\nselUnits=" + v[3] +
           "\nchkFixRatio=" + v[4] + "\n[Method]\noptMethod=" + v[5] + "\n[Filetype]\noptFiletype=" + v[6] +
           "\nspnQuality=" + v[7] + "\ncmbLimit=" + v[8] + "\n[Saveto]\noptDst=" + v[9] +
           "\ntxtSuffix=" + v[10] + "\ntxtSaveDir=" + v[11] + "\n";
}

const std::vector<std::string> stored{"Other", "800",          "600",    "%",      "0",
                                      "Lanczos3", "JPEG",      "70",     "300",    "Other Folder",
                                      "_klein",   "/tmp/写真 フォルダ"};

// Puts the values, in key order, into the controls.
void show(const FrameProbe& c, const std::vector<std::string>& v) {
    const auto text = [](const std::string& s) { return wxString::FromUTF8(s.c_str()); };
    c.optSize->SetStringSelection(text(v[0]));
    c.spnWidth->SetValue(std::stoi(v[1]));
    c.spnHeight->SetValue(std::stoi(v[2]));
    c.selUnits->SetStringSelection(text(v[3]));
    c.chkFixRatio->SetValue(v[4] == "1");
    c.optMethod->SetStringSelection(text(v[5]));
    c.optFiletype->SetStringSelection(text(v[6]));
    c.spnQuality->SetValue(std::stoi(v[7]));
    c.cmbLimit->SetValue(text(v[8]));
    c.optDst->SetStringSelection(text(v[9]));
    c.txtSuffix->SetValue(text(v[10]));
    c.txtSaveDir->SetValue(text(v[11]));
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::clearShownDialogs();
        setCommandLineArguments(0, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(guitest::destroyAllWindows()); }

    FrameProbe start() { return FrameProbe(*new pixloomFrame(nullptr)); }

    // Closes the window as the user does; true when it went.
    bool close(FrameProbe& frame) {
        frame.frame.Close();
        return guitest::pumpUntil([] { return wxTopLevelWindows.empty(); });
    }

    void store(const std::string& text) { std::ofstream(settingsFile, std::ios::binary) << text; }
    std::string storedText() const { return readText(settingsFile); }

    // Starts with the file as it is, checks that every control holds a
    // usable value, and closes; the file written then restores the same.
    void expectUsableStartAndClose() {
        FrameProbe frame = start();
        EXPECT_NE(frame.optSize->GetSelection(), wxNOT_FOUND);
        EXPECT_GE(frame.spnWidth->GetValue(), 1);
        EXPECT_GE(frame.spnHeight->GetValue(), 1);
        EXPECT_NE(frame.selUnits->GetSelection(), wxNOT_FOUND);
        const std::vector<std::string> before = shown(frame);
        ASSERT_TRUE(close(frame));
        EXPECT_EQ(shown(start()), before) << storedText();
        EXPECT_TRUE(guitest::destroyAllWindows());
    }

    guitest::TempHome home;  // before any frame: nothing touches the real ~/.pixloom
    const std::string settingsFile = home.dir() / ".pixloom";
};

TEST_F(SettingsTest, TheFirstCloseWritesTwelveKeysInFourGroups) {
    FrameProbe frame = start();
    EXPECT_EQ(shown(frame), builtIn);
    EXPECT_FALSE(fs::exists(settingsFile));  // starting writes nothing
    ASSERT_TRUE(close(frame));
    EXPECT_EQ(storedText(), fileText(builtIn));
}

TEST_F(SettingsTest, StoredSettingsComeBackAndAreWrittenBackUnchanged) {
    store(fileText(stored));
    FrameProbe frame = start();
    EXPECT_EQ(shown(frame), stored);
    EXPECT_TRUE(frame.spnWidth->IsEnabled());  // "Other" keeps the stored size editable
    ASSERT_TRUE(close(frame));
    EXPECT_EQ(storedText(), fileText(stored));
}

TEST_F(SettingsTest, AStoredPresetOverridesTheStoredSize) {
    store("[Size]\noptSize=1920x1080\nspnWidth=800\nspnHeight=600\nselUnits=%\nchkFixRatio=0\n");
    FrameProbe frame = start();
    ASSERT_TRUE(close(frame));
    std::vector<std::string> expected = builtIn;
    expected[0] = "1920x1080", expected[1] = "1920", expected[2] = "1080";
    EXPECT_EQ(storedText(), fileText(expected));
}

TEST_F(SettingsTest, EmptyMissingOrUnknownValuesKeepTheBuiltInStates) {
    struct Case {
        std::string file;
        size_t key;  // index in key order
        std::string expected;
    };
    const Case cases[] = {
        {"[Size]\noptSize=\n", 0, "320x320"},
        {"[Size]\noptSize=Huge\n", 0, "320x320"},
        // An empty or damaged size keeps the built-in number rather than an
        // empty field that would read as 1.
        {"[Size]\noptSize=Other\n", 1, "320"},
        {"[Size]\noptSize=Other\nspnWidth=\nspnHeight=abc\n", 1, "320"},
        {"[Size]\noptSize=Other\nspnWidth=\nspnHeight=abc\n", 2, "320"},
        {"[Size]\noptSize=Other\nspnWidth=99999999999999999999\n", 1, "320"},
        {"[Size]\noptSize=Other\nspnWidth= 640 \n", 1, "640"},
        {"[Size]\noptSize=Other\nspnWidth=70000\nspnHeight=-5\n", 1, "65535"},  // limited to the range
        {"[Size]\noptSize=Other\nspnWidth=70000\nspnHeight=-5\n", 2, "1"},
        {"[Size]\noptSize=Other\nselUnits=cm\n", 3, "px"},
        {"[Size]\noptSize=Other\nchkFixRatio=\n", 4, "1"},
        {"[Size]\noptSize=Other\nchkFixRatio=no\n", 4, "1"},
        {"[Size]\noptSize=Other\nchkFixRatio=0x0\n", 4, "1"},
        {"[Size]\noptSize=Other\nchkFixRatio=0\n", 4, "0"},
        {"[Method]\noptMethod=\n", 5, "LCD(hi)"},
        {"[Method]\noptMethod=Bicubic\n", 5, "LCD(hi)"},
        {"[Filetype]\noptFiletype=GIF\n", 6, "PNG"},
        {"[Filetype]\nspnQuality=\n", 7, "90"},
        {"[Filetype]\nspnQuality=abc\n", 7, "90"},
        {"[Filetype]\nspnQuality=150\n", 7, "100"},
        {"[Filetype]\ncmbLimit=\n", 8, ""},
        {"[Saveto]\noptDst=Elsewhere\n", 9, "Same Folder"},
        {"[Saveto]\ntxtSuffix=\n", 10, "_res"},
        {"[Saveto]\ntxtSaveDir=\n", 11, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        store(c.file);
        EXPECT_EQ(shown(start())[c.key], c.expected);
        EXPECT_TRUE(guitest::destroyAllWindows());
    }
}

TEST_F(SettingsTest, ADamagedFileStartsWithTheBuiltInStates) {
    std::mt19937 random(7);
    std::string garbage(4000, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    store(garbage);
    FrameProbe frame = start();
    EXPECT_EQ(shown(frame), builtIn);
    EXPECT_TRUE(guitest::destroyAllWindows());
    expectUsableStartAndClose();
}

TEST_F(SettingsTest, ATruncatedFileStartsWithUsableControls) {
    const std::string whole = fileText(stored);
    for (size_t length = 0; length < whole.size(); length += 9) {
        SCOPED_TRACE(length);
        store(whole.substr(0, length));
        expectUsableStartAndClose();
    }
}

TEST_F(SettingsTest, AFolderInPlaceOfTheFileIsLeftAlone) {
    fs::create_directory(settingsFile);
    FrameProbe frame = start();
    EXPECT_EQ(shown(frame), builtIn);
    ASSERT_TRUE(close(frame));
    EXPECT_TRUE(fs::is_directory(settingsFile));
}

TEST_F(SettingsTest, ACloseReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    store(fileText(builtIn));
    const std::string earlier = home.dir() / "earlier";
    fs::create_hard_link(settingsFile, earlier);  // the old file, whatever happens to the name
    FrameProbe frame = start();
    show(frame, stored);
    EXPECT_TRUE(fs::equivalent(settingsFile, earlier));  // reading rewrote nothing
    ASSERT_TRUE(close(frame));

    EXPECT_FALSE(fs::equivalent(settingsFile, earlier));  // a new file took the name
    EXPECT_EQ(readText(earlier), fileText(builtIn));      // the old one was never written into
    EXPECT_EQ(storedText(), fileText(stored));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(home.dir().path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".pixloom", "earlier"}));
}

TEST_F(SettingsTest, SavingWorksWithoutClosingAndACloseIsNeverVetoed) {
    FrameProbe frame = start();
    frame.txtSuffix->SetValue(wxT("_saved"));
    frame.save();
    EXPECT_NE(storedText().find("txtSuffix=_saved\n"), std::string::npos);
    EXPECT_EQ(wxTopLevelWindows.size(), 1u);

    frame.txtSuffix->SetValue(wxT("_closed"));
    EXPECT_TRUE(frame.frame.Close(false));  // a close that may be vetoed is not
    ASSERT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }));
    EXPECT_NE(storedText().find("txtSuffix=_closed\n"), std::string::npos);
}

}  // namespace
