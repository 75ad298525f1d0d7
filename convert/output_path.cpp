#include "output_path.h"

#include <wx/filename.h>

#include <sys/stat.h>

#include <filesystem>

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
    const wxString suffix = naming.suffix.empty() ? wxString(wxT("_res")) : naming.suffix;
    return placed(source, naming, source.GetName() + suffix + naming.extension);
}

std::filesystem::path normalised(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return std::filesystem::path(path).lexically_normal();
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    if (error) return absolute.lexically_normal();
    return resolved;
}

}  // namespace

OutputNaming namingFor(const RunSettings& settings) {
    return {settings.sameFolder, settings.suffix, settings.saveDir, extensionFor(settings.type)};
}

wxString variantPath(const wxString& path, int n) {
    const size_t nameStart = path.find_last_of(separator) == wxString::npos ? 0 : path.find_last_of(separator) + 1;
    size_t dot = path.find_last_of(wxT('.'));
    if (dot == wxString::npos || dot <= nameStart) dot = path.length();  // no extension, or a leading dot only
    return path.substr(0, dot) + wxString::Format(wxT("-%d"), n) + path.substr(dot);
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

bool namesSameFile(const wxString& a, const wxString& b) {
    if (a == b) return true;
    const std::string nativeA = nativePath(a), nativeB = nativePath(b);
    struct stat statA, statB;
    if (stat(nativeA.c_str(), &statA) == 0 && stat(nativeB.c_str(), &statB) == 0)
        return statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    return normalised(nativeA) == normalised(nativeB);
}

std::string nativePath(const wxString& path) {
    wxCharBuffer bytes = wxConvFileName->cWX2MB(path.wc_str());
    if (bytes.data()) return std::string(bytes.data(), bytes.length());
    return std::string(path.utf8_str());
}
