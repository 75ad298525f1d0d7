// Where a converted file is written: beside its source with a suffix, or in
// another folder; never over the source itself.
#pragma once

#include "run_settings.h"

#include <wx/string.h>

#include <string>

struct OutputNaming {
    bool sameFolder = true;  // beside the source, with the suffix
    wxString suffix;
    wxString saveDir;        // the other folder, as typed
    wxString extension;      // ".jpg", ".png" or ".bmp"
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

// The n-th name variant of path: "-n" added to the base name before the
// extension ("cat_res.png" -> "cat_res-2.png").
wxString variantPath(const wxString& path, int n);

// True when both paths name one file: the same text, the same device and
// inode when both exist, else the same absolute path once "." and ".."
// are resolved and symbolic links followed as far as they exist.
bool namesSameFile(const wxString& a, const wxString& b);

// The bytes the operating system knows the path by.
std::string nativePath(const wxString& path);
