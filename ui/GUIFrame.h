// SPDX-License-Identifier: MIT
// The main window's controls and layout. This class only builds the window
// and routes its eleven events to virtual handlers; behaviour lives in the
// derived pixloomFrame.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/radiobox.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <vector>

class GUIFrame : public wxFrame {
public:
    GUIFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos, const wxSize& size,
             long style);
    ~GUIFrame() override;

protected:
    wxPanel* pnlMain;
    wxStaticText* lblStep1;
    wxButton* btnClearList;
    wxListBox* lstFiles;
    wxStaticText* lblStep2;
    wxButton* btnHelpSize;
    wxRadioBox* optSize;
    wxStaticText* lblOther;
    wxSpinCtrl* spnWidth;
    wxStaticText* lblTimes;
    wxSpinCtrl* spnHeight;
    wxStaticText* lblUnit;
    wxChoice* selUnits;
    wxCheckBox* chkFixRatio;
    wxCheckBox* chkOnlyReduce;
    wxCheckBox* chkLinear;
    wxStaticText* lblStep3;
    wxButton* btnHelpMethod;
    wxRadioBox* optMethod;
    wxStaticText* lblStep4;
    wxButton* btnHelpFiletype;
    wxRadioBox* optFiletype;
    wxStaticText* lblQuality;
    wxSpinCtrl* spnQuality;
    wxStaticText* lblLimit;
    wxComboBox* cmbLimit;
    wxStaticText* lblKB;
    wxStaticText* lblMinQuality;
    wxSpinCtrl* spnMinQuality;
    wxCheckBox* chkProgressive;
    wxStaticText* lblStep5;
    wxButton* btnHelpSaveto;
    wxRadioBox* optDst;
    wxStaticText* lblSuffix;
    wxTextCtrl* txtSuffix;
    wxStaticText* lblSaveDir;
    wxTextCtrl* txtSaveDir;
    wxButton* btnSaveDir;
    wxCheckBox* chkKeepTree;
    wxCheckBox* chkKeepDates;
    wxButton* btnStart;

    virtual void onFrameClose(wxCloseEvent& event) { event.Skip(); }
    virtual void onClearList(wxCommandEvent& event) { event.Skip(); }
    virtual void onHelpSize(wxCommandEvent& event) { event.Skip(); }
    virtual void onSelectSize(wxCommandEvent& event) { event.Skip(); }
    virtual void onHelpMethod(wxCommandEvent& event) { event.Skip(); }
    virtual void onHelpFiletype(wxCommandEvent& event) { event.Skip(); }
    virtual void onSelectFiletype(wxCommandEvent& event) { event.Skip(); }
    virtual void onHelpSaveto(wxCommandEvent& event) { event.Skip(); }
    virtual void onSelectDst(wxCommandEvent& event) { event.Skip(); }
    virtual void onBrowseSaveDir(wxCommandEvent& event) { event.Skip(); }
    virtual void onStartStop(wxCommandEvent& event) { event.Skip(); }

    // The connections made at the end of the constructor, undone in the destructor in the same order.
    struct Binding {
        wxEvtHandler* source;
        wxEventType type;
        wxObjectEventFunction handler;
        wxEvtHandler* sink;
    };
    std::vector<Binding> bindings();

private:
    // The six numbered steps, each built into its rows of the main sizer.
    void addStep1(wxBoxSizer* szMain);
    void addStep2(wxBoxSizer* szMain);
    void addStep3(wxBoxSizer* szMain);
    void addStep4(wxBoxSizer* szMain);
    void addStep5(wxBoxSizer* szMain);
    void addStep6(wxBoxSizer* szMain);
    void keepEveryControlVisible();
    void connectEvents();
    void disconnectEvents();
};
