// SPDX-License-Identifier: MIT
// What the fuzz targets share: the toolkit started as the programs start it,
// fuzzed bytes as a file the program opens by name, bytes split into texts.
#pragma once

#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

// The toolkit and its image handlers, file names taken as bytes, as
// pixloom-batch sets them up. Once, from LLVMFuzzerInitialize.
void startToolkit();

// The bytes as an unnamed file in memory, reachable by a path while this
// lives: every open of the path is a file of its own, as on disk.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return descriptor >= 0; }
    wxString path() const;

private:
    int descriptor = -1;
};

// The bytes cut at every separator (empty pieces kept).
std::vector<std::string> split(const std::uint8_t* data, std::size_t size, char separator);

// A fresh folder under $TMPDIR, else /dev/shm (or the temporary folder),
// removed when the process ends normally.
std::string scratchFolder(const char* name);

// Aborts with the message: a broken promise of the code under test that
// libFuzzer then keeps as a crash.
[[noreturn]] void broken(const char* what);

}  // namespace fuzzing
