// SPDX-License-Identifier: MIT
// Where a converted file is written: beside its source with a suffix, or in
// another folder; never over the source itself.
#pragma once

#include "settings.h"

#include <wx/string.h>

struct OutputNaming {
    bool sameFolder = true;  // beside the source, with the suffix
    wxString suffix;
    wxString saveDir;        // the other folder, as typed
    wxString extension;      // ".jpg", ".png" or ".bmp"

    // Added when the plain name would be the source's: never empty.
    wxString collisionSuffix() const { return suffix.empty() ? wxString(wxT("_res")) : suffix; }
};

// A path to write to, or the reason there is none (path empty).
struct OutputPath {
    wxString path;
    wxString error;
};

OutputNaming namingFor(const RunSettings& settings);

// The output path of one source. When the plain path would name the source
// itself, the suffix (or "_res" when it is empty) is added; when even that
// names the source, there is no path.
OutputPath outputPathFor(const wxString& source, const OutputNaming& naming);
