// SPDX-License-Identifier: MIT
#include "settings_file.h"

#include "log_capture.h"
#include "safe_write.h"
#include "settings.h"

#include <wx/convauto.h>
#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sstream.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

std::unique_ptr<wxFileConfig> openSettingsFile() {
    auto file = std::make_unique<wxFileConfig>(wxEmptyString, wxEmptyString, settingsFilePath(), wxEmptyString,
                                               wxCONFIG_USE_LOCAL_FILE, wxConvAuto());
    file->SetExpandEnvVars(false);  // a folder or suffix with "$" comes back as stored
    return file;
}

// The damage as the toolkit words it, without the file's name it repeats.
wxString damageText(const wxString& message) {
    wxString text = message;
    const int line = text.Find(wxT("', line "));
    const int colon = text.Find(wxT("': "));
    if (line != wxNOT_FOUND)
        text = text.Mid(line + 3);
    else if (colon != wxNOT_FOUND)
        text = text.Mid(colon + 3);
    text.Trim();
    if (text.EndsWith(wxT("."))) text.RemoveLast();
    return text;
}

// A text the file can hold as it was read: no NUL (the toolkit cuts a line
// there when writing) and nothing UTF-8 cannot encode (the toolkit's reader
// lets through sequences beyond Unicode).
bool isWritable(const wxString& text) {
    for (const wxUniChar c : text) {
        const auto code = c.GetValue();
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    }
    return true;
}

// The settings file's bytes; false when it cannot be read.
bool fileBytes(std::vector<char>& bytes) {
    std::ifstream in(nativePath(settingsFilePath()), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.eof() || !in.fail();
}

// Whether the file's text, decoded as the settings file class decodes it,
// holds a NUL: the class reads a line only up to it and cannot write the
// file back whole.
bool textHoldsNul() {
    std::vector<char> bytes;
    if (!fileBytes(bytes) || bytes.empty()) return false;
    size_t length = 0;
    const wxWCharBuffer text = wxConvAuto().cMB2WC(bytes.data(), bytes.size(), &length);
    return text.data() && std::find(text.data(), text.data() + length, L'\0') != text.data() + length;
}

wxString keepDamagedCopy() {
    std::vector<char> bytes;
    if (!fileBytes(bytes)) return wxT("its bytes could not be read to keep them");
    const wxString copy = settingsFilePath() + wxT(".damaged");
    const wxString reason = writeFileAtomically(bytes, copy);
    return reason.empty() ? wxT("its bytes are kept in ") + copy : wxT("its bytes could not be kept: ") + reason;
}

void writeKeys(wxFileConfig& file, const StoredSettings& settings) {
    for (const Setting& row : settingsTable()) {
        auto value = settings.find(row.key);
        if (value != settings.end()) file.Write(row.key, value->second);
    }
}

// The settings as a file in UTF-8, whatever the file was read as (written
// back in a UTF-16 file's encoding without its mark, it would read as
// damaged), given its name atomically.
wxString saveInUtf8(wxFileConfig& settings) {
    wxMemoryOutputStream stream;
    if (!settings.Save(stream, wxConvUTF8)) return wxT("the settings could not be written");
    std::vector<char> bytes(stream.GetLength());
    if (!bytes.empty()) stream.CopyTo(bytes.data(), bytes.size());  // no settings: an empty file
    return writeFileAtomically(bytes, settingsFilePath());
}

wxString writeClean(const StoredSettings& settings) {
    wxStringInputStream nothing(wxEmptyString);
    wxFileConfig clean(nothing, wxConvAuto());
    writeKeys(clean, settings);
    return saveInUtf8(clean);
}

}  // namespace

wxString settingsFilePath() {
    const char* home = std::getenv("HOME");
    const wxString folder = home && *home ? wxString(home, *wxConvFileName) : wxGetHomeDir();
    return folder + (folder.EndsWith(wxT("/")) ? wxT(".pixloom") : wxT("/.pixloom"));
}

StoredSettings readStoredSettings(std::vector<wxString>& notes, bool keepDamaged) {
    StoredSettings stored;
    LogCapture damage;
    std::unique_ptr<wxFileConfig> file = openSettingsFile();
    bool unwritable = false;
    for (const Setting& row : settingsTable()) {
        wxString value;
        if (!file->Read(row.key, &value)) continue;
        if (isWritable(value))
            stored[row.key] = value;
        else
            unwritable = true;
    }
    // The settings file class reports damaged lines as log messages.
    const bool nul = textHoldsNul();
    if (damage.first().empty() && !unwritable && !nul) return stored;
    const wxString why = !damage.first().empty() ? damageText(damage.first())
                         : nul                   ? wxString(wxT("a NUL character"))
                                                 : wxString(wxT("a value that cannot be written back"));
    wxString note =
        settingsFilePath() + wxT(" is damaged (") + why + wxT("); what could not be read is back to its default");
    if (keepDamaged) note += wxT("; ") + keepDamagedCopy();
    notes.push_back(note);
    return stored;
}

wxString writeStoredSettings(const StoredSettings& settings) {
    LogCapture damage;
    std::unique_ptr<wxFileConfig> file = openSettingsFile();
    file->DisableAutoSave();  // saved below, in UTF-8
    if (!damage.first().empty() || textHoldsNul()) return writeClean(settings);
    writeKeys(*file, settings);
    if (saveInUtf8(*file).empty() && damage.first().empty()) return wxString();
    return writeClean(settings);
}
