// Converting one file with the settings of the moment; no window involved.
#pragma once

#include "run_settings.h"

#include <wx/string.h>

#include <functional>
#include <memory>
#include <vector>

class Image;

// A source decoded, or why it could not be.
struct LoadedSource {
    std::unique_ptr<Image> image;  // null when not decoded
    wxString error;
    std::vector<wxString> notes;  // remarks of the decoder, for standard error
    LoadedSource();
    LoadedSource(LoadedSource&&) noexcept;
    LoadedSource& operator=(LoadedSource&&) noexcept;
    ~LoadedSource();
};
LoadedSource loadSource(const wxString& path);

struct FileOutcome {
    enum Kind { Written, Failed, Abandoned };
    Kind kind = Failed;
    wxString output;   // the path written, or meant to be
    wxString problem;  // Failed: why nothing was written; Written: what the file misses (a size limit)
    std::vector<wxString> notes;  // remarks for standard error: a name variant, the decoder's
    // Counts against the run: not written, or written short of what was asked.
    bool failed() const { return kind != Written || !problem.empty(); }
};

// The lines standard error gets for a file: its name, then what went wrong
// or is worth knowing.
std::vector<wxString> reportLines(const wxString& source, const FileOutcome& outcome);

// What converting one file needs from the run around it. Every member may be
// left empty.
struct FileContext {
    // Whether a path names a file the output must not replace: a source of
    // the run or a file it wrote.
    std::function<bool(const wxString& path)> isProtected;
    // Given the image being reduced (null once done with it), so that another
    // thread can cancel it.
    std::function<void(Image*)> track;
    std::function<bool()> abandoned;  // true: give the file up, write nothing
    // The source already decoded (ahead of its turn); loaded here otherwise.
    std::function<LoadedSource()> load;
};

// Decodes source, reduces it as settings say and writes it under its output
// path, or a name variant of it when that path is protected. Writes nothing
// unless the reduction gave exactly the size asked for.
FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context = {});
