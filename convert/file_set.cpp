#include "file_set.h"

#include "output_path.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

bool identityOf(const std::string& path, std::pair<dev_t, ino_t>& identity) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    identity = {info.st_dev, info.st_ino};
    return true;
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
