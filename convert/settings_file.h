// SPDX-License-Identifier: MIT
// The settings file, ~/.pixloom: the keys of the settings table in
// four groups, read as far as it can be and written whole.
#pragma once

#include <wx/string.h>

#include <map>
#include <vector>

// ".pixloom" in the folder $HOME names (its bytes taken as a file name,
// whatever the locale).
wxString settingsFilePath();

// The stored texts by key ("Size/optSize", ...); a key missing from the file
// is missing here.
using StoredSettings = std::map<wxString, wxString>;

// Reads every key that can be read. A damaged file adds one line to notes
// and, with keepDamaged, its bytes are kept beside it as ".pixloom.damaged"
// before anything writes a clean file. No file: nothing, no note.
StoredSettings readStoredSettings(std::vector<wxString>& notes, bool keepDamaged);

// Writes the given keys, in table order, keeping whatever else an undamaged
// file holds; a damaged file is replaced by a clean one. Returns an empty
// string on success, else the reason.
wxString writeStoredSettings(const StoredSettings& settings);
