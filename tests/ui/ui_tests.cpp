// The main window under Xvfb with HOME at a fresh folder: controls at start, bindings, layout,
// option panel, file list and settings.
#include "commandline.h"
#include "guitest.h"
#include "pixloomFrame.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/msgdlg.h>
#include <wx/valtext.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <tuple>

namespace fs = std::filesystem;
using guitest::pumpUntil;
using Strings = std::vector<std::string>;
using Windows = std::initializer_list<wxWindow*>;

#define FRAME_CONTROLS(X)                                                                                    \
    X(wxPanel, pnlMain) X(wxStaticText, lblStep1) X(wxButton, btnClearList) X(wxListBox, lstFiles)            \
    X(wxStaticText, lblStep2) X(wxButton, btnHelpSize) X(wxRadioBox, optSize) X(wxStaticText, lblOther)       \
    X(wxSpinCtrl, spnWidth) X(wxStaticText, lblTimes) X(wxSpinCtrl, spnHeight) X(wxStaticText, lblUnit)       \
    X(wxChoice, selUnits) X(wxCheckBox, chkFixRatio) X(wxStaticText, lblStep3) X(wxButton, btnHelpMethod)     \
    X(wxRadioBox, optMethod) X(wxStaticText, lblStep4) X(wxButton, btnHelpFiletype) X(wxRadioBox, optFiletype) \
    X(wxStaticText, lblQuality) X(wxSpinCtrl, spnQuality) X(wxStaticText, lblLimit) X(wxComboBox, cmbLimit)   \
    X(wxStaticText, lblKB) X(wxStaticText, lblStep5) X(wxButton, btnHelpSaveto) X(wxRadioBox, optDst)        \
    X(wxStaticText, lblSuffix) X(wxTextCtrl, txtSuffix) X(wxStaticText, lblSaveDir) X(wxTextCtrl, txtSaveDir) \
    X(wxButton, btnSaveDir) X(wxButton, btnStart)

namespace {
std::string utf8(const wxString& s) { return std::string(s.utf8_str()); }
std::vector<std::string> utf8(const wxArrayString& texts) {
    std::vector<std::string> result;
    for (const wxString& text : texts) result.push_back(utf8(text));
    return result;
}
// Paths as the toolkit hands them over: bytes decoded as file names, and back.
wxString fileName(const std::string& bytes) { return wxString(bytes.c_str(), *wxConvFileName); }
std::string bytesOf(const wxString& name) {
    const wxCharBuffer buffer = wxConvFileName->cWX2MB(name.wc_str());
    return buffer.data() ? buffer.data() : "<unconvertible>";
}
}  // namespace

// Copies of the frame's control pointers, kept across its destruction.
struct FrameProbe {
#define DECLARE_CONTROL(type, name) type* name;
    FRAME_CONTROLS(DECLARE_CONTROL)
    GUIFrame* window;
    explicit FrameProbe(GUIFrame* frame) : window(frame) {
#define COPY_CONTROL(type, name) name = frame->name;
        FRAME_CONTROLS(COPY_CONTROL)
    }
    pixloomFrame* frame() const { return static_cast<pixloomFrame*>(window); }
    void fire(wxWindow* source, wxEventType type) const {  // as a click does, after any selection
        wxCommandEvent event(type, source->GetId());
        event.SetEventObject(source);
        source->ProcessWindowEvent(event);
    }
    void click(wxButton* button) const { fire(button, wxEVT_BUTTON); }
    void select(wxRadioBox* box, const char* label) const {
        ASSERT_TRUE(box->SetStringSelection(label)) << label;
        fire(box, wxEVT_RADIOBOX);
    }
    bool drop(const Strings& paths) const {
        wxArrayString array;
        for (const std::string& path : paths) array.Add(fileName(path));
        auto* target = dynamic_cast<wxFileDropTarget*>(window->GetDropTarget());
        return target && target->OnDropFiles(10, 10, array);
    }
    Strings entries() const {
        Strings result;
        for (const wxString& entry : lstFiles->GetStrings()) result.push_back(bytesOf(entry));
        return result;
    }
    // How many of the eleven bindings are in place; each one found is removed.
    int removeBindings() const {
#define ON(source, type, handler) {source, type, wxCommandEventHandler(GUIFrame::handler)}
        const std::tuple<wxEvtHandler*, wxEventType, wxObjectEventFunction> bindings[] = {
            {window, wxEVT_CLOSE_WINDOW, wxCloseEventHandler(GUIFrame::onFrameClose)},
            ON(btnClearList, wxEVT_BUTTON, onClearList), ON(btnHelpSize, wxEVT_BUTTON, onHelpSize),
            ON(optSize, wxEVT_RADIOBOX, onSelectSize), ON(btnHelpMethod, wxEVT_BUTTON, onHelpMethod),
            ON(btnHelpFiletype, wxEVT_BUTTON, onHelpFiletype), ON(optFiletype, wxEVT_RADIOBOX, onSelectFiletype),
            ON(btnHelpSaveto, wxEVT_BUTTON, onHelpSaveto), ON(optDst, wxEVT_RADIOBOX, onSelectDst),
            ON(btnSaveDir, wxEVT_BUTTON, onBrowseSaveDir), ON(btnStart, wxEVT_BUTTON, onStartStop)};
        int found = 0;
        for (const auto& [source, type, handler] : bindings) found += source->Disconnect(type, handler);
        return found;
    }
};

namespace {

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

Strings under(const std::string& folder, const Strings& names) {
    Strings paths;
    for (const std::string& name : names) paths.push_back(folder + "/" + name);
    return paths;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string on(Windows windows) {
    std::string states;
    for (wxWindow* window : windows) states += window->IsEnabled() ? '1' : '0';
    return states;
}

// The size fields, then which size, JPEG and folder controls are enabled.
std::string state(const FrameProbe& c) {
    return std::to_string(c.spnWidth->GetValue()) + "x" + std::to_string(c.spnHeight->GetValue()) + " " +
           utf8(c.selUnits->GetStringSelection()) + (c.chkFixRatio->GetValue() ? " fixed " : " free ") +
           on({c.lblOther, c.spnWidth, c.lblTimes, c.spnHeight, c.lblUnit, c.selUnits, c.chkFixRatio}) + " " +
           on({c.lblQuality, c.spnQuality, c.lblLimit, c.cmbLimit, c.lblKB}) + " " +
           on({c.lblSuffix, c.txtSuffix, c.lblSaveDir, c.txtSaveDir, c.btnSaveDir});
}

using Values = Strings;  // the twelve settings in key order
const Values builtIn{"320x320", "320", "320", "px", "1", "LCD(hi)", "PNG", "90", "", "Same Folder", "_res", ""};
// "$" stays as typed: the settings file expands no variables.
const Values stored{"Other", "800", "600", "%", "0", "Lanczos3", "JPEG", "70", "300", "Other Folder", "_$USER", "/tmp/写真 $HOME A"};

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

Values with(Values values, const std::vector<std::pair<int, std::string>>& changes) {
    for (const auto& [key, value] : changes) values[key] = value;
    return values;
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::clearShownDialogs();
        setCommandLineArguments(0, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(guitest::destroyAllWindows());
        setCommandLineArguments(0, nullptr);
    }
    FrameProbe start() const { return FrameProbe(new pixloomFrame(nullptr)); }
    bool close(const FrameProbe& c) {  // as the user does; a veto would keep the window
        return c.window->Close() && pumpUntil([] { return wxTopLevelWindows.empty(); });
    }
    void store(const std::string& text) { std::ofstream(settingsFile, std::ios::binary) << text; }

    guitest::TempHome home;  // before any frame: no settings file; the tests' files go there too
    const std::string settingsFile = home / ".pixloom";
};
using WindowTest = UiTest;
using FileListTest = UiTest;
using SettingsTest = UiTest;

#define RECORD(handler, Event) \
    void handler(Event&) override { calls.push_back(#handler); }
class RecordingFrame : public GUIFrame {
public:
    RecordingFrame() : GUIFrame(nullptr, wxID_ANY, "", wxDefaultPosition, wxSize(590, 595), wxDEFAULT_FRAME_STYLE) {}
    Strings calls;
protected:
    RECORD(onFrameClose, wxCloseEvent) RECORD(onClearList, wxCommandEvent) RECORD(onHelpSize, wxCommandEvent)
    RECORD(onSelectSize, wxCommandEvent) RECORD(onHelpMethod, wxCommandEvent) RECORD(onHelpFiletype, wxCommandEvent)
    RECORD(onSelectFiletype, wxCommandEvent) RECORD(onHelpSaveto, wxCommandEvent) RECORD(onSelectDst, wxCommandEvent)
    RECORD(onBrowseSaveDir, wxCommandEvent) RECORD(onStartStop, wxCommandEvent)
};

}  // namespace

TEST_F(WindowTest, StartsWithEveryControlInItsBuiltInState) {
    const FrameProbe c = start();
    EXPECT_EQ(utf8(c.window->GetTitle()), "画像縮小ツール pixloom (resize image for LCD)");
    const std::tuple<wxWindow*, const wchar_t*, bool> labelled[] = {
        {c.lblStep1, L"1. 画像ファイルをドロップして下さい (Drop files here):", true},
        {c.btnClearList, L"リストをクリア(Clear list)", true},
        {c.lblStep2, L"2. 画像サイズを指定して下さい (Set image size):", true}, {c.btnHelpSize, L"Help", true},
        {c.optSize, L"画像サイズ(Image size):", true}, {c.lblOther, L"Other:", false}, {c.lblTimes, L"x", false},
        {c.lblUnit, L"単位(unit):", false}, {c.chkFixRatio, L"縦横比固定(fix ratio)", false},
        {c.lblStep3, L"3. リサイズ方式を選択して下さい (Select method):", true}, {c.btnHelpMethod, L"Help", true},
        {c.optMethod, L"リサイズ方式(resize method):", true},
        {c.lblStep4, L"4. ファイル形式を選択して下さい (Select filetype):", true}, {c.btnHelpFiletype, L"Help", true},
        {c.optFiletype, L"ファイル形式(filetype):", true}, {c.lblQuality, L"品質(quality):", false},
        {c.lblLimit, L"サイズ上限(limit size):", false}, {c.lblKB, L"KB", false},
        {c.lblStep5, L"5. 保存先を指定して下さい (Set save folder):", true}, {c.btnHelpSaveto, L"Help", true},
        {c.optDst, L"保存先(Save to):", true}, {c.lblSuffix, L"ファイル名の最後に追加する文字列(Suffix):", true},
        {c.lblSaveDir, L"Other Folder:", false}, {c.btnSaveDir, L"...", false},
        {c.btnStart, L"6. 変換開始(Start convert)", true}};
    for (const auto& [window, label, enabled] : labelled) {
        EXPECT_EQ(utf8(window->GetLabel()), utf8(label));
        EXPECT_EQ(window->IsEnabled(), enabled) << utf8(label);
    }
    const std::tuple<wxItemContainerImmutable*, Strings, std::string> choices[] = {
        {c.optSize, {"64x64", "320x320", "1024x768", "1280x1024", "1920x1080", "Other"}, "320x320"},
        {c.optMethod, {"Nearest", "Lanczos3", "LCD(low)", "LCD(mid)", "LCD(hi)", "LCD(ex)", "LCD(max)"}, "LCD(hi)"},
        {c.optFiletype, {"BMP", "PNG", "JPEG"}, "PNG"}, {c.optDst, {"Same Folder", "Other Folder"}, "Same Folder"},
        {c.selUnits, {"px", "%"}, "px"}, {c.cmbLimit, {"", "100", "300", "500", "1024", "2048", "10240"}, ""}};
    for (const auto& [control, expected, selected] : choices)
        EXPECT_EQ(std::make_pair(utf8(control->GetStrings()), utf8(control->GetStringSelection())),
                  std::make_pair(expected, selected));
    for (const auto& [spin, min, max] : {std::make_tuple(c.spnWidth, 1, 65535), std::make_tuple(c.spnHeight, 1, 65535),
                                         std::make_tuple(c.spnQuality, 0, 100)})
        EXPECT_EQ(std::make_pair(spin->GetMin(), spin->GetMax()), std::make_pair(min, max));
    EXPECT_EQ(state(c), "320x320 px fixed 0000000 00000 11000");
    EXPECT_EQ(std::make_tuple(c.spnQuality->GetValue(), utf8(c.cmbLimit->GetValue()), utf8(c.txtSuffix->GetValue()),
                              utf8(c.txtSaveDir->GetValue()), c.lstFiles->GetCount()),
              std::make_tuple(90, "", "_res", "", 0u));
    EXPECT_EQ(c.lstFiles->GetWindowStyleFlag() & (wxLB_SORT | wxLB_MULTIPLE | wxLB_EXTENDED), 0);
    auto* validator = dynamic_cast<wxTextValidator*>(c.cmbLimit->GetValidator());
    EXPECT_TRUE(validator && validator->GetStyle() == wxFILTER_NUMERIC);
    EXPECT_EQ(c.window->GetDefaultItem(), c.btnStart);  // the last of three SetDefault calls
}

TEST_F(WindowTest, NeverSmallerThan650x600NorCutOffAndTheRightControlsGrow) {
    const FrameProbe c = start();
    c.window->Show();
    ASSERT_TRUE(pumpUntil([&] { return c.window->IsShownOnScreen(); }));
    const wxSize smallest = c.window->GetSize();
    EXPECT_TRUE(smallest.x >= 650 && smallest.y >= 600) << smallest.x << "x" << smallest.y;
    EXPECT_EQ(c.window->GetMinSize(), smallest);
    for (wxWindow* end : Windows{c.lblKB, c.chkFixRatio, c.btnSaveDir})
        EXPECT_LE(end->GetRect().GetRight(), c.pnlMain->GetClientSize().x) << "cut off at the right";
    const std::vector<wxWindow*> watched{c.lstFiles,  c.optSize,  c.optMethod, c.btnStart, c.txtSaveDir,
                                         c.txtSuffix, c.spnWidth, c.spnHeight, c.cmbLimit};
    std::vector<wxSize> before;
    for (wxWindow* window : watched) before.push_back(window->GetSize());
    c.window->SetSize(smallest.x + 250, smallest.y + 200);
    ASSERT_TRUE(pumpUntil([&] { return c.pnlMain->GetSize() == c.window->GetSize(); }));
    for (size_t i = 0; i < watched.size(); ++i)  // the first five take all extra width, the list all extra height
        EXPECT_EQ(watched[i]->GetSize(), before[i] + wxSize(i < 5 ? 250 : 0, i == 0 ? 200 : 0)) << i;
    EXPECT_EQ(c.btnClearList->GetRect().GetRight() + 1, smallest.x + 250 - 5);  // kept at the right edge
    c.window->SetSize(300, 300);
    EXPECT_TRUE(pumpUntil([&] { return c.window->GetSize() == smallest; }));
}

TEST_F(WindowTest, BindingsReachTheDerivedHandlersAndGoWithTheWindow) {
    auto* frame = new RecordingFrame;
    const FrameProbe c(frame);
    frame->Close();  // recorded only: the window stays
    c.click(c.btnClearList), c.click(c.btnHelpSize), c.select(c.optSize, "Other");
    c.click(c.btnHelpMethod), c.click(c.btnHelpFiletype), c.select(c.optFiletype, "JPEG");
    c.click(c.btnHelpSaveto), c.select(c.optDst, "Other Folder"), c.click(c.btnSaveDir), c.click(c.btnStart);
    c.select(c.optMethod, "Nearest");  // has no binding
    EXPECT_EQ(frame->calls, (Strings{"onFrameClose", "onClearList", "onHelpSize", "onSelectSize", "onHelpMethod",
                                     "onHelpFiletype", "onSelectFiletype", "onHelpSaveto", "onSelectDst",
                                     "onBrowseSaveDir", "onStartStop"}));
    int remaining = -1;  // counted after the base destructor, while the controls still exist
    frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == frame) remaining = c.removeBindings();
        event.Skip();
    });
    frame->Destroy();
    ASSERT_TRUE(pumpUntil([] { return wxTopLevelWindows.empty(); }));
    EXPECT_EQ(remaining, 0);
}

TEST_F(WindowTest, SelectionsFillAndEnableTheDependentControlsKeepingTheirValues) {
    const FrameProbe c = start();
    c.spnQuality->SetValue(70), c.cmbLimit->SetValue("300"), c.txtSaveDir->SetValue("/tmp/out");
    const std::tuple<wxRadioBox*, const char*, const char*> steps[] = {
        {c.optSize, "64x64", "64x64 px fixed 0000000 00000 11000"},
        {c.optSize, "1280x1024", "1280x1024 px fixed 0000000 00000 11000"},
        {c.optSize, "1920x1080", "1920x1080 px fixed 0000000 00000 11000"},
        {c.optSize, "320x320", "320x320 px fixed 0000000 00000 11000"},
        {c.optSize, "1024x768", "1024x768 px fixed 0000000 00000 11000"},
        {c.optSize, "Other", "1024x768 px fixed 1111111 00000 11000"},  // the preset's values, now editable
        {c.optFiletype, "JPEG", "1024x768 px fixed 1111111 11111 11000"},
        {c.optFiletype, "BMP", "1024x768 px fixed 1111111 00000 11000"},
        {c.optFiletype, "JPEG", "1024x768 px fixed 1111111 11111 11000"},
        {c.optDst, "Other Folder", "1024x768 px fixed 1111111 11111 00111"},
        {c.optDst, "Same Folder", "1024x768 px fixed 1111111 11111 11000"},
        {c.optFiletype, "PNG", "1024x768 px fixed 1111111 00000 11000"}};
    for (const auto& [box, label, expected] : steps) {
        c.select(box, label);
        EXPECT_EQ(state(c), expected) << label;
    }
    EXPECT_EQ(std::make_tuple(c.spnQuality->GetValue(), utf8(c.cmbLimit->GetValue()), utf8(c.txtSuffix->GetValue()),
                              utf8(c.txtSaveDir->GetValue())),
              std::make_tuple(70, "300", "_res", "/tmp/out"));
    c.spnWidth->SetValue(50), c.spnHeight->SetValue(40), c.selUnits->SetSelection(1), c.chkFixRatio->SetValue(false);
    c.select(c.optSize, "Other");
    EXPECT_EQ(state(c), "50x40 % free 1111111 00000 11000");
    c.select(c.optSize, "64x64");
    EXPECT_EQ(state(c), "64x64 px fixed 0000000 00000 11000");
}

TEST_F(WindowTest, HelpButtonsShowTheirTextsAndTheFolderChooserFillsTheFolderUnlessCancelled) {
    const FrameProbe c = start();
    c.select(c.optDst, "Other Folder");
    c.txtSaveDir->SetValue("/previous");
    const std::pair<wxButton*, std::string> dialogs[] = {  // the message boxes with an OK button, centred
        {c.btnHelpSize, "message: 縮小したいサイズを選択してください。\nOtherを選択すると詳細なサイズを自分で指定できます。\n\n"
                        "Other: 横幅、高さの順で数値を入力して下さい。\n単位(unit): ピクセル(ドット)単位と%単位指定が選べます。\n"
                        "縦横比固定(fix ratio): チェックするとアスペクト比を維持したまま縮小します。"},
        {c.btnHelpMethod, "message: 縮小に使用する方式を選択します。通常は変更しなくてOKです。\n\nNearest:最速です。画質は一般的に"
                          "最悪です。\nLanczos3:高画質です。画像が回転拡大縮小表示される場合におすすめです。\nLCD: 液晶ディスプレイに"
                          "最適化します。あまり効果を強くすると鮮明になる代わりに色がにじむ場合があります。\n"},
        {c.btnHelpFiletype, "message: 保存形式を指定します。PNG形式を推奨します。\n\nBMP:高画質ですがファイルサイズが大きくなります。"
                            "\nPNG:高画質ですが少しファイルサイズが大きくなります。\nJPEG:画質を落とすことでファイルサイズを縮小"
                            "できます。\n\n品質(quality):この数値が高いほど高画質になります。(JPEGのみ)\nサイズ上限(limit size):"
                            "指定されたファイルサイズより大きくなる場合は品質を最低1まで自動的に下げます。(JPEGのみ)"},
        {c.btnHelpSaveto, "message: 保存先を指定します。\n\nSame Folder:元画像と同じフォルダーに保存します。\nOther Folder:保存先を"
                          "自分で指定します。\n\nSuffix:縮小後のファイル名は元のファイル名にSuffixを追加したものになります。"},
        {c.btnSaveDir, "dir: 保存先を選択してください(Choose a folder)"}};  // the real chooser, which the hook cancels
    for (const auto& [button, expected] : dialogs) {
        guitest::clearShownDialogs();
        c.click(button);
        const auto shown = guitest::shownDialogs();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(utf8(shown[0].kind + ": " + shown[0].message), expected);
        EXPECT_TRUE(shown[0].kind == "dir" || (shown[0].caption == wxMessageBoxCaptionStr &&
                    (shown[0].style & (wxOK | wxCENTRE | wxCANCEL | wxYES_NO)) == (wxOK | wxCENTRE)));
    }
    EXPECT_EQ(c.txtSaveDir->GetValue(), "/previous");
    const wxString chosen = wxString::FromUTF8("/tmp/保存先");
    c.frame()->setFolderChooser([&](const wxString&) { return chosen; });
    c.click(c.btnSaveDir);
    EXPECT_EQ(c.txtSaveDir->GetValue(), chosen);
}

TEST_F(FileListTest, CommandLineAndDropsListNewImagesInOrderWithFoldersWalkedSubFoldersFirst) {
    for (const char* name : {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "caf\xe9.png", "写真.png",
                             "photo.jpeg", "scan.tif", "README", ".png", "v1.png/README", "pics.png/a.png",
                             "pics.png/notes.txt", "pics.png/.hidden.png", "pics.png/.cache/c.png", "pics.png/sub/b.jpg",
                             "pics.png/sub/deeper/d.gif", "x/a.png", "x/A.png", "b.png", "c.bmp", "d.png", "mixed/a.png",
                             "mixed/sub/b.jpg", "ÉCOLE.png", "école.png", "写真/caf\xe9.png", "写真/フォルダ/猫.JPG"})
        touch(home / name);
    fs::create_symlink(home / "old.bmp", home / "link.bmp");
    fs::create_symlink(home / "nowhere.png", home / "dangling.png");
    ASSERT_EQ(mkfifo((home / "pipe.png").c_str(), 0600), 0);
    Strings args = under(home.path, {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp",
                                     "caf\xe9.png", "写真.png", "photo.jpeg", "scan.tif", "README", ".png", "v1.png/README",
                                     "dangling.png", "pipe.png", "missing.png", "pics.png", "pics.png/a.png", "old.bmp"});
    std::vector<const char*> argv{"pixloom"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    setCommandLineArguments(static_cast<int>(argv.size()), argv.data());
    args[0][0] = 'X';  // the arguments were copied
    const FrameProbe c = start();
    Strings listed = under(home.path, {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp",
                                       "caf\xe9.png", "写真.png", "pics.png/sub/deeper/d.gif", "pics.png/sub/b.jpg",
                                       "pics.png/a.png"});
    EXPECT_EQ(c.entries(), listed);

    const std::pair<Strings, Strings> drops[] = {  // dropped, added; nothing dropped: a click on Clear
        {{"x/a.png"}, {"x/a.png"}}, {{"x/a.png"}, {}},
        {{"x/A.png"}, {}},  // another file, but the same name ignoring case
        {{"b.png", "B.PNG", "b.png"}, {"b.png"}},
        {{"missing.png", "x"}, {}},  // nothing new: the drop is still taken
        {{"c.bmp", "mixed", "d.png", "mixed/a.png"}, {"c.bmp", "mixed/sub/b.jpg", "mixed/a.png", "d.png"}},
        {{"pics.png", "pics.png/"}, {}}, {{"写真"}, {"写真/フォルダ/猫.JPG", "写真/caf\xe9.png"}}, {{}, {}}, {{}, {}},
        {{"pics.png//", "ÉCOLE.png", "写真.png", "caf\xe9.png", "b.png"},
         {"pics.png/sub/deeper/d.gif", "pics.png/sub/b.jpg", "pics.png/a.png", "ÉCOLE.png", "写真.png", "caf\xe9.png",
          "b.png"}}};
    for (const auto& [dropped, added] : drops) {
        SCOPED_TRACE(dropped.empty() ? "clear" : dropped.front());
        if (dropped.empty()) c.click(c.btnClearList), listed.clear();
        EXPECT_TRUE(dropped.empty() || c.drop(under(home.path, dropped)));
        for (const std::string& path : under(home.path, added)) listed.push_back(path);
        EXPECT_EQ(c.entries(), listed);
    }
    for (const wxString& entry : c.lstFiles->GetStrings()) EXPECT_TRUE(wxFileExists(entry)) << bytesOf(entry);
    EXPECT_NE(c.lstFiles->FindString(wxString::FromUTF8((home / "写真.png").c_str()), true), wxNOT_FOUND);
    EXPECT_TRUE(c.frame()->removeListEntry(fileName(home / "b.png")));  // as a run does: listed again when dropped
    // Beyond ASCII, a name counts as listed exactly when the list box's own find says so.
    const bool found = c.lstFiles->FindString(fileName(home / "école.png")) != wxNOT_FOUND;
    EXPECT_TRUE(c.drop({home / "b.png", home / "école.png"}));
    if (!found) listed.push_back(home / "école.png");
    EXPECT_EQ(c.entries(), listed);
}

TEST_F(FileListTest, SymbolicLinksNeitherLoopNorLeadOutNorListAFileTwice) {
    const std::string root = home / "root";
    for (const char* name : {"root/a.png", "root/sub/b.png", "elsewhere/c.png"}) touch(home / name);
    for (const auto& [target, link] : {std::pair<std::string, std::string>{"..", "sub/up"}, {".", "sub/self"},
                                       {root, "sub/again"}, {root + "/sub", "twin"}, {home / "elsewhere", "outside"}})
        fs::create_directory_symlink(target, root + "/" + link);
    const FrameProbe c = start();
    EXPECT_TRUE(c.drop({root}));
    const Strings listed = c.entries();
    std::set<std::string> names;  // each folder entered once, by whichever road comes first
    for (const std::string& entry : listed) names.insert(fs::path(entry).filename());
    EXPECT_EQ(listed.size(), 2u);  // nothing through the link out of the dropped folder
    EXPECT_EQ(names, (std::set<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(listed.back(), root + "/a.png");
}

TEST_F(FileListTest, TwentyThousandFilesFromOneFolderAreListedOnceAndQuickly) {
    for (int file = 0; file < 20000; ++file)
        touch(home / ("many/d" + std::to_string(file / 1000) + "/f" + std::to_string(file) + ".png"));
    touch(home / "many/notes.txt");
    const FrameProbe c = start();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(c.drop({home / "many"}) && c.drop({home / "many"}));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::printf("20000 files: two drops of the folder took %.3f s\n", took.count());
    EXPECT_LT(took.count(), 5.0);
    const Strings listed = c.entries();
    ASSERT_EQ(listed.size(), 20000u);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), 20000u);
    std::set<std::string> finished;  // each sub-folder's files come together
    for (size_t i = 1; i < listed.size(); ++i) {
        const std::string before = fs::path(listed[i - 1]).parent_path();
        EXPECT_TRUE(before == fs::path(listed[i]).parent_path() || finished.insert(before).second) << before;
    }
}

// What a start shows for a stored file (none, whole, with a preset, missing, empty or unknown values),
// and what the close after it writes: all twelve keys in four groups.
TEST_F(SettingsTest, AStartRestoresUsableValuesAndTheCloseWritesThemBack) {
    const Values other = with(builtIn, {{0, "Other"}});
    const std::pair<std::optional<std::string>, Values> cases[] = {
        {std::nullopt, builtIn},
        {fileText(stored), stored},
        {"[Size]\noptSize=1920x1080\nspnWidth=800\nspnHeight=600\nselUnits=%\nchkFixRatio=0\n",
         with(builtIn, {{0, "1920x1080"}, {1, "1920"}, {2, "1080"}})},  // the preset wins
        {"", builtIn},
        {"[Size]\n[Method]\n[Filetype]\n[Saveto]\n", builtIn},
        {fileText(Values(12)), builtIn},
        {fileText(with(Values(12), {{0, "Other"}})), other},  // no empty field that would read as 1
        {fileText({"Huge", "", "", "", "", "Bicubic", "GIF", "abc", "", "Elsewhere", "", ""}), builtIn},
        {fileText({"Other", "99999999999999999999", "abc", "cm", "0x0", "", "", "", "", "", "", ""}), other},
        {fileText({"Other", "70000", "-5", "%", "0", "Nearest", "JPEG", "150", "7", "Other Folder", "_s", "/o"}),
         {"Other", "65535", "1", "%", "0", "Nearest", "JPEG", "100", "7", "Other Folder", "_s", "/o"}},
        {"[Size]\noptSize=Other\nspnWidth= 640 \nchkFixRatio=no\n[Filetype]\nspnQuality=-3\n",
         with(other, {{1, "640"}, {7, "0"}})}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [file, expected] = cases[i];
        SCOPED_TRACE(file.value_or("no file"));
        fs::remove(settingsFile);
        if (file) store(*file);
        const FrameProbe c = start();
        EXPECT_EQ(shown(c), expected);
        const bool folder = expected[9] == "Other Folder";  // restored selections set the dependent controls
        EXPECT_EQ(std::make_tuple(c.spnWidth->IsEnabled(), c.spnQuality->IsEnabled(), c.txtSaveDir->IsEnabled(),
                                  c.txtSuffix->IsEnabled()),
                  std::make_tuple(expected[0] == "Other", expected[6] == "JPEG", folder, !folder));
        EXPECT_EQ(fs::exists(settingsFile), file.has_value());  // starting writes nothing
        ASSERT_TRUE(close(c));
        if (i < 3) {  // a stored file's other lines stay: compare only whole files
            EXPECT_EQ(readText(settingsFile), fileText(expected));
        }
        EXPECT_EQ(shown(start()), expected);
        EXPECT_TRUE(guitest::destroyAllWindows());
    }
}

TEST_F(SettingsTest, ADamagedTruncatedOrFolderSettingsFileStartsWithUsableControls) {
    std::mt19937 random(7);
    Strings files{std::string(4000, '\0')};
    for (char& byte : files[0]) byte = static_cast<char>(random());
    for (size_t length = 0; length < fileText(stored).size(); length += 9)
        files.push_back(fileText(stored).substr(0, length));
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        store(file);
        const FrameProbe c = start();
        EXPECT_TRUE(c.optSize->GetSelection() != wxNOT_FOUND && c.selUnits->GetSelection() != wxNOT_FOUND);
        EXPECT_TRUE(c.spnWidth->GetValue() >= 1 && c.spnHeight->GetValue() >= 1);
        const Values before = shown(c);
        ASSERT_TRUE(close(c));
        EXPECT_EQ(shown(start()), before);
        EXPECT_TRUE(guitest::destroyAllWindows());
    }
    fs::remove(settingsFile);
    fs::create_directory(settingsFile);
    const FrameProbe c = start();
    EXPECT_EQ(shown(c), builtIn);
    ASSERT_TRUE(close(c));
    EXPECT_TRUE(fs::is_directory(settingsFile));  // left alone
}

TEST_F(SettingsTest, ACloseReplacesTheFileWholeAndLeavesNoTemporaryFile) {
    store(fileText(builtIn));
    fs::create_hard_link(settingsFile, home / "earlier");  // the old file, whatever happens to the name
    const FrameProbe c = start();
    c.txtSuffix->SetValue("_new");
    EXPECT_TRUE(fs::equivalent(settingsFile, home / "earlier"));  // reading rewrote nothing
    ASSERT_TRUE(close(c));
    EXPECT_FALSE(fs::equivalent(settingsFile, home / "earlier"));  // a new file took the name
    EXPECT_EQ(readText(home / "earlier"), fileText(builtIn));      // and the old one was never written into
    EXPECT_EQ(readText(settingsFile), fileText(with(builtIn, {{10, "_new"}})));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(home.path)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{".pixloom", "earlier"}));
}
