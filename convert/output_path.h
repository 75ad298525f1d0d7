// SPDX-License-Identifier: MIT
// Where a converted file is written: beside its source with a suffix, or in
// another folder (under the source's sub-folder path, if asked); never over
// the source itself.
#pragma once

#include "settings.h"

#include <wx/string.h>

#include <utility>

// What a suffix's placeholders stand for in one output: {w} and {h} its
// width and height in pixels (0: not known yet, the placeholder stays as it
// is), {size} the box as asked for.
struct OutputSize {
    int width = 0;
    int height = 0;
    wxString box;
};

struct OutputNaming {
    OutputNaming(bool sameFolder = true, wxString suffix = wxString(), wxString saveDir = wxString(),
                 wxString extension = wxString(), bool keepTree = false, OutputSize size = OutputSize())
        : sameFolder(sameFolder),
          suffix(std::move(suffix)),
          saveDir(std::move(saveDir)),
          extension(std::move(extension)),
          keepTree(keepTree),
          size(std::move(size)) {}
    bool sameFolder = true;  // beside the source, with the suffix
    wxString suffix;
    wxString saveDir;       // the other folder, as typed
    wxString extension;     // ".jpg", ".png" or ".bmp"
    bool keepTree = false;  // a walked file goes under its sub-folder path in saveDir
    OutputSize size;

    // Added when the plain name would be the source's: never empty.
    wxString collisionSuffix() const { return suffix.empty() ? wxString(wxT("_res")) : suffix; }
};

// A path to write to, or the reason there is none (path empty).
struct OutputPath {
    wxString path;
    wxString error;
};

OutputNaming namingFor(const RunSettings& settings);
// The naming of the output reduced to box (one of the run's sizes).
OutputNaming namingFor(const RunSettings& settings, const TargetBox& box);

// "1920x1080", or in percent "50%" ("50x60%" when they differ).
wxString boxText(const TargetBox& box, bool percent);
// The path without separators at its end; the root stays "/".
wxString withoutTrailingSeparators(wxString path);

// Whether the suffix holds {w}, {h} or {size}.
bool hasPlaceholder(const wxString& suffix);
// The suffix with its placeholders replaced; any other "{...}" is text.
wxString expandSuffix(const wxString& suffix, const OutputSize& size);
// Whether text is what suffix expands to for some size.
bool matchesSuffix(const wxString& text, const wxString& suffix);
// What follows the base name of an output: the expanded suffix beside the
// source, and in the other folder only when it holds a placeholder.
wxString namedSuffix(const OutputNaming& naming);

// The folder an output of source goes to. walkedFolder is the folder whose
// walk listed source (empty for a file named on its own): with keepTree the
// output goes below saveDir, in the walked folder's name and then the
// sub-folders between it and the source.
wxString outputFolderFor(const wxString& source, const OutputNaming& naming, const wxString& walkedFolder = wxString());

// The output path of one source. When the plain path would name the source
// itself, the suffix (or "_res" when it is empty) is added; when even that
// names the source, there is no path.
OutputPath outputPathFor(const wxString& source, const OutputNaming& naming, const wxString& walkedFolder = wxString());
