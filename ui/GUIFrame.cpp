// SPDX-License-Identifier: MIT
#include "GUIFrame.h"

#include "settings.h"

#include <algorithm>

#include <wx/font.h>
#include <wx/valtext.h>

namespace {

// GTK 3 draws spin controls (-/+ beside the field) and combo boxes wider than
// the widths this layout was made for; below its natural width a control is
// cut off, so the width given is only a floor.
void setMinWidth(wxWindow* control, int width) {
    control->SetMinSize(wxSize(std::max(width, control->GetBestSize().x), -1));
}

// Headings of the six steps and the start button.
wxFont headingFont() {
    return wxFont(9, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false, wxT("MS UI Gothic"));
}

wxStaticText* makeHeading(wxWindow* parent, const wxString& text) {
    auto* heading = new wxStaticText(parent, wxID_ANY, text);
    heading->Wrap(-1);
    heading->SetFont(headingFont());
    return heading;
}

wxStaticText* makeLabel(wxWindow* parent, const wxString& text, int wrap, bool enabled) {
    auto* label = new wxStaticText(parent, wxID_ANY, text);
    label->Wrap(wrap);
    if (!enabled) label->Enable(false);
    return label;
}

wxButton* makeHelpButton(wxWindow* parent) {
    auto* button = new wxButton(parent, wxID_ANY, wxT("Help"));
    button->SetMinSize(wxSize(48, -1));
    return button;
}

// The controls of the settings come from the settings table: their range or
// choices, their built-in value, and the name the table knows them by.

// The spin controls start disabled; their selection handlers enable them.
wxSpinCtrl* makeSpin(wxWindow* parent, const wchar_t* key, int minWidth) {
    const Setting& row = setting(key);
    long value = 0;
    row.initial.ToLong(&value);
    auto* spin =
        new wxSpinCtrl(parent, wxID_ANY, row.initial, wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS,
                       static_cast<int>(row.low), static_cast<int>(row.high), static_cast<int>(value), row.control);
    spin->Enable(false);
    setMinWidth(spin, minWidth);
    return spin;
}

wxRadioBox* makeRadioBox(wxWindow* parent, const wxString& label, const wchar_t* key, int majorDim, long style) {
    const Setting& row = setting(key);
    const wxArrayString items(row.labels.size(), row.labels.data());
    auto* box = new wxRadioBox(parent, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, items, majorDim, style,
                               wxDefaultValidator, row.control);
    box->SetStringSelection(row.initial);
    return box;
}

wxTextCtrl* makeText(wxWindow* parent, const wchar_t* key) {
    const Setting& row = setting(key);
    return new wxTextCtrl(parent, wxID_ANY, row.initial, wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator,
                          row.control);
}

wxCheckBox* makeCheck(wxWindow* parent, const wxString& label, const wchar_t* key) {
    const Setting& row = setting(key);
    auto* check =
        new wxCheckBox(parent, wxID_ANY, label, wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, row.control);
    check->SetValue(row.initial == wxT("1"));
    return check;
}

// A step's heading row: the heading on the left, its help button after it.
wxBoxSizer* headingRow(wxStaticText* heading, int headingFlags, wxButton* help) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(heading, 0, headingFlags, 5);
    row->Add(help, 0, 0, 5);
    return row;
}

}  // namespace

GUIFrame::GUIFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos, const wxSize& size,
                   long style)
    : wxFrame(parent, id, title, pos, size, style) {
    SetSizeHints(wxSize(650, 600), wxDefaultSize);
    auto* szFrame = new wxBoxSizer(wxHORIZONTAL);
    pnlMain = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxSize(600, 480), wxTAB_TRAVERSAL);

    auto* szMain = new wxBoxSizer(wxVERTICAL);
    addStep1(szMain);
    addStep2(szMain);
    addStep3(szMain);
    addStep4(szMain);
    addStep5(szMain);
    addStep6(szMain);
    pnlMain->SetSizer(szMain);
    pnlMain->Layout();

    szFrame->Add(pnlMain, 1, wxEXPAND, 0);
    SetSizer(szFrame);
    Layout();
    keepEveryControlVisible();
    connectEvents();
}

GUIFrame::~GUIFrame() { disconnectEvents(); }

// GTK 3 draws some controls wider than the 650 x 600 minimum allows for (the
// spin controls put -/+ beside the field), which would cut off the end of the
// file-type row; the minimum grows to what the rows need, never below it.
void GUIFrame::keepEveryControlVisible() {
    wxSize needed = ClientToWindowSize(pnlMain->GetSizer()->GetMinSize());
    SetSizeHints(wxSize(std::max(650, needed.x), std::max(600, needed.y)), wxDefaultSize);
    wxSize size = GetSize();
    size.IncTo(GetMinSize());
    SetSize(size);
}

void GUIFrame::addStep1(wxBoxSizer* szMain) {
    auto* szStep1 = new wxBoxSizer(wxHORIZONTAL);
    lblStep1 = makeHeading(pnlMain, wxT("1. 画像ファイルをドロップして下さい (Drop files here):"));
    szStep1->Add(lblStep1, 1, wxALIGN_BOTTOM | wxLEFT, 5);
    btnClearList = new wxButton(pnlMain, wxID_ANY, wxT("リストをクリア(Clear list)"));
    // No wxALIGN_RIGHT: a row ignores horizontal alignment (wx 3.2 asserts on
    // it); the stretching heading already pushes the button to the right edge.
    szStep1->Add(btnClearList, 0, wxRIGHT, 5);
    szMain->Add(szStep1, 0, wxEXPAND | wxLEFT, 0);

    lstFiles = new wxListBox(pnlMain, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0);
    szMain->Add(lstFiles, 1, wxEXPAND | wxBOTTOM | wxRIGHT | wxLEFT, 5);
}

void GUIFrame::addStep2(wxBoxSizer* szMain) {
    lblStep2 = makeHeading(pnlMain, wxT("2. 画像サイズを指定して下さい (Set image size):"));
    btnHelpSize = makeHelpButton(pnlMain);
    szMain->Add(headingRow(lblStep2, wxTOP | wxRIGHT | wxLEFT, btnHelpSize), 0, wxEXPAND, 5);

    optSize = makeRadioBox(pnlMain, wxT("画像サイズ(Image size):"), L"Size/optSize", 7, wxRA_SPECIFY_COLS);
    szMain->Add(optSize, 0, wxEXPAND | wxBOTTOM | wxRIGHT | wxLEFT, 5);

    auto* szOther = new wxBoxSizer(wxHORIZONTAL);
    lblOther = makeLabel(pnlMain, wxT("Other:"), 0, false);
    szOther->Add(lblOther, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);
    spnWidth = makeSpin(pnlMain, L"Size/spnWidth", 96);
    szOther->Add(spnWidth, 0, wxALIGN_CENTER_VERTICAL, 0);
    lblTimes = makeLabel(pnlMain, wxT("x"), 0, false);
    szOther->Add(lblTimes, 0, wxALIGN_CENTER_VERTICAL, 0);
    spnHeight = makeSpin(pnlMain, L"Size/spnHeight", 96);
    szOther->Add(spnHeight, 0, wxALIGN_CENTER_VERTICAL, 0);
    lblUnit = makeLabel(pnlMain, wxT("単位(unit):"), 0, false);
    szOther->Add(lblUnit, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);

    const Setting& units = setting(L"Size/selUnits");
    selUnits =
        new wxChoice(pnlMain, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                     wxArrayString(units.labels.size(), units.labels.data()), 0, wxDefaultValidator, units.control);
    selUnits->SetStringSelection(units.initial);
    selUnits->Enable(false);
    szOther->Add(selUnits, 0, 0, 0);
    const Setting& fixRatio = setting(L"Size/chkFixRatio");
    chkFixRatio = new wxCheckBox(pnlMain, wxID_ANY, wxT("縦横比固定(fix ratio)"), wxDefaultPosition, wxDefaultSize, 0,
                                 wxDefaultValidator, fixRatio.control);
    chkFixRatio->SetValue(fixRatio.initial == wxT("1"));
    chkFixRatio->Enable(false);
    szOther->Add(chkFixRatio, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);
    // For the presets too: not only under "Other".
    chkOnlyReduce = makeCheck(pnlMain, wxT("縮小のみ(Only reduce)"), L"Size/chkOnlyReduce");
    szOther->Add(chkOnlyReduce, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    szMain->Add(szOther, 0, wxEXPAND, 0);
}

void GUIFrame::addStep3(wxBoxSizer* szMain) {
    lblStep3 = makeHeading(pnlMain, wxT("3. リサイズ方式を選択して下さい (Select method):"));
    btnHelpMethod = makeHelpButton(pnlMain);
    szMain->Add(headingRow(lblStep3, wxTOP | wxLEFT, btnHelpMethod), 0, wxEXPAND | wxTOP, 5);

    optMethod = makeRadioBox(pnlMain, wxT("リサイズ方式(resize method):"), L"Method/optMethod", 7, wxRA_SPECIFY_COLS);
    szMain->Add(optMethod, 0, wxEXPAND | wxRIGHT | wxLEFT, 5);
    const Setting& linear = setting(L"Method/chkLinear");
    chkLinear = new wxCheckBox(pnlMain, wxID_ANY, wxT("リニア光(Linear light)"), wxDefaultPosition, wxDefaultSize, 0,
                               wxDefaultValidator, linear.control);
    chkLinear->SetValue(linear.initial == wxT("1"));
    szMain->Add(chkLinear, 0, wxTOP | wxLEFT, 5);
}

void GUIFrame::addStep4(wxBoxSizer* szMain) {
    lblStep4 = makeHeading(pnlMain, wxT("4. ファイル形式を選択して下さい (Select filetype):"));
    btnHelpFiletype = makeHelpButton(pnlMain);
    wxBoxSizer* szHeading4 = headingRow(lblStep4, wxTOP | wxLEFT, btnHelpFiletype);
    szMain->Add(szHeading4, 0, wxEXPAND, 5);

    auto* szFiletype = new wxBoxSizer(wxHORIZONTAL);
    const Setting& types = setting(L"Filetype/optFiletype");
    optFiletype = makeRadioBox(pnlMain, wxT("ファイル形式(filetype):"), types.key,
                               static_cast<int>(types.labels.size()), wxRA_SPECIFY_COLS);
    szFiletype->Add(optFiletype, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT | wxLEFT, 5);
    lblQuality = makeLabel(pnlMain, wxT("品質(quality):"), -1, false);
    szFiletype->Add(lblQuality, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    spnQuality = makeSpin(pnlMain, L"Filetype/spnQuality", 64);
    szFiletype->Add(spnQuality, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 0);
    lblLimit = makeLabel(pnlMain, wxT("サイズ上限(limit size):"), -1, false);
    szFiletype->Add(lblLimit, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);

    const Setting& limit = setting(L"Filetype/cmbLimit");
    cmbLimit = new wxComboBox(pnlMain, wxID_ANY, limit.initial, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0,
                              wxDefaultValidator, limit.control);
    for (const wchar_t* limit : {L"", L"100", L"300", L"500", L"1024", L"2048", L"10240"}) cmbLimit->Append(limit);
    cmbLimit->SetValidator(wxTextValidator(wxFILTER_NUMERIC));
    cmbLimit->Enable(false);
    setMinWidth(cmbLimit, 96);
    szFiletype->Add(cmbLimit, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM | wxLEFT, 5);
    lblKB = makeLabel(pnlMain, wxT("KB"), -1, false);
    szFiletype->Add(lblKB, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    szMain->Add(szFiletype, 0, wxEXPAND, 0);

    // Beside the heading: the window has no height to spare at 1024x600.
    szHeading4->AddStretchSpacer();
    lblMinQuality = makeLabel(pnlMain, wxT("最低品質(lowest quality):"), -1, false);
    szHeading4->Add(lblMinQuality, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    spnMinQuality = makeSpin(pnlMain, L"Filetype/spnMinQuality", 64);
    szHeading4->Add(spnMinQuality, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);
    const Setting& progressive = setting(L"Filetype/chkProgressive");
    chkProgressive = new wxCheckBox(pnlMain, wxID_ANY, wxT("プログレッシブ(progressive)"), wxDefaultPosition,
                                    wxDefaultSize, 0, wxDefaultValidator, progressive.control);
    chkProgressive->SetValue(progressive.initial == wxT("1"));
    chkProgressive->Enable(false);
    szHeading4->Add(chkProgressive, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxRIGHT, 5);
}

void GUIFrame::addStep5(wxBoxSizer* szMain) {
    lblStep5 = makeHeading(pnlMain, wxT("5. 保存先を指定して下さい (Set save folder):"));
    btnHelpSaveto = makeHelpButton(pnlMain);
    szMain->Add(headingRow(lblStep5, wxTOP | wxLEFT, btnHelpSaveto), 0, wxEXPAND, 5);

    auto* szSaveto = new wxBoxSizer(wxHORIZONTAL);
    optDst = makeRadioBox(pnlMain, wxT("保存先(Save to):"), L"Saveto/optDst", 2, wxRA_SPECIFY_ROWS);
    szSaveto->Add(optDst, 0, wxRIGHT | wxLEFT, 5);

    auto* szSavetoFields = new wxBoxSizer(wxVERTICAL);
    auto* szSuffix = new wxBoxSizer(wxHORIZONTAL);
    lblSuffix = makeLabel(pnlMain, wxT("ファイル名の最後に追加する文字列(Suffix):"), 0, true);
    szSuffix->Add(lblSuffix, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);
    txtSuffix = makeText(pnlMain, L"Saveto/txtSuffix");
    szSuffix->Add(txtSuffix, 0, wxALIGN_CENTER_VERTICAL, 0);
    chkKeepDates = makeCheck(pnlMain, wxT("日付を保つ(Keep file dates)"), L"Saveto/chkKeepDates");
    szSuffix->Add(chkKeepDates, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    szSavetoFields->Add(szSuffix, 1, wxEXPAND, 0);

    auto* szSaveDir = new wxBoxSizer(wxHORIZONTAL);
    lblSaveDir = makeLabel(pnlMain, wxT("Other Folder:"), -1, false);
    szSaveDir->Add(lblSaveDir, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 5);
    txtSaveDir = makeText(pnlMain, L"Saveto/txtSaveDir");
    txtSaveDir->Enable(false);
    szSaveDir->Add(txtSaveDir, 1, wxALIGN_CENTER_VERTICAL, 0);
    btnSaveDir = new wxButton(pnlMain, wxID_ANY, wxT("..."));
    btnSaveDir->Enable(false);
    szSaveDir->Add(btnSaveDir, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
    chkKeepTree = makeCheck(pnlMain, wxT("サブフォルダを保つ(Keep sub-folders)"), L"Saveto/chkKeepTree");
    chkKeepTree->Enable(false);
    szSaveDir->Add(chkKeepTree, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
    szSavetoFields->Add(szSaveDir, 1, wxEXPAND, 0);

    szSaveto->Add(szSavetoFields, 1, wxEXPAND, 0);
    szMain->Add(szSaveto, 0, wxEXPAND, 0);
}

void GUIFrame::addStep6(wxBoxSizer* szMain) {
    btnStart = new wxButton(pnlMain, wxID_ANY, wxT("6. 変換開始(Start convert)"));
    btnStart->SetDefault();  // Return starts (and stops) a run
    btnStart->SetFont(headingFont());
    szMain->Add(btnStart, 0, wxEXPAND | wxALL, 5);
}

// The eleven bindings, in the order they are made and removed. Handlers are
// named through the base's virtual members, so the derived frame's overrides
// run; buttons and radio boxes name this frame as sink, the close event none.
std::vector<GUIFrame::Binding> GUIFrame::bindings() {
    const wxEventType click = wxEVT_COMMAND_BUTTON_CLICKED, select = wxEVT_COMMAND_RADIOBOX_SELECTED;
    return {{this, wxEVT_CLOSE_WINDOW, wxCloseEventHandler(GUIFrame::onFrameClose), nullptr},
            {btnClearList, click, wxCommandEventHandler(GUIFrame::onClearList), this},
            {btnHelpSize, click, wxCommandEventHandler(GUIFrame::onHelpSize), this},
            {optSize, select, wxCommandEventHandler(GUIFrame::onSelectSize), this},
            {btnHelpMethod, click, wxCommandEventHandler(GUIFrame::onHelpMethod), this},
            {btnHelpFiletype, click, wxCommandEventHandler(GUIFrame::onHelpFiletype), this},
            {optFiletype, select, wxCommandEventHandler(GUIFrame::onSelectFiletype), this},
            {btnHelpSaveto, click, wxCommandEventHandler(GUIFrame::onHelpSaveto), this},
            {optDst, select, wxCommandEventHandler(GUIFrame::onSelectDst), this},
            {btnSaveDir, click, wxCommandEventHandler(GUIFrame::onBrowseSaveDir), this},
            {btnStart, click, wxCommandEventHandler(GUIFrame::onStartStop), this}};
}

void GUIFrame::connectEvents() {
    for (const Binding& b : bindings()) b.source->Connect(b.type, b.handler, nullptr, b.sink);
}

void GUIFrame::disconnectEvents() {
    for (const Binding& b : bindings()) b.source->Disconnect(b.type, b.handler, nullptr, b.sink);
}
