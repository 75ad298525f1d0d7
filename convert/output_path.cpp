// SPDX-License-Identifier: MIT
#include "output_path.h"

#include "name_guard.h"

#include <wx/filename.h>

namespace {

const wxString separator = wxFileName::GetPathSeparator();

// Beside the source: its folder, or the working folder for a bare name.
wxString besideSource(const wxFileName& source, const wxString& name) {
    wxString folder = source.GetPath(wxPATH_GET_VOLUME);
    if (folder.empty()) return name;
    if (folder.EndsWith(separator)) return folder + name;  // the root
    return folder + separator + name;
}

// A file name in the mode's folder: beside the source, or in the other folder.
wxString placed(const wxFileName& source, const OutputNaming& naming, const wxString& name) {
    return naming.sameFolder ? besideSource(source, name) : naming.saveDir + separator + name;
}

wxString plainPath(const wxFileName& source, const OutputNaming& naming) {
    const wxString suffix = naming.sameFolder ? naming.suffix : wxString();
    return placed(source, naming, source.GetName() + suffix + naming.extension);
}

// The collision rule: the same place, with a suffix that can't be empty.
wxString suffixedPath(const wxFileName& source, const OutputNaming& naming) {
    return placed(source, naming, source.GetName() + naming.collisionSuffix() + naming.extension);
}

}  // namespace

OutputNaming namingFor(const RunSettings& settings) {
    return {settings.sameFolder, settings.suffix, settings.saveDir, infoOf(settings.type).extension};
}

OutputPath outputPathFor(const wxString& source, const OutputNaming& naming) {
    // An empty folder text would put files at the root of the file system.
    if (!naming.sameFolder && naming.saveDir.empty()) return {wxString(), wxT("no save folder is set")};
    wxFileName sourceName(source);
    wxString path = plainPath(sourceName, naming);
    if (!namesSameFile(path, source)) return {path, wxString()};
    path = suffixedPath(sourceName, naming);
    if (!namesSameFile(path, source)) return {path, wxString()};
    return {wxString(), wxT("the output would replace the source file")};
}
