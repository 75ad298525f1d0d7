// What the conversion of one file is asked to do, as values: the window and
// the command line each map their own way of asking onto these.
#pragma once

#include <wx/string.h>

#include <vector>

enum class FileType { BMP, PNG, JPEG };

// How a method reduces: its LCD type (0 plain Lanczos3) and whether it is the
// toolkit's nearest-neighbour scaling.
struct Method {
    int lcdType = 4;
    bool nearest = false;
};

struct RunSettings {
    FileType type = FileType::PNG;
    Method method;
    int width = 320;
    int height = 320;
    bool percent = false;    // width and height in percent of the source's
    bool keepRatio = true;   // fit inside width x height
    int quality = 90;        // the JPEG quality, the highest tried under a limit
    int limitBytes = 0;      // the JPEG size limit; 0 for none
    bool sameFolder = true;  // beside the source with the suffix, else into saveDir
    wxString suffix = wxT("_res");
    wxString saveDir;
};

struct MethodLabel {
    const wchar_t* label;
    Method method;
};
// The seven methods under the window's labels, in the window's order.
const std::vector<MethodLabel>& methodLabels();

// The value of a window label ("LCD(hi)", "JPEG"); false for an unknown one.
bool methodForLabel(const wxString& label, Method& method);
bool fileTypeForLabel(const wxString& label, FileType& type);
wxString labelOf(const Method& method);
wxString labelOf(FileType type);

// ".bmp", ".png" or ".jpg".
wxString extensionFor(FileType type);
