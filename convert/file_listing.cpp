// SPDX-License-Identifier: MIT
#include "file_listing.h"

#include "name_guard.h"
#include "safe_write.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <iterator>
#include <map>
#include <unordered_set>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <vector>

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

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Compares the digit runs starting at i and j by value; advances both.
int compareNumbers(const wxString& a, size_t& i, const wxString& b, size_t& j) {
    while (i < a.length() && a[i] == L'0') ++i;  // leading zeros don't change the value
    while (j < b.length() && b[j] == L'0') ++j;
    const size_t startA = i, startB = j;
    while (i < a.length() && isDigit(a[i])) ++i;
    while (j < b.length() && isDigit(b[j])) ++j;
    if (i - startA != j - startB) return i - startA < j - startB ? -1 : 1;
    const int order = a.compare(startA, i - startA, b.substr(startB, j - startB));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int naturalCompare(const wxString& a, const wxString& b) {
    size_t i = 0, j = 0;
    while (i < a.length() && j < b.length()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            if (int order = compareNumbers(a, i, b, j)) return order;
            continue;
        }
        const wint_t x = std::towlower(static_cast<wint_t>(a[i].GetValue()));
        const wint_t y = std::towlower(static_cast<wint_t>(b[j].GetValue()));
        if (x != y) return x < y ? -1 : 1;
        ++i, ++j;
    }
    if (i < a.length() || j < b.length()) return i < a.length() ? 1 : -1;
    return 0;
}

// Walk order for paths below one folder: at the first name in which two
// paths differ, a folder comes before a file, else natural order decides.
bool walkOrder(const wxArrayString& a, const wxArrayString& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t k = 0; k < common; ++k) {
        if (a[k] == b[k]) continue;
        const bool folderA = k + 1 < a.size(), folderB = k + 1 < b.size();
        if (folderA != folderB) return folderA;
        return naturalLess(a[k], b[k]);
    }
    return a.size() < b.size();
}

// The names that image files of one folder would get as outputs in that
// same folder, when the names carry a suffix: outputs named like their
// sources (into another folder that is this one) can't be told from them.
// Told from the names alone, as output naming makes them.
class PlannedOutputs {
public:
    PlannedOutputs(const wxString& folder, const std::vector<wxString>& images, const OutputNaming& naming,
                   const wxString& walkedFolder)
        : naming(naming) {
        if (images.empty()) return;
        const wxString outputs = outputFolderFor(images.front(), naming, walkedFolder);
        if (!naming.sameFolder && !namesSameFile(outputs, folder.empty() ? wxString(wxT(".")) : folder)) return;
        const bool suffixed = !namedSuffix(naming).empty() || hasPlaceholder(naming.suffix);
        const wxString collisionSuffix = naming.collisionSuffix();
        for (const wxString& image : images) {
            const wxFileName source(image);
            if (suffixed)
                bases.insert(source.GetName().ToStdWstring());
            else if (wxT(".") + source.GetExt() == naming.extension)
                names.insert((source.GetName() + collisionSuffix + naming.extension).ToStdWstring());
        }
    }

    // Whether the file name is one of them, or a "-N" variant of one.
    bool has(const wxString& name) const { return isPlanned(name) || isPlanned(variantBase(name)); }

private:
    bool isPlanned(const wxString& name) const {
        if (names.count(name.ToStdWstring())) return true;
        if (bases.empty() || !name.EndsWith(naming.extension)) return false;
        // Some image's base name, then what the suffix expands to.
        const wxString stem = name.Left(name.length() - naming.extension.length());
        for (size_t length = 1; length < stem.length(); ++length)
            if (bases.count(stem.Left(length).ToStdWstring()) && matchesSuffix(stem.Mid(length), naming.suffix))
                return true;
        return false;
    }

    const OutputNaming& naming;
    std::unordered_set<std::wstring> names;  // exact names
    std::unordered_set<std::wstring> bases;  // base names, followed by the suffix pattern
};

// The image files of a walk, less those named as another file's output.
wxArrayString withoutEarlierOutputs(const wxArrayString& files, const OutputNaming* naming,
                                    const wxString& walkedFolder) {
    wxArrayString images;
    for (const wxString& file : files)
        if (isImageFilePath(file)) images.Add(file);
    if (!naming) return images;
    std::map<wxString, std::vector<wxString>> byFolder;
    for (const wxString& image : images) byFolder[wxFileName(image).GetPath()].push_back(image);
    std::map<wxString, PlannedOutputs> planned;
    for (const auto& [folder, inFolder] : byFolder)
        planned.emplace(std::piecewise_construct, std::forward_as_tuple(folder),
                        std::forward_as_tuple(folder, inFolder, *naming, walkedFolder));
    wxArrayString kept;
    for (const wxString& image : images) {
        const wxFileName name(image);
        if (!planned.at(name.GetPath()).has(name.GetFullName())) kept.Add(image);
    }
    return kept;
}

}  // namespace

const std::vector<wxString>& imageExtensions() {
    // A JPEG or TIFF under its other standard extension is the same file
    // type; the desktop entry offers pixloom for them too.
    static const std::vector<wxString> extensions = {wxT("png"), wxT("jpg"), wxT("jpeg"), wxT("jpe"), wxT("tiff"),
                                                     wxT("tif"), wxT("gif"), wxT("bmp"),  wxT("webp")};
    return extensions;
}

bool isImageFilePath(const wxString& path) {
    // wxFileName gives a name whose only dot leads (".png") no extension.
    const wxString extension = wxFileName(path).GetExt().Lower();
    const std::vector<wxString>& extensions = imageExtensions();
    const bool known = std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
    // The name first: it costs no file-system call. wxFileExists follows
    // links and accepts regular files only (no folders, devices or pipes).
    return known && wxFileExists(path);
}

bool naturalLess(const wxString& a, const wxString& b) {
    const int order = naturalCompare(a, b);
    return order != 0 ? order < 0 : a < b;
}

wxDirTraverseResult wxDirTraverserSimple::OnFile(const wxString& path) {
    files.Add(path);
    return wxDIR_CONTINUE;
}

wxDirTraverseResult wxDirTraverserSimple::OnDir(const wxString& path) {
    return enter(path) ? wxDIR_CONTINUE : wxDIR_IGNORE;
}

void wxDirTraverserSimple::skipFolder(const wxString& folder) {
    struct stat info;
    if (!folder.empty() && stat(nativePath(folder).c_str(), &info) == 0) skipped.insert({info.st_dev, info.st_ino});
}

bool wxDirTraverserSimple::enter(const wxString& folder) {
    const std::string name = nativePath(folder);  // the original bytes, also of names that aren't text
    struct stat info;
    if (stat(name.c_str(), &info) != 0) return false;
    if (root.empty())
        root = resolvedPath(name.c_str());  // the first folder entered is the one dropped
    else if (isLink(name.c_str()) && !isWithin(resolvedPath(name.c_str()), root))
        return false;  // a link out of the dropped folder: its images are not the user's choice
    else if (skipped.count({info.st_dev, info.st_ino}))
        return false;
    return entered.insert({info.st_dev, info.st_ino}).second;
}

wxArrayString walkFolder(const wxString& folder, const wxArrayString& skip) {
    const wxString root = withoutTrailingSeparators(folder);
    wxArrayString files;
    wxDir dir(root);  // a folder that cannot be opened gives nothing
    if (!dir.IsOpened()) return files;
    wxDirTraverserSimple traverser(files);
    for (const wxString& folder : skip) traverser.skipFolder(folder);
    // Without wxDIR_HIDDEN: dot-files are not listed, dot-folders not entered.
    if (traverser.enter(root)) dir.Traverse(traverser, wxEmptyString, wxDIR_FILES | wxDIR_DIRS);

    // The walk comes in the order the file system lists each folder; put it
    // in name order, so that runs over a folder are repeatable. (Indices are
    // sorted: the split names would be copied at every move.)
    const size_t prefix = root.length() + (root.EndsWith(wxFILE_SEP_PATH) ? 0 : 1);
    std::vector<wxArrayString> names;
    names.reserve(files.size());
    for (const wxString& file : files) names.push_back(wxSplit(file.Mid(prefix), wxFILE_SEP_PATH, wxT('\0')));
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return walkOrder(names[a], names[b]); });
    wxArrayString ordered;
    ordered.reserve(files.size());
    for (size_t i : order) ordered.Add(files[i]);
    return ordered;
}

wxArrayString FileListing::add(const wxArrayString& paths, const OutputNaming* naming) {
    wxArrayString added;
    for (const wxString& path : paths) {
        if (contains(path)) continue;
        if (isImageFilePath(path)) {
            list(path, added);
        } else if (wxDirExists(path)) {
            const wxString root = withoutTrailingSeparators(path);
            wxArrayString skip;
            if (naming && !naming->sameFolder) {
                // The destination, and the tree the outputs of this walk go to.
                skip.Add(naming->saveDir);
                if (naming->keepTree) skip.Add(outputFolderFor(root + wxFILE_SEP_PATH + wxT("x"), *naming, root));
            }
            for (const wxString& file : withoutEarlierOutputs(walkFolder(root, skip), naming, root))
                if (!contains(file)) list(file, added, root);
        }
    }
    return added;
}

void FileListing::list(const wxString& path, wxArrayString& added, const wxString& walkedFolder) {
    listed.add(path);
    if (!walkedFolder.empty()) walkedFrom[path.ToStdWstring()] = walkedFolder;
    added.Add(path);
}

wxString FileListing::walkedFolderOf(const wxString& path) const {
    auto found = walkedFrom.find(path.ToStdWstring());
    return found == walkedFrom.end() ? wxString() : found->second;
}

bool FileListing::contains(const wxString& path) const { return listed.names(path); }

void FileListing::forget(const wxString& path) {
    listed.remove(path);
    walkedFrom.erase(path.ToStdWstring());
}

void FileListing::clear() {
    listed.clear();
    walkedFrom.clear();
}

void FileListing::reset(const wxArrayString& entries) {
    listed.clear();
    std::unordered_map<std::wstring, wxString> kept;
    for (const wxString& entry : entries) {
        listed.add(entry);
        auto found = walkedFrom.find(entry.ToStdWstring());
        if (found != walkedFrom.end()) kept.insert(*found);
    }
    walkedFrom.swap(kept);
}
