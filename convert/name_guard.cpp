// SPDX-License-Identifier: MIT
#include "name_guard.h"

#include "safe_write.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

// Where the extension of path starts (its length when it has none, or only
// a leading dot).
size_t extensionStart(const wxString& path) {
    const size_t slash = path.find_last_of(wxFileName::GetPathSeparator());
    const size_t nameStart = slash == wxString::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of(wxT('.'));
    return dot == wxString::npos || dot <= nameStart ? path.length() : dot;
}

}  // namespace

FileIdentity identityOf(const wxString& path) {
    const std::string native = nativePath(path);
    FileIdentity identity;
    struct stat info;
    if (stat(native.c_str(), &info) == 0) {
        identity.exists = true;
        identity.inode = {info.st_dev, info.st_ino};
        // The same as below for a path that exists, in one call of the C library's.
        std::unique_ptr<char, decltype(&std::free)> resolved(realpath(native.c_str(), nullptr), &std::free);
        if (resolved) {
            identity.path = resolved.get();
            return identity;
        }
    }
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(native, error);
    if (error) absolute = native;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    if (error) resolved = absolute.lexically_normal();
    identity.path = resolved.string();
    while (identity.path.size() > 1 && identity.path.back() == '/') identity.path.pop_back();
    return identity;
}

void FileSet::add(const wxString& path) { insert(path, identityOf(path)); }

bool FileSet::addNew(const wxString& path) {
    const FileIdentity identity = identityOf(path);
    if (names(identity)) return false;
    insert(path, identity);
    return true;
}

void FileSet::insert(const wxString& path, const FileIdentity& identity) {
    if (identity.exists) identities.insert(identity.inode);
    absolutes.insert(identity.path);
    recorded.emplace(nativePath(path), identity);
}

void FileSet::remove(const wxString& path) {
    auto found = recorded.find(nativePath(path));
    if (found == recorded.end()) return;
    const FileIdentity& identity = found->second;
    if (identity.exists) identities.erase(identities.find(identity.inode));
    absolutes.erase(absolutes.find(identity.path));
    recorded.erase(found);
}

void FileSet::clear() {
    recorded.clear();
    identities.clear();
    absolutes.clear();
}

bool FileSet::names(const wxString& path) const { return !recorded.empty() && names(identityOf(path)); }

bool FileSet::names(const FileIdentity& identity) const {
    return (identity.exists && identities.count(identity.inode)) || absolutes.count(identity.path) != 0;
}

NameGuard::NameGuard(std::function<bool(const wxString&)> isWaiting) : isWaiting(std::move(isWaiting)) {}

bool NameGuard::isProtected(const wxString& path) const {
    return sources.names(path) || outputs.names(path) || (isWaiting && isWaiting(path));
}

wxString NameGuard::freeName(const wxString& planned, const CancelToken& cancel) const {
    for (int n = 1; !cancel.requested(); ++n) {
        const wxString candidate = n == 1 ? planned : variantPath(planned, n);
        if (!isProtected(candidate)) return candidate;
    }
    return wxString();
}

wxString variantPath(const wxString& path, int n) {
    const size_t dot = extensionStart(path);
    return path.substr(0, dot) + wxString::Format(wxT("-%d"), n) + path.substr(dot);
}

wxString variantBase(const wxString& name) {
    const size_t end = extensionStart(name);
    const size_t dash = name.find_last_of(wxT('-'), end);
    if (dash == wxString::npos || dash + 1 >= end) return name;
    const wxString number = name.substr(dash + 1, end - dash - 1);
    unsigned long n;
    if (!number.IsNumber() || number[0] == wxT('0') || !number.ToULong(&n) || n < 2) return name;
    return name.substr(0, dash) + name.substr(end);
}

bool namesSameFile(const wxString& a, const wxString& b) {
    if (a == b) return true;
    const FileIdentity first = identityOf(a), second = identityOf(b);
    if (first.exists && second.exists) return first.inode == second.inode;
    return first.path == second.path;
}
