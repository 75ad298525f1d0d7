// SPDX-License-Identifier: MIT
// The main window under Xvfb with HOME at a fresh folder: its texts, option panel, layout, file list, settings.
#include "commandline.h"
#include "settings_file.h"
#include "settings_text.h"
#include "window_probe.h"

#include <wx/msgdlg.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

namespace fs = std::filesystem;
using guitest::pumpUntil;
using Strings = std::vector<std::string>;
using Windows = std::initializer_list<wxWindow*>;

namespace {
std::string utf8(const wxString& s) { return std::string(s.utf8_str()); }
// Paths as the toolkit hands them over: bytes decoded as file names, and back.
wxString fileName(const std::string& bytes) { return wxString(bytes.c_str(), *wxConvFileName); }
std::string bytesOf(const wxString& name) {
    const wxCharBuffer buffer = wxConvFileName->cWX2MB(name.wc_str());
    return buffer.data() ? buffer.data() : "<unconvertible>";
}

// A settings file of these values in key order (the JPEG coding's two at their built-in values).
std::string fileText(const Strings& v) {
    return "[Size]\noptSize=" + v[0] + "\nspnWidth=" + v[1] + "\nspnHeight=" + v[2] + "\nselUnits=" + v[3] +
           "\nchkFixRatio=" + v[4] + "\nchkOnlyReduce=" + v[14] + "\n[Method]\noptMethod=" + v[5] +
           "\nchkLinear=" + v[15] + "\n[Filetype]\noptFiletype=" + v[6] + "\nspnQuality=" + v[7] +
           "\ncmbLimit=" + v[8] + "\nchkProgressive=0\nspnMinQuality=1" + "\n[Saveto]\noptDst=" + v[9] +
           "\ntxtSuffix=" + v[10] + "\ntxtSaveDir=" + v[11] + "\nchkKeepTree=" + v[12] +
           "\nchkKeepDates=" + v[13] + "\n";
}

class UiTest : public FrameProbe {
protected:
    // The size fields, then which size, JPEG and folder controls are enabled.
    std::string state() const {
        std::string text = std::to_string(spnWidth->GetValue()) + "x" + std::to_string(spnHeight->GetValue()) + " " +
                           utf8(selUnits->GetStringSelection()) + (chkFixRatio->GetValue() ? " fixed" : " free");
        for (wxWindow* window : Windows{nullptr, lblOther, spnWidth, lblTimes, spnHeight, lblUnit, selUnits,
                                 chkFixRatio, nullptr, lblQuality, spnQuality, lblLimit, cmbLimit, lblKB, nullptr,
                                 lblSuffix, txtSuffix, lblSaveDir, txtSaveDir, btnSaveDir, chkKeepTree})
            text += !window ? ' ' : window->IsEnabled() ? '1' : '0';
        return text;
    }
    Strings under(const Strings& names) const {
        Strings paths;
        for (const std::string& name : names) paths.push_back(home / name);
        return paths;
    }
    void dropNamed(const Strings& paths) {
        wxArrayString array;
        for (const std::string& path : paths) array.Add(fileName(path));
        drop(array);
    }
    Strings entries() const {
        Strings result;
        for (const wxString& entry : lstFiles->GetStrings()) result.push_back(bytesOf(entry));
        return result;
    }
};

}  // namespace

// Every text the window shows in its built-in state ("-": disabled), its help boxes (first lines) and the folder
// chooser; what each selection enables and sets; the layout; every binding gone with the window.
TEST_F(UiTest, ShowsItsTextsSelectionsSetTheirControlsAndNothingIsCutOffAt650x600OrMore) {
    start(false);
    Strings texts{utf8(frame->GetTitle())};
    for (wxWindow* child : pnlMain->GetChildren())
        if (!child->GetLabel().empty()) texts.push_back((child->IsEnabled() ? "" : "-") + utf8(child->GetLabel()));
    EXPECT_EQ(state(), "320x320 px fixed 0000000 00000 110000");  // the values: see the start with no settings file
    select(optDst, "Other Folder");
    txtSaveDir->SetValue("/previous");
    for (wxButton* button : {btnHelpSize, btnHelpMethod, btnHelpFiletype, btnHelpSaveto, btnSaveDir}) send(button);
    for (const guitest::ShownDialog& d : guitest::shownDialogs()) {  // boxes with an OK button, centred
        const bool odd = d.kind != "dir" && (d.caption != wxMessageBoxCaptionStr ||
                                             (d.style & (wxOK | wxCENTRE | wxCANCEL | wxYES_NO)) != (wxOK | wxCENTRE));
        texts.push_back(utf8(d.kind + ": " + d.message.BeforeFirst('\n')) + (odd ? " (odd box)" : ""));
    }
    EXPECT_EQ(texts, (Strings{"画像縮小ツール pixloom (resize image for LCD)",
        "1. 画像ファイルをドロップして下さい (Drop files here):", "リストをクリア(Clear list)",
        "2. 画像サイズを指定して下さい (Set image size):", "Help", "画像サイズ(Image size):", "-Other:", "-x",
        "-単位(unit):", "-縦横比固定(fix ratio)", "縮小のみ(Only reduce)",
        "3. リサイズ方式を選択して下さい (Select method):", "Help", "リサイズ方式(resize method):",
        "リニア光(Linear light)", "4. ファイル形式を選択して下さい (Select filetype):", "Help",
        "ファイル形式(filetype):", "-品質(quality):", "-サイズ上限(limit size):", "-KB", "-最低品質(lowest quality):",
        "-プログレッシブ(progressive)",
        "5. 保存先を指定して下さい (Set save folder):", "Help", "保存先(Save to):",
        "ファイル名の最後に追加する文字列(Suffix):", "日付を保つ(Keep file dates)", "-Other Folder:", "-...",
        "-サブフォルダを保つ(Keep sub-folders)", "6. 変換開始(Start convert)",
        "message: 縮小したいサイズを選択してください。", "message: 縮小に使用する方式を選択します。通常は変更しなくてOKです。",
        "message: 保存形式を指定します。PNG形式を推奨します。", "message: 保存先を指定します。",
        "dir: 保存先を選択してください(Choose a folder)"}));
    EXPECT_EQ(txtSaveDir->GetValue(), "/previous");  // the chooser cancelled
    frame->setFolderChooser([&](const wxString&) { return wxString::FromUTF8("/tmp/保存先"); });
    send(btnSaveDir);
    EXPECT_EQ(utf8(txtSaveDir->GetValue()), "/tmp/保存先");

    select(optDst, "Same Folder");
    spnQuality->SetValue(70), cmbLimit->SetValue("300"), txtSaveDir->SetValue("/tmp/out");
    for (const char* preset : {"64x64", "1280x1024", "1920x1080", "320x320", "1024x768"}) {
        select(optSize, preset);
        EXPECT_EQ(state(), preset + std::string(" px fixed 0000000 00000 110000"));
    }
    for (const auto& [type, lowest, progressive] : {std::tuple{"JPEG", true, true}, {"WebP", true, false},
                                                    {"PNG", false, false}}) {
        select(optFiletype, type);
        EXPECT_EQ(std::make_tuple(lblMinQuality->IsEnabled(), spnMinQuality->IsEnabled(), chkProgressive->IsEnabled()),
                  std::make_tuple(lowest, lowest, progressive)) << type;
    }
    const std::tuple<wxRadioBox*, const char*, const char*> steps[] = {
        {optSize, "Other", "1024x768 px fixed 1111111 00000 110000"},  // the preset's values, now editable
        {optFiletype, "JPEG", "1024x768 px fixed 1111111 11111 110000"},
        {optFiletype, "BMP", "1024x768 px fixed 1111111 00000 110000"},
        {optDst, "Other Folder", "1024x768 px fixed 1111111 00000 111111"},
        {optDst, "Same Folder", "1024x768 px fixed 1111111 00000 110000"},
        {nullptr, "Other", "50x40 % free 1111111 00000 110000"},  // no box: after the user's own values
        {optSize, "64x64", "64x64 px fixed 0000000 00000 110000"}};
    for (const auto& [box, label, expected] : steps) {
        if (!box)
            spnWidth->SetValue(50), spnHeight->SetValue(40), selUnits->SetSelection(1), chkFixRatio->SetValue(false);
        select(box ? box : optSize, label);
        EXPECT_EQ(state(), expected) << label;
    }
    EXPECT_EQ(std::make_tuple(spnQuality->GetValue(), utf8(cmbLimit->GetValue()), utf8(txtSaveDir->GetValue())),
              std::make_tuple(70, "300", "/tmp/out"));
    frame->Show();
    ASSERT_TRUE(pumpUntil([&] { return frame->IsShownOnScreen(); }));
    const wxSize smallest = frame->GetSize(), inside = pnlMain->GetClientSize();
    EXPECT_TRUE(smallest.x >= 650 && smallest.y >= 600) << smallest.x << "x" << smallest.y;
    for (wxWindow* end : Windows{btnClearList, lblKB, chkProgressive, chkOnlyReduce, chkKeepDates, chkKeepTree, btnStart})
        EXPECT_TRUE(end->GetRect().GetRight() <= inside.x && end->GetRect().GetBottom() <= inside.y) << "cut off";
    frame->SetSize(300, 300);
    EXPECT_TRUE(pumpUntil([&] { return frame->GetSize() == smallest; }));
    EXPECT_EQ(bindingsLeftWhenDestroyed(), 0);
}

TEST_F(UiTest, CommandLineAndDropsListNewImagesOnceInOrderWalkingFoldersSubFoldersFirstAndEndingOnLinkLoops) {
    const Strings tree{"pics.png/sub/deeper/d.gif", "pics.png/sub/b.jpg", "pics.png/a.png"};  // in listing order
    const std::pair<Strings, Strings> steps[] = {  // given, newly listed: first the command line, then drops
        {{"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp", "caf\xe9.png", "写真.png",
          "photo.JPEG", "shot.jpe", "scan.Tif", "README", ".png", "v1.png/README", "missing.png", "pics.png", tree[2],
          "old.bmp"},
         {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "caf\xe9.png", "写真.png",  // a link: old.bmp
          "photo.JPEG", "shot.jpe", "scan.Tif", tree[0], tree[1], tree[2]}},
        {{"x/a.png"}, {"x/a.png"}}, {{"x/A.png"}, {"x/A.png"}},  // another file, named alike but for case
        {{"b.png", "B.PNG", "b.png"}, {"b.png"}}, {{"missing.png", "x"}, {}},  // nothing new: still taken
        {{"c.bmp", "mixed", "mixed/a.png"}, {"c.bmp", "mixed/sub/b.jpg", "mixed/a.png"}},
        {{"pics.png/"}, {}}, {{"写真"}, {"写真/フォルダ/猫.JPG", "写真/caf\xe9.png"}}, {{}, {}},  // nothing: Clear
        {{"pics.png//", "ÉCOLE.png", "写真.png", "caf\xe9.png", "b.png"},
         {tree[0], tree[1], tree[2], "ÉCOLE.png", "写真.png", "caf\xe9.png", "b.png"}}};
    fs::create_symlink(home / "old.bmp", home / "link.bmp");
    for (const auto& step : steps)
        for (const std::string& name : step.second) writeText(home.made(name), "x");
    for (const char* name : {"README", ".png", "v1.png/README", "pics.png/n.txt",
                             "pics.png/.hidden.png", "pics.png/.cache/c.png", "école.png"})
        writeText(home.made(name), "x");
    Strings args = under(steps[0].first), listed;
    std::vector<const char*> argv{"pixloom"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    setCommandLineArguments(static_cast<int>(argv.size()), argv.data());
    args[0][0] = 'X';  // the arguments were copied
    start(false);
    setCommandLineArguments(0, nullptr);
    for (const auto& [given, added] : steps) {
        SCOPED_TRACE(given.empty() ? "clear" : given.front());
        if (given.empty()) send(btnClearList), listed.clear();
        if (&given != &steps[0].first && !given.empty()) dropNamed(under(given));
        for (const std::string& path : under(added)) listed.push_back(path);
        EXPECT_EQ(entries(), listed);
    }
    EXPECT_NE(lstFiles->FindString(wxString::FromUTF8((home / "写真.png").c_str()), true), wxNOT_FOUND);
    EXPECT_TRUE(frame->removeListEntry(fileName(home / "b.png")));  // as a run does: listed again when dropped
    dropNamed({home / "b.png", home / "école.png"});
    listed.push_back(home / "école.png");  // another file than ÉCOLE.png
    EXPECT_EQ(entries(), listed);

    // Folder walks end on link loops and stay in the dropped folder.
    send(btnClearList);
    const std::string root = home / "root";
    for (const char* name : {"root/a.png", "root/sub/b.png", "elsewhere/c.png"}) writeText(home.made(name), "x");
    for (const auto& [target, link] : {std::pair<std::string, std::string>{"..", "sub/up"}, {".", "sub/self"},
                                       {root, "sub/again"}, {root + "/sub", "twin"}, {home / "elsewhere", "outside"}})
        fs::create_directory_symlink(target, root + "/" + link);
    dropNamed({root});
    std::multiset<std::string> names;  // each folder entered once, by whichever road comes first
    for (const std::string& entry : entries()) names.insert(fs::path(entry).filename());
    EXPECT_EQ(names, (std::multiset<std::string>{"a.png", "b.png"}));  // nothing from outside
}

// What a start takes from a stored file is what pixloom-batch takes (its values: the settings tests), every control
// within its range; the close after it writes it back, read back by the next start; a whole file as it was.
TEST_F(UiTest, AStartRestoresUsableSettingsAndTheCloseWritesThemBack) {
    const std::string whole = fileText({"Other", "800", "600", "%", "0", "Lanczos3", "JPEG", "70", "300",
                                        "Other Folder", "_$USER", "/tmp/写真 $HOME A", "1", "1", "1", "1"});
    std::vector<std::optional<std::string>> cases = {std::nullopt, whole,
        fileText({"Other", "70000", "-5", "%", "0", "Nearest", "JPEG", "150", "7", "Other Folder", "_s", "/o", "7", "0",
                  "-1", "1"}),
        "[Size]\noptSize=Other\nspnWidth= 640 \nchkFixRatio=no\n[Filetype]\nspnQuality=-3\n"};
    std::string noise(4000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 2654435761u >> 11);
    cases.push_back(noise);
    for (size_t length = 5; length < whole.size(); length += 9) cases.push_back(whole.substr(0, length));
    const std::string settingsFile = home / ".pixloom";
    for (const auto& file : cases) {
        SCOPED_TRACE(file.value_or("no file"));
        fs::remove(settingsFile);
        if (file) writeText(settingsFile, *file);
        start(false);
        const std::string was = describe(runSettings());
        std::vector<wxString> notes;  // what pixloom-batch does with the same file
        EXPECT_EQ(was, describe(runSettingsFrom(settingValuesFrom(readStoredSettings(notes, false)))));
        EXPECT_TRUE(file != whole || was == "Lanczos3 JPEG 800x600% stretch linear q70 limit 307200 other _$USER|"
                                             "/tmp/写真 $HOME A tree dates reduce") << was;  // "$" as typed
        EXPECT_TRUE(optSize->GetSelection() != wxNOT_FOUND && selUnits->GetSelection() != wxNOT_FOUND);
        EXPECT_EQ(std::make_tuple(spnWidth->IsEnabled(), spnQuality->IsEnabled(), txtSaveDir->IsEnabled()),
                  std::make_tuple(optSize->GetStringSelection() == "Other", optFiletype->GetStringSelection() == "JPEG",
                                  optDst->GetStringSelection() == "Other Folder"));
        EXPECT_EQ(fs::exists(settingsFile), file.has_value());  // starting writes nothing
        EXPECT_EQ(wxTopLevelWindows.size(), 1u);  // no log box for a damaged file, beside the window
        EXPECT_TRUE(frame->Close() && windowClosed());  // never vetoed
        EXPECT_TRUE(file != whole || readFile(settingsFile) == whole);
        start(false);
        EXPECT_EQ(describe(runSettings()), was);
        EXPECT_TRUE(guitest::destroyAllWindows());
    }
}
