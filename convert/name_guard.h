// SPDX-License-Identifier: MIT
// Which names an output may take. A run never writes over one of its
// sources, a file it wrote, or a file still listed to be converted: a
// planned name held by one of those gets the first free variant instead
// ("cat_res.png", then "cat_res-2.png", ...). Files are told apart as the
// file system does.
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

// What a path names: the file's device and inode when it exists, and always
// its absolute path with "." and ".." resolved and symbolic links followed
// as far as they exist, so that a file not yet created or already gone is
// still told apart. Letter case counts: names differing only in case are
// two files unless the file system says they are one.
struct FileIdentity {
    bool exists = false;
    std::pair<dev_t, ino_t> inode{};
    std::string path;
};
FileIdentity identityOf(const wxString& path);

// A set of files, told apart by their identity.
class FileSet {
public:
    // Adding a path twice counts it twice; removing takes one count off.
    void add(const wxString& path);
    // Adds path unless it names a file of the set already; whether it did.
    bool addNew(const wxString& path);
    void remove(const wxString& path);
    void clear();
    // Whether path names a file of the set, as it is on disk now.
    bool names(const wxString& path) const;
    size_t size() const { return recorded.size(); }

private:
    void insert(const wxString& path, const FileIdentity& identity);
    bool names(const FileIdentity& identity) const;

    std::unordered_multimap<std::string, FileIdentity> recorded;  // by the path's bytes
    std::multiset<std::pair<dev_t, ino_t>> identities;
    std::unordered_multiset<std::string> absolutes;
};

// The files of one run that its outputs must leave alone.
class NameGuard {
public:
    // isWaiting tells whether a path names a file still listed.
    explicit NameGuard(std::function<bool(const wxString&)> isWaiting = nullptr);

    void sourceTaken(const wxString& path) { sources.add(path); }
    void outputWritten(const wxString& path) { outputs.add(path); }
    bool isProtected(const wxString& path) const;

    // The planned path, or its first variant that is not protected. A file an
    // earlier run left there is replaced. Empty when cancel is requested
    // meanwhile (a closed window protects every name).
    wxString freeName(const wxString& planned, const CancelToken& cancel = {}) const;

private:
    FileSet sources, outputs;
    std::function<bool(const wxString&)> isWaiting;
};

// The n-th name variant of path: "-n" added to the base name before the
// extension ("cat_res.png" -> "cat_res-2.png").
wxString variantPath(const wxString& path, int n);

// The name a variant was made from ("cat_res-3.png" -> "cat_res.png"); any
// other name as it is. Names without folders.
wxString variantBase(const wxString& name);
inline bool isNameOrVariant(const wxString& name, const wxString& planned) {
    return name == planned || variantBase(name) == planned;
}

// True when both paths name one file: the same text, the same device and
// inode when both exist, else the same resolved path (see FileIdentity).
bool namesSameFile(const wxString& a, const wxString& b);
