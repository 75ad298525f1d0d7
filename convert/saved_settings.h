// The window's settings file, ~/.pixloom: twelve keys in four groups, read
// as far as it can be and written whole.
#pragma once

#include "run_settings.h"

#include <wx/string.h>

#include <map>
#include <optional>
#include <vector>

// The settings file: ".pixloom" in the folder $HOME names (its bytes taken
// as a file name, whatever the locale).
wxString settingsFilePath();

// The stored texts by key ("Size/optSize", ...); a key missing from the file
// is missing here.
struct StoredSettings {
    std::map<wxString, wxString> values;
    wxString text(const wxString& key) const;  // empty when missing
    std::optional<long> number(const wxString& key) const;  // its leading number, if any
};

// The keys in the order they are written and read.
const std::vector<wxString>& settingsKeys();

// Reads every key that can be read. A damaged file adds one line to notes
// and, with keepDamaged, its bytes are kept beside it as ".pixloom.damaged"
// before anything writes a clean file. No file: nothing, no note.
StoredSettings readStoredSettings(std::vector<wxString>& notes, bool keepDamaged);

// Writes the given keys, in key order, keeping whatever else an undamaged
// file holds; a damaged file is replaced by a clean one. Returns an empty
// string on success, else the reason.
wxString writeStoredSettings(const StoredSettings& settings);

// What a run does with the stored settings, as the window would apply them
// to its controls (a preset size wins over the stored width and height);
// anything missing or unknown keeps its built-in value.
RunSettings runSettingsFrom(const StoredSettings& stored);

struct SizePreset {
    const wchar_t* label;
    int width;
    int height;
};
// The window's size presets ("64x64" ... "1920x1080"), in its order.
const std::vector<SizePreset>& sizePresets();
