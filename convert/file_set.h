// A set of files told apart as the file system does: by device and inode
// where a file exists, by its absolute path (with "." and ".." resolved)
// always, so that a file not yet created or already gone still counts.
#pragma once

#include <wx/string.h>

#include <sys/types.h>

#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

class FileSet {
public:
    // Adding a path twice counts it twice; removing takes one count off.
    void add(const wxString& path);
    void remove(const wxString& path);
    void clear();
    // Whether path names a file of the set, as it is on disk now.
    bool names(const wxString& path) const;
    size_t size() const { return recorded.size(); }

private:
    using Identity = std::pair<dev_t, ino_t>;
    struct Entry {
        bool exists;
        Identity identity;
        std::string absolute;
    };
    std::unordered_multimap<std::string, Entry> recorded;  // by the path's bytes
    std::multiset<Identity> identities;
    std::unordered_multiset<std::string> absolutes;
};

// The path made absolute from the working folder with "." and ".." resolved
// by their text: no file-system call but the working folder's.
std::string absolutePath(const std::string& nativePath);
