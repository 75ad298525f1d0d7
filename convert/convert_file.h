// Converting one file with the settings of the moment; no window involved.
#pragma once

#include <wx/string.h>

#include <functional>

class Image;

// The window's settings as one file's conversion reads them.
struct RunSettings {
    wxString typeLabel;    // "BMP", "PNG" or "JPEG"
    wxString methodLabel;  // "Nearest", "Lanczos3", "LCD(low)" ... "LCD(max)"
    bool percent = false;
    bool keepRatio = true;
    int width = 0;
    int height = 0;
    int quality = 90;      // the highest JPEG quality
    wxString limitText;    // JPEG size limit in KB, as typed
    bool sameFolder = true;
    wxString suffix;
    wxString saveDir;
};

// How a method label resizes: the LCD type and whether it is "Nearest".
struct Method {
    int lcdType = 0;
    bool nearest = false;
};

// The method of a label; false for an unknown label.
bool methodForLabel(const wxString& label, Method& method);

struct FileOutcome {
    enum Kind { Written, Failed, Abandoned };
    Kind kind = Failed;
    wxString output;  // the path written, or meant to be
    wxString reason;  // why not, when not Written
};

// Lets another thread cut a conversion short: track is given the image being
// resized (null when done with it) so that it can be cancelled; abandoned
// says whether the file should be given up.
struct ConversionHooks {
    std::function<void(Image*)> track;
    std::function<bool()> abandoned;
};

// Decodes source, reduces it as settings say and writes it under its output
// path. A file that can't be decoded is neither resized nor written.
FileOutcome convertFile(const wxString& source, const RunSettings& settings, const ConversionHooks& hooks = {});
