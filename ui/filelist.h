// SPDX-License-Identifier: MIT
// Drops that fill the file list.
#pragma once

#include <wx/dnd.h>
#include <wx/listbox.h>

// Hands files and folders dropped anywhere on the window to the list.
class MyFileDropTarget : public wxFileDropTarget {
public:
    explicit MyFileDropTarget(wxListBox* list) : list(list) {}
    bool OnDropFiles(wxCoord x, wxCoord y, const wxArrayString& paths) override;

private:
    wxListBox* list;
};
