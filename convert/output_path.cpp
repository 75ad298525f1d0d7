// SPDX-License-Identifier: MIT
#include "output_path.h"

#include "name_guard.h"
#include "safe_write.h"

#include <wx/filename.h>

#include <filesystem>

#include <vector>

namespace {

const wxString separator = wxFileName::GetPathSeparator();

// A suffix in pieces: text, or one of the placeholders.
struct Piece {
    enum Kind { Text, Width, Height, Box } kind;
    wxString text;
};

std::vector<Piece> piecesOf(const wxString& suffix) {
    static const std::pair<const wchar_t*, Piece::Kind> names[] = {
        {L"{w}", Piece::Width}, {L"{h}", Piece::Height}, {L"{size}", Piece::Box}};
    std::vector<Piece> pieces;
    for (size_t i = 0; i < suffix.length();) {
        bool placeholder = false;
        for (const auto& [name, kind] : names) {
            const size_t length = wcslen(name);
            if (suffix.compare(i, length, name) != 0) continue;
            pieces.push_back({kind, wxString()});
            i += length;
            placeholder = true;
            break;
        }
        if (placeholder) continue;
        if (pieces.empty() || pieces.back().kind != Piece::Text) pieces.push_back({Piece::Text, wxString()});
        pieces.back().text += suffix[i++];
    }
    return pieces;
}

bool isDecimalDigit(wxUniChar c) { return c >= wxT('0') && c <= wxT('9'); }
bool isBoxCharacter(wxUniChar c) { return isDecimalDigit(c) || c == wxT('x') || c == wxT('%'); }

wxString joined(const wxString& folder, const wxString& name) {
    if (folder.empty()) return name;
    if (folder.EndsWith(separator)) return folder + name;  // the root
    return folder + separator + name;
}

// The walked folder's own name, "." and ".." resolved ("" for the root).
wxString folderName(const wxString& folder) {
    std::error_code error;
    std::string absolute = std::filesystem::absolute(nativePath(folder), error).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    const std::string name = absolute.substr(absolute.rfind('/') + 1);
    return wxString(name.c_str(), *wxConvFileName);
}

// Below saveDir: the walked folder's name, then the source's sub-folders.
wxString treeFolder(const wxString& source, const OutputNaming& naming, const wxString& walkedFolder) {
    const wxString walked = withoutTrailingSeparators(walkedFolder);
    const wxString prefix = walked.EndsWith(separator) ? walked : walked + separator;
    const wxString folder = wxFileName(source).GetPath(wxPATH_GET_VOLUME);
    wxString below;
    if (folder.length() > prefix.length() && folder.StartsWith(prefix)) below = folder.Mid(prefix.length());
    wxString tree = joined(naming.saveDir, folderName(walked));
    return below.empty() ? tree : joined(tree, below);
}

// A file name in the mode's folder: beside the source, or in the other one.
wxString placed(const wxString& folder, const OutputNaming& naming, const wxString& name) {
    return naming.sameFolder ? joined(folder, name) : folder + separator + name;
}

wxString plainPath(const wxFileName& source, const wxString& folder, const OutputNaming& naming) {
    return placed(folder, naming, source.GetName() + namedSuffix(naming) + naming.extension);
}

// The collision rule: the same place, with a suffix that can't be empty.
wxString suffixedPath(const wxFileName& source, const wxString& folder, const OutputNaming& naming) {
    const wxString suffix = expandSuffix(naming.collisionSuffix(), naming.size);
    return placed(folder, naming, source.GetName() + suffix + naming.extension);
}

}  // namespace

wxString withoutTrailingSeparators(wxString path) {
    while (path.length() > 1 && path.EndsWith(separator)) path.RemoveLast();
    return path;
}

wxString boxText(const TargetBox& box, bool percent) {
    if (!percent) return wxString::Format(wxT("%dx%d"), box.width, box.height);
    if (box.width == box.height) return wxString::Format(wxT("%d%%"), box.width);
    return wxString::Format(wxT("%dx%d%%"), box.width, box.height);
}

bool hasPlaceholder(const wxString& suffix) {
    for (const Piece& piece : piecesOf(suffix))
        if (piece.kind != Piece::Text) return true;
    return false;
}

wxString expandSuffix(const wxString& suffix, const OutputSize& size) {
    wxString text;
    for (const Piece& piece : piecesOf(suffix)) {
        switch (piece.kind) {
        case Piece::Width:
            text += size.width > 0 ? wxString::Format(wxT("%d"), size.width) : wxString(wxT("{w}"));
            break;
        case Piece::Height:
            text += size.height > 0 ? wxString::Format(wxT("%d"), size.height) : wxString(wxT("{h}"));
            break;
        case Piece::Box:
            text += size.box.empty() ? wxString(wxT("{size}")) : size.box;
            break;
        default:
            text += piece.text;
        }
    }
    return text;
}

bool matchesSuffix(const wxString& text, const wxString& suffix) {
    // reached[i]: the pieces so far can make text's first i characters.
    const std::vector<Piece> pieces = piecesOf(suffix);
    std::vector<char> reached(text.length() + 1, 0);
    reached[0] = 1;
    for (const Piece& piece : pieces) {
        std::vector<char> next(text.length() + 1, 0);
        for (size_t i = 0; i <= text.length(); ++i) {
            if (!reached[i]) continue;
            if (piece.kind == Piece::Text) {
                if (text.compare(i, piece.text.length(), piece.text) == 0) next[i + piece.text.length()] = 1;
                continue;
            }
            const auto fits = piece.kind == Piece::Box ? isBoxCharacter : isDecimalDigit;
            for (size_t j = i; j < text.length() && fits(text[j]); ++j) next[j + 1] = 1;
        }
        reached.swap(next);
    }
    return reached[text.length()] != 0;
}

wxString namedSuffix(const OutputNaming& naming) {
    if (!naming.sameFolder && !hasPlaceholder(naming.suffix)) return wxString();
    return expandSuffix(naming.suffix, naming.size);
}

OutputNaming namingFor(const RunSettings& settings) { return namingFor(settings, {settings.width, settings.height}); }

OutputNaming namingFor(const RunSettings& settings, const TargetBox& box) {
    return {settings.sameFolder, settings.suffix,
            settings.saveDir,    infoOf(settings.type).extension,
            settings.keepTree,   {0, 0, boxText(box, settings.percent)}};
}

wxString outputFolderFor(const wxString& source, const OutputNaming& naming, const wxString& walkedFolder) {
    if (naming.sameFolder) return wxFileName(source).GetPath(wxPATH_GET_VOLUME);  // "" for a bare name
    if (naming.keepTree && !walkedFolder.empty()) return treeFolder(source, naming, walkedFolder);
    return naming.saveDir;
}

OutputPath outputPathFor(const wxString& source, const OutputNaming& naming, const wxString& walkedFolder) {
    // An empty folder text would put files at the root of the file system.
    if (!naming.sameFolder && naming.saveDir.empty()) return {wxString(), wxT("no save folder is set")};
    const wxFileName sourceName(source);
    const wxString folder = outputFolderFor(source, naming, walkedFolder);
    wxString path = plainPath(sourceName, folder, naming);
    if (!namesSameFile(path, source)) return {path, wxString()};
    path = suffixedPath(sourceName, folder, naming);
    if (!namesSameFile(path, source)) return {path, wxString()};
    return {wxString(), wxT("the output would replace the source file")};
}
