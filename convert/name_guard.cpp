// SPDX-License-Identifier: MIT
#include "name_guard.h"

#include "safe_write.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <filesystem>

namespace {

bool identityOf(const std::string& path, std::pair<dev_t, ino_t>& identity) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    identity = {info.st_dev, info.st_ino};
    return true;
}

std::filesystem::path normalised(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return std::filesystem::path(path).lexically_normal();
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    if (error) return absolute.lexically_normal();
    return resolved;
}

// Where the extension of path starts (its length when it has none, or only
// a leading dot).
size_t extensionStart(const wxString& path) {
    const size_t slash = path.find_last_of(wxFileName::GetPathSeparator());
    const size_t nameStart = slash == wxString::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of(wxT('.'));
    return dot == wxString::npos || dot <= nameStart ? path.length() : dot;
}

}  // namespace

std::string absolutePath(const std::string& nativePath) {
    std::error_code error;
    std::filesystem::path absolute = nativePath;
    if (!absolute.is_absolute()) absolute = std::filesystem::absolute(nativePath, error);
    if (error) absolute = nativePath;
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

void FileSet::add(const wxString& path) {
    const std::string native = nativePath(path);
    Entry entry{false, {}, absolutePath(native)};
    entry.exists = identityOf(native, entry.identity);
    if (entry.exists) identities.insert(entry.identity);
    absolutes.insert(entry.absolute);
    recorded.emplace(native, entry);
}

void FileSet::remove(const wxString& path) {
    auto found = recorded.find(nativePath(path));
    if (found == recorded.end()) return;
    const Entry& entry = found->second;
    if (entry.exists) identities.erase(identities.find(entry.identity));
    absolutes.erase(absolutes.find(entry.absolute));
    recorded.erase(found);
}

void FileSet::clear() {
    recorded.clear();
    identities.clear();
    absolutes.clear();
}

bool FileSet::names(const wxString& path) const {
    if (recorded.empty()) return false;
    const std::string native = nativePath(path);
    std::pair<dev_t, ino_t> identity;
    if (identityOf(native, identity) && identities.count(identity)) return true;
    return absolutes.count(absolutePath(native)) != 0;
}

NameGuard::NameGuard(std::function<bool(const wxString&)> isWaiting) : isWaiting(std::move(isWaiting)) {}

bool NameGuard::isProtected(const wxString& path) const {
    return sources.names(path) || outputs.names(path) || (isWaiting && isWaiting(path));
}

wxString NameGuard::freeName(const wxString& planned, const std::function<bool()>& stillWanted) const {
    for (int n = 1; !stillWanted || stillWanted(); ++n) {
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
    const std::string nativeA = nativePath(a), nativeB = nativePath(b);
    struct stat statA, statB;
    if (stat(nativeA.c_str(), &statA) == 0 && stat(nativeB.c_str(), &statB) == 0)
        return statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    return normalised(nativeA) == normalised(nativeB);
}
