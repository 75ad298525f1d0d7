#include "pixloomFrame.h"

#include "saved_settings.h"

#include <algorithm>
#include <cstdio>

namespace {

// A label that names no entry, the empty one included, changes nothing.
void selectLabel(wxItemContainerImmutable* control, const wxString& label) {
    control->SetStringSelection(label);
}

// A stored number, limited to the control's range. Text that is no number
// (empty, damaged) leaves the control as it is: an emptied GTK spin field
// would read back as its minimum, which a run would use and the next close
// would store.
void applySpinNumber(wxSpinCtrl* spin, std::optional<long> value) {
    if (value) spin->SetValue(static_cast<int>(std::clamp<long>(*value, spin->GetMin(), spin->GetMax())));
}

void report(const wxString& line) { std::fprintf(stderr, "pixloom: %s\n", static_cast<const char*>(line.utf8_str())); }

}  // namespace

void pixloomFrame::loadSettings() {
    std::vector<wxString> notes;
    const StoredSettings settings = readStoredSettings(notes, true);
    for (const wxString& note : notes) report(note);
    selectLabel(optSize, settings.text(wxT("Size/optSize")));
    applySpinNumber(spnWidth, settings.number(wxT("Size/spnWidth")));
    applySpinNumber(spnHeight, settings.number(wxT("Size/spnHeight")));
    selectLabel(selUnits, settings.text(wxT("Size/selUnits")));
    if (auto fixRatio = settings.number(wxT("Size/chkFixRatio"))) chkFixRatio->SetValue(*fixRatio != 0);
    selectLabel(optMethod, settings.text(wxT("Method/optMethod")));
    selectLabel(optFiletype, settings.text(wxT("Filetype/optFiletype")));
    applySpinNumber(spnQuality, settings.number(wxT("Filetype/spnQuality")));
    cmbLimit->SetValue(settings.text(wxT("Filetype/cmbLimit")));
    selectLabel(optDst, settings.text(wxT("Saveto/optDst")));
    const wxString suffix = settings.text(wxT("Saveto/txtSuffix"));
    if (!suffix.empty()) txtSuffix->SetValue(suffix);
    txtSaveDir->SetValue(settings.text(wxT("Saveto/txtSaveDir")));
}

void pixloomFrame::saveSettings() {
    StoredSettings settings;
    auto number = [](int value) { return wxString::Format(wxT("%d"), value); };
    settings.values = {
        {wxT("Size/optSize"), optSize->GetStringSelection()},
        {wxT("Size/spnWidth"), number(spnWidth->GetValue())},
        {wxT("Size/spnHeight"), number(spnHeight->GetValue())},
        {wxT("Size/selUnits"), selUnits->GetStringSelection()},
        {wxT("Size/chkFixRatio"), chkFixRatio->GetValue() ? wxT("1") : wxT("0")},
        {wxT("Method/optMethod"), optMethod->GetStringSelection()},
        {wxT("Filetype/optFiletype"), optFiletype->GetStringSelection()},
        {wxT("Filetype/spnQuality"), number(spnQuality->GetValue())},
        {wxT("Filetype/cmbLimit"), cmbLimit->GetValue()},
        {wxT("Saveto/optDst"), optDst->GetStringSelection()},
        {wxT("Saveto/txtSuffix"), txtSuffix->GetValue()},
        {wxT("Saveto/txtSaveDir"), txtSaveDir->GetValue()},
    };
    const wxString reason = writeStoredSettings(settings);
    if (!reason.empty()) report(settingsFilePath() + wxT(": ") + reason);
}

void pixloomFrame::onFrameClose(wxCloseEvent&) {
    abandonRun();  // no run may touch the controls once they are gone
    saveSettings();
    Destroy();  // never vetoed
}
