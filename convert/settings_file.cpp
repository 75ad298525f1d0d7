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
    if (line != wxNOT_FOUND) text = text.Mid(line + 3);
    else if (colon != wxNOT_FOUND) text = text.Mid(colon + 3);
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

wxString keepDamagedCopy() {
    const std::string path = nativePath(settingsFilePath());
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return wxT("its bytes could not be read to keep them");
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

wxString writeClean(const StoredSettings& settings) {
    wxStringInputStream nothing(wxEmptyString);
    wxFileConfig clean(nothing, wxConvAuto());
    writeKeys(clean, settings);
    wxMemoryOutputStream stream;
    if (!clean.Save(stream, wxConvUTF8)) return wxT("the settings could not be written");
    std::vector<char> bytes(stream.GetLength());
    if (!bytes.empty()) stream.CopyTo(bytes.data(), bytes.size());  // no settings: an empty file
    return writeFileAtomically(bytes, settingsFilePath());
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
        if (isWritable(value)) stored[row.key] = value;
        else unwritable = true;
    }
    // The settings file class reports damaged lines as log messages.
    if (damage.first().empty() && !unwritable) return stored;
    const wxString why = damage.first().empty() ? wxString(wxT("a value that cannot be written back"))
                                                : damageText(damage.first());
    wxString note = settingsFilePath() + wxT(" is damaged (") + why +
                    wxT("); what could not be read is back to its default");
    if (keepDamaged) note += wxT("; ") + keepDamagedCopy();
    notes.push_back(note);
    return stored;
}

wxString writeStoredSettings(const StoredSettings& settings) {
    LogCapture damage;
    std::unique_ptr<wxFileConfig> file = openSettingsFile();
    if (!damage.first().empty()) {
        file.reset();  // unchanged, so it writes nothing back
        return writeClean(settings);
    }
    writeKeys(*file, settings);
    if (file->Flush() && damage.first().empty()) return wxString();
    // Lines it cannot write back (a NUL byte): damaged too. Its second try,
    // on closing, fails the same way and leaves the file as it was.
    file.reset();
    return writeClean(settings);
}
