// SPDX-License-Identifier: MIT
// The settings, described once: their keys in the settings file, the
// window's control each belongs to, how a stored text is read (labels in any
// case, numbers limited to their range), and their built-in values. The
// window restores and saves its controls by this table and a run reads the
// same values, so the window and pixloom-batch do the same for any file.
#pragma once

#include "exif.h"
#include "writer.h"

#include <wx/string.h>

#include <cstddef>
#include <map>
#include <optional>
#include <vector>

enum class SettingKind {
    Choice,  // one label of a list (radio boxes, the unit choice)
    Number,  // a whole number within a range (spin controls)
    Check,   // 1 or 0 (the check box)
    Text     // free text (text fields, the limit's combo box)
};

struct Setting {
    const wchar_t* key;      // "Size/optSize"
    const wchar_t* control;  // the window's control, by its name: "optSize"
    SettingKind kind;
    std::vector<wxString> labels;  // Choice: in the window's order
    long low = 0, high = 0;        // Number: the range
    wxString initial;              // the built-in value
    bool emptyKeeps = false;       // an empty stored text leaves the value as it is
};

// In the order they are written and read.
const std::vector<Setting>& settingsTable();
const Setting& setting(const wxString& key);

// The settings' values by key, each in the form its control shows it.
using SettingValues = std::map<wxString, wxString>;

// What a stored text sets: a label as the control spells it (matched
// without regard to case or outer spaces), a number limited to its range, a
// check as "1" or "0", text as it is. Nothing when the text sets nothing (an
// unknown label, no number, an empty text where that keeps the value).
std::optional<wxString> readValue(const Setting& setting, const wxString& stored);

// The built-in values, overridden by every stored text that sets one.
SettingValues settingValuesFrom(const std::map<wxString, wxString>& stored);

// How a method reduces: its LCD type (0 plain Lanczos3) and whether it is the
// toolkit's nearest-neighbour scaling.
struct Method {
    int lcdType = 4;
    bool nearest = false;
    bool operator==(const Method& other) const { return lcdType == other.lcdType && nearest == other.nearest; }
};

struct MethodInfo {
    const wchar_t* label;  // the window's, also the settings file's value
    const wchar_t* name;   // pixloom-batch --method
    Method method;
};
// The seven methods, in the window's order. No label selects LCD type 2.
const std::vector<MethodInfo>& methods();
// The method's row in methods(), or methods().size() when it has none.
std::size_t methodIndex(const Method& method);

struct SizePreset {
    const wchar_t* label;
    int width;
    int height;
};
// The window's size presets ("64x64" ... "1920x1080"), in its order.
const std::vector<SizePreset>& sizePresets();

// A target box as asked for: pixels, or percent of the source's.
struct TargetBox {
    int width;
    int height;
};

// What the conversion of one file is asked to do, as values.
struct RunSettings {
    FileType type = FileType::PNG;
    Method method;
    int width = 320;
    int height = 320;
    bool percent = false;      // width and height in percent of the source's
    bool keepRatio = true;     // fit inside width x height
    bool linear = false;       // average in linear light, not on sRGB code values
    int quality = 90;          // lossy types: the quality, the highest tried under a limit
    int limitBytes = 0;        // lossy types: the size limit; 0 for none
    int minQuality = 1;        // lossy types under a limit: below it the picture is made smaller instead
    bool progressive = false;  // JPEG: progressive rather than baseline
    bool sameFolder = true;    // beside the source with the suffix, else into saveDir
    wxString suffix = wxT("_res");
    wxString saveDir;
    MetadataMode metadata = MetadataMode::Keep;  // what of the source's EXIF an output carries
    bool keepTree = false;    // into saveDir: a walked file under its sub-folder path, the walked folder's name first
    bool keepDates = false;   // each output gets its source's modification and access times
    bool onlyReduce = false;  // a picture that fits the box keeps its own size
    // pixloom-batch's further --size boxes: each source is written once more per box, in order.
    std::vector<TargetBox> moreSizes;
};

// The run's settings for these values, as the window applies them (a preset
// size wins over the stored width and height).
RunSettings runSettingsFrom(const SettingValues& values);

// The size limit in bytes for the text of the limit field, in KB: its
// leading decimal number (wxString::ToLong, base 10). 0 means no limit:
// no number, zero, a negative number, or more bytes than an int holds.
int limitBytes(const wxString& kilobytesText);

// The label of a method or a file type, for messages.
wxString labelOf(const Method& method);
