#include "saved_settings.h"

#include "jpeg_quality.h"
#include "log_capture.h"
#include "output_path.h"
#include "write_image.h"

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
    for (const wxString& key : settingsKeys()) {
        auto value = settings.values.find(key);
        if (value != settings.values.end()) file.Write(key, value->second);
    }
}

wxString writeClean(const StoredSettings& settings) {
    wxStringInputStream nothing(wxEmptyString);
    wxFileConfig clean(nothing, wxConvAuto());
    writeKeys(clean, settings);
    wxMemoryOutputStream stream;
    if (!clean.Save(stream, wxConvUTF8)) return wxT("the settings could not be written");
    std::vector<char> bytes(stream.GetLength());
    stream.CopyTo(bytes.data(), bytes.size());
    return writeFileAtomically(bytes, settingsFilePath());
}

int presetIndex(const wxString& label) {
    for (size_t i = 0; i < sizePresets().size(); ++i)
        if (label == sizePresets()[i].label) return static_cast<int>(i);
    return -1;
}

}  // namespace

wxString settingsFilePath() {
    const char* home = std::getenv("HOME");
    const wxString folder = home && *home ? wxString(home, *wxConvFileName) : wxGetHomeDir();
    return folder + (folder.EndsWith(wxT("/")) ? wxT(".pixloom") : wxT("/.pixloom"));
}

const std::vector<wxString>& settingsKeys() {
    static const std::vector<wxString> keys = {
        wxT("Size/optSize"),          wxT("Size/spnWidth"),        wxT("Size/spnHeight"),
        wxT("Size/selUnits"),         wxT("Size/chkFixRatio"),     wxT("Method/optMethod"),
        wxT("Filetype/optFiletype"),  wxT("Filetype/spnQuality"),  wxT("Filetype/cmbLimit"),
        wxT("Saveto/optDst"),         wxT("Saveto/txtSuffix"),     wxT("Saveto/txtSaveDir")};
    return keys;
}

wxString StoredSettings::text(const wxString& key) const {
    auto value = values.find(key);
    return value == values.end() ? wxString() : value->second;
}

std::optional<long> StoredSettings::number(const wxString& key) const {
    long value;
    if (!wxString(text(key)).Trim(true).Trim(false).ToLong(&value)) return std::nullopt;
    return value;
}

StoredSettings readStoredSettings(std::vector<wxString>& notes, bool keepDamaged) {
    StoredSettings stored;
    LogCapture damage;
    std::unique_ptr<wxFileConfig> file = openSettingsFile();
    for (const wxString& key : settingsKeys()) {
        wxString value;
        if (file->Read(key, &value)) stored.values[key] = value;
    }
    if (damage.first().empty()) return stored;  // the settings file class reports damaged lines this way
    wxString note = settingsFilePath() + wxT(" is damaged (") + damageText(damage.first()) +
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
    if (!file->Flush() || !damage.first().empty()) return wxT("the settings could not be written");
    return wxString();
}

const std::vector<SizePreset>& sizePresets() {
    static const std::vector<SizePreset> presets = {
        {L"64x64", 64, 64}, {L"320x320", 320, 320}, {L"1024x768", 1024, 768},
        {L"1280x1024", 1280, 1024}, {L"1920x1080", 1920, 1080}};
    return presets;
}

RunSettings runSettingsFrom(const StoredSettings& stored) {
    RunSettings settings;
    const int preset = presetIndex(stored.text(wxT("Size/optSize")));
    if (preset >= 0) {
        settings.width = sizePresets()[preset].width;
        settings.height = sizePresets()[preset].height;
    } else if (stored.text(wxT("Size/optSize")) == wxT("Other")) {
        if (auto width = stored.number(wxT("Size/spnWidth"))) settings.width = static_cast<int>(std::clamp(*width, 1L, 65535L));
        if (auto height = stored.number(wxT("Size/spnHeight"))) settings.height = static_cast<int>(std::clamp(*height, 1L, 65535L));
        settings.percent = stored.text(wxT("Size/selUnits")) == wxT("%");
        if (auto fix = stored.number(wxT("Size/chkFixRatio"))) settings.keepRatio = *fix != 0;
    }
    methodForLabel(stored.text(wxT("Method/optMethod")), settings.method);
    fileTypeForLabel(stored.text(wxT("Filetype/optFiletype")), settings.type);
    if (auto quality = stored.number(wxT("Filetype/spnQuality"))) settings.quality = static_cast<int>(std::clamp(*quality, 0L, 100L));
    settings.limitBytes = limitBytes(stored.text(wxT("Filetype/cmbLimit")));
    settings.sameFolder = stored.text(wxT("Saveto/optDst")) != wxT("Other Folder");
    if (!stored.text(wxT("Saveto/txtSuffix")).empty()) settings.suffix = stored.text(wxT("Saveto/txtSuffix"));
    settings.saveDir = stored.text(wxT("Saveto/txtSaveDir"));
    return settings;
}
