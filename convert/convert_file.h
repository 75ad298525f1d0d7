// SPDX-License-Identifier: MIT
// Converting one file with the settings of the moment, in steps that a
// preview can share: decode, reduce, encode, then name and write.
#pragma once

#include "name_guard.h"
#include "picture.h"
#include "settings.h"

#include <wx/string.h>

#include <functional>
#include <memory>
#include <vector>

class Image;

// A source decoded, or why it could not be.
struct LoadedSource {
    std::unique_ptr<Image> image;  // null when not decoded
    wxString error;
    std::vector<wxString> notes;      // remarks of the decoder, for standard error
    std::vector<unsigned char> exif;  // the source's EXIF, from its TIFF header on
    bool damaged = false;             // decoded as far as its damaged data allowed
    LoadedSource();
    LoadedSource(LoadedSource&&) noexcept;
    LoadedSource& operator=(LoadedSource&&) noexcept;
    ~LoadedSource();
};
LoadedSource loadSource(const wxString& path, const DecodeOptions& options = {});

// Reduces the image as the settings say. Empty on success, else why it was
// not reduced to the size asked for (too large, not enough memory,
// cancelled, an invalid setting).
wxString reduceImage(Image& image, const RunSettings& settings);

// An output encoded in memory.
struct EncodedOutput {
    std::vector<char> bytes;
    int quality = 0;            // lossy types: the quality written
    wxString overLimit;         // lossy types: what the file misses when even quality 1 is over the limit
    int width = 0, height = 0;  // the picture in the file
    // A note for standard error, when the lowest quality asked for made a difference:
    // "written at 1555x1037 to fit 200 KB at quality 60"
    wxString note;
};

// The EXIF an output of the reduced image carries, made from the source's
// as the settings say.
OutputExif exifFor(const LoadedSource& source, const Image& reduced, const RunSettings& settings);

// Encodes the reduced image as the settings say: a lossy type at the highest
// quality whose file keeps the limit. Empty on success, else the reason.
wxString encodeOutput(const Image& image, const RunSettings& settings, const std::vector<unsigned char>& exif,
                      const CancelToken& cancel, EncodedOutput& output);

// What the preview and a run say of a picture decoded from damaged data.
wxString damagedDataText();

// Whether the settings may write a picture smaller than the reduction
// gives: a lossy type under a limit, with a lowest quality above 1.
bool maySmallen(const RunSettings& settings);

// What encoding at smaller sizes needs besides the reduced picture.
struct Smaller {
    Image* source = nullptr;               // as decoded, never reduced; null: no smaller sizes
    const LoadedSource* loaded = nullptr;  // the source's EXIF
    CancelToken cancel;                    // asked by the reductions anew
};

// Encodes the reduced image as encodeOutput does, where that keeps the
// limit at the settings' lowest quality or better. Else the source is
// reduced anew, both sides 10 % smaller a step (of the reduced size, the
// aspect ratio kept), and the first step whose file keeps the limit at the
// lowest quality or better is taken, noted in output.note. When none
// does down to 16x16, the reduced image is encoded as encodeOutput does,
// noted when that is below the lowest quality.
wxString encodeWithinLimit(const Image& reduced, const RunSettings& settings, const Smaller& smaller,
                           const CancelToken& cancel, EncodedOutput& output);

struct FileOutcome {
    enum Kind { Written, Failed, Abandoned };
    Kind kind = Failed;
    wxString output;              // the path written, or meant to be
    wxString problem;             // Failed: why nothing was written; Written: what the file misses (a size limit)
    std::vector<wxString> notes;  // remarks for standard error: a name variant, the decoder's
    bool damaged = false;         // Written from a source whose data was damaged: not the whole picture
    // Counts against the run: not written, or written short of what was asked.
    bool failed() const { return kind != Written || !problem.empty() || damaged; }
    // What is wrong with the file, in one line: empty unless failed().
    wxString reason() const;
};

// Reports a file's outcome on standard error: its notes, then what went
// wrong, each a line naming the file.
void reportOutcome(const wxString& source, const FileOutcome& outcome);

// What converting one file needs from the run around it. Every member may be
// left empty.
struct FileContext {
    NameGuard* names = nullptr;    // the names an output must leave alone; told of each output written
    wxString walkedFolder;         // the folder whose walk listed the file, if any
    CancelToken cancel;            // requested: give the file up, write nothing
    std::function<bool()> commit;  // asked just before the output is named: false gives it up
    // The source already decoded (ahead of its turn); loaded here otherwise.
    std::function<LoadedSource()> load;
};

// Decodes source, reduces it as settings say and writes it under its output
// path, or a name variant of it when that path is protected; once per size,
// in order, from one decoding. Writes nothing of a size unless the reduction
// gave exactly the size asked for.
FileOutcome convertFile(const wxString& source, const RunSettings& settings, const FileContext& context = {});
