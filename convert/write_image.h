// Writing a converted image so that a file appears complete or not at all.
#pragma once

#include <wx/image.h>
#include <wx/string.h>

#include <functional>
#include <vector>

// Encodes image in the format its extension names (in any case: "png",
// "jpg", "bmp"), with the image's options (such as "quality"). Returns an
// empty string on success, else the reason.
wxString encodeImage(const wxImage& image, const wxString& extension, std::vector<char>& bytes);

// Writes bytes to path. They go to a temporary file in the destination folder
// (unnamed where the file system allows it, so that a killed program leaves
// nothing behind; else a hidden name), which is synced and only then takes the
// name path; the folder is synced after. On any failure, or when abandoned()
// says so before the naming, an existing file at path stays as it was and no
// temporary file is left. A write-protected file at path is not replaced.
// Returns an empty string on success, else the reason.
wxString writeFileAtomically(const std::vector<char>& bytes, const wxString& path,
                             const std::function<bool()>& abandoned = nullptr);

// Both of the above.
wxString writeImageFile(const wxImage& image, const wxString& path, const std::function<bool()>& abandoned = nullptr);

// Tests only: make writes use hidden temporary names as on file systems
// without unnamed temporary files.
void useNamedTemporaryFiles(bool named);
