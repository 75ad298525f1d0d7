// SPDX-License-Identifier: MIT
#include "fuzz_support.h"

#include <wx/image.h>
#include <wx/init.h>
#include <wx/debug.h>
#include <wx/strconv.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fuzzing {

namespace {

// A check the toolkit fails outside the program's capture of them is the
// program's misuse of the toolkit.
void failedCheck(const wxString& file, int line, const wxString& function, const wxString& condition,
                 const wxString& message) {
    std::fprintf(stderr, "%s:%d: %s: %s %s\n", file.utf8_str().data(), line, function.utf8_str().data(),
                 condition.utf8_str().data(), message.utf8_str().data());
    broken("the toolkit's check failed");
}

}  // namespace

void startToolkit() {
    static std::unique_ptr<wxInitializer> toolkit;
    if (toolkit) return;
    wxSetAssertHandler(failedCheck);
    toolkit = std::make_unique<wxInitializer>();
    if (!toolkit->IsOk()) broken("the toolkit does not start");
    static wxConvBrokenFileNames fileNames(wxT("UTF-8"));
    wxConvFileName = &fileNames;
    wxInitAllImageHandlers();
}

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size) : descriptor(memfd_create("fuzz-input", 0)) {
    for (std::size_t done = 0; descriptor >= 0 && done < size;) {
        const ssize_t wrote = write(descriptor, data + done, size - done);
        if (wrote <= 0) broken("the input cannot be written to memory");
        done += static_cast<std::size_t>(wrote);
    }
}

MemoryFile::~MemoryFile() {
    if (descriptor >= 0) close(descriptor);
}

wxString MemoryFile::path() const { return wxString::Format(wxT("/proc/self/fd/%d"), descriptor); }

std::vector<std::string> split(const std::uint8_t* data, std::size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }
    return pieces;
}

namespace {

// Scratch folders go when the process ends.
struct ScratchFolders {
    std::vector<std::string> made;
    ~ScratchFolders() {
        std::error_code ignored;
        for (const std::string& folder : made) std::filesystem::remove_all(folder, ignored);
    }
};
ScratchFolders scratchFolders;

}  // namespace

std::string scratchFolder(const char* name) {
    // $TMPDIR when set (scripts/fuzz.sh gives each run one, removed after
    // it: a crashed target leaves its folder behind), else memory.
    const char* tmp = std::getenv("TMPDIR");
    const std::filesystem::path shm("/dev/shm");
    std::error_code error;
    const std::filesystem::path base = tmp && *tmp ? std::filesystem::path(tmp)
                                       : std::filesystem::is_directory(shm, error)
                                           ? shm
                                           : std::filesystem::temp_directory_path();
    std::string folder = (base / (std::string("pixloom-fuzz-") + name + "-XXXXXX")).string();
    if (!mkdtemp(folder.data())) broken("no scratch folder");
    scratchFolders.made.push_back(folder);
    return folder;
}

void broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

}  // namespace fuzzing
