#include "filelist.h"

#include "output_path.h"
#include "pixloomFrame.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <cwctype>
#include <iterator>

namespace {

using PathIndex = std::unordered_set<std::wstring>;

// The key under which a path is looked up: the per-character folding of the
// list box's own case-insensitive find (wxString::CmpNoCase).
std::wstring foldCase(const wxString& path) {
    std::wstring key = path.ToStdWstring();
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
    return key;
}

void rebuildIndex(const wxListBox& list, PathIndex& index) {
    index.clear();
    for (unsigned i = 0; i < list.GetCount(); ++i) index.insert(foldCase(list.GetString(i)));
}

// Adds the image files among the paths given and below the folders given,
// each unless the list holds it already. New entries collect here and join
// the list in one step: appending them one by one makes large drops slow.
class ListFiller {
public:
    ListFiller(wxListBox& list, PathIndex& listed) : list(list), listed(listed) {}

    void add(const wxString& path) {
        if (isListed(path)) return;
        if (pixloomFrame::isImageFile(path)) {
            append(path);
        } else if (wxDirExists(path)) {
            for (const wxString& file : walkFolder(path))
                if (!isListed(file) && pixloomFrame::isImageFile(file)) append(file);
        }
    }

    void flush() {
        if (pending.empty()) return;
        list.Append(pending);
        pending.clear();
    }

private:
    bool isListed(const wxString& path) const { return listed.count(foldCase(path)) != 0; }

    void append(const wxString& path) {
        listed.insert(foldCase(path));
        pending.Add(path);
    }

    wxListBox& list;
    PathIndex& listed;
    wxArrayString pending;
};

}  // namespace

bool MyFileDropTarget::OnDropFiles(wxCoord, wxCoord, const wxArrayString& paths) {
    if (auto* frame = dynamic_cast<pixloomFrame*>(wxGetTopLevelParent(list))) frame->addFiles(list, paths);
    return true;  // taken, whatever it added
}

wxDirTraverseResult wxDirTraverserSimple::OnFile(const wxString& path) {
    files.Add(path);
    return wxDIR_CONTINUE;
}

wxDirTraverseResult wxDirTraverserSimple::OnDir(const wxString& path) {
    return enter(path) ? wxDIR_CONTINUE : wxDIR_IGNORE;
}

namespace {

std::string resolvedPath(const char* path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

bool isLink(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

bool isWithin(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return false;
    if (folder == "/" || path == folder) return true;
    return path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

bool wxDirTraverserSimple::enter(const wxString& folder) {
    const std::string name = nativePath(folder);  // the original bytes, also of names that aren't text
    struct stat info;
    if (stat(name.c_str(), &info) != 0) return false;
    if (root.empty())
        root = resolvedPath(name.c_str());  // the first folder entered is the one dropped
    else if (isLink(name.c_str()) && !isWithin(resolvedPath(name.c_str()), root))
        return false;  // a link out of the dropped folder: its images are not the user's choice
    return entered.insert({info.st_dev, info.st_ino}).second;
}

wxArrayString walkFolder(const wxString& folder) {
    wxString root = folder;
    while (root.length() > 1 && root.Last() == wxFILE_SEP_PATH) root.RemoveLast();
    wxArrayString files;
    wxDir dir(root);  // a folder that cannot be opened is reported by wxDir itself
    if (!dir.IsOpened()) return files;
    wxDirTraverserSimple traverser(files);
    // Without wxDIR_HIDDEN: dot-files are not listed, dot-folders not entered.
    if (traverser.enter(root)) dir.Traverse(traverser, wxEmptyString, wxDIR_FILES | wxDIR_DIRS);
    return files;
}

bool pixloomFrame::isImageFile(const wxString& path) {
    static const wchar_t* const extensions[] = {L"png", L"jpg", L"tiff", L"gif", L"bmp"};
    // wxFileName gives a name whose only dot leads (".png") no extension.
    const wxString extension = wxFileName(path).GetExt().Lower();
    const bool known = std::any_of(std::begin(extensions), std::end(extensions),
                                   [&](const wchar_t* candidate) { return extension == candidate; });
    // The name first: it costs no file-system call. wxFileExists follows
    // links and accepts regular files only (no folders, devices or pipes).
    return known && wxFileExists(path);
}

void pixloomFrame::addFiles(wxListBox* list, const wxArrayString& paths) {
    PathIndex otherListPaths;
    PathIndex& listed = list == lstFiles ? listedPaths : otherListPaths;
    // Entries that left the list some other way show in the count.
    if (listed.size() != list->GetCount()) rebuildIndex(*list, listed);
    ListFiller filler(*list, listed);
    for (const wxString& path : paths) filler.add(path);
    filler.flush();
}

bool pixloomFrame::removeListEntry(const wxString& path) {
    // A run removes the head, so look there first.
    const bool atHead = !lstFiles->IsEmpty() && lstFiles->GetString(0) == path;
    const int index = atHead ? 0 : lstFiles->FindString(path, true);
    if (index == wxNOT_FOUND) return false;
    lstFiles->Delete(static_cast<unsigned>(index));
    listedPaths.erase(foldCase(path));
    return true;
}

void pixloomFrame::clearFileList() {
    lstFiles->Clear();
    listedPaths.clear();
}

void pixloomFrame::onClearList(wxCommandEvent&) { clearFileList(); }
