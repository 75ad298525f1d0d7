// SPDX-License-Identifier: MIT
#include "filelist.h"

#include "file_listing.h"
#include "pixloomFrame.h"

bool MyFileDropTarget::OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) {
    if (auto* frame = dynamic_cast<pixloomFrame*>(wxGetTopLevelParent(list))) frame->addFiles(list, paths);
    return true;  // taken, whatever it added
}

void pixloomFrame::addFiles(wxListBox* list, const wxArrayString& paths) {
    wxCHECK_RET(list == lstFiles, "only the window's file list is filled");
    // Entries that left the list some other way show in the count.
    if (listedPaths.size() != lstFiles->GetCount()) {
        listedPaths.reset(lstFiles->GetStrings());
        listedFiles.clear();
        for (const wxString& entry : lstFiles->GetStrings()) listedFiles.add(entry);
    }
    // Folder walks leave out what the current settings make earlier outputs.
    const OutputNaming naming = namingFor(readRunSettings());
    const wxArrayString added = listedPaths.add(paths, &naming);
    if (added.empty()) return;
    lstFiles->Append(added);  // in one step: one by one, large drops are slow
    for (const wxString& path : added) listedFiles.add(path);
    updateProgress();
}

bool pixloomFrame::removeListEntry(const wxString& path) {
    // A run removes the head, so look there first.
    const bool atHead = !lstFiles->IsEmpty() && lstFiles->GetString(0) == path;
    const int index = atHead ? 0 : lstFiles->FindString(path, true);
    if (index == wxNOT_FOUND) return false;
    lstFiles->Delete(static_cast<unsigned>(index));
    listedPaths.forget(path);
    listedFiles.remove(path);
    return true;
}

void pixloomFrame::clearFileList() {
    lstFiles->Clear();
    listedPaths.clear();
    listedFiles.clear();
    updateProgress();
}

void pixloomFrame::onClearList(wxCommandEvent&) { clearFileList(); }
