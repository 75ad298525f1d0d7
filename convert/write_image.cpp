#include "write_image.h"

#include "output_path.h"

#include <wx/filename.h>
#include <wx/mstream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

namespace {

wxString systemError(int error) { return wxString::FromUTF8(std::system_category().message(error).c_str()); }

bool encode(const wxImage& image, const wxString& path, std::vector<char>& bytes, wxString& reason) {
    if (!image.IsOk()) {
        reason = wxT("there is no image to write");
        return false;
    }
    const wxString extension = wxFileName(path).GetExt().Lower();
    wxImageHandler* handler = wxImage::FindHandler(extension, wxBITMAP_TYPE_ANY);
    if (!handler) {
        reason = wxT("no image writer for \"") + extension + wxT("\"");
        return false;
    }
    wxMemoryOutputStream stream;
    if (!image.SaveFile(stream, handler->GetType()) || stream.GetLength() == 0) {
        reason = wxT("the image could not be encoded");
        return false;
    }
    bytes.resize(stream.GetLength());
    stream.CopyTo(bytes.data(), bytes.size());
    return true;
}

// A new hidden file in the folder of target, opened for writing.
int createTemporary(const std::string& target, std::string& temporary, wxString& reason) {
    static std::atomic<unsigned> counter{0};
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
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

bool writeAll(int fd, const std::vector<char>& bytes, wxString& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
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

}  // namespace

wxString writeImageFile(const wxImage& image, const wxString& path, const std::function<bool()>& abandoned) {
    wxString reason;
    std::vector<char> bytes;
    if (!encode(image, path, bytes, reason)) return reason;

    const std::string target = nativePath(path);
    // Replacing by rename would get past a write-protected file; writing in
    // place would not, and the user protected it for a reason.
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0)
        return wxT("the existing output file is write-protected: ") + systemError(errno);
    std::string temporary;
    int fd = createTemporary(target, temporary, reason);
    if (fd < 0) return reason;
    keepPermissions(fd, target);
    bool complete = writeAll(fd, bytes, reason);
    if (close(fd) != 0 && complete) {
        reason = wxT("write failed: ") + systemError(errno);
        complete = false;
    }
    if (complete && abandoned && abandoned()) {
        reason = wxT("abandoned");
        complete = false;
    }
    if (complete && rename(temporary.c_str(), target.c_str()) != 0) {
        reason = wxT("cannot replace the output file: ") + systemError(errno);
        complete = false;
    }
    if (!complete) unlink(temporary.c_str());
    return complete ? wxString() : reason;
}
