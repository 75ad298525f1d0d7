// Writing a converted image so that a file appears complete or not at all.
#pragma once

#include <wx/image.h>
#include <wx/string.h>

#include <functional>

// Writes image to path in the format its extension names (in any case),
// with the image's options (such as "quality"). The bytes go to a hidden
// temporary file in the destination folder, which replaces path only once it
// is complete; on any failure, or when abandoned() says so before that, the
// temporary file is removed and an existing file at path stays as it was.
// Returns an empty string on success, else the reason.
wxString writeImageFile(const wxImage& image, const wxString& path,
                        const std::function<bool()>& abandoned = nullptr);
