// SPDX-License-Identifier: MIT
#include "safe_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

std::string nativePath(const wxString& path) {
    wxCharBuffer bytes = wxConvFileName->cWX2MB(path.wc_str());
    if (bytes.data()) return std::string(bytes.data(), bytes.length());
    return std::string(path.utf8_str());
}

namespace {

wxString systemError(int error) { return wxString::FromUTF8(std::system_category().message(error).c_str()); }

std::string folderOf(const std::string& target) {
    const std::string::size_type slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

// A new hidden file beside target, opened for writing.
int createHidden(const std::string& target, std::string& temporary, wxString& reason) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folderOf(target);
    std::string name = target.substr(folder.size());
    name.resize(std::min<size_t>(name.size(), 200));  // room for the tail within NAME_MAX
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "." + name + ".pixloom-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        // The mode is what a plain create would give: 0666 less the umask.
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            reason = wxT("cannot create a file in the destination folder: ") + systemError(errno);
            return -1;
        }
    }
    reason = wxT("cannot create a temporary file in the destination folder");
    return -1;
}

// An unnamed file is named through /proc/self/fd; without /proc (a chroot,
// a container) it could never be named.
bool canNameUnnamedFiles() { return access("/proc/self/fd", X_OK) == 0; }

// An unnamed file in target's folder, or -1 where the file system has none.
int createUnnamed(const std::string& target) {
    if (!canNameUnnamedFiles()) return -1;
    const std::string folder = folderOf(target);
    return open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// In pieces, so that a file given up meanwhile is not written to its end.
bool writeAll(int fd, const std::vector<char>& bytes, const CancelToken& cancel, wxString& reason) {
    const size_t piece = size_t{8} << 20;
    size_t done = 0;
    while (done < bytes.size()) {
        if (cancel.requested()) {
            reason = wxT("abandoned");
            return false;
        }
        ssize_t n = write(fd, bytes.data() + done, std::min(piece, bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            reason = wxT("write failed: ") + systemError(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) {
        reason = wxT("write failed: ") + systemError(errno);
        return false;
    }
    return true;
}

// A replaced file keeps its permissions, as it would when written in place.
void keepPermissions(int fd, const std::string& target) {
    struct stat existing;
    if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) fchmod(fd, existing.st_mode & 0777);
}

// Gives the unnamed file fd the name path: at once when nothing is there,
// else under a hidden name first, renamed over the old file.
bool nameUnnamed(int fd, const std::string& target, wxString& reason) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) {
        reason = wxT("cannot name the output file: ") + systemError(errno);
        return false;
    }
    std::string temporary;
    for (unsigned attempt = 0;; ++attempt) {
        temporary = folderOf(target) + ".pixloom-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
        if (errno != EEXIST || attempt == 100) {
            reason = wxT("cannot name the output file: ") + systemError(errno);
            return false;
        }
    }
    if (rename(temporary.c_str(), target.c_str()) == 0) return true;
    reason = wxT("cannot replace the output file: ") + systemError(errno);
    unlink(temporary.c_str());
    return false;
}

void syncFolder(const std::string& target) {
    const std::string folder = folderOf(target);
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // some file systems refuse to sync folders; the file itself is synced
    close(fd);
}

bool closeFile(int fd, bool complete, wxString& reason) {
    if (close(fd) == 0 || !complete) return complete;
    reason = wxT("write failed: ") + systemError(errno);
    return false;
}

bool setTimes(int fd, const FileTimes* times, wxString& reason) {
    if (!times) return true;
    if (futimens(fd, times->data()) == 0 && fsync(fd) == 0) return true;
    reason = wxT("cannot set the file's dates: ") + systemError(errno);
    return false;
}

bool stillWanted(bool wanted, wxString& reason) {
    if (wanted) return true;
    reason = wxT("abandoned");
    return false;
}

}  // namespace

wxString writeFileAtomically(const std::vector<char>& bytes, const wxString& path, const CancelToken& cancel,
                             const std::function<bool()>& commit, const FileTimes* times) {
    const std::string target = nativePath(path);
    // Replacing by rename would get past a write-protected file; writing in
    // place would not, and the user protected it for a reason.
    // Asked with the effective ids, as the write would be: not the real ones.
    if (access(target.c_str(), F_OK) == 0 && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return wxT("the existing output file is write-protected: ") + systemError(errno);
    wxString reason;
    std::string temporary;  // empty while the file has no name
    int fd = createUnnamed(target);
    if (fd < 0 && (fd = createHidden(target, temporary, reason)) < 0) return reason;
    keepPermissions(fd, target);
    bool complete = writeAll(fd, bytes, cancel, reason) && setTimes(fd, times, reason) &&
                    stillWanted(!cancel.requested(), reason) && stillWanted(!commit || commit(), reason);
    if (temporary.empty()) {
        complete = complete && nameUnnamed(fd, target, reason);
        complete = closeFile(fd, complete, reason);
    } else {
        complete = closeFile(fd, complete, reason);
        if (complete && rename(temporary.c_str(), target.c_str()) != 0) {
            reason = wxT("cannot replace the output file: ") + systemError(errno);
            complete = false;
        }
        if (!complete) unlink(temporary.c_str());
    }
    if (complete) syncFolder(target);
    return complete ? wxString() : reason;
}
