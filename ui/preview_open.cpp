// SPDX-License-Identifier: MIT
// The main window's side of the preview: a listed file opens in it by a
// double-click, Enter or Space, or the list's context menu; its "use this
// method" is the user's choice of the method; it closes with the window.
#include "pixloomFrame.h"

#include "preview_window.h"

#include <wx/menu.h>

void pixloomFrame::bindPreview() {
    lstFiles->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent& event) {
        // After a Return here the toolkit also activates the window's default
        // button: the start button sits that one out.
        if (btnStart->IsEnabled()) {
            btnStart->Disable();
            CallAfter([this] { btnStart->Enable(); });
        }
        if (event.GetInt() >= 0 && static_cast<unsigned>(event.GetInt()) < lstFiles->GetCount())
            openPreview(lstFiles->GetString(static_cast<unsigned>(event.GetInt())));
    });
    lstFiles->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_SPACE || event.HasAnyModifiers() || lstFiles->GetSelection() == wxNOT_FOUND)
            return event.Skip();
        openPreview(lstFiles->GetString(static_cast<unsigned>(lstFiles->GetSelection())));
    });
    lstFiles->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent& event) {
        int index = lstFiles->GetSelection();
        if (event.GetPosition() != wxDefaultPosition) {  // else from the keyboard: the selected entry
            const int hit = lstFiles->HitTest(lstFiles->ScreenToClient(event.GetPosition()));
            if (hit != wxNOT_FOUND) lstFiles->SetSelection(index = hit);
        }
        if (index == wxNOT_FOUND) return;
        const wxString path =
            lstFiles->GetString(static_cast<unsigned>(index));  // a run may remove the entry meanwhile
        wxMenu menu;
        menu.Append(wxID_ANY, wxT("プレビュー(Preview)"));
        menu.Bind(wxEVT_MENU, [this, path](wxCommandEvent&) { openPreview(path); });
        modal([&] { lstFiles->PopupMenu(&menu); });  // its loop runs the worker's requests too
    });
}

void pixloomFrame::openPreview(const wxString& path) {
    PreviewWindow* preview = PreviewWindow::of(this);
    if (!preview) {
        auto useMethod = [this](const Method& method) {
            if (!optMethod->SetStringSelection(labelOf(method))) return;
            wxCommandEvent click(wxEVT_RADIOBOX, optMethod->GetId());
            click.SetEventObject(optMethod);
            click.SetInt(optMethod->GetSelection());
            click.SetString(optMethod->GetStringSelection());
            optMethod->ProcessWindowEvent(click);
        };
        preview = new PreviewWindow(this, {[this] { return readRunSettings(); }, useMethod}, readRunSettings().method);
        preview->SetIcons(GetIcons());
    }
    preview->showFile(path);
    preview->Show();
    preview->Raise();
}

void pixloomFrame::closePreview() {
    if (PreviewWindow* preview = PreviewWindow::of(this)) preview->Close(true);
}
