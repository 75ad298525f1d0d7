// SPDX-License-Identifier: MIT
#include "preview_window.h"

#include "image.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <algorithm>

namespace {

const int zooms[] = {1, 4, 8};

wxArrayString methodLabels() {
    wxArrayString labels;
    for (const MethodInfo& row : methods()) labels.Add(row.label);
    return labels;
}

Method methodAt(const wxChoice* choice) {
    const int index = choice->GetSelection();
    return index == wxNOT_FOUND ? Method() : methods()[static_cast<std::size_t>(index)].method;
}

// What is compared with the method first shown: plain Lanczos3, unless that
// is the method; then the default LCD method.
wxString comparedWith(const Method& method) {
    return labelOf(method) == wxT("Lanczos3") ? labelOf(Method()) : wxString(wxT("Lanczos3"));
}

wxString kilobytes(unsigned long long bytes) { return wxString::Format(wxT("%llu KB"), (bytes + 1023) / 1024); }

// The settings the preview follows: the size, linear light, and the
// output's type, quality, limit and metadata.
bool sameForPreview(const RunSettings& a, const RunSettings& b) {
    return a.width == b.width && a.height == b.height && a.percent == b.percent && a.keepRatio == b.keepRatio &&
           a.onlyReduce == b.onlyReduce && a.linear == b.linear && a.type == b.type && a.quality == b.quality &&
           a.limitBytes == b.limitBytes && a.metadata == b.metadata && a.minQuality == b.minQuality &&
           a.progressive == b.progressive;
}

wxStaticText* label(wxWindow* parent, const wxString& text) { return new wxStaticText(parent, wxID_ANY, text); }

}  // namespace

PreviewWindow::PreviewWindow(wxWindow* parent, Owner owner, const Method& method)
    : wxFrame(parent, wxID_ANY, wxT("プレビュー (Preview)")), owner(std::move(owner)), pulse(this) {
    settings = this->owner.settings();
    canvas = new PreviewCanvas(this);
    canvas->SetMinSize(wxSize(320, 200));
    auto* rows = new wxBoxSizer(wxVERTICAL);
    rows->Add(controlRow(method), 0, wxEXPAND | wxALL, 5);
    rows->Add(canvas, 1, wxEXPAND | wxLEFT | wxRIGHT, 5);
    rows->Add(statusRow(), 0, wxEXPAND | wxALL, 5);
    SetSizer(rows);
    SetSizeHints(GetBestSize(), wxDefaultSize);
    bindEvents();
    // Results are handed to this window's thread as events; the worker is
    // joined before the window goes, so none can reach it after.
    reducer = std::make_unique<PreviewReducer>([this] { wxQueueEvent(this, new wxThreadEvent()); });
    placeOnScreen();
}

PreviewWindow::~PreviewWindow() {
    if (reducer) reducer->stop();
}

wxSizer* PreviewWindow::controlRow(const Method& method) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    const int centred = wxALIGN_CENTER_VERTICAL;
    row->Add(label(this, wxT("方式(method):")), 0, centred | wxRIGHT, 5);
    choMethod = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, methodLabels());
    const std::size_t index = methodIndex(method);
    choMethod->SetSelection(index < methods().size() ? static_cast<int>(index) : 0);
    row->Add(choMethod, 0, centred | wxRIGHT, 15);
    chkCompare = new wxCheckBox(this, wxID_ANY, wxT("比較(compare):"));
    row->Add(chkCompare, 0, centred | wxRIGHT, 5);
    choCompare = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, methodLabels());
    choCompare->SetStringSelection(comparedWith(method));
    choCompare->Enable(false);
    row->Add(choCompare, 0, centred | wxRIGHT, 15);
    row->Add(label(this, wxT("拡大(zoom):")), 0, centred | wxRIGHT, 5);
    choZoom = new wxChoice(this, wxID_ANY);
    for (int zoom : zooms) choZoom->Append(wxString::Format(wxT("%dx"), zoom));
    choZoom->SetSelection(0);
    row->Add(choZoom, 0, centred | wxRIGHT, 15);
    row->AddStretchSpacer();
    btnUseMethod = new wxButton(this, wxID_ANY, wxT("この方式を使う(Use this method)"));
    row->Add(btnUseMethod, 0, centred);
    return row;
}

wxSizer* PreviewWindow::statusRow() {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    lblStatus = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                 wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    row->Add(lblStatus, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 10);
    gauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(120, -1));
    row->Add(gauge, 0, wxALIGN_CENTER_VERTICAL);
    return row;
}

void PreviewWindow::bindEvents() {
    choMethod->Bind(wxEVT_CHOICE, &PreviewWindow::onMethod, this);
    choCompare->Bind(wxEVT_CHOICE, &PreviewWindow::onMethod, this);
    chkCompare->Bind(wxEVT_CHECKBOX, &PreviewWindow::onCompare, this);
    choZoom->Bind(wxEVT_CHOICE, &PreviewWindow::onZoom, this);
    btnUseMethod->Bind(wxEVT_BUTTON, &PreviewWindow::onUseMethod, this);
    Bind(wxEVT_CLOSE_WINDOW, &PreviewWindow::onClose, this);
    Bind(wxEVT_THREAD, &PreviewWindow::onResults, this);
    Bind(wxEVT_IDLE, &PreviewWindow::onIdle, this);
    Bind(wxEVT_CHAR_HOOK, &PreviewWindow::onKey, this);
    Bind(wxEVT_TIMER, &PreviewWindow::onPulse, this);
}

// Most of the owner's screen, centred on it: a large picture needs the room.
void PreviewWindow::placeOnScreen() {
    const int display = wxDisplay::GetFromWindow(GetParent() ? GetParent() : this);
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    wxSize size(area.width * 85 / 100, area.height * 85 / 100);
    size.IncTo(GetMinSize());
    SetSize(size);
    Move(area.x + std::max(0, (area.width - size.x) / 2), area.y + std::max(0, (area.height - size.y) / 2));
}

PreviewWindow* PreviewWindow::of(wxWindow* owner) {
    for (wxWindow* child : owner->GetChildren())
        if (auto* preview = dynamic_cast<PreviewWindow*>(child); preview && !preview->closing) return preview;
    return nullptr;
}

void PreviewWindow::showFile(const wxString& file) {
    path = file;
    SetTitle(wxT("プレビュー (Preview) — ") + wxFileName(file).GetFullName());
    reducer->open(file);
    request();
}

std::vector<Method> PreviewWindow::shownMethods() const {
    std::vector<Method> shown{methodAt(choMethod)};
    if (chkCompare->GetValue()) shown.push_back(methodAt(choCompare));
    return shown;
}

void PreviewWindow::request() {
    reducer->show(settings, shownMethods());
    showResults();
}

void PreviewWindow::showResults() {
    std::vector<std::shared_ptr<const Image>> pictures;
    for (const Method& method : shownMethods()) {
        const auto reduced = reducer->reduced(method);
        pictures.push_back(reduced ? reduced->image : nullptr);
    }
    canvas->setPictures(pictures);
    showZoom();  // a picture too large to enlarge is shown at 1x
    const wxString status = statusText();
    if (lblStatus->GetLabel() != status) lblStatus->SetLabel(status);
    btnUseMethod->Enable(!reducer->sourceError());
    if (reducer->reducing() && !pulse.IsRunning()) pulse.Start(100);
    if (!reducer->reducing() && pulse.IsRunning()) {
        pulse.Stop();
        gauge->SetValue(0);
    }
}

wxString PreviewWindow::statusText() const {
    if (path.empty()) return wxString();
    if (const auto error = reducer->sourceError()) return wxT("読み込めません(Cannot read): ") + *error;
    if (reducer->decodes() == 0) return wxT("読み込み中...(Reading...)");
    wxString text;
    for (const Method& method : shownMethods()) text += (text.empty() ? wxT("") : wxT("   |   ")) + methodText(method);
    return reducer->sourceDamaged() ? damagedDataText() + wxT("   |   ") + text : text;
}

// "LCD(hi): 320 x 240 px, JPEG 9812 bytes (10 KB), quality 72 under the 10 KB limit"
wxString PreviewWindow::methodText(const Method& method) const {
    const wxString name = labelOf(method) + wxT(": ");
    const auto reduced = reducer->reduced(method);
    if (!reduced) return name + wxT("縮小中...(Reducing...)");
    if (!reduced->image) return name + reduced->error;
    const FileTypeInfo& type = infoOf(settings.type);
    const auto figures = reducer->figures(method);
    const bool known = figures && figures->width > 0;  // a lowest quality may write a smaller picture
    const wxString size = wxString::Format(wxT("%d x %d px, "), known ? figures->width : reduced->image->getWidth(),
                                           known ? figures->height : reduced->image->getHeight());
    if (!figures) return name + size + type.label + wxT(" 計算中...(Computing...)");
    if (!figures->error.empty()) return name + size + type.label + wxT(": ") + figures->error;
    wxString text = name + size + type.label +
                    wxString::Format(wxT(" %llu bytes (%s)"), static_cast<unsigned long long>(figures->bytes),
                                     kilobytes(figures->bytes));
    if (type.lossy) text += wxString::Format(wxT(", quality %d"), figures->quality);
    if (!figures->overLimit.empty()) return text + wxT(": ") + figures->overLimit;
    if (type.lossy && settings.limitBytes > 0)
        text += wxT(" under the ") + kilobytes(static_cast<unsigned long long>(settings.limitBytes)) + wxT(" limit");
    return text;
}

void PreviewWindow::onMethod(wxCommandEvent&) { request(); }

void PreviewWindow::onCompare(wxCommandEvent&) {
    choCompare->Enable(chkCompare->GetValue());
    request();
}

void PreviewWindow::onZoom(wxCommandEvent&) {
    const int index = choZoom->GetSelection();
    if (index != wxNOT_FOUND) canvas->setZoom(zooms[index]);
    showZoom();
}

void PreviewWindow::showZoom() {
    for (int i = 0; i < static_cast<int>(std::size(zooms)); ++i)
        if (zooms[i] == canvas->zoom() && choZoom->GetSelection() != i) choZoom->SetSelection(i);
}

void PreviewWindow::onUseMethod(wxCommandEvent&) {
    owner.useMethod(methodAt(choMethod));
    Close();
}

void PreviewWindow::onClose(wxCloseEvent&) {
    closing = true;
    pulse.Stop();
    reducer->stop();  // the reduction in progress is given up; the worker is gone after
    Destroy();
}

void PreviewWindow::onResults(wxThreadEvent&) {
    if (!closing) showResults();
}

// The main window's settings may change while the preview is open: it
// follows them.
void PreviewWindow::onIdle(wxIdleEvent& event) {
    event.Skip();
    if (closing) return;
    const RunSettings now = owner.settings();
    if (sameForPreview(now, settings)) return;
    settings = now;
    request();
}

void PreviewWindow::onKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE)
        Close();
    else
        event.Skip();
}

void PreviewWindow::onPulse(wxTimerEvent&) { gauge->Pulse(); }
