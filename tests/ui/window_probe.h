// SPDX-License-Identifier: MIT
// The fixture of the window's tests: the main window under Xvfb with HOME at a fresh folder, its parts reached as a
// derived class reaches them, driven as a user drives it, and a run's worker held at the files it takes.
#pragma once

#include "guitest.h"
#include "pixloomFrame.h"
#include "run_seams.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#define FRAME_CONTROLS(X)                                                                                         \
    X(pnlMain) X(btnClearList) X(lstFiles) X(btnHelpSize) X(optSize) X(lblOther) X(spnWidth) X(lblTimes)         \
    X(spnHeight) X(lblUnit) X(selUnits) X(chkFixRatio) X(btnHelpMethod) X(optMethod) X(chkLinear)                \
    X(btnHelpFiletype) X(optFiletype) X(lblQuality) X(spnQuality) X(lblLimit) X(cmbLimit) X(lblKB)               \
    X(lblMinQuality) X(spnMinQuality) X(chkProgressive) X(btnHelpSaveto) X(optDst) X(lblSuffix) X(txtSuffix)     \
    X(lblSaveDir) X(txtSaveDir) X(btnSaveDir) X(btnStart) X(chkOnlyReduce) X(chkKeepTree) X(chkKeepDates)

// Pointers to the window's protected parts, named through a class derived from it (never made).
struct FrameParts : pixloomFrame {
#define CONTROL_PART(name) static auto name##Part() { return &FrameParts::name; }
    FRAME_CONTROLS(CONTROL_PART)
    static auto runPart() { return &FrameParts::run; }
    static auto readRunSettingsPart() { return &FrameParts::readRunSettings; }
    static auto bindingsPart() { return &FrameParts::bindings; }
};

struct FrameProbe : ::testing::Test {
    TempHome home;  // before any window, which reads the settings there
    Folder dir;
    pixloomFrame* frame = nullptr;
#define DECLARE_CONTROL(name) std::remove_reference_t<decltype(std::declval<pixloomFrame&>().*FrameParts::name##Part())> name = nullptr;
    FRAME_CONTROLS(DECLARE_CONTROL)
    std::shared_ptr<ConversionRun> link;  // of the run started
    std::atomic<int> taken{0}, held{0}, niceness{0};  // by the run's worker

    void TearDown() override {
        release();
        EXPECT_TRUE(guitest::destroyAllWindows());
        EXPECT_TRUE(!link || link->ended());  // the window waited for its run
        seams::onFileTaken(nullptr);
        guitest::clearShownDialogs();
    }
    // A new main window, shown unless asked not to be; its controls are copied to this fixture's.
    void start(bool show = true) {
        frame = new pixloomFrame(nullptr);
#define COPY_CONTROL(name) name = frame->*FrameParts::name##Part();
        FRAME_CONTROLS(COPY_CONTROL)
        if (show) frame->Show();
        ASSERT_TRUE(!show || guitest::pumpUntil([this] { return frame->IsShownOnScreen(); }));
    }
    // As a click or a choice of the user's does (after any selection).
    static void send(wxWindow* control, wxEventType type = wxEVT_BUTTON, int value = 0) {
        wxCommandEvent event(type, control->GetId());
        event.SetEventObject(control);
        event.SetInt(value);
        control->ProcessWindowEvent(event);
    }
    static void select(wxRadioBox* box, const wxString& label) {
        ASSERT_TRUE(box->SetStringSelection(label)) << label.utf8_str();
        send(box, wxEVT_RADIOBOX, box->GetSelection());
    }
    // Noise with thin black strokes in its upper half (the methods differ most on edges), as PNG files in dir.
    static wxImage picture(int width, int height) {
        wxImage p = pattern(width, height);
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width; x += 9)
                p.SetRGB(x, y, 0, 0, 0), p.SetRGB(std::min(x + 1, width - 1), y, 0, 0, 0);
        return p;
    }
    wxArrayString images(const std::vector<std::string>& names, int width = 640, int height = 480) const {
        wxArrayString paths;
        for (const auto& name : names) paths.Add(wx(dir / name));
        for (const auto& path : paths) EXPECT_TRUE(picture(width, height).SaveFile(path, wxBITMAP_TYPE_PNG));
        return paths;
    }
    void add(const wxArrayString& paths) { frame->addFiles(lstFiles, paths); }
    void drop(wxArrayString paths) { static_cast<wxFileDropTarget*>(frame->GetDropTarget())->OnDropFiles(0, 0, paths); }
    RunSettings runSettings() const { return (frame->*FrameParts::readRunSettingsPart())(); }
    static std::vector<wxString> messages() {  // of the boxes shown since the last clear
        std::vector<wxString> texts;
        for (const auto& dialog : guitest::shownDialogs()) texts.push_back(dialog.message);
        return texts;
    }
    // The connections of the window's table left once its base class has gone (counted while its controls exist).
    int bindingsLeftWhenDestroyed() {
        const auto bindings = (frame->*FrameParts::bindingsPart())();
        int left = -1;
        frame->Bind(wxEVT_DESTROY, [&, window = frame](wxWindowDestroyEvent& event) {
            event.Skip();
            if (event.GetEventObject() != window) return;
            left = 0;
            for (const auto& b : bindings) left += b.source->Disconnect(b.type, b.handler, nullptr, b.sink);
        });
        frame->Destroy();
        EXPECT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }));
        return left;
    }

    // Starts a run with the start button, keeping its link. With hold, its worker waits at each file it takes (at
    // the one named, when one is) until released or its run is given up: a closing window waits for it.
    void startRun(bool hold, const wxString& only = {}) {
        open = !hold;
        seams::onFileTaken([this, only](const wxString& file) {
            niceness = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            ++taken;
            if (!only.empty() && file != only) return;
            ++held;
            const ConversionRun* run = runLink().get();  // made before this worker started
            std::unique_lock<std::mutex> lock(gate);
            while (!opened.wait_for(lock, std::chrono::milliseconds(5), [&] { return open || run->cancelled(); })) {
            }
        });
        send(btnStart);
        ASSERT_TRUE(link = runLink());
    }
    std::shared_ptr<ConversionRun> runLink() const { return (frame->*FrameParts::runPart()).run; }
    void release() {
        std::lock_guard<std::mutex> lock(gate);
        open = true;
        opened.notify_all();
    }
    // A run's files take their time on a busy or sanitized machine: a wait is a condition, not a limit.
    static bool windowClosed() {
        return guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }, std::chrono::minutes(3));
    }
    bool runEnded() const { return windowClosed() && link->ended(); }

private:
    std::mutex gate;
    std::condition_variable opened;
    bool open = false;  // under the gate
};
