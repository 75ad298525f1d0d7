// SPDX-License-Identifier: MIT
// The preview of one listed file: reduced with the settings of the moment by
// the run's own steps, shown one output pixel on one device pixel, with any
// method, two methods side by side, or enlarged; and what its output file
// would be. It writes nothing. Its worker thread is stopped and joined when
// it closes.
#pragma once

#include "preview_canvas.h"
#include "preview_reducer.h"
#include "settings.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <vector>

class wxButton;
class wxCheckBox;
class wxChoice;
class wxGauge;
class wxStaticText;
class wxThreadEvent;

class PreviewWindow : public wxFrame {
public:
    // What the preview needs of the window that opens it, on the window's
    // thread; never called once the preview is closing.
    struct Owner {
        std::function<RunSettings()> settings;         // the settings of the moment
        std::function<void(const Method&)> useMethod;  // chosen as the user's click chooses it
    };
    // Shows the file once showFile() names it, with method chosen.
    PreviewWindow(wxWindow* parent, Owner owner, const Method& method);
    ~PreviewWindow() override;

    void showFile(const wxString& path);
    // The owner's preview, unless it is closing.
    static PreviewWindow* of(wxWindow* owner);

protected:  // its parts, for derived windows
    wxSizer* controlRow(const Method& method);
    wxSizer* statusRow();
    void bindEvents();
    void placeOnScreen();

    void onMethod(wxCommandEvent& event);
    void onCompare(wxCommandEvent& event);
    void onZoom(wxCommandEvent& event);
    void onUseMethod(wxCommandEvent& event);
    void onClose(wxCloseEvent& event);
    void onResults(wxThreadEvent& event);
    void onIdle(wxIdleEvent& event);
    void onKey(wxKeyEvent& event);
    void onPulse(wxTimerEvent& event);

    std::vector<Method> shownMethods() const;
    void request();      // the reducer is told what is on screen now
    void showResults();  // what the reducer has for it
    void showZoom();     // the zoom choice as the canvas zooms
    wxString statusText() const;
    wxString methodText(const Method& method) const;

    Owner owner;
    wxString path;
    RunSettings settings;  // the ones shown
    std::unique_ptr<PreviewReducer> reducer;
    bool closing = false;

    wxChoice* choMethod = nullptr;
    wxCheckBox* chkCompare = nullptr;
    wxChoice* choCompare = nullptr;
    wxChoice* choZoom = nullptr;
    wxButton* btnUseMethod = nullptr;
    PreviewCanvas* canvas = nullptr;
    wxStaticText* lblStatus = nullptr;
    wxGauge* gauge = nullptr;
    wxTimer pulse;
};
