// SPDX-License-Identifier: MIT
#include "settings.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace {

std::vector<wxString> labelsOf(const std::vector<SizePreset>& presets) {
    std::vector<wxString> labels;
    for (const SizePreset& preset : presets) labels.push_back(preset.label);
    labels.push_back(wxT("Other"));
    return labels;
}

template <class Row>
std::vector<wxString> labelsOf(const std::vector<Row>& rows) {
    std::vector<wxString> labels;
    for (const Row& row : rows) labels.push_back(row.label);
    return labels;
}

std::optional<long> wholeNumber(const wxString& text) {
    long value;
    if (!wxString(text).Trim(true).Trim(false).ToLong(&value, 10)) return std::nullopt;
    return value;
}

long numberIn(const SettingValues& values, const wchar_t* key) {
    auto value = values.find(key);
    const wxString text = value != values.end() ? value->second : setting(key).initial;
    return wholeNumber(text).value_or(setting(key).low);
}

const wxString& textIn(const SettingValues& values, const wchar_t* key) {
    auto value = values.find(key);
    return value != values.end() ? value->second : setting(key).initial;
}

const SizePreset* presetFor(const wxString& label) {
    for (const SizePreset& preset : sizePresets())
        if (label == preset.label) return &preset;
    return nullptr;
}

}  // namespace

const std::vector<SizePreset>& sizePresets() {
    static const std::vector<SizePreset> presets = {{L"64x64", 64, 64},
                                                    {L"320x320", 320, 320},
                                                    {L"1024x768", 1024, 768},
                                                    {L"1280x1024", 1280, 1024},
                                                    {L"1920x1080", 1920, 1080}};
    return presets;
}

const std::vector<MethodInfo>& methods() {
    static const std::vector<MethodInfo> rows = {
        {L"Nearest", L"nearest", {0, true}},   {L"Lanczos3", L"lanczos3", {0, false}},
        {L"LCD(low)", L"lcd-low", {1, false}}, {L"LCD(mid)", L"lcd-mid", {3, false}},
        {L"LCD(hi)", L"lcd-hi", {4, false}},   {L"LCD(ex)", L"lcd-ex", {5, false}},
        {L"LCD(max)", L"lcd-max", {6, false}},
    };
    return rows;
}

const std::vector<Setting>& settingsTable() {
    using K = SettingKind;
    static const std::vector<Setting> table = {
        {L"Size/optSize", L"optSize", K::Choice, labelsOf(sizePresets()), 0, 0, L"320x320"},
        {L"Size/spnWidth", L"spnWidth", K::Number, {}, 1, 65535, L"320"},
        {L"Size/spnHeight", L"spnHeight", K::Number, {}, 1, 65535, L"320"},
        {L"Size/selUnits", L"selUnits", K::Choice, {L"px", L"%"}, 0, 0, L"px"},
        {L"Size/chkFixRatio", L"chkFixRatio", K::Check, {}, 0, 1, L"1"},
        {L"Method/optMethod", L"optMethod", K::Choice, labelsOf(methods()), 0, 0, L"LCD(hi)"},
        {L"Filetype/optFiletype", L"optFiletype", K::Choice, labelsOf(fileTypes()), 0, 0, L"PNG"},
        {L"Filetype/spnQuality", L"spnQuality", K::Number, {}, 0, 100, L"90", true},
        {L"Filetype/cmbLimit", L"cmbLimit", K::Text, {}, 0, 0, L""},
        {L"Saveto/optDst", L"optDst", K::Choice, {L"Same Folder", L"Other Folder"}, 0, 0, L"Same Folder"},
        {L"Saveto/txtSuffix", L"txtSuffix", K::Text, {}, 0, 0, L"_res", true},
        {L"Saveto/txtSaveDir", L"txtSaveDir", K::Text, {}, 0, 0, L""},
        {L"Saveto/chkKeepTree", L"chkKeepTree", K::Check, {}, 0, 1, L"0"},
        {L"Saveto/chkKeepDates", L"chkKeepDates", K::Check, {}, 0, 1, L"0"},
        {L"Size/chkOnlyReduce", L"chkOnlyReduce", K::Check, {}, 0, 1, L"0"},
        {L"Filetype/chkProgressive", L"chkProgressive", K::Check, {}, 0, 1, L"0"},
        {L"Filetype/spnMinQuality", L"spnMinQuality", K::Number, {}, 1, 100, L"1", true},
        {L"Method/chkLinear", L"chkLinear", K::Check, {}, 0, 1, L"0"},
    };
    return table;
}

const Setting& setting(const wxString& key) {
    for (const Setting& row : settingsTable())
        if (key == row.key) return row;
    throw std::out_of_range("no setting " + std::string(key.utf8_str()));
}

std::optional<wxString> readValue(const Setting& setting, const wxString& stored) {
    switch (setting.kind) {
    case SettingKind::Choice: {
        const wxString label = wxString(stored).Trim(true).Trim(false);
        for (const wxString& candidate : setting.labels)
            if (label.CmpNoCase(candidate) == 0) return candidate;
        return std::nullopt;
    }
    case SettingKind::Number:
        if (auto number = wholeNumber(stored))
            return wxString::Format(wxT("%ld"), std::clamp(*number, setting.low, setting.high));
        return std::nullopt;
    case SettingKind::Check:
        if (auto number = wholeNumber(stored)) return wxString(*number != 0 ? wxT("1") : wxT("0"));
        return std::nullopt;
    case SettingKind::Text:
    default:
        if (stored.empty() && setting.emptyKeeps) return std::nullopt;
        return stored;
    }
}

SettingValues settingValuesFrom(const std::map<wxString, wxString>& stored) {
    SettingValues values;
    for (const Setting& row : settingsTable()) {
        values[row.key] = row.initial;
        auto text = stored.find(row.key);
        if (text == stored.end()) continue;
        if (auto value = readValue(row, text->second)) values[row.key] = *value;
    }
    return values;
}

RunSettings runSettingsFrom(const SettingValues& values) {
    RunSettings settings;
    if (const SizePreset* preset = presetFor(textIn(values, L"Size/optSize"))) {
        settings.width = preset->width;
        settings.height = preset->height;
    } else {
        settings.width = static_cast<int>(numberIn(values, L"Size/spnWidth"));
        settings.height = static_cast<int>(numberIn(values, L"Size/spnHeight"));
        settings.percent = textIn(values, L"Size/selUnits") == wxT("%");
        settings.keepRatio = numberIn(values, L"Size/chkFixRatio") != 0;
    }
    for (const MethodInfo& row : methods())
        if (textIn(values, L"Method/optMethod") == row.label) settings.method = row.method;
    for (const FileTypeInfo& row : fileTypes())
        if (textIn(values, L"Filetype/optFiletype") == row.label) settings.type = row.type;
    settings.quality = static_cast<int>(numberIn(values, L"Filetype/spnQuality"));
    settings.limitBytes = limitBytes(textIn(values, L"Filetype/cmbLimit"));
    settings.minQuality = static_cast<int>(numberIn(values, L"Filetype/spnMinQuality"));
    settings.progressive = numberIn(values, L"Filetype/chkProgressive") != 0;
    settings.sameFolder = textIn(values, L"Saveto/optDst") != wxT("Other Folder");
    settings.suffix = textIn(values, L"Saveto/txtSuffix");
    settings.saveDir = textIn(values, L"Saveto/txtSaveDir");
    settings.keepTree = numberIn(values, L"Saveto/chkKeepTree") != 0;
    settings.keepDates = numberIn(values, L"Saveto/chkKeepDates") != 0;
    settings.onlyReduce = numberIn(values, L"Size/chkOnlyReduce") != 0;
    settings.linear = numberIn(values, L"Method/chkLinear") != 0;
    return settings;
}

int limitBytes(const wxString& kilobytesText) {
    long kilobytes = -1;
    kilobytesText.ToLong(&kilobytes, 10);  // the value left counts, success or not
    if (kilobytes <= 0 || kilobytes > INT_MAX / 1024) return 0;
    return static_cast<int>(kilobytes * 1024);
}

std::size_t methodIndex(const Method& method) {
    const auto& rows = methods();
    std::size_t i = 0;
    while (i < rows.size() && !(rows[i].method == method)) ++i;
    return i;
}

wxString labelOf(const Method& method) {
    for (const MethodInfo& row : methods())
        if (row.method == method) return row.label;
    return wxString::Format(wxT("LCD type %d"), method.lcdType);
}
