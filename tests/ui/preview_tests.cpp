// The preview through the real windows under Xvfb: how it opens, that it shows the written output's pixels one
// on one device pixel, compare and magnifier, the cache, "use this method", what the file will be, and closing
// while it reduces or a run converts. The PreviewPixels tests run again at a desktop scale factor of 2.
#include "convert_file.h"
#include "image.h"
#include "preview_window.h"
#include "window_probe.h"

#include <wx/uiaction.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <thread>

using guitest::pumpUntil;
namespace fs = std::filesystem;

// Holds each reduction of the preview at its start until the preview stops, while set.
std::atomic<bool> holdReductions{false};
std::atomic<int> reductionsHeld{0};
void previewReductionStarted(const std::atomic<bool>& stopping) {
    if (!holdReductions) return;
    ++reductionsHeld;
    while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct PreviewProbe {
    PreviewWindow* window;
    PreviewReducer& reducer() const { return *window->reducer; }
    PreviewCanvas& canvas() const { return *window->canvas; }
    wxString status() const { return window->lblStatus->GetLabel(); }
    wxString file() const { return window->path; }
    wxButton* useButton() const { return window->btnUseMethod; }
    RunSettings ownersSettings() const { return window->owner.settings(); }
    const RunSettings& shownSettings() const { return window->settings; }
    Method method() const { return methods()[static_cast<size_t>(window->choMethod->GetSelection())].method; }
    void choose(wxChoice* choice, const wxString& label) const {
        ASSERT_TRUE(choice->SetStringSelection(label)) << label;
        FrameProbe::send(choice, wxEVT_CHOICE, choice->GetSelection());
    }
    void chooseMethod(const wxString& label) const { choose(window->choMethod, label); }
    void compareWith(const wxString& label) const {
        window->chkCompare->SetValue(true);
        FrameProbe::send(window->chkCompare, wxEVT_CHECKBOX);
        choose(window->choCompare, label);
    }
    void zoom(int zoom) const { choose(window->choZoom, wxString::Format("%dx", zoom)); }
    void useThisMethod() const { FrameProbe::send(window->btnUseMethod); }
    // Every method on screen reduced, with its figures, and the window showing them.
    bool settled() const {
        for (const Method& m : window->shownMethods())
            if (!reducer().reduced(m) || (reducer().reduced(m)->image && !reducer().figures(m))) return false;
        return !reducer().reducing() && caughtUp();
    }
    bool caughtUp() const { return status() == window->statusText(); }  // the status shows what the reducer has
    wxSize pictureSize(const Method& m) const { return picture(m).IsOk() ? picture(m).GetSize() : wxSize(); }
    wxImage picture(const Method& m) const {
        const auto reduced = reducer().reduced(m);
        std::unique_ptr<wxImage> copy(reduced && reduced->image ? reduced->image->createImage() : nullptr);
        return copy ? *copy : wxImage();
    }
};

namespace {

bool previewThreadRunning() {
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (name == "pixloom-preview") return true;
    }
    return false;
}

// What the canvas must show: each pane's picture from the scroll position on, every output pixel a square of
// zoom x zoom device pixels, the background elsewhere. The plain formula, pixel by pixel.
wxImage expectedView(const PreviewCanvas& canvas, const wxSize& size, const std::vector<wxImage>& pictures) {
    wxImage view(size);
    const auto panes = canvas.panes();
    const wxPoint at = canvas.scrollPosition();
    for (int y = 0; y < size.y; ++y)
        for (int x = 0; x < size.x; ++x) {
            unsigned char rgb[3] = {PreviewCanvas::background, PreviewCanvas::background, PreviewCanvas::background};
            for (size_t p = 0; p < panes.size() && p < pictures.size(); ++p) {
                if (x < panes[p].left || x >= panes[p].left + panes[p].width) continue;
                const int px = (at.x + x - panes[p].left) / canvas.zoom(), py = (at.y + y) / canvas.zoom();
                if (px < pictures[p].GetWidth() && py < pictures[p].GetHeight())
                    rgb[0] = pictures[p].GetRed(px, py), rgb[1] = pictures[p].GetGreen(px, py), rgb[2] = pictures[p].GetBlue(px, py);
            }
            view.SetRGB(x, y, rgb[0], rgb[1], rgb[2]);
        }
    return view;
}

bool samePixels(const wxImage& a, const wxImage& b) {
    return a.IsOk() && b.IsOk() && a.GetSize() == b.GetSize() &&
           std::equal(a.GetData(), a.GetData() + size_t(a.GetWidth()) * a.GetHeight() * 3, b.GetData());
}

// The device pixels on the X screen: what the toolkit really drew, whatever its scaling.
wxImage screenPixels(const wxRect& area) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return wxImage();
    const int screenWidth = DisplayWidth(display, DefaultScreen(display)), screenHeight = DisplayHeight(display, DefaultScreen(display));
    const wxRect shown = area.Intersect(wxRect(0, 0, screenWidth, screenHeight));
    wxImage pixels;
    if (XImage* shot = shown.IsEmpty() ? nullptr : XGetImage(display, DefaultRootWindow(display), shown.x, shown.y,
                                                             unsigned(shown.width), unsigned(shown.height), AllPlanes, ZPixmap)) {
        pixels.Create(shown.width, shown.height);
        for (int y = 0; y < shown.height; ++y)
            for (int x = 0; x < shown.width; ++x) {
                const unsigned long p = XGetPixel(shot, x, y);
                pixels.SetRGB(x, y, (p & shot->red_mask) >> 16, (p & shot->green_mask) >> 8, p & shot->blue_mask);
            }
        XDestroyImage(shot);
    }
    XCloseDisplay(display);
    return pixels;
}

}  // namespace

class PreviewTest : public FrameProbe {
public:  // to the tables' steps too
    void SetUp() override {
        start();
        title = frame->GetTitle(), startLabel = btnStart->GetLabel();
    }
    void TearDown() override {
        holdReductions = false;
        FrameProbe::TearDown();
        EXPECT_FALSE(previewThreadRunning());  // joined by its window
    }
    wxArrayString files(const std::vector<std::string>& names, int width = 640, int height = 480) {
        const wxArrayString paths = images(names, width, height);
        add(paths);
        return paths;
    }
    // As the user opens it: a double-click on the entry.
    PreviewProbe open(int index) {
        send(lstFiles, wxEVT_LISTBOX_DCLICK, index);
        PreviewWindow* window = PreviewWindow::of(frame);
        EXPECT_TRUE(window && pumpUntil([window] { return window->IsShownOnScreen(); }));
        return PreviewProbe{window};
    }
    static bool settled(const PreviewProbe& preview) { return pumpUntil([&] { return preview.settled(); }); }
    // The PNG a run writes for the window's settings with this method, decoded by the toolkit.
    wxImage written(const wxString& path, const PreviewProbe& preview, const Method& method) {
        RunSettings settings = preview.ownersSettings();
        settings.method = method, settings.type = FileType::PNG, settings.sameFolder = false, settings.saveDir = wx(out.dir);
        const FileOutcome outcome = convertFile(path, settings);
        EXPECT_EQ(outcome.kind, FileOutcome::Written) << outcome.problem.utf8_str();
        wxImage png;
        EXPECT_TRUE(png.LoadFile(outcome.output, wxBITMAP_TYPE_PNG));
        fs::remove(std::string(outcome.output.utf8_str()));
        return png;
    }

    Folder out;
    wxString title, startLabel;
};

// ---- Opening -------------------------------------------------------------------------------------------------

struct OpenWay { const char* name; std::function<void(PreviewTest&, wxListBox*, wxPoint secondRow)> act; };
void PrintTo(const OpenWay& way, std::ostream* out) { *out << way.name; }
class PreviewOpens : public PreviewTest, public ::testing::WithParamInterface<OpenWay> {};

TEST_P(PreviewOpens, OnTheChosenEntryAndStartsNoRun) {
    const wxArrayString paths = files({"a.png", "b.png"});
    lstFiles->SetSelection(0);
    lstFiles->SetFocus();
    ASSERT_TRUE(pumpUntil([this] { return wxWindow::FindFocus() == lstFiles; }));
    wxPoint secondRow;  // on screen, inside the second entry
    for (int y = 0; y < lstFiles->GetClientSize().y && secondRow == wxPoint(); ++y)
        if (lstFiles->HitTest(wxPoint(20, y)) == 1) secondRow = lstFiles->ClientToScreen(wxPoint(20, y + 4));
    ASSERT_NE(secondRow, wxPoint());
    GetParam().act(*this, lstFiles, secondRow);
    ASSERT_TRUE(pumpUntil([this] { return PreviewWindow::of(frame) != nullptr; }));
    const PreviewProbe preview{PreviewWindow::of(frame)};
    EXPECT_EQ(preview.file(), paths[1]);
    EXPECT_TRUE(preview.window->GetTitle().EndsWith(L"— b.png")) << preview.window->GetTitle().utf8_str();
    EXPECT_TRUE(pumpUntil([this] { return btnStart->IsEnabled(); }));
    EXPECT_EQ(std::make_tuple(frame->GetTitle(), btnStart->GetLabel(), lstFiles->GetCount()), std::make_tuple(title, startLabel, 2u));
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "b.png"}));
}

const OpenWay openWays[] = {
    {"DoubleClick", [](PreviewTest&, wxListBox*, wxPoint row) { wxUIActionSimulator().MouseMove(row); wxUIActionSimulator().MouseDblClick(); }},
    {"Enter", [](PreviewTest&, wxListBox* list, wxPoint) { list->SetSelection(1); wxUIActionSimulator().Char(WXK_RETURN); }},
    {"EnterWithAPreviewOpen", [](PreviewTest& t, wxListBox* list, wxPoint) {  // shows the other file in it
        t.open(0);
        t.frame->Raise(), list->SetFocus(), list->SetSelection(1);
        ASSERT_TRUE(pumpUntil([list] { return wxWindow::FindFocus() == list; }));
        wxUIActionSimulator().Char(WXK_RETURN);
        ASSERT_TRUE(pumpUntil([&t] { return PreviewProbe{PreviewWindow::of(t.frame)}.file().EndsWith("b.png"); }));
    }},
    {"Space", [](PreviewTest&, wxListBox* list, wxPoint) { list->SetSelection(1); wxUIActionSimulator().Char(' '); }},
    {"ContextMenu", [](PreviewTest&, wxListBox* list, wxPoint row) {  // on the entry clicked, not the selected one
        list->Bind(wxEVT_MENU_OPEN, [](wxMenuEvent&) {
            wxTheApp->CallAfter([] { wxUIActionSimulator keys; keys.Char(WXK_DOWN); keys.Char(WXK_RETURN); });
        });
        wxUIActionSimulator().MouseMove(row);
        wxUIActionSimulator().MouseClick(wxMOUSE_BTN_RIGHT);
    }},
};
INSTANTIATE_TEST_SUITE_P(Preview, PreviewOpens, ::testing::ValuesIn(openWays), [](const auto& info) { return std::string(info.param.name); });

// ---- Faithful pixels -----------------------------------------------------------------------------------------

using PreviewPixels = PreviewTest;

// At each size the window asks for, every method shows the picture a run writes, drawn by the plain formula; each is
// reduced once from one decode, chosen again it is not redone; nothing is written. Then compare and magnifier show
// the same region of both methods, wherever it is scrolled to.
TEST_F(PreviewPixels, EveryMethodShowsTheWrittenOutputsPixelsForEachSizeAlsoEnlargedAndSideBySide) {
    const struct { const char* size; int width, height; const char* unit; bool fit; wxSize expected; } sizes[] = {
        {"Other", 37, 37, "%", true, {236, 177}},
        {"Other", 150, 50, "px", false, {150, 50}},
        {"320x320", 0, 0, "px", true, {320, 240}},
    };
    const wxArrayString paths = files({"a.png"});
    const PreviewProbe preview = open(0);
    for (const auto& s : sizes) {  // changed in the main window while the preview is open
        select(optSize, s.size);
        spnWidth->SetValue(s.width), spnHeight->SetValue(s.height);
        selUnits->SetStringSelection(s.unit), chkFixRatio->SetValue(s.fit);
        for (int round = 0; round < 2; ++round)
            for (const MethodInfo& m : methods()) {
                SCOPED_TRACE(std::string(s.size) + " " + std::string(wxString(m.label).utf8_str()));
                preview.chooseMethod(m.label);
                ASSERT_TRUE(pumpUntil([&] { return preview.pictureSize(m.method) == s.expected && preview.settled(); }));
                if (round) continue;  // chosen again: only the counts below
                const wxImage png = written(paths[0], preview, m.method);
                EXPECT_TRUE(samePixels(preview.picture(m.method), png));
                const wxImage& view = preview.canvas().view();
                EXPECT_TRUE(samePixels(view, expectedView(preview.canvas(), view.GetSize(), {png})));
            }
        for (const MethodInfo& m : methods()) EXPECT_EQ(preview.reducer().reductions(m.method), 1) << s.size;
        EXPECT_EQ(preview.reducer().decodes(), 1);
    }
    EXPECT_EQ(namesIn(dir.dir), std::vector<std::string>{"a.png"});

    preview.chooseMethod("LCD(hi)");
    const Method left = preview.method();
    const struct { int zoom; bool compare; wxPoint scroll; } cases[] = {
        {1, false, {0, 0}}, {4, false, {0, 0}}, {8, false, {13, 5}}, {1, true, {0, 0}}, {4, true, {37, 21}}, {8, true, {100, 64}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "zoom " << c.zoom << (c.compare ? " compare" : ""));
        if (c.compare) preview.compareWith("Lanczos3");
        preview.zoom(c.zoom);
        ASSERT_TRUE(settled(preview));
        preview.canvas().scrollTo(c.scroll);
        EXPECT_EQ(preview.canvas().scrollPosition(), c.scroll);
        std::vector<wxImage> shown{preview.picture(left)};
        if (c.compare) shown.push_back(preview.picture(methods()[1].method));
        EXPECT_TRUE(!c.compare || !samePixels(shown[0], shown[1]));  // two different pictures side by side
        const wxImage& view = preview.canvas().view();
        EXPECT_EQ(preview.canvas().panes().size(), shown.size());
        EXPECT_TRUE(samePixels(view, expectedView(preview.canvas(), view.GetSize(), shown)));
    }
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);  // one notch down moves both panes
    wheel.m_wheelRotation = -120, wheel.m_wheelDelta = 120, wheel.m_linesPerAction = 3;
    preview.canvas().surface()->ProcessWindowEvent(wheel);
    EXPECT_GT(preview.canvas().scrollPosition().y, 64);
    const wxImage& view = preview.canvas().view();
    EXPECT_TRUE(samePixels(view, expectedView(preview.canvas(), view.GetSize(), {preview.picture(left), preview.picture(methods()[1].method)})));
}

TEST_F(PreviewPixels, TheScreenShowsEachOutputPixelOnOneDevicePixel) {  // also at scale factor 2
    files({"a.png"});
    const PreviewProbe preview = open(0);
    preview.window->Move(0, 0);  // as much of it on the screen as fits
    const struct { int zoom; bool compare; } views[] = {{1, false}, {8, true}};
    for (const auto& v : views) {
        if (v.compare) preview.compareWith("LCD(max)");
        preview.zoom(v.zoom);
        ASSERT_TRUE(settled(preview));
        PreviewCanvas& canvas = preview.canvas();
        const int scale = canvas.scale();
        RecordProperty("scale", scale);
        const wxImage& view = canvas.view();
        EXPECT_EQ(view.GetSize(), canvas.surface()->GetClientSize() * scale);
        const wxPoint corner = canvas.surface()->ClientToScreen(wxPoint(0, 0)) * scale;
        const wxRect area(corner, view.GetSize());
        wxImage onScreen;
        EXPECT_TRUE(pumpUntil([&] {
            onScreen = screenPixels(area);
            return onScreen.IsOk() && samePixels(onScreen, view.GetSubImage(wxRect(wxPoint(0, 0), onScreen.GetSize())));
        })) << "zoom " << v.zoom << " at scale " << scale << ": the toolkit scaled or moved the picture";
    }
}

// ---- Using, what the file will be ------------------------------------------------------------------------------

TEST_F(PreviewTest, UseThisMethodSelectsItAsAClickWouldClosesThePreviewAndIsSaved) {
    files({"a.png"});
    int clicks = 0;
    optMethod->Bind(wxEVT_RADIOBOX, [&](wxCommandEvent& e) { ++clicks, e.Skip(); });
    const PreviewProbe preview = open(0);
    preview.chooseMethod("LCD(max)");
    preview.useThisMethod();
    EXPECT_TRUE(pumpUntil([this] { return PreviewWindow::of(frame) == nullptr && wxTopLevelWindows.size() == 1; }));
    EXPECT_EQ(std::make_pair(optMethod->GetStringSelection(), clicks), std::make_pair(wxString("LCD(max)"), 1));
    frame->Close();
    ASSERT_TRUE(windowClosed());
    EXPECT_NE(readFile(home / ".pixloom").find("optMethod=LCD(max)"), std::string::npos);
}

TEST_F(PreviewTest, ShowsTheWrittenOutputsSizeInBytesAndTheQualityTheSizeSearchPicks) {
    files({"a.png"});
    fs::copy_file(PIXLOOM_TEST_PICTURES "/camera.jpg", dir / "camera.jpg");  // with EXIF, which a limit counts
    add(wxArrayString(1, wx(dir / "camera.jpg")));
    const struct { const char* type; const char* limit; } cases[] = {
        {"PNG", ""}, {"BMP", ""}, {"JPEG", ""}, {"JPEG", "20"}, {"JPEG", "1"}, {"WebP", ""}, {"WebP", "4"},
    };
    for (int entry : {0, 1}) {
        const PreviewProbe preview = open(entry);
        for (const auto& c : cases) {  // changed in the main window while the preview is open
            SCOPED_TRACE(std::string(lstFiles->GetString(unsigned(entry)).utf8_str()) + " " + c.type + " limit " + c.limit);
            select(optFiletype, c.type);
            cmbLimit->SetValue(c.limit);
            RunSettings settings = preview.ownersSettings();
            ASSERT_TRUE(pumpUntil([&] { return preview.settled() && preview.shownSettings().type == settings.type &&
                                               preview.shownSettings().limitBytes == settings.limitBytes; }));
            settings.method = preview.method(), settings.sameFolder = false, settings.saveDir = wx(out.dir);
            const FileOutcome outcome = convertFile(lstFiles->GetString(unsigned(entry)), settings);  // what a run writes
            const auto figures = preview.reducer().figures(preview.method());
            ASSERT_TRUE(figures && outcome.kind == FileOutcome::Written);
            EXPECT_EQ(figures->bytes, fs::file_size(std::string(outcome.output.utf8_str())));
            EXPECT_EQ(figures->overLimit, outcome.problem);
            const wxString status = preview.status();
            EXPECT_TRUE(status.Contains(wxString::Format("%llu bytes (", (unsigned long long)figures->bytes))) << status;
            const bool lossy = infoOf(settings.type).lossy;
            EXPECT_EQ(status.Contains(wxString::Format(", quality %d", figures->quality)), lossy) << status;
            const wxString limit = outcome.problem.empty() ? wxString::Format(" under the %s KB limit", c.limit) : outcome.problem;
            EXPECT_EQ(status.Contains(limit), lossy && settings.limitBytes > 0) << status;
            fs::remove(std::string(outcome.output.utf8_str()));
        }
    }
}

// ---- The reducer on its own ----------------------------------------------------------------------------------

TEST(PreviewReducerAlone, KeepsMethodsNotShownWithinItsBudgetAndRedoesOnlyWhatAChangedSettingNeeds) {
    Folder dir;
    ASSERT_TRUE(FrameProbe::picture(640, 480).SaveFile(wx(dir / "a.png"), wxBITMAP_TYPE_PNG));
    RunSettings settings;  // 320x320 fit, PNG, LCD(hi)
    const Method shown = settings.method;
    const size_t picture = 320 * 240 * 3;
    const struct { size_t budget; int reduced; } budgets[] = {{0, 1}, {picture * 5 / 2, 2}, {picture * 7, 7}};
    for (const auto& b : budgets) {
        PreviewReducer reducer(nullptr, b.budget);
        reducer.open(wx(dir / "a.png"));
        reducer.show(settings, {shown});
        ASSERT_TRUE(pumpUntil([&] { return reducer.idle(); }));
        int reduced = 0;
        for (const MethodInfo& m : methods()) reduced += reducer.reductions(m.method);
        EXPECT_EQ(reduced, b.reduced) << "budget " << b.budget;
    }
    const struct { const char* change; std::function<void(RunSettings&)> apply; wxSize size; } changes[] = {
        {"nothing", [](RunSettings&) {}, {320, 240}},
        {"PNG quality", [](RunSettings& s) { s.quality = 20; }, {320, 240}},  // PNG has none: nothing to redo
        {"type", [](RunSettings& s) { s.type = FileType::JPEG; }, {320, 240}},
        {"JPEG limit", [](RunSettings& s) { s.limitBytes = 20 * 1024; }, {320, 240}},
        {"size", [](RunSettings& s) { s.width = s.height = 100; }, {100, 75}},
    };
    PreviewReducer reducer(nullptr);
    reducer.open(wx(dir / "a.png"));
    for (const auto& c : changes) {
        SCOPED_TRACE(c.change);
        c.apply(settings);
        reducer.show(settings, {shown});
        ASSERT_TRUE(pumpUntil([&] { return reducer.idle(); }));
        const auto reduced = reducer.reduced(shown);
        ASSERT_TRUE(reduced && reduced->image);
        EXPECT_EQ(wxSize(reduced->image->getWidth(), reduced->image->getHeight()), c.size);
        EncodedOutput output;  // the figures are those of the settings now
        RunSettings now = settings;
        now.method = shown;
        encodeOutput(*reduced->image, now, {}, nullptr, output);
        EXPECT_EQ(reducer.figures(shown)->bytes, output.bytes.size());
        EXPECT_TRUE(!infoOf(settings.type).lossy || reducer.figures(shown)->quality == output.quality);
        for (const MethodInfo& m : methods()) EXPECT_EQ(reducer.reductions(m.method), 1) << m.label;
        EXPECT_EQ(reducer.decodes(), 1);
    }
}

// ---- Safe ----------------------------------------------------------------------------------------------------

struct CloseCase { const char* name; std::function<void(PreviewTest&, const PreviewProbe&)> close; size_t windowsLeft; };
void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }
class PreviewCloses : public PreviewTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PreviewCloses, DuringAReductionGivingItUpAndLeavingNoThread) {
    files({"big.png"}, 2000, 1500);
    holdReductions = true, reductionsHeld = 0;
    const PreviewProbe preview = open(0);
    ASSERT_TRUE(pumpUntil([&] { return reductionsHeld == 1 && preview.caughtUp(); }));
    EXPECT_TRUE(preview.reducer().reducing() && previewThreadRunning());
    EXPECT_TRUE(preview.status().Contains(L"縮小中...(Reducing...)")) << preview.status().utf8_str();
    GetParam().close(*this, preview);
    EXPECT_TRUE(pumpUntil([&] { return wxTopLevelWindows.size() == GetParam().windowsLeft; }));
    EXPECT_FALSE(previewThreadRunning());
    EXPECT_EQ(namesIn(dir.dir), std::vector<std::string>{"big.png"});
}

const CloseCase closeCases[] = {
    {"Preview", [](PreviewTest&, const PreviewProbe& p) { p.window->Close(); }, 1},
    {"Escape", [](PreviewTest&, const PreviewProbe& p) {
        p.window->Raise(), p.window->SetFocus();
        pumpUntil([&] { return wxGetTopLevelParent(wxWindow::FindFocus()) == p.window; });
        wxUIActionSimulator().Char(WXK_ESCAPE);
    }, 1},
    {"MainWindow", [](PreviewTest& t, const PreviewProbe&) { t.frame->Close(); }, 0},
    {"MainWindowDuringARun", [](PreviewTest& t, const PreviewProbe&) {
        t.startRun(true, wx(t.dir / "big.png"));
        ASSERT_TRUE(pumpUntil([&] { return t.held == 1; }));
        t.release();  // converting while the window closes
        t.frame->Close();
    }, 0},
};
INSTANTIATE_TEST_SUITE_P(Preview, PreviewCloses, ::testing::ValuesIn(closeCases), [](const auto& info) { return std::string(info.param.name); });

TEST_F(PreviewTest, KeepsItsPictureWhileARunConvertsAndRemovesItsEntryAndClosesWithTheRunsEnd) {
    const wxArrayString paths = files({"a.png", "b.png"});
    const PreviewProbe preview = open(0);
    ASSERT_TRUE(settled(preview));
    startRun(true, paths[1]);
    ASSERT_TRUE(pumpUntil([&] { return lstFiles->GetCount() == 1 && lstFiles->GetString(0) == paths[1]; }));  // a.png done
    wxImage png;
    ASSERT_TRUE(png.LoadFile(wx(dir / "a_res.png"), wxBITMAP_TYPE_PNG));
    EXPECT_TRUE(samePixels(preview.picture(preview.method()), png));  // the run wrote what the preview shows
    preview.chooseMethod("Nearest");
    EXPECT_TRUE(pumpUntil([&] { return preview.picture(methods()[0].method).IsOk(); }));
    EXPECT_EQ(preview.reducer().decodes(), 1);  // from the picture it holds
    release();
    EXPECT_TRUE(windowClosed());  // the run's end closes the window, and it the preview
}

TEST_F(PreviewTest, AnUnreadableFileShowsTheReasonARunGives) {
    const wxArrayString paths = files({"b.png"});
    writeText(dir / "b.png", "not a picture");
    const PreviewProbe preview = open(0);
    ASSERT_TRUE(pumpUntil([&] { return preview.reducer().sourceError().has_value() && preview.caughtUp(); }));
    const wxString reason = *preview.reducer().sourceError();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(preview.status(), L"読み込めません(Cannot read): " + reason);
    EXPECT_FALSE(preview.useButton()->IsEnabled());
    send(btnStart);  // a run over the same file
    ASSERT_TRUE(windowClosed());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_TRUE(messages()[0].Contains(paths[0] + ": " + reason)) << messages()[0].utf8_str();
}
