// SPDX-License-Identifier: MIT
// The main window's behaviour: file list, option panel, settings and the
// conversion run, as overrides of GUIFrame's handlers.
#pragma once

#include "GUIFrame.h"
#include "file_listing.h"
#include "name_guard.h"
#include "run_link.h"
#include "settings.h"

#include <wx/app.h>
#include <wx/arrstr.h>

#include <functional>
#include <string>
#include <unordered_set>

class pixloomFrame : public GUIFrame {
public:
    explicit pixloomFrame(wxWindow* parent);
    ~pixloomFrame() override;

    // File list (filelist.cpp): image files and folders' image files are
    // listed in lstFiles, the only list there is.
    void addFiles(wxListBox* list, const wxArrayString& paths);
    // Entries of lstFiles leave only through these two (GUI thread only), so
    // that the index of listed paths stays in step with the list.
    bool removeListEntry(const wxString& path);  // the entry equal to path; false if none
    void clearFileList();

    // Conversion run, the window's side (run_window.cpp)
    bool validateInputs();
    // The steps the worker hands to the window's thread through its link.
    std::optional<FileJob> takeFile();
    std::vector<wxString> nextFiles(const wxString& current, size_t count) const;
    bool isListed(const wxString& path) const;
    void forgetFile(const wxString& source);
    void endRun(const std::vector<FileFailure>& failures);

    // The folder chooser behind "..."; tests replace it. It gets the prompt
    // and returns the chosen folder, or an empty string on cancel.
    using FolderChooser = std::function<wxString(const wxString& message)>;
    void setFolderChooser(FolderChooser chooser);

    // Shows one of this window's modal dialogs. Their loops go on running the
    // worker's requests, so the end of a run waits for every such dialog to
    // close before it closes the window.
    template <class Show>
    auto modal(Show show) {
        struct Open {
            int& count;
            ~Open() {
                if (--count == 0) wxWakeUpIdle();  // a run that ended meanwhile can close now
            }
        } open{++openDialogs};
        return show();
    }

protected:
    void onFrameClose(wxCloseEvent& event) override;
    void onClearList(wxCommandEvent& event) override;
    void onHelpSize(wxCommandEvent& event) override;
    void onSelectSize(wxCommandEvent& event) override;
    void onHelpMethod(wxCommandEvent& event) override;
    void onHelpFiletype(wxCommandEvent& event) override;
    void onSelectFiletype(wxCommandEvent& event) override;
    void onHelpSaveto(wxCommandEvent& event) override;
    void onSelectDst(wxCommandEvent& event) override;
    void onBrowseSaveDir(wxCommandEvent& event) override;
    void onStartStop(wxCommandEvent& event) override;

private:
    // Settings (settings.cpp), by the settings table
    void loadSettings();
    void saveSettings();
    SettingValues settingValues() const;
    wxWindow* settingControl(const Setting& row) const;
    SettingValues withoutControl;  // settings the window shows no control for: as read, kept and saved

    // The preview of a listed file (preview_open.cpp)
    void bindPreview();
    void openPreview(const wxString& path);
    void closePreview();

    // Start-up: lists the paths named on the command line.
    void listCommandLinePaths();
    void centreWhenShown(wxShowEvent& event);

    // lstFiles' entries: for the duplicate check, and as files a run must
    // not write over (filelist.cpp)
    FileListing listedPaths;
    FileSet listedFiles;

    FolderChooser folderChooser;

protected:
    // The run in progress and the settings a run reads, for derived windows.
    RunHandle run;
    RunSettings readRunSettings() const;

private:
    void startRun();
    void requestStop();
    void abandonRun();
    void updateProgress();  // the title shows the files done of all
    unsigned filesDone = 0;
    void endRunWhenNoDialogIsOpen(wxIdleEvent& event);
    int openDialogs = 0;
    std::vector<FileFailure> endedRunFailures;
};
