// SPDX-License-Identifier: MIT
// A whole conversion run through the real window: twenty 6000x4000 JPEGs
// reduced to fit 1920x1080 (LCD(hi), the built-in method) and written as JPEG
// quality 90. Prints the run's total, the sum of decode + resize + encode of
// the same files measured one stage at a time, the run's overhead per file
// beyond that sum, and how long an event posted to the window waits for the
// window's thread while files are being reduced (what a click waits).
//
// usage: run_bench [FILES]   (needs a display: run it under xvfb-run -a)
#include "image.h"
#include "pixloomFrame.h"
#include "run_thread.h"

#include <wx/app.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

// Names the window's protected parts as a derived class may, through pointers to members; never made.
struct BenchWindow : pixloomFrame {
    template <class Part>
    static Part& part(pixloomFrame* frame, Part GUIFrame::*member) {
        return frame->*member;
    }
    static void select(wxRadioBox* box, const wxString& label, pixloomFrame* frame,
                       void (pixloomFrame::*handler)(wxCommandEvent&)) {
        box->SetStringSelection(label);
        wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
        (frame->*handler)(event);
    }
    // Twenty files to 1920x1080 JPEG quality 90 in folder `out`, no limit.
    static void setUp(pixloomFrame* frame, const wxArrayString& files, const wxString& out) {
        frame->addFiles(part(frame, &BenchWindow::lstFiles), files);
        select(part(frame, &BenchWindow::optSize), wxT("1920x1080"), frame, &BenchWindow::onSelectSize);
        part(frame, &BenchWindow::optMethod)->SetStringSelection(wxT("LCD(hi)"));
        select(part(frame, &BenchWindow::optFiletype), wxT("JPEG"), frame, &BenchWindow::onSelectFiletype);
        part(frame, &BenchWindow::spnQuality)->SetValue(90);
        part(frame, &BenchWindow::cmbLimit)->SetValue(wxT(""));
        select(part(frame, &BenchWindow::optDst), wxT("Other Folder"), frame, &BenchWindow::onSelectDst);
        part(frame, &BenchWindow::txtSaveDir)->SetValue(out);
    }
    static void clickStart(pixloomFrame* frame) {
        wxButton* start = part(frame, &BenchWindow::btnStart);
        wxCommandEvent click(wxEVT_BUTTON, start->GetId());
        click.SetEventObject(start);
        start->ProcessWindowEvent(click);
    }
};

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double msFor(const std::function<void()>& stage) {
    const auto start = Clock::now();
    stage();
    return msSince(start);
}

// Smooth gradients with some noise: a photograph's cost to decode and encode.
wxImage sourceImage() {
    const int width = 6000, height = 4000;
    wxImage image(width, height, false);
    unsigned char* data = image.GetData();
    unsigned state = 7;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 28);
            unsigned char* p = data + 3 * (static_cast<size_t>(y) * width + x);
            p[0] = static_cast<unsigned char>((x * 255 / width + noise) & 255);
            p[1] = static_cast<unsigned char>((y * 255 / height + noise) & 255);
            p[2] = static_cast<unsigned char>(((x + y) / 40 + noise) & 255);
        }
    }
    return image;
}

struct Stages {
    double decode = 0, resize = 0, encode = 0;
    double sum() const { return decode + resize + encode; }
};

// The three stages of one file, as the run does them, timed one by one.
Stages measureStages(const wxString& path) {
    Stages stages;
    std::unique_ptr<Image> image;
    stages.decode = msFor([&] { image = std::make_unique<Image>(path, 0); });
    image->lcdSetting(4);
    stages.resize = msFor([&] { image->resize(1920, 1080, true, false); });
    stages.encode = msFor([&] {
        std::unique_ptr<wxImage> result(image->createImage());
        result->SetOption(wxIMAGE_OPTION_QUALITY, 90);
        wxMemoryOutputStream stream;
        result->SaveFile(stream, wxBITMAP_TYPE_JPEG);
    });
    return stages;
}

// Posts an event to the window's thread every 20 ms and records how long
// each waits before that thread runs it.
class LatencyProbe {
public:
    void start() {
        thread = std::thread([this] {
            while (!stopping) {
                const auto posted = Clock::now();
                wxTheApp->CallAfter([this, posted] {
                    std::lock_guard<std::mutex> lock(mutex);
                    waits.push_back(msSince(posted));
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    void stop() {
        stopping = true;
        if (thread.joinable()) thread.join();
    }
    std::vector<double> sorted() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<double> copy = waits;
        std::sort(copy.begin(), copy.end());
        return copy;
    }

private:
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<double> waits;
};

class BenchApp : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;

private:
    std::filesystem::path work;
    int files = 20;
    Stages stages;
    LatencyProbe latency;
    Clock::time_point started;
};

bool BenchApp::OnInit() {
    if (argc > 1) files = std::max(1, std::atoi(argv[1].utf8_str()));
    wxInitAllImageHandlers();
    work = std::filesystem::temp_directory_path() / ("pixloom-run-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(work / "in");
    std::filesystem::create_directories(work / "out");
    setenv("HOME", work.c_str(), 1);  // the run's settings file goes here

    std::printf("making %d source files of 6000x4000...\n", files);
    const std::filesystem::path first = work / "in" / "photo00.jpg";
    wxImage source = sourceImage();
    source.SetOption(wxIMAGE_OPTION_QUALITY, 90);
    source.SaveFile(wxString(first.c_str()), wxBITMAP_TYPE_JPEG);
    wxArrayString paths;
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%02d.jpg", i);
        if (i > 0) std::filesystem::copy_file(first, work / "in" / name);
        paths.Add(wxString((work / "in" / name).c_str()));
    }
    std::printf("source file: %.1f MB\n", std::filesystem::file_size(first) / 1e6);

    for (const wxString& path : paths) {
        Stages one = measureStages(path);
        stages.decode += one.decode;
        stages.resize += one.resize;
        stages.encode += one.encode;
    }

    auto* frame = new pixloomFrame(nullptr);
    BenchWindow::setUp(frame, paths, wxString((work / "out").c_str()));
    frame->Show();
    latency.start();
    started = Clock::now();
    BenchWindow::clickStart(frame);
    return true;
}

int BenchApp::OnExit() {
    const int status = runsExitStatus();  // the closed window waited for its run
    const double total = msSince(started);
    latency.stop();
    const std::vector<double> waits = latency.sorted();
    int written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(work / "out")) written += entry.is_regular_file();

    wxImage output;
    output.LoadFile(wxString((work / "out" / "photo00.jpg").c_str()));
    std::printf("files converted: %d of %d (exit status %d), %dx%d\n", written, files, status, output.GetWidth(),
                output.GetHeight());
    std::printf("run total:                 %8.0f ms  (%.0f ms per file)\n", total, total / files);
    std::printf("decode + resize + encode:  %8.0f ms  (decode %.0f, resize %.0f, encode %.0f)\n", stages.sum(),
                stages.decode, stages.resize, stages.encode);
    std::printf("overhead per file:         %8.1f ms\n", (total - stages.sum()) / files);
    if (!waits.empty()) {
        std::printf(
            "event wait on the window's thread during the run: median %.2f ms, 99%% %.2f ms, max %.2f ms "
            "(%zu samples)\n",
            waits[waits.size() / 2], waits[waits.size() * 99 / 100], waits.back(), waits.size());
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return wxApp::OnExit();
}

}  // namespace

wxIMPLEMENT_APP(BenchApp);
