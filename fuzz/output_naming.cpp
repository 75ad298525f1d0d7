// SPDX-License-Identifier: MIT
// Output naming: where an output goes for fuzzed settings and source names,
// its name variants, the natural name order, and a folder listing that
// leaves out what earlier runs wrote there.
#include "file_listing.h"
#include "fuzz_support.h"
#include "name_guard.h"
#include "output_path.h"
#include "safe_write.h"

#include <wx/filename.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

std::string scratch;
constexpr std::size_t maxEntries = 12;

wxString fileName(const std::string& bytes) { return wxString(bytes.c_str(), *wxConvFileName); }

// Also as a file of a walk of its folder's parent, with its sub-folder kept.
void checkOutputPath(const wxString& source, const OutputNaming& naming) {
    const wxString parent = wxFileName(source).GetPath(wxPATH_GET_VOLUME);
    for (const wxString& walked : {wxString(), parent.BeforeLast(wxFileName::GetPathSeparator())}) {
        const OutputPath output = outputPathFor(source, naming, walked);
        if (output.path.empty() == output.error.empty())
            fuzzing::broken("an output with both or neither path and reason");
        if (!output.path.empty() && namesSameFile(output.path, source)) fuzzing::broken("an output over its source");
        if (!output.path.empty() && !naming.sameFolder && !output.path.StartsWith(naming.saveDir))
            fuzzing::broken("an output outside the other folder");
    }
}

// What a suffix expands to is recognised as it.
void checkPlaceholders(const OutputNaming& naming) {
    if (!hasPlaceholder(naming.suffix)) return;
    if (!matchesSuffix(expandSuffix(naming.suffix, naming.size), naming.suffix))
        fuzzing::broken("an expanded suffix not recognised");
}

void checkVariants(const wxString& name, unsigned n) {
    if (name.Find(wxFileName::GetPathSeparator()) != wxNOT_FOUND) return;  // variantBase takes bare names
    for (int k : {2, 3, 10, static_cast<int>(n % 1000000) + 2}) {
        const wxString variant = variantPath(name, k);
        if (variant == name || !isNameOrVariant(variant, name) || variantBase(variant) != name)
            fuzzing::broken("a variant that does not lead back to its name");
    }
}

// naturalLess must be a strict weak order, or sorting a folder is undefined.
void checkOrder(const std::vector<wxString>& names) {
    for (const wxString& a : names) {
        if (naturalLess(a, a)) fuzzing::broken("a name before itself");
        for (const wxString& b : names) {
            if (naturalLess(a, b) && naturalLess(b, a)) fuzzing::broken("two names each before the other");
            for (const wxString& c : names)
                if (naturalLess(a, b) && naturalLess(b, c) && !naturalLess(a, c))
                    fuzzing::broken("natural order is not transitive");
        }
    }
}

// Bare file names from the rest of the lines: no folders, no "." or "..".
std::vector<std::string> entryNames(const std::vector<std::string>& lines) {
    std::set<std::string> names;
    for (std::size_t i = 4; i < lines.size() && names.size() < maxEntries; ++i) {
        std::string name = lines[i].substr(0, 200);
        std::replace(name.begin(), name.end(), '/', '_');
        if (!name.empty() && name != "." && name != "..") names.insert(name);
    }
    return {names.begin(), names.end()};
}

// Every file listed once, from the folder, and none named as another
// image's output in that folder (or a variant of such a name).
void checkListing(const wxArrayString& listed, const wxArrayString& walked, const OutputNaming& naming) {
    std::set<wxString> seen;
    for (const wxString& path : listed) {
        if (!seen.insert(path).second) fuzzing::broken("a file listed twice");
        if (walked.Index(path) == wxNOT_FOUND || !isImageFilePath(path)) fuzzing::broken("a listed file not walked");
        if (!naming.sameFolder || naming.suffix.empty()) continue;
        const wxString name = wxFileName(path).GetFullName();
        for (const wxString& other : walked) {
            const wxString output =
                wxFileName(other).GetName() + expandSuffix(naming.suffix, naming.size) + naming.extension;
            if (isImageFilePath(other) && isNameOrVariant(name, output))
                fuzzing::broken("an earlier output listed as a source");
        }
    }
}

void checkFolder(const std::vector<std::string>& names, OutputNaming naming, bool outputsHere) {
    const std::string folder = scratch + "/listed";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directory(folder, ignored);
    for (const std::string& name : names) std::ofstream(folder + "/" + name).put('x');
    const wxString root = fileName(folder);
    if (outputsHere) naming.sameFolder = false, naming.saveDir = root;
    const wxArrayString walked = walkFolder(root);
    FileListing listing;
    const wxArrayString listed = listing.add(wxArrayString(1, &root), &naming);
    checkListing(listed, walked, naming);
    for (const wxString& path : listed)
        if (!listing.contains(path)) fuzzing::broken("a listed file not contained");
    if (!listing.add(wxArrayString(1, &root), &naming).empty()) fuzzing::broken("a folder listed twice");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    scratch = fuzzing::scratchFolder("naming");
    return 0;
}

// Lines: flags (beside the sources, the output type, outputs into the listed
// folder, sub-folders kept, the output's size), suffix, other folder, source
// path, then names in a folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = fuzzing::split(data, size, '\n');
    if (lines.size() < 4 || lines[0].empty()) return -1;
    const unsigned flags = static_cast<unsigned char>(lines[0][0]);
    const FileType type = fileTypes()[(flags >> 1) % fileTypes().size()].type;
    // Flag 16: sub-folders kept; the output's size from the flags' upper bits.
    const int side = static_cast<int>((flags >> 5) + 1) * 300;
    const OutputNaming naming{(flags & 1) != 0,   fileName(lines[1]),
                              fileName(lines[2]), infoOf(type).extension,
                              (flags & 16) != 0,  {side, side / 2 + 1, (flags & 32) ? wxT("50%") : wxT("1920x1080")}};
    checkPlaceholders(naming);
    const wxString source = fileName(lines[3]);
    checkOutputPath(source, naming);
    checkVariants(wxFileName(source).GetFullName(), flags);
    const std::vector<std::string> names = entryNames(lines);
    std::vector<wxString> wxNames;
    for (const std::string& name : names) wxNames.push_back(fileName(name));
    checkOrder(wxNames);
    for (const wxString& name : wxNames) checkVariants(name, flags);
    checkFolder(names, naming, (flags & 8) != 0);
    return 0;
}
