// Drops and folder walks that fill the file list.
#pragma once

#include <wx/arrstr.h>
#include <wx/dir.h>
#include <wx/dnd.h>
#include <wx/listbox.h>

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

// Hands files and folders dropped anywhere on the window to the list.
class MyFileDropTarget : public wxFileDropTarget {
public:
    explicit MyFileDropTarget(wxListBox* list) : list(list) {}
    bool OnDropFiles(wxCoord x, wxCoord y, const wxArrayString& paths) override;

private:
    wxListBox* list;
};

// Collects the file paths of a folder walk. The toolkit's walk follows
// symbolic links to folders, so a link back up the tree would never end and a
// folder reached by two roads would be reported twice: each folder, told by
// device and inode, is entered once only. Links are followed only to folders
// inside the walked one.
class wxDirTraverserSimple : public wxDirTraverser {
public:
    explicit wxDirTraverserSimple(wxArrayString& files) : files(files) {}
    ~wxDirTraverserSimple() override = default;

    wxDirTraverseResult OnFile(const wxString& path) override;
    wxDirTraverseResult OnDir(const wxString& path) override;

    // Records the folder as entered; false if it was entered before or
    // cannot be identified.
    bool enter(const wxString& folder);

private:
    wxArrayString& files;
    std::string root;  // the walked folder, links resolved
    std::set<std::pair<dev_t, ino_t>> entered;
};

// Every file below the folder, sub-folders first (see wxDirTraverserSimple),
// skipping hidden entries. Paths start with the folder as given, without a
// trailing separator.
wxArrayString walkFolder(const wxString& folder);
