// SPDX-License-Identifier: MIT
// Which files a drop or a command line names: image files as given, and the
// image files below folders, each listed once.
#pragma once

#include "name_guard.h"
#include "output_path.h"

#include <wx/arrstr.h>
#include <wx/dir.h>

#include <sys/types.h>

#include <set>
#include <vector>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

// An existing regular file whose extension, in any case, is one of
// imageExtensions(). A name whose only dot leads (".png") has no extension.
bool isImageFilePath(const wxString& path);
// The extensions of the files listed, lower case, without dots: png, jpg,
// jpeg, jpe, tiff, tif, gif, bmp, webp.
const std::vector<wxString>& imageExtensions();

// Natural name order: runs of digits compare by value ("img2" < "img10"),
// the rest without regard to case, ties broken by the exact text.
bool naturalLess(const wxString& a, const wxString& b);

// Collects the file paths of a folder walk. The toolkit's walk follows
// symbolic links to folders, so a link back up the tree would never end and a
// folder reached by two roads would be reported twice: each folder, told by
// device and inode, is entered once only. Links are followed only to folders
// inside the walked one.
class wxDirTraverserSimple : public wxDirTraverser {
public:
    explicit wxDirTraverserSimple(wxArrayString& files) : files(files) {}
    // A folder not to enter (the destination of the outputs), if any.
    void skipFolder(const wxString& folder);
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
    std::set<std::pair<dev_t, ino_t>> skipped;
};

// Every file below the folder, skipping hidden entries and the folder skip
// folders (if any): in each folder its sub-folders first, each completely,
// then its files, both in natural name order. Paths start with the folder as
// given, without a trailing separator.
wxArrayString walkFolder(const wxString& folder, const wxArrayString& skip = wxArrayString());

// The paths of a list, for its duplicate check: a file is listed once,
// however it is named (see FileIdentity); names that differ only in letter
// case are two files unless the file system makes them one.
class FileListing {
public:
    // The image files among paths and below the folders among them, in
    // order, that are not listed yet; they are listed from now on. With
    // naming, a folder walk leaves out what that naming makes earlier
    // outputs: a file named as the output of another image file of its
    // folder (or a "-N" variant of that name), and the destination folder.
    // A file named on its own is always listed. With keepTree, the
    // destination tree of each walk is not walked either.
    wxArrayString add(const wxArrayString& paths, const OutputNaming* naming = nullptr);
    bool contains(const wxString& path) const;
    // The folder (as given, without trailing separators) whose walk listed
    // path; empty for a file named on its own.
    wxString walkedFolderOf(const wxString& path) const;
    void forget(const wxString& path);
    void clear();
    // Lists exactly these entries; those still listed keep their walked folder.
    void reset(const wxArrayString& entries);
    size_t size() const { return listed.size(); }

private:
    void list(const wxString& path, wxArrayString& added, const wxString& walkedFolder = wxString());
    FileSet listed;
    std::unordered_map<std::wstring, wxString> walkedFrom;  // by the exact path
};
