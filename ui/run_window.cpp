// SPDX-License-Identifier: MIT
// The window's side of the conversion run: the start/stop button, the input
// checks, and the steps the worker hands to the window's thread.
#include "pixloomFrame.h"

#include "image.h"
#include "report.h"
#include "run_thread.h"
#include "settings.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

namespace {

const wchar_t* const startLabel = L"6. 変換開始(Start convert)";
const wchar_t* const processingLabel = L"Processing... (Click to Stop)";

bool inputError(const wchar_t* message) {
    wxMessageBox(wxGetTranslation(message), wxGetTranslation(L"Error"), wxICON_ERROR, nullptr);
    return false;
}

// The folder part of a path typed as a file path: up to its last separator,
// or all of it when it ends with one.
bool folderPartExists(const wxString& text) {
    wxFileName path(text, wxPATH_NATIVE);
    return wxDirExists(path.GetPath(wxPATH_GET_VOLUME));
}

// The engine's messages, shown by the window's thread while the worker
// waits; on standard error once the window is gone.
void showEngineMessages(const std::shared_ptr<WindowLink>& link) {
    std::weak_ptr<WindowLink> weak = link;
    setMessageCallback([weak](const wxString& text) {
        const wxString message(text.wc_str());  // a copy of its own for the other thread
        auto run = weak.lock();
        bool shown = run && run->onWindow<bool>([message](pixloomFrame& window) {
            window.modal([&] { wxMessageBox(message); });
            return true;
        });
        if (!shown) report(message);
    });
}

wxString failureSummary(const std::vector<FileFailure>& failures) {
    const size_t shown = 20;
    wxString text = wxT("変換できなかったファイルがあります。\nSome files could not be converted:\n");
    for (size_t i = 0; i < failures.size() && i < shown; ++i)
        text += wxT("\n") + failures[i].source + wxT(": ") + failures[i].reason;
    if (failures.size() > shown)
        text += wxString::Format(wxT("\n... (%lu more)"), static_cast<unsigned long>(failures.size() - shown));
    return text;
}

}  // namespace

void pixloomFrame::onStartStop(wxCommandEvent&) {
    // A stop needs no valid inputs: they only guard the start.
    if (btnStart->GetLabel() != startLabel)
        requestStop();
    else if (validateInputs())
        startRun();
}

bool pixloomFrame::validateInputs() {
    auto fail = [this](const wchar_t* message) { return modal([message] { return inputError(message); }); };
    if (lstFiles->IsEmpty()) return fail(L"画像ファイルを指定してください。\nSet image file.");
    if (optDst->GetStringSelection() == wxT("Same Folder") && txtSuffix->GetValue().empty())
        return fail(
            L"Suffixを指定してください。\nSet suffix.\n\n"
            L"{w} 幅(width)、{h} 高さ(height)、{size} 指定サイズ(size asked for) が使えます。\n"
            L"{w}, {h} and {size} stand for the output's width, height and the size asked for.");
    if (txtSaveDir->IsEnabled() && !folderPartExists(txtSaveDir->GetValue()))
        return fail(L"保存先を指定してください。\nSet save directory.");
    return true;
}

void pixloomFrame::startRun() {
    if (run.link) {
        // A stopped run still finishes its file. Unless it is already on its
        // way out, the click takes the stop back: one worker per list.
        if (run.link->ending) return;
        btnStart->SetLabel(wxGetTranslation(processingLabel));
        run.link->stopRequested = false;
        return;
    }
    btnStart->SetLabel(wxGetTranslation(processingLabel));
    run.link = std::make_shared<WindowLink>(this);
    run.run = std::make_shared<ConversionRun>(*run.link);
    showEngineMessages(run.link);
    updateProgress();
    if (!run.worker.start(run.link, run.run)) {
        run.link->windowClosing();
        run.link.reset();
        run.run.reset();
        btnStart->SetLabel(startLabel);
        modal([] {
            wxMessageBox(wxT("変換を開始できません。\nCannot start the conversion."), wxT("Error"), wxICON_ERROR);
        });
    }
}

void pixloomFrame::requestStop() {
    btnStart->SetLabel(startLabel);
    if (run.link) run.link->stopRequested = true;
}

void pixloomFrame::abandonRun() { run.abandon(); }

std::optional<FileJob> pixloomFrame::takeFile() {
    // One step on the window's thread: the list is checked before the stop
    // request, and the entry taken heads the list that was found not empty.
    if (lstFiles->IsEmpty() || !run.link || run.link->stopRequested) {
        if (run.link) run.link->ending = true;
        return std::nullopt;
    }
    const wxString source = lstFiles->GetString(0);
    return FileJob{source, readRunSettings(), listedPaths.walkedFolderOf(source)};
}

std::vector<wxString> pixloomFrame::nextFiles(const wxString& current, size_t count) const {
    return filesAfter(
        lstFiles->GetCount(), [this](size_t i) { return lstFiles->GetString(static_cast<unsigned>(i)); }, current,
        count);
}

bool pixloomFrame::isListed(const wxString& path) const { return listedFiles.names(path); }

RunSettings pixloomFrame::readRunSettings() const { return runSettingsFrom(settingValues()); }

void pixloomFrame::forgetFile(const wxString& source) {
    // The head may have changed meanwhile; remove the entry of this source
    // only, wherever it is, and nothing when it is gone.
    removeListEntry(source);
    ++filesDone;
    updateProgress();
}

void pixloomFrame::updateProgress() {
    wxString title = wxT("画像縮小ツール pixloom (resize image for LCD)");
    if (run.link) title += wxString::Format(wxT(" — %u / %u"), filesDone, filesDone + lstFiles->GetCount());
    if (GetTitle() != title) SetTitle(title);
}

void pixloomFrame::endRun(const std::vector<FileFailure>& failures) {
    if (openDialogs > 0) {
        // Closing now would destroy the window under the open dialog.
        endedRunFailures = failures;
        Bind(wxEVT_IDLE, &pixloomFrame::endRunWhenNoDialogIsOpen, this);
        return;
    }
    if (!failures.empty()) modal([&] { wxMessageBox(failureSummary(failures), wxT("Error"), wxOK | wxICON_ERROR); });
    Close();
}

void pixloomFrame::endRunWhenNoDialogIsOpen(wxIdleEvent& event) {
    event.Skip();
    if (openDialogs > 0) return;
    Unbind(wxEVT_IDLE, &pixloomFrame::endRunWhenNoDialogIsOpen, this);
    if (!IsBeingDeleted()) endRun(endedRunFailures);  // unless the user closed it first
}
