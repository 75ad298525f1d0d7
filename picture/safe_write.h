// SPDX-License-Identifier: MIT
// Writing a file so that it appears complete or not at all.
#pragma once

#include "cancel_token.h"

#include <wx/string.h>

#include <time.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

// Writes bytes to path. They go to a temporary file in the destination folder
// (unnamed where the file system and /proc allow it, so that a killed program
// leaves nothing behind; else a hidden name), which is synced and only then
// takes the name path; the folder is synced after. On any failure, or when
// cancel is requested before the naming, an existing file at path stays as it
// was and no temporary file is left. commit(), if given, is asked last, just
// before the naming: true makes the write final. A write-protected file at
// path is not replaced. times, if given (access, then modification), are
// the file's before it takes its name. Returns an empty string on success,
// else the reason.
using FileTimes = std::array<timespec, 2>;
wxString writeFileAtomically(const std::vector<char>& bytes, const wxString& path, const CancelToken& cancel = {},
                             const std::function<bool()>& commit = nullptr, const FileTimes* times = nullptr);

// The bytes the operating system knows the path by.
std::string nativePath(const wxString& path);
