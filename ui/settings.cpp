#include "pixloomFrame.h"

#include <wx/convauto.h>
#include <wx/fileconf.h>

#include <algorithm>

namespace {

// ~/.pixloom, read once at start and written once at close. Its destructor
// writes any change through a temporary file renamed over the old one, so a
// crash while writing leaves the old file whole.
class SettingsFile : public wxFileConfig {
public:
    SettingsFile()
        : wxFileConfig(wxEmptyString, wxEmptyString, wxFileConfig::GetLocalFileName(wxT("pixloom")),
                       wxEmptyString, wxCONFIG_USE_LOCAL_FILE, wxConvAuto()) {
        SetExpandEnvVars(false);  // a folder or suffix with "$" comes back as stored
    }

    wxString text(const wxString& key) const { return Read(key, wxString()); }
};

// A label that names no entry, the empty one included, changes nothing.
void selectLabel(wxItemContainerImmutable* control, const wxString& label) {
    control->SetStringSelection(label);
}

// A stored number, limited to the control's range. Text that is no number
// (empty, damaged) leaves the control as it is: an emptied GTK spin field
// would read back as its minimum, which a run would use and the next close
// would store.
void applySpinText(wxSpinCtrl* spin, const wxString& text) {
    long value;
    if (!wxString(text).Trim(true).Trim(false).ToLong(&value)) return;
    spin->SetValue(static_cast<int>(std::clamp<long>(value, spin->GetMin(), spin->GetMax())));
}

}  // namespace

void pixloomFrame::loadSettings() {
    const SettingsFile settings;
    selectLabel(optSize, settings.text(wxT("Size/optSize")));
    applySpinText(spnWidth, settings.text(wxT("Size/spnWidth")));
    applySpinText(spnHeight, settings.text(wxT("Size/spnHeight")));
    selectLabel(selUnits, settings.text(wxT("Size/selUnits")));
    long fixRatio;
    if (settings.Read(wxT("Size/chkFixRatio"), &fixRatio)) chkFixRatio->SetValue(fixRatio != 0);
    selectLabel(optMethod, settings.text(wxT("Method/optMethod")));
    selectLabel(optFiletype, settings.text(wxT("Filetype/optFiletype")));
    applySpinText(spnQuality, settings.text(wxT("Filetype/spnQuality")));
    cmbLimit->SetValue(settings.text(wxT("Filetype/cmbLimit")));
    selectLabel(optDst, settings.text(wxT("Saveto/optDst")));
    const wxString suffix = settings.text(wxT("Saveto/txtSuffix"));
    if (!suffix.empty()) txtSuffix->SetValue(suffix);
    txtSaveDir->SetValue(settings.text(wxT("Saveto/txtSaveDir")));
}

void pixloomFrame::saveSettings() {
    SettingsFile settings;
    settings.Write(wxT("Size/optSize"), optSize->GetStringSelection());
    settings.Write(wxT("Size/spnWidth"), static_cast<long>(spnWidth->GetValue()));
    settings.Write(wxT("Size/spnHeight"), static_cast<long>(spnHeight->GetValue()));
    settings.Write(wxT("Size/selUnits"), selUnits->GetStringSelection());
    settings.Write(wxT("Size/chkFixRatio"), chkFixRatio->GetValue());
    settings.Write(wxT("Method/optMethod"), optMethod->GetStringSelection());
    settings.Write(wxT("Filetype/optFiletype"), optFiletype->GetStringSelection());
    settings.Write(wxT("Filetype/spnQuality"), static_cast<long>(spnQuality->GetValue()));
    settings.Write(wxT("Filetype/cmbLimit"), cmbLimit->GetValue());
    settings.Write(wxT("Saveto/optDst"), optDst->GetStringSelection());
    settings.Write(wxT("Saveto/txtSuffix"), txtSuffix->GetValue());
    settings.Write(wxT("Saveto/txtSaveDir"), txtSaveDir->GetValue());
}

void pixloomFrame::onFrameClose(wxCloseEvent&) {
    abandonRun();  // no run may touch the controls once they are gone
    saveSettings();
    Destroy();  // never vetoed
}
