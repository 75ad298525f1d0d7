// SPDX-License-Identifier: MIT
// The settings file: fuzzed bytes as ~/.pixloom (under a scratch $HOME)
// read as both programs read it, turned into a run's settings, then the
// values written back as the window's close writes them and read again.
#include "fuzz_support.h"
#include "settings.h"
#include "settings_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string home;

void placeSettingsFile(const std::uint8_t* data, std::size_t size) {
    std::error_code ignored;
    std::filesystem::remove(home + "/.pixloom.damaged", ignored);
    std::ofstream(home + "/.pixloom", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void checkRunSettings(const RunSettings& settings) {
    if (settings.width < 1 || settings.width > 65535 || settings.height < 1 || settings.height > 65535)
        fuzzing::broken("a size outside the window's range");
    if (settings.quality < 0 || settings.quality > 100) fuzzing::broken("a quality outside 0 to 100");
    if (settings.limitBytes < 0) fuzzing::broken("a negative size limit");
    if (settings.minQuality < 1 || settings.minQuality > 100) fuzzing::broken("a lowest quality outside 1 to 100");
}

// The values read are what the window's close writes back, and they read
// back as written.
void checkWrittenBack(const SettingValues& values) {
    if (!writeStoredSettings(values).empty()) fuzzing::broken("the settings could not be written back");
    std::vector<wxString> notes;
    const SettingValues reread = settingValuesFrom(readStoredSettings(notes, false));
    if (!notes.empty()) fuzzing::broken("a file the program wrote reads as damaged");
    if (reread != values) fuzzing::broken("the settings read back differ from those written");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    home = fuzzing::scratchFolder("settings");
    setenv("HOME", home.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    placeSettingsFile(data, size);
    std::vector<wxString> notes;
    const StoredSettings stored = readStoredSettings(notes, true);
    const SettingValues values = settingValuesFrom(stored);
    if (values.size() != settingsTable().size()) fuzzing::broken("a setting without a value");
    checkRunSettings(runSettingsFrom(values));
    checkWrittenBack(values);
    return 0;
}
