// The main window under Xvfb with HOME at a fresh folder: controls, bindings, layout, file list, settings.
#include "commandline.h"
#include "guitest.h"
#include "pixloomFrame.h"
#include "settings_file.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/msgdlg.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

namespace fs = std::filesystem;
using guitest::pumpUntil;
using Strings = std::vector<std::string>;
using Windows = std::initializer_list<wxWindow*>;

#define CONTROLS(X)                                                                                           \
    X(pnlMain) X(btnClearList) X(lstFiles) X(btnHelpSize) X(optSize) X(lblOther) X(spnWidth) X(lblTimes)     \
    X(spnHeight) X(lblUnit) X(selUnits) X(chkFixRatio) X(btnHelpMethod) X(optMethod) X(btnHelpFiletype)      \
    X(optFiletype) X(lblQuality) X(spnQuality) X(lblLimit) X(cmbLimit) X(lblKB) X(btnHelpSaveto) X(optDst)   \
    X(lblSuffix) X(txtSuffix) X(lblSaveDir) X(txtSaveDir) X(btnSaveDir) X(btnStart)
#define BINDINGS(X)                                                                                           \
    X(btnClearList, wxEVT_BUTTON, onClearList) X(btnHelpSize, wxEVT_BUTTON, onHelpSize)                       \
    X(optSize, wxEVT_RADIOBOX, onSelectSize) X(btnHelpMethod, wxEVT_BUTTON, onHelpMethod)                     \
    X(btnHelpFiletype, wxEVT_BUTTON, onHelpFiletype) X(optFiletype, wxEVT_RADIOBOX, onSelectFiletype)         \
    X(btnHelpSaveto, wxEVT_BUTTON, onHelpSaveto) X(optDst, wxEVT_RADIOBOX, onSelectDst)                       \
    X(btnSaveDir, wxEVT_BUTTON, onBrowseSaveDir) X(btnStart, wxEVT_BUTTON, onStartStop)

namespace {
std::string utf8(const wxString& s) { return std::string(s.utf8_str()); }
// Paths as the toolkit hands them over: bytes decoded as file names, and back.
wxString fileName(const std::string& bytes) { return wxString(bytes.c_str(), *wxConvFileName); }
std::string bytesOf(const wxString& name) {
    const wxCharBuffer buffer = wxConvFileName->cWX2MB(name.wc_str());
    return buffer.data() ? buffer.data() : "<unconvertible>";
}
struct Binding { wxWindow* source; wxEventType type; wxObjectEventFunction handler; const char* name; };
}  // namespace

// Copies of the frame's control pointers, kept across its destruction.
struct FrameProbe {
#define DECLARE_CONTROL(name) decltype(GUIFrame::name) name;
    CONTROLS(DECLARE_CONTROL)
    GUIFrame* window;
    explicit FrameProbe(GUIFrame* frame) : window(frame) {
#define COPY_CONTROL(name) name = frame->name;
        CONTROLS(COPY_CONTROL)
    }
    pixloomFrame* frame() const { return static_cast<pixloomFrame*>(window); }
    RunSettings runSettings() const { return frame()->readRunSettings(); }
    void fire(wxWindow* source, wxEventType type = wxEVT_BUTTON) const {  // as a click does, after any selection
        wxCommandEvent event(type, source->GetId());
        event.SetEventObject(source);
        source->ProcessWindowEvent(event);
    }
    void select(wxRadioBox* box, const char* label) const {
        ASSERT_TRUE(box->SetStringSelection(label)) << label;
        fire(box, wxEVT_RADIOBOX);
    }
    void drop(const Strings& paths) const {
        wxArrayString array;
        for (const std::string& path : paths) array.Add(fileName(path));
        auto* target = dynamic_cast<wxFileDropTarget*>(window->GetDropTarget());
        ASSERT_TRUE(target);
        target->OnDropFiles(10, 10, array);
    }
    Strings entries() const {
        Strings result;
        for (const wxString& entry : lstFiles->GetStrings()) result.push_back(bytesOf(entry));
        return result;
    }
    std::vector<Binding> bindings() const {  // the close first
#define ON(source, type, handler) {source, type, wxCommandEventHandler(GUIFrame::handler), #handler},
        return {{window, wxEVT_CLOSE_WINDOW, wxCloseEventHandler(GUIFrame::onFrameClose), "onFrameClose"}, BINDINGS(ON)};
    }
};

namespace {

std::string describe(const RunSettings& s) {
    return utf8(labelOf(s.method)) + " " + utf8(infoOf(s.type).label) + " " + std::to_string(s.width) + "x" +
           std::to_string(s.height) + (s.percent ? "%" : "px") + (s.keepRatio ? " fit" : " stretch") + " q" +
           std::to_string(s.quality) + " limit " + std::to_string(s.limitBytes) + (s.sameFolder ? " same " : " other ") +
           utf8(s.suffix) + "|" + utf8(s.saveDir);
}

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

// The size fields, then which size, JPEG and folder controls are enabled.
std::string state(const FrameProbe& c) {
    std::string text = std::to_string(c.spnWidth->GetValue()) + "x" + std::to_string(c.spnHeight->GetValue()) + " " +
                       utf8(c.selUnits->GetStringSelection()) + (c.chkFixRatio->GetValue() ? " fixed" : " free");
    for (wxWindow* window : Windows{nullptr, c.lblOther, c.spnWidth, c.lblTimes, c.spnHeight, c.lblUnit, c.selUnits,
                                    c.chkFixRatio, nullptr, c.lblQuality, c.spnQuality, c.lblLimit, c.cmbLimit, c.lblKB,
                                    nullptr, c.lblSuffix, c.txtSuffix, c.lblSaveDir, c.txtSaveDir, c.btnSaveDir})
        text += !window ? ' ' : window->IsEnabled() ? '1' : '0';
    return text;
}

using Values = Strings;  // the twelve settings in key order
const Values builtIn{"320x320", "320", "320", "px", "1", "LCD(hi)", "PNG", "90", "", "Same Folder", "_res", ""};
const Values stored{"Other", "800", "600", "%", "0", "Lanczos3", "JPEG", "70", "300", "Other Folder", "_$USER",
                    "/tmp/写真 $HOME A"};  // "$" stays as typed: no variables are expanded

Values shown(const FrameProbe& c) {
    return {utf8(c.optSize->GetStringSelection()), std::to_string(c.spnWidth->GetValue()),
            std::to_string(c.spnHeight->GetValue()), utf8(c.selUnits->GetStringSelection()),
            c.chkFixRatio->GetValue() ? "1" : "0", utf8(c.optMethod->GetStringSelection()),
            utf8(c.optFiletype->GetStringSelection()), std::to_string(c.spnQuality->GetValue()),
            utf8(c.cmbLimit->GetValue()), utf8(c.optDst->GetStringSelection()), utf8(c.txtSuffix->GetValue()),
            utf8(c.txtSaveDir->GetValue())};
}

std::string fileText(const Values& v) {
    return "[Size]\noptSize=" + v[0] + "\nspnWidth=" + v[1] + "\nspnHeight=" + v[2] + "\nselUnits=" + v[3] +
           "\nchkFixRatio=" + v[4] + "\n[Method]\noptMethod=" + v[5] + "\n[Filetype]\noptFiletype=" + v[6] +
           "\nspnQuality=" + v[7] + "\ncmbLimit=" + v[8] + "\n[Saveto]\noptDst=" + v[9] + "\ntxtSuffix=" + v[10] +
           "\ntxtSaveDir=" + v[11] + "\n";
}

class UiTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(guitest::destroyAllWindows());
        setCommandLineArguments(0, nullptr);
    }
    FrameProbe start() const { return FrameProbe(new pixloomFrame(nullptr)); }
    Strings under(const Strings& names) const {
        Strings paths;
        for (const std::string& name : names) paths.push_back(home / name);
        return paths;
    }
    guitest::TempHome home;  // before any frame: no settings file; the tests' files go there too
};

class RecordingFrame : public GUIFrame {
public:
    RecordingFrame() : GUIFrame(nullptr, wxID_ANY, "", wxDefaultPosition, wxSize(590, 595), wxDEFAULT_FRAME_STYLE) {}
    Strings calls;
protected:
    void onFrameClose(wxCloseEvent&) override { calls.push_back("onFrameClose"); }
#define RECORD(source, type, handler) void handler(wxCommandEvent&) override { calls.push_back(#handler); }
    BINDINGS(RECORD)
};

}  // namespace

TEST_F(UiTest, StartsInItsBuiltInStateSelectionsSetTheirControlsAndNothingIsCutOffAt650x600OrMore) {
    const FrameProbe c = start();
    Strings labels{utf8(c.window->GetTitle())};  // then every labelled control in order, "-" when disabled
    for (wxWindow* child : c.pnlMain->GetChildren())
        if (!child->GetLabel().empty()) labels.push_back((child->IsEnabled() ? "" : "-") + utf8(child->GetLabel()));
    EXPECT_EQ(labels, (Strings{"画像縮小ツール pixloom (resize image for LCD)",
        "1. 画像ファイルをドロップして下さい (Drop files here):", "リストをクリア(Clear list)",
        "2. 画像サイズを指定して下さい (Set image size):", "Help", "画像サイズ(Image size):", "-Other:", "-x",
        "-単位(unit):", "-縦横比固定(fix ratio)", "3. リサイズ方式を選択して下さい (Select method):", "Help",
        "リサイズ方式(resize method):", "4. ファイル形式を選択して下さい (Select filetype):", "Help",
        "ファイル形式(filetype):", "-品質(quality):", "-サイズ上限(limit size):", "-KB",
        "5. 保存先を指定して下さい (Set save folder):", "Help", "保存先(Save to):",
        "ファイル名の最後に追加する文字列(Suffix):", "-Other Folder:", "-...", "6. 変換開始(Start convert)"}));
    EXPECT_EQ(state(c), "320x320 px fixed 0000000 00000 11000");  // the values: see the start with no settings file
    c.spnQuality->SetValue(70), c.cmbLimit->SetValue("300"), c.txtSaveDir->SetValue("/tmp/out");
    for (const char* preset : {"64x64", "1280x1024", "1920x1080", "320x320", "1024x768"}) {
        c.select(c.optSize, preset);
        EXPECT_EQ(state(c), preset + std::string(" px fixed 0000000 00000 11000"));
    }
    const std::tuple<wxRadioBox*, const char*, const char*> steps[] = {
        {c.optSize, "Other", "1024x768 px fixed 1111111 00000 11000"},  // the preset's values, now editable
        {c.optFiletype, "JPEG", "1024x768 px fixed 1111111 11111 11000"},
        {c.optFiletype, "BMP", "1024x768 px fixed 1111111 00000 11000"},
        {c.optDst, "Other Folder", "1024x768 px fixed 1111111 00000 00111"},
        {c.optDst, "Same Folder", "1024x768 px fixed 1111111 00000 11000"},
        {nullptr, "Other", "50x40 % free 1111111 00000 11000"},  // no box: after the user's own values
        {c.optSize, "64x64", "64x64 px fixed 0000000 00000 11000"}};
    for (const auto& [box, label, expected] : steps) {
        if (!box) c.spnWidth->SetValue(50), c.spnHeight->SetValue(40), c.selUnits->SetSelection(1);
        if (!box) c.chkFixRatio->SetValue(false);
        c.select(box ? box : c.optSize, label);
        EXPECT_EQ(state(c), expected) << label;
    }
    EXPECT_EQ(std::make_tuple(c.spnQuality->GetValue(), utf8(c.cmbLimit->GetValue()), utf8(c.txtSaveDir->GetValue())),
              std::make_tuple(70, "300", "/tmp/out"));
    c.window->Show();
    ASSERT_TRUE(pumpUntil([&] { return c.window->IsShownOnScreen(); }));
    const wxSize smallest = c.window->GetSize(), inside = c.pnlMain->GetClientSize();
    EXPECT_TRUE(smallest.x >= 650 && smallest.y >= 600) << smallest.x << "x" << smallest.y;
    for (wxWindow* end : Windows{c.btnClearList, c.lblKB, c.chkFixRatio, c.btnSaveDir, c.btnStart})
        EXPECT_TRUE(end->GetRect().GetRight() <= inside.x && end->GetRect().GetBottom() <= inside.y) << "cut off";
    c.window->SetSize(300, 300);
    EXPECT_TRUE(pumpUntil([&] { return c.window->GetSize() == smallest; }));
}

TEST_F(UiTest, BindingsReachTheDerivedHandlersAndGoWithTheWindow) {
    auto* frame = new RecordingFrame;
    const FrameProbe c(frame);
    Strings expected;
    for (const Binding& b : c.bindings()) {  // a close is only recorded: the window stays
        if (b.source == frame) frame->Close(); else c.fire(b.source, b.type);
        expected.push_back(b.name);
    }
    c.select(c.optMethod, "Nearest");  // has no binding
    EXPECT_EQ(frame->calls, expected);
    int remaining = -1;  // counted after the base destructor, while the controls still exist
    frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetEventObject() != frame) return;
        remaining = 0;
        for (const Binding& b : c.bindings()) remaining += b.source->Disconnect(b.type, b.handler);
    });
    frame->Destroy();
    ASSERT_TRUE(pumpUntil([] { return wxTopLevelWindows.empty(); }));
    EXPECT_EQ(remaining, 0);
}

TEST_F(UiTest, HelpButtonsShowTheirTextsAndTheFolderChooserFillsTheFolderUnlessCancelled) {
    const FrameProbe c = start();
    c.select(c.optDst, "Other Folder");
    c.txtSaveDir->SetValue("/previous");
    guitest::clearShownDialogs();
    for (wxButton* button : {c.btnHelpSize, c.btnHelpMethod, c.btnHelpFiletype, c.btnHelpSaveto, c.btnSaveDir})
        c.fire(button);
    Strings shown;  // message boxes with an OK button, centred; the real folder chooser, which the hook cancels
    for (const guitest::ShownDialog& d : guitest::shownDialogs())
        shown.push_back(utf8(d.kind + ": " + d.message) + (d.kind == "dir" || (d.caption == wxMessageBoxCaptionStr &&
                        (d.style & (wxOK | wxCENTRE | wxCANCEL | wxYES_NO)) == (wxOK | wxCENTRE)) ? "" : " (odd box)"));
    EXPECT_EQ(shown, (Strings{
        "message: 縮小したいサイズを選択してください。\nOtherを選択すると詳細なサイズを自分で指定できます。\n\nOther: 横幅、"
        "高さの順で数値を入力して下さい。\n単位(unit): ピクセル(ドット)単位と%単位指定が選べます。\n縦横比固定(fix ratio): "
        "チェックするとアスペクト比を維持したまま縮小します。",
        "message: 縮小に使用する方式を選択します。通常は変更しなくてOKです。\n\nNearest:最速です。画質は一般的に最悪です。\n"
        "Lanczos3:高画質です。画像が回転拡大縮小表示される場合におすすめです。\nLCD: 液晶ディスプレイに最適化します。あまり"
        "効果を強くすると鮮明になる代わりに色がにじむ場合があります。\n",
        "message: 保存形式を指定します。PNG形式を推奨します。\n\nBMP:高画質ですがファイルサイズが大きくなります。\nPNG:高画質"
        "ですが少しファイルサイズが大きくなります。\nJPEG:画質を落とすことでファイルサイズを縮小できます。\n\n品質(quality):"
        "この数値が高いほど高画質になります。(JPEGのみ)\nサイズ上限(limit size):指定されたファイルサイズより大きくなる場合は"
        "品質を最低1まで自動的に下げます。(JPEGのみ)",
        "message: 保存先を指定します。\n\nSame Folder:元画像と同じフォルダーに保存します。\nOther Folder:保存先を自分で指定"
        "します。\n\nSuffix:縮小後のファイル名は元のファイル名にSuffixを追加したものになります。",
        "dir: 保存先を選択してください(Choose a folder)"}));
    EXPECT_EQ(c.txtSaveDir->GetValue(), "/previous");
    const wxString chosen = wxString::FromUTF8("/tmp/保存先");
    c.frame()->setFolderChooser([&](const wxString&) { return chosen; });
    c.fire(c.btnSaveDir);
    EXPECT_EQ(c.txtSaveDir->GetValue(), chosen);
}

TEST_F(UiTest, CommandLineAndDropsListNewImagesInOrderWithFoldersWalkedSubFoldersFirst) {
    const Strings tree{"pics.png/sub/deeper/d.gif", "pics.png/sub/b.jpg", "pics.png/a.png"};  // in listing order
    const std::pair<Strings, Strings> steps[] = {  // given, newly listed: first the command line, then drops
        {{"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp", "caf\xe9.png", "写真.png",
          "photo.JPEG", "shot.jpe", "scan.Tif", "README", ".png", "v1.png/README", "missing.png", "pics.png", tree[2],
          "old.bmp"},
         {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp", "caf\xe9.png", "写真.png",
          "photo.JPEG", "shot.jpe", "scan.Tif", tree[0], tree[1], tree[2]}},
        {{"x/a.png"}, {"x/a.png"}}, {{"x/A.png"}, {}},  // another file, but the same name ignoring case
        {{"b.png", "B.PNG", "b.png"}, {"b.png"}}, {{"missing.png", "x"}, {}},  // nothing new: still taken
        {{"c.bmp", "mixed", "mixed/a.png"}, {"c.bmp", "mixed/sub/b.jpg", "mixed/a.png"}},
        {{"pics.png/"}, {}}, {{"写真"}, {"写真/フォルダ/猫.JPG", "写真/caf\xe9.png"}}, {{}, {}},  // nothing: Clear
        {{"pics.png//", "ÉCOLE.png", "写真.png", "caf\xe9.png", "b.png"},
         {tree[0], tree[1], tree[2], "ÉCOLE.png", "写真.png", "caf\xe9.png", "b.png"}}};
    fs::create_symlink(home / "old.bmp", home / "link.bmp");
    for (const auto& step : steps)
        for (const std::string& path : under(step.second)) touch(path);
    for (const char* name : {"README", ".png", "v1.png/README", "pics.png/n.txt",
                             "pics.png/.hidden.png", "pics.png/.cache/c.png", "x/A.png", "école.png"})
        touch(home / name);
    Strings args = under(steps[0].first), listed;
    std::vector<const char*> argv{"pixloom"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    setCommandLineArguments(static_cast<int>(argv.size()), argv.data());
    args[0][0] = 'X';  // the arguments were copied
    const FrameProbe c = start();
    for (const auto& [given, added] : steps) {
        SCOPED_TRACE(given.empty() ? "clear" : given.front());
        if (given.empty()) c.fire(c.btnClearList), listed.clear();
        if (&given != &steps[0].first && !given.empty()) c.drop(under(given));
        for (const std::string& path : under(added)) listed.push_back(path);
        EXPECT_EQ(c.entries(), listed);
    }
    EXPECT_NE(c.lstFiles->FindString(wxString::FromUTF8((home / "写真.png").c_str()), true), wxNOT_FOUND);
    EXPECT_TRUE(c.frame()->removeListEntry(fileName(home / "b.png")));  // as a run does: listed again when dropped
    // Beyond ASCII, a name counts as listed exactly when the list box's own find says so.
    const bool found = c.lstFiles->FindString(fileName(home / "école.png")) != wxNOT_FOUND;
    c.drop({home / "b.png", home / "école.png"});
    if (!found) listed.push_back(home / "école.png");
    EXPECT_EQ(c.entries(), listed);
}

TEST_F(UiTest, FolderWalksEndOnLinkLoopsStayInTheDroppedFolderAndList20000FilesOnce) {
    const std::string root = home / "root";
    for (const char* name : {"root/a.png", "root/sub/b.png", "elsewhere/c.png"}) touch(home / name);
    for (const auto& [target, link] : {std::pair<std::string, std::string>{"..", "sub/up"}, {".", "sub/self"},
                                       {root, "sub/again"}, {root + "/sub", "twin"}, {home / "elsewhere", "outside"}})
        fs::create_directory_symlink(target, root + "/" + link);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int many = 2000;  // the sanitizers need the code path, not the count
#else
    const int many = 20000;
#endif
    for (int file = 0; file < many; ++file)
        touch(home / ("many/d" + std::to_string(file / 1000) + "/f" + std::to_string(file) + ".png"));
    const FrameProbe c = start();
    c.drop({root});
    std::multiset<std::string> names;  // each folder entered once, by whichever road comes first
    for (const std::string& entry : c.entries()) names.insert(fs::path(entry).filename());
    EXPECT_EQ(names, (std::multiset<std::string>{"a.png", "b.png"}));  // nothing from outside
    c.fire(c.btnClearList);
    const auto begin = std::chrono::steady_clock::now();
    c.drop({home / "many"});
    c.drop({home / "many"});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::printf("%d files: two drops of the folder took %.3f s\n", many, took.count());  // a figure, not a limit
    const Strings listed = c.entries();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), size_t(many));
    EXPECT_EQ(listed.size(), size_t(many));
}

// What a start shows for a stored file, and what the close after it writes, read back by the next start.
TEST_F(UiTest, AStartRestoresUsableSettingsAndTheCloseWritesThemBack) {
    const Values other{"Other", "320", "320", "px", "1", "LCD(hi)", "PNG", "90", "", "Same Folder", "_res", ""};
    std::vector<std::pair<std::optional<std::string>, Values>> cases = {  // no values expected: any usable ones
        {std::nullopt, builtIn},
        {fileText(stored), stored},
        {"[Size]\noptSize=1920x1080\nspnWidth=800\nspnHeight=600\nselUnits=%\nchkFixRatio=0\n",
         {"1920x1080", "1920", "1080", "px", "1", "LCD(hi)", "PNG", "90", "", "Same Folder", "_res", ""}},  // preset wins
        {"", builtIn},
        {"[Size]\n[Method]\n[Filetype]\n[Saveto]\n", builtIn},
        {fileText(Values(12)), builtIn},
        {fileText({"Other", "", "", "", "", "", "", "", "", "", "", ""}), other},  // no empty field that would read as 1
        {fileText({"Huge", "", "", "", "", "Bicubic", "GIF", "abc", "", "Elsewhere", "", ""}), builtIn},
        {fileText({"Other", "99999999999999999999", "abc", "cm", "0x0", "", "", "", "", "", "", ""}), other},
        {fileText({"Other", "70000", "-5", "%", "0", "Nearest", "JPEG", "150", "7", "Other Folder", "_s", "/o"}),
         {"Other", "65535", "1", "%", "0", "Nearest", "JPEG", "100", "7", "Other Folder", "_s", "/o"}},
        {"[Size]\noptSize=Other\nspnWidth= 640 \nchkFixRatio=no\n[Filetype]\nspnQuality=-3\n",
         {"Other", "640", "320", "px", "1", "LCD(hi)", "PNG", "0", "", "Same Folder", "_res", ""}}};
    std::string noise(4000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 2654435761u >> 11);
    cases.push_back({noise, {}});
    for (size_t length = 5; length < fileText(stored).size(); length += 9)
        cases.push_back({fileText(stored).substr(0, length), {}});
    const std::string settingsFile = home / ".pixloom";
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [file, expected] = cases[i];
        SCOPED_TRACE(file.value_or("no file"));
        fs::remove(settingsFile);
        if (file) std::ofstream(settingsFile, std::ios::binary) << *file;
        const FrameProbe c = start();
        const Values was = shown(c);
        EXPECT_EQ(was, expected.empty() ? was : expected);
        EXPECT_TRUE(c.optSize->GetSelection() != wxNOT_FOUND && c.selUnits->GetSelection() != wxNOT_FOUND);
        EXPECT_EQ(std::make_tuple(c.spnWidth->IsEnabled(), c.spnQuality->IsEnabled(), c.txtSaveDir->IsEnabled()),
                  std::make_tuple(was[0] == "Other", was[6] == "JPEG", was[9] == "Other Folder"));
        EXPECT_EQ(fs::exists(settingsFile), file.has_value());  // starting writes nothing
        std::vector<wxString> notes;  // what pixloom-batch would do with the same file
        EXPECT_EQ(describe(c.runSettings()),
                  describe(runSettingsFrom(settingValuesFrom(readStoredSettings(notes, false)))));
        EXPECT_EQ(wxTopLevelWindows.size(), 1u);  // no log box for a damaged file, beside the window
        EXPECT_TRUE(c.window->Close() && pumpUntil([] { return wxTopLevelWindows.empty(); }));  // never vetoed
        std::ifstream written(settingsFile, std::ios::binary);
        if (i < 3) {  // a stored file's other lines stay: compare only whole files
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), fileText(was));
        }
        EXPECT_EQ(shown(start()), was);
        EXPECT_TRUE(guitest::destroyAllWindows());
    }
}
