#include "filelist.h"

#include "file_listing.h"
#include "pixloomFrame.h"

bool MyFileDropTarget::OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) {
    if (auto* frame = dynamic_cast<pixloomFrame*>(wxGetTopLevelParent(list))) frame->addFiles(list, paths);
    return true;  // taken, whatever it added
}

bool pixloomFrame::isImageFile(const wxString& path) { return isImageFilePath(path); }

void pixloomFrame::addFiles(wxListBox* list, const wxArrayString& paths) {
    FileListing otherList;
    FileListing& listing = list == lstFiles ? listedPaths : otherList;
    // Entries that left the list some other way show in the count.
    if (listing.size() != list->GetCount()) {
        listing.reset(list->GetStrings());
        if (list == lstFiles) {
            listedFiles.clear();
            for (const wxString& entry : list->GetStrings()) listedFiles.add(entry);
        }
    }
    const wxArrayString added = listing.add(paths);
    if (added.empty()) return;
    list->Append(added);  // in one step: one by one, large drops are slow
    if (list != lstFiles) return;
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
