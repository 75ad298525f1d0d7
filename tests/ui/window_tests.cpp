// The main window: its controls at start, the event bindings, the layout and
// the behaviour of the option panel, against a real window under Xvfb.
#include "commandline.h"
#include "guitest.h"
#include "pixloomFrame.h"

#include <gtest/gtest.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/valtext.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using guitest::pumpUntil;

// Copies of the frame's control pointers, so that tests can read and drive
// them and keep them across the frame's destruction.
#define FRAME_CONTROLS(X)                                                                      \
    X(wxPanel, pnlMain) X(wxStaticText, lblStep1) X(wxButton, btnClearList)                     \
    X(wxListBox, lstFiles) X(wxStaticText, lblStep2) X(wxButton, btnHelpSize)                   \
    X(wxRadioBox, optSize) X(wxStaticText, lblOther) X(wxSpinCtrl, spnWidth)                    \
    X(wxStaticText, lblTimes) X(wxSpinCtrl, spnHeight) X(wxStaticText, lblUnit)                 \
    X(wxChoice, selUnits) X(wxCheckBox, chkFixRatio) X(wxStaticText, lblStep3)                  \
    X(wxButton, btnHelpMethod) X(wxRadioBox, optMethod) X(wxStaticText, lblStep4)               \
    X(wxButton, btnHelpFiletype) X(wxRadioBox, optFiletype) X(wxStaticText, lblQuality)         \
    X(wxSpinCtrl, spnQuality) X(wxStaticText, lblLimit) X(wxComboBox, cmbLimit)                 \
    X(wxStaticText, lblKB) X(wxStaticText, lblStep5) X(wxButton, btnHelpSaveto)                 \
    X(wxRadioBox, optDst) X(wxStaticText, lblSuffix) X(wxTextCtrl, txtSuffix)                   \
    X(wxStaticText, lblSaveDir) X(wxTextCtrl, txtSaveDir) X(wxButton, btnSaveDir)               \
    X(wxButton, btnStart)

struct FrameProbe {
#define DECLARE_CONTROL(type, name) type* name;
    FRAME_CONTROLS(DECLARE_CONTROL)
#undef DECLARE_CONTROL

    explicit FrameProbe(GUIFrame& frame) {
#define COPY_CONTROL(type, name) name = frame.name;
        FRAME_CONTROLS(COPY_CONTROL)
#undef COPY_CONTROL
    }

    // How many of the eleven bindings are still in place (each one found is
    // removed on the way).
    int removeBindings(GUIFrame& frame) const {
        int found = 0;
        found += frame.Disconnect(wxEVT_CLOSE_WINDOW, wxCloseEventHandler(GUIFrame::onFrameClose));
        const std::pair<wxWindow*, wxObjectEventFunction> buttons[] = {
            {btnClearList, wxCommandEventHandler(GUIFrame::onClearList)},
            {btnHelpSize, wxCommandEventHandler(GUIFrame::onHelpSize)},
            {btnHelpMethod, wxCommandEventHandler(GUIFrame::onHelpMethod)},
            {btnHelpFiletype, wxCommandEventHandler(GUIFrame::onHelpFiletype)},
            {btnHelpSaveto, wxCommandEventHandler(GUIFrame::onHelpSaveto)},
            {btnSaveDir, wxCommandEventHandler(GUIFrame::onBrowseSaveDir)},
            {btnStart, wxCommandEventHandler(GUIFrame::onStartStop)}};
        for (const auto& [source, handler] : buttons)
            found += source->Disconnect(wxEVT_BUTTON, handler, nullptr, &frame);
        const std::pair<wxWindow*, wxObjectEventFunction> radios[] = {
            {optSize, wxCommandEventHandler(GUIFrame::onSelectSize)},
            {optFiletype, wxCommandEventHandler(GUIFrame::onSelectFiletype)},
            {optDst, wxCommandEventHandler(GUIFrame::onSelectDst)}};
        for (const auto& [source, handler] : radios)
            found += source->Disconnect(wxEVT_RADIOBOX, handler, nullptr, &frame);
        return found;
    }
};

namespace {

const wchar_t frameTitle[] = L"画像縮小ツール pixloom (resize image for LCD)";

const wchar_t helpSizeText[] =
    L"縮小したいサイズを選択してください。\n"
    L"Otherを選択すると詳細なサイズを自分で指定できます。\n"
    L"\n"
    L"Other: 横幅、高さの順で数値を入力して下さい。\n"
    L"単位(unit): ピクセル(ドット)単位と%単位指定が選べます。\n"
    L"縦横比固定(fix ratio): チェックするとアスペクト比を維持したまま縮小します。";
const wchar_t helpMethodText[] =
    L"縮小に使用する方式を選択します。通常は変更しなくてOKです。\n"
    L"\n"
    L"Nearest:最速です。画質は一般的に最悪です。\n"
    L"Lanczos3:高画質です。画像が回転拡大縮小表示される場合におすすめです。\n"
    L"LCD: 液晶ディスプレイに最適化します。あまり効果を強くすると鮮明になる代わりに色がにじむ場合があります。\n";
const wchar_t helpFiletypeText[] =
    L"保存形式を指定します。PNG形式を推奨します。\n"
    L"\n"
    L"BMP:高画質ですがファイルサイズが大きくなります。\n"
    L"PNG:高画質ですが少しファイルサイズが大きくなります。\n"
    L"JPEG:画質を落とすことでファイルサイズを縮小できます。\n"
    L"\n"
    L"品質(quality):この数値が高いほど高画質になります。(JPEGのみ)\n"
    L"サイズ上限(limit size):指定されたファイルサイズより大きくなる場合は品質を最低1まで自動的に下げます。(JPEGのみ)";
const wchar_t helpSavetoText[] =
    L"保存先を指定します。\n"
    L"\n"
    L"Same Folder:元画像と同じフォルダーに保存します。\n"
    L"Other Folder:保存先を自分で指定します。\n"
    L"\n"
    L"Suffix:縮小後のファイル名は元のファイル名にSuffixを追加したものになります。";

std::string utf8(const wxString& s) { return std::string(s.utf8_str()); }

std::vector<std::string> items(const wxItemContainerImmutable* control) {
    std::vector<std::string> result;
    for (unsigned i = 0; i < control->GetCount(); ++i) result.push_back(utf8(control->GetString(i)));
    return result;
}

void click(wxButton* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->ProcessWindowEvent(event);
}

// Selects an item the way a click does: selection first, then the event.
void select(wxRadioBox* box, const wxString& label) {
    ASSERT_TRUE(box->SetStringSelection(label)) << utf8(label);
    wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
    event.SetEventObject(box);
    event.SetInt(box->GetSelection());
    event.SetString(label);
    box->ProcessWindowEvent(event);
}

struct SizeFields {
    int width;
    int height;
    std::string unit;
    bool fixRatio;
    bool operator==(const SizeFields& o) const {
        return width == o.width && height == o.height && unit == o.unit && fixRatio == o.fixRatio;
    }
};

std::ostream& operator<<(std::ostream& out, const SizeFields& s) {
    return out << s.width << "x" << s.height << " " << s.unit << (s.fixRatio ? " fixed" : " free");
}

SizeFields sizeFields(const FrameProbe& c) {
    return {c.spnWidth->GetValue(), c.spnHeight->GetValue(), utf8(c.selUnits->GetStringSelection()),
            c.chkFixRatio->GetValue()};
}

std::vector<bool> enabledStates(std::initializer_list<wxWindow*> windows) {
    std::vector<bool> states;
    for (wxWindow* window : windows) states.push_back(window->IsEnabled());
    return states;
}

std::vector<bool> sizeFieldsEnabled(const FrameProbe& c) {
    return enabledStates({c.lblOther, c.spnWidth, c.lblTimes, c.spnHeight, c.lblUnit, c.selUnits,
                          c.chkFixRatio});
}

std::vector<bool> jpegFieldsEnabled(const FrameProbe& c) {
    return enabledStates({c.lblQuality, c.spnQuality, c.lblLimit, c.cmbLimit, c.lblKB});
}

const std::vector<bool> allOn(7, true), allOff(7, false), jpegOn(5, true), jpegOff(5, false);

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::clearShownDialogs();
        setCommandLineArguments(0, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(guitest::destroyAllWindows());
        setCommandLineArguments(0, nullptr);
    }

    pixloomFrame* makeFrame() { return new pixloomFrame(nullptr); }

    guitest::TempHome home;  // no settings file: the built-in states
};

// A base frame whose handlers record which one ran.
class RecordingFrame : public GUIFrame {
public:
    RecordingFrame()
        : GUIFrame(nullptr, wxID_ANY, frameTitle, wxDefaultPosition, wxSize(590, 595),
                   wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL) {}
    std::vector<std::string> calls;

protected:
    void onFrameClose(wxCloseEvent&) override { calls.push_back("onFrameClose"); }
    void onClearList(wxCommandEvent&) override { calls.push_back("onClearList"); }
    void onHelpSize(wxCommandEvent&) override { calls.push_back("onHelpSize"); }
    void onSelectSize(wxCommandEvent&) override { calls.push_back("onSelectSize"); }
    void onHelpMethod(wxCommandEvent&) override { calls.push_back("onHelpMethod"); }
    void onHelpFiletype(wxCommandEvent&) override { calls.push_back("onHelpFiletype"); }
    void onSelectFiletype(wxCommandEvent&) override { calls.push_back("onSelectFiletype"); }
    void onHelpSaveto(wxCommandEvent&) override { calls.push_back("onHelpSaveto"); }
    void onSelectDst(wxCommandEvent&) override { calls.push_back("onSelectDst"); }
    void onBrowseSaveDir(wxCommandEvent&) override { calls.push_back("onBrowseSaveDir"); }
    void onStartStop(wxCommandEvent&) override { calls.push_back("onStartStop"); }
};

}  // namespace

TEST_F(WindowTest, StartsWithTheSixStepsInTheirBuiltInStates) {
    pixloomFrame* frame = makeFrame();
    FrameProbe c(*frame);
    EXPECT_EQ(utf8(frame->GetTitle()), utf8(frameTitle));
    EXPECT_EQ(frame->GetWindowStyleFlag() & (wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL),
              wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL);

    // Label, enabled; labels must come out whole (no wrapping, no lost text).
    const std::vector<std::tuple<wxWindow*, const wchar_t*, bool>> labelled = {
        {c.lblStep1, L"1. 画像ファイルをドロップして下さい (Drop files here):", true},
        {c.btnClearList, L"リストをクリア(Clear list)", true},
        {c.lblStep2, L"2. 画像サイズを指定して下さい (Set image size):", true},
        {c.btnHelpSize, L"Help", true},
        {c.lblOther, L"Other:", false},
        {c.lblTimes, L"x", false},
        {c.lblUnit, L"単位(unit):", false},
        {c.chkFixRatio, L"縦横比固定(fix ratio)", false},
        {c.lblStep3, L"3. リサイズ方式を選択して下さい (Select method):", true},
        {c.btnHelpMethod, L"Help", true},
        {c.lblStep4, L"4. ファイル形式を選択して下さい (Select filetype):", true},
        {c.btnHelpFiletype, L"Help", true},
        {c.lblQuality, L"品質(quality):", false},
        {c.lblLimit, L"サイズ上限(limit size):", false},
        {c.lblKB, L"KB", false},
        {c.lblStep5, L"5. 保存先を指定して下さい (Set save folder):", true},
        {c.btnHelpSaveto, L"Help", true},
        {c.lblSuffix, L"ファイル名の最後に追加する文字列(Suffix):", true},
        {c.lblSaveDir, L"Other Folder:", false},
        {c.btnSaveDir, L"...", false},
        {c.btnStart, L"6. 変換開始(Start convert)", true},
    };
    for (const auto& [window, label, enabled] : labelled) {
        EXPECT_EQ(utf8(window->GetLabel()), utf8(label));
        EXPECT_EQ(window->IsEnabled(), enabled) << utf8(label);
    }

    // Radio boxes: box label, items, selection; all enabled.
    using Items = std::vector<std::string>;
    const std::vector<std::tuple<wxRadioBox*, const wchar_t*, Items, const char*>> radios = {
        {c.optSize, L"画像サイズ(Image size):",
         {"64x64", "320x320", "1024x768", "1280x1024", "1920x1080", "Other"}, "320x320"},
        {c.optMethod, L"リサイズ方式(resize method):",
         {"Nearest", "Lanczos3", "LCD(low)", "LCD(mid)", "LCD(hi)", "LCD(ex)", "LCD(max)"},
         "LCD(hi)"},
        {c.optFiletype, L"ファイル形式(filetype):", {"BMP", "PNG", "JPEG"}, "PNG"},
        {c.optDst, L"保存先(Save to):", {"Same Folder", "Other Folder"}, "Same Folder"},
    };
    for (const auto& [box, label, expected, selected] : radios) {
        EXPECT_EQ(utf8(box->GetLabel()), utf8(label));
        EXPECT_EQ(items(box), expected);
        EXPECT_EQ(utf8(box->GetStringSelection()), selected);
        EXPECT_TRUE(box->IsEnabled());
    }

    EXPECT_EQ(c.lstFiles->GetCount(), 0u);
    EXPECT_EQ(c.lstFiles->GetWindowStyleFlag() & (wxLB_SORT | wxLB_MULTIPLE | wxLB_EXTENDED), 0);

    EXPECT_EQ(sizeFields(c), (SizeFields{320, 320, "px", true}));
    EXPECT_EQ(items(c.selUnits), (Items{"px", "%"}));
    EXPECT_EQ(sizeFieldsEnabled(c), allOff);
    for (wxSpinCtrl* spin : {c.spnWidth, c.spnHeight}) {
        EXPECT_EQ(spin->GetMin(), 1);
        EXPECT_EQ(spin->GetMax(), 65535);
    }

    EXPECT_EQ(c.spnQuality->GetValue(), 90);
    EXPECT_EQ(c.spnQuality->GetMin(), 0);
    EXPECT_EQ(c.spnQuality->GetMax(), 100);
    EXPECT_EQ(items(c.cmbLimit), (Items{"", "100", "300", "500", "1024", "2048", "10240"}));
    EXPECT_EQ(c.cmbLimit->GetValue(), "");
    auto* validator = dynamic_cast<wxTextValidator*>(c.cmbLimit->GetValidator());
    ASSERT_NE(validator, nullptr);
    EXPECT_EQ(validator->GetStyle(), wxFILTER_NUMERIC);
    EXPECT_EQ(jpegFieldsEnabled(c), jpegOff);

    EXPECT_EQ(c.txtSuffix->GetValue(), "_res");
    EXPECT_TRUE(c.txtSuffix->IsEnabled());
    EXPECT_EQ(c.txtSaveDir->GetValue(), "");
    EXPECT_FALSE(c.txtSaveDir->IsEnabled());

    // Headings and the start button in bold 9 pt; other labels keep the default.
    for (wxWindow* heading : {static_cast<wxWindow*>(c.lblStep1), static_cast<wxWindow*>(c.lblStep2),
                              static_cast<wxWindow*>(c.lblStep3), static_cast<wxWindow*>(c.lblStep4),
                              static_cast<wxWindow*>(c.lblStep5), static_cast<wxWindow*>(c.btnStart)}) {
        const wxFont font = heading->GetFont();
        EXPECT_EQ(font.GetPointSize(), 9);
        EXPECT_EQ(font.GetWeight(), wxFONTWEIGHT_BOLD);
        EXPECT_EQ(font.GetStyle(), wxFONTSTYLE_NORMAL);
        EXPECT_EQ(font.GetFaceName(), "MS UI Gothic");
    }
    EXPECT_NE(c.lblOther->GetFont().GetWeight(), wxFONTWEIGHT_BOLD);

    EXPECT_EQ(frame->GetDefaultItem(), c.btnStart);  // the last of three SetDefault calls
}

TEST_F(WindowTest, FrameIsNeverSmallerThan650x600NorCutsOffAControlAndGrowsTheRightControls) {
    pixloomFrame* frame = makeFrame();
    FrameProbe c(*frame);
    frame->Show();
    ASSERT_TRUE(pumpUntil([&] { return frame->IsShownOnScreen(); }));
    const wxSize smallest = frame->GetSize();
    EXPECT_GE(smallest.x, 650);
    EXPECT_GE(smallest.y, 600);
    EXPECT_EQ(frame->GetMinSize(), smallest);
    for (wxWindow* end : {static_cast<wxWindow*>(c.lblKB), static_cast<wxWindow*>(c.chkFixRatio),
                          static_cast<wxWindow*>(c.btnSaveDir)})
        EXPECT_LE(end->GetRect().GetRight(), c.pnlMain->GetClientSize().x) << "cut off at the right";

    struct Geometry {
        wxRect list, size, start, saveDir, suffix, width, limit, clear;
        wxSize panel;
    };
    auto measure = [&] {
        return Geometry{c.lstFiles->GetRect(),   c.optSize->GetRect(),  c.btnStart->GetRect(),
                        c.txtSaveDir->GetRect(), c.txtSuffix->GetRect(), c.spnWidth->GetRect(),
                        c.cmbLimit->GetRect(),   c.btnClearList->GetRect(), c.pnlMain->GetSize()};
    };
    const Geometry before = measure();
    frame->SetSize(smallest.x + 250, smallest.y + 200);
    ASSERT_TRUE(pumpUntil([&] { return c.pnlMain->GetSize() == frame->GetSize(); }));
    const Geometry after = measure();

    EXPECT_EQ(after.list.height - before.list.height, 200);  // all extra height to the list
    EXPECT_EQ(after.size.y, before.size.y + 200);
    EXPECT_EQ(after.size.height, before.size.height);
    for (auto member : {&Geometry::list, &Geometry::size, &Geometry::start, &Geometry::saveDir})
        EXPECT_EQ((after.*member).width - (before.*member).width, 250);
    for (auto member : {&Geometry::suffix, &Geometry::width, &Geometry::limit})
        EXPECT_EQ((after.*member).width, (before.*member).width);
    EXPECT_EQ(after.clear.GetRight() + 1, smallest.x + 250 - 5);  // kept at the right edge

    frame->SetSize(300, 300);
    ASSERT_TRUE(pumpUntil([&] { return frame->GetSize() == smallest; }));
}

TEST_F(WindowTest, BindingsReachTheDerivedHandlersAndGoWithTheWindow) {
    auto* frame = new RecordingFrame;
    FrameProbe c(*frame);

    wxCloseEvent close(wxEVT_CLOSE_WINDOW, frame->GetId());
    close.SetEventObject(frame);
    frame->ProcessWindowEvent(close);
    for (wxButton* button : {c.btnClearList, c.btnHelpSize}) click(button);
    select(c.optSize, "Other");
    for (wxButton* button : {c.btnHelpMethod, c.btnHelpFiletype}) click(button);
    select(c.optFiletype, "JPEG");
    click(c.btnHelpSaveto);
    select(c.optDst, "Other Folder");
    for (wxButton* button : {c.btnSaveDir, c.btnStart}) click(button);
    // Controls without a binding reach no handler.
    select(c.optMethod, "Nearest");
    const std::vector<std::string> expected = {
        "onFrameClose",     "onClearList",  "onHelpSize",  "onSelectSize",
        "onHelpMethod",     "onHelpFiletype", "onSelectFiletype", "onHelpSaveto",
        "onSelectDst",      "onBrowseSaveDir", "onStartStop"};
    EXPECT_EQ(frame->calls, expected);
    EXPECT_FALSE(wxPendingDelete.Member(frame));  // the recording close handler kept it

    // Seen after the base destructor, while the controls still exist.
    int remaining = -1;
    frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == frame) remaining = c.removeBindings(*frame);
        event.Skip();
    });
    frame->Destroy();
    ASSERT_TRUE(pumpUntil([] { return wxTopLevelWindows.empty(); }));
    EXPECT_EQ(remaining, 0);
}

TEST_F(WindowTest, BaseHandlersLetEventsGoOn) {
    auto* frame = new GUIFrame(nullptr, wxID_ANY, frameTitle, wxDefaultPosition, wxSize(590, 595),
                               wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL);
    FrameProbe c(*frame);
    wxCommandEvent event(wxEVT_BUTTON, c.btnStart->GetId());
    event.SetEventObject(c.btnStart);
    EXPECT_FALSE(c.btnStart->ProcessWindowEvent(event));  // skipped, nobody else takes it
    frame->Close();
    EXPECT_TRUE(pumpUntil([] { return wxTopLevelWindows.empty(); }));
}

TEST_F(WindowTest, SizePresetsFillAndLockTheSizeFields) {
    FrameProbe c(*makeFrame());
    const std::vector<std::pair<const char*, SizeFields>> presets = {
        {"64x64", {64, 64, "px", true}},
        {"1024x768", {1024, 768, "px", true}},
        {"1280x1024", {1280, 1024, "px", true}},
        {"1920x1080", {1920, 1080, "px", true}},
        {"320x320", {320, 320, "px", true}}};
    for (const auto& [label, fields] : presets) {
        select(c.optSize, label);
        EXPECT_EQ(sizeFields(c), fields) << label;
        EXPECT_EQ(sizeFieldsEnabled(c), allOff) << label;
    }

    select(c.optSize, "1024x768");
    select(c.optSize, "Other");  // the last preset's values stay, now editable
    EXPECT_EQ(sizeFields(c), (SizeFields{1024, 768, "px", true}));
    EXPECT_EQ(sizeFieldsEnabled(c), allOn);

    c.spnWidth->SetValue(50);
    c.spnHeight->SetValue(40);
    c.selUnits->SetStringSelection("%");
    c.chkFixRatio->SetValue(false);
    select(c.optSize, "Other");
    EXPECT_EQ(sizeFields(c), (SizeFields{50, 40, "%", false}));
    select(c.optSize, "64x64");
    EXPECT_EQ(sizeFields(c), (SizeFields{64, 64, "px", true}));
    EXPECT_EQ(sizeFieldsEnabled(c), allOff);
}

TEST_F(WindowTest, FiletypeJpegAloneEnablesQualityAndLimitKeepingTheirValues) {
    FrameProbe c(*makeFrame());
    select(c.optFiletype, "JPEG");
    EXPECT_EQ(jpegFieldsEnabled(c), jpegOn);
    c.spnQuality->SetValue(70);
    c.cmbLimit->SetValue("300");
    for (const char* type : {"BMP", "PNG"}) {
        select(c.optFiletype, type);
        EXPECT_EQ(jpegFieldsEnabled(c), jpegOff) << type;
    }
    select(c.optFiletype, "JPEG");
    EXPECT_EQ(jpegFieldsEnabled(c), jpegOn);
    EXPECT_EQ(c.spnQuality->GetValue(), 70);
    EXPECT_EQ(c.cmbLimit->GetValue(), "300");
}

TEST_F(WindowTest, DestinationSwitchesBetweenSuffixAndFolderFields) {
    FrameProbe c(*makeFrame());
    auto states = [&] {
        return enabledStates({c.lblSuffix, c.txtSuffix, c.lblSaveDir, c.txtSaveDir, c.btnSaveDir});
    };
    c.txtSaveDir->SetValue("/tmp/out");
    select(c.optDst, "Other Folder");
    EXPECT_EQ(states(), (std::vector<bool>{false, false, true, true, true}));
    select(c.optDst, "Same Folder");
    EXPECT_EQ(states(), (std::vector<bool>{true, true, false, false, false}));
    EXPECT_EQ(c.txtSuffix->GetValue(), "_res");
    EXPECT_EQ(c.txtSaveDir->GetValue(), "/tmp/out");
}

TEST_F(WindowTest, FolderChooserFillsTheFolderFieldUnlessCancelled) {
    pixloomFrame* frame = makeFrame();
    FrameProbe c(*frame);
    select(c.optDst, "Other Folder");
    c.txtSaveDir->SetValue("/previous");

    // The real chooser: the test hook cancels it.
    click(c.btnSaveDir);
    const auto shown = guitest::shownDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, "dir");
    EXPECT_EQ(utf8(shown[0].message), "保存先を選択してください(Choose a folder)");
    EXPECT_EQ(c.txtSaveDir->GetValue(), "/previous");

    wxString answer;
    std::vector<wxString> prompts;
    frame->setFolderChooser([&](const wxString& prompt) {
        prompts.push_back(prompt);
        return answer;
    });
    click(c.btnSaveDir);
    EXPECT_EQ(c.txtSaveDir->GetValue(), "/previous");
    answer = wxString::FromUTF8("/tmp/保存先");
    click(c.btnSaveDir);
    EXPECT_EQ(c.txtSaveDir->GetValue(), answer);
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(utf8(prompts[0]), "保存先を選択してください(Choose a folder)");
}

TEST_F(WindowTest, EachHelpButtonShowsItsOwnText) {
    FrameProbe c(*makeFrame());
    for (wxButton* button : {c.btnHelpSize, c.btnHelpMethod, c.btnHelpFiletype, c.btnHelpSaveto})
        click(button);
    const auto shown = guitest::shownDialogs();
    const std::vector<const wchar_t*> texts = {helpSizeText, helpMethodText, helpFiletypeText,
                                               helpSavetoText};
    ASSERT_EQ(shown.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(shown[i].kind, "message");
        EXPECT_EQ(utf8(shown[i].message), utf8(texts[i]));
        EXPECT_EQ(shown[i].caption, wxString(wxMessageBoxCaptionStr));
        EXPECT_EQ(shown[i].style & (wxOK | wxCENTRE | wxCANCEL | wxYES_NO), wxOK | wxCENTRE);
    }
}

// The dependent controls follow the restored selections at start.
TEST_F(WindowTest, RestoredSelectionsSetTheDependentControls) {
    std::ofstream(home.dir() / ".pixloom") << "[Size]\noptSize=Other\nspnWidth=800\nspnHeight=600\n"
                                              "selUnits=%\nchkFixRatio=0\n"
                                              "[Filetype]\noptFiletype=JPEG\n"
                                              "[Saveto]\noptDst=Other Folder\n";
    FrameProbe other(*makeFrame());
    EXPECT_EQ(sizeFields(other), (SizeFields{800, 600, "%", false}));
    EXPECT_EQ(sizeFieldsEnabled(other), allOn);
    EXPECT_EQ(jpegFieldsEnabled(other), jpegOn);
    EXPECT_TRUE(other.txtSaveDir->IsEnabled());
    EXPECT_FALSE(other.txtSuffix->IsEnabled());

    std::ofstream(home.dir() / ".pixloom") << "[Size]\noptSize=1920x1080\nspnWidth=800\n";
    FrameProbe preset(*makeFrame());
    EXPECT_EQ(sizeFields(preset), (SizeFields{1920, 1080, "px", true}));  // the preset wins
    EXPECT_EQ(sizeFieldsEnabled(preset), allOff);
}

TEST_F(WindowTest, CommandLineFilesAndFoldersAreListedOnce) {
    guitest::TempDir dir;
    std::filesystem::create_directories(dir / "folder/sub");
    for (const char* name : {"a.png", "folder/sub/b.jpg", "notes.txt"})
        std::ofstream(dir / name) << "x";
    const std::string a = dir / "a.png", folder = dir / "folder", notes = dir / "notes.txt";
    const char* argv[] = {"pixloom", a.c_str(), folder.c_str(), notes.c_str(), a.c_str()};
    setCommandLineArguments(5, argv);

    FrameProbe c(*makeFrame());
    EXPECT_EQ(items(c.lstFiles),
              (std::vector<std::string>{a, folder + "/sub/b.jpg"}));
}

TEST_F(WindowTest, CommandLineKeepsFileNamesThatAreNotValidText) {
    guitest::TempDir dir;
    const std::string latin1 = dir / "caf\xe9.png", utf8Name = dir / "写真.png";
    for (const std::string& name : {latin1, utf8Name}) std::ofstream(name) << "x";
    std::vector<char> scratch(latin1.begin(), latin1.end());
    scratch.push_back('\0');
    const char* argv[] = {"pixloom", scratch.data(), utf8Name.c_str()};
    setCommandLineArguments(3, argv);
    scratch[scratch.size() - 2] = 'X';  // the arguments were copied

    const wxArrayString arguments = commandLineArguments();
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[0], "pixloom");
    EXPECT_TRUE(wxFileExists(arguments[1])) << utf8(arguments[1]);
    EXPECT_TRUE(wxFileExists(arguments[2])) << utf8(arguments[2]);
    EXPECT_EQ(utf8(arguments[2]), utf8Name);
}
