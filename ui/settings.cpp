// SPDX-License-Identifier: MIT
// The window's side of the settings: every control of the settings table
// restored, read and saved through that table, found by its name.
#include "pixloomFrame.h"

#include "report.h"
#include "settings.h"
#include "settings_file.h"

#include <wx/checkbox.h>
#include <wx/ctrlsub.h>
#include <wx/spinctrl.h>
#include <wx/textentry.h>

namespace {

void applyValue(wxWindow* control, const Setting& row, const wxString& value) {
    long number = 0;
    switch (row.kind) {
    case SettingKind::Choice:
        dynamic_cast<wxItemContainerImmutable&>(*control).SetStringSelection(value);
        break;
    case SettingKind::Number:
        if (value.ToLong(&number)) static_cast<wxSpinCtrl*>(control)->SetValue(static_cast<int>(number));
        break;
    case SettingKind::Check:
        static_cast<wxCheckBox*>(control)->SetValue(value == wxT("1"));
        break;
    case SettingKind::Text:
        dynamic_cast<wxTextEntry&>(*control).ChangeValue(value);
        break;
    }
}

wxString valueOf(const wxWindow* control, const Setting& row) {
    switch (row.kind) {
    case SettingKind::Choice:
        return dynamic_cast<const wxItemContainerImmutable&>(*control).GetStringSelection();
    case SettingKind::Number:
        return wxString::Format(wxT("%d"), static_cast<const wxSpinCtrl*>(control)->GetValue());
    case SettingKind::Check:
        return static_cast<const wxCheckBox*>(control)->GetValue() ? wxT("1") : wxT("0");
    case SettingKind::Text:
    default:
        return dynamic_cast<const wxTextEntry&>(*control).GetValue();
    }
}

}  // namespace

wxWindow* pixloomFrame::settingControl(const Setting& row) const { return FindWindowByName(row.control, pnlMain); }

void pixloomFrame::loadSettings() {
    std::vector<wxString> notes;
    const SettingValues values = settingValuesFrom(readStoredSettings(notes, true));
    for (const wxString& note : notes) report(note);
    for (const Setting& row : settingsTable()) {
        if (wxWindow* control = settingControl(row))
            applyValue(control, row, values.at(row.key));
        else
            withoutControl[row.key] = values.at(row.key);
    }
}

SettingValues pixloomFrame::settingValues() const {
    SettingValues values = withoutControl;
    for (const Setting& row : settingsTable())
        if (const wxWindow* control = settingControl(row)) values[row.key] = valueOf(control, row);
    return values;
}

void pixloomFrame::saveSettings() {
    const wxString reason = writeStoredSettings(settingValues());
    if (!reason.empty()) report(settingsFilePath(), reason);
}

void pixloomFrame::onFrameClose(wxCloseEvent&) {
    closePreview();
    Hide();        // closing may wait a moment for the run's file in progress to be given up
    abandonRun();  // no run may touch the controls once they are gone
    saveSettings();
    Destroy();  // never vetoed
}
