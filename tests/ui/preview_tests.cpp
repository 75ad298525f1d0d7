// SPDX-License-Identifier: MIT
// The preview through the real windows under Xvfb: how it opens, that it shows the written output's pixels one
// on one device pixel, compare and magnifier, the cache, "use this method", what the file will be, and closing
// while it reduces or a run converts. The PreviewPixels tests run again at a desktop scale factor of 2.
#include "convert_file.h"
#include "image.h"
#include "preview_window.h"
#include "run_seams.h"
#include "window_probe.h"

#include <wx/uiaction.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <map>
#include <mutex>
#include <thread>
#include <tuple>

using guitest::pumpUntil;
namespace fs = std::filesystem;

// Holds each reduction of the preview at its start until the preview gives it up, while set.
std::atomic<bool> holdReductions{false};
std::atomic<int> reductionsHeld{0};
// The preview's reductions not given up, by method (LCD type, nearest), light and output size, since the watch began
// or the counts were cleared.
std::mutex reductionsMutex;
std::map<std::tuple<int, bool, bool, int, int>, int> reductionsDone;
void clearReductions() {
    std::lock_guard<std::mutex> lock(reductionsMutex);
    reductionsDone.clear();
}
void watchPreviewReductions() {
    clearReductions();
    seams::onPreviewReduction([](const Image& image, const RunSettings& settings, bool done) {
        if (!done && holdReductions) {
            ++reductionsHeld;
            while (!image.cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::lock_guard<std::mutex> lock(reductionsMutex);
        if (done && !image.cancelled())
            ++reductionsDone[{settings.method.lcdType, settings.method.nearest, settings.linear, image.getWidth(),
                              image.getHeight()}];
    });
}
int reductionsOf(const Method& method, wxSize size = {}, bool linear = false) {  // of any size when none is given
    std::lock_guard<std::mutex> lock(reductionsMutex);
    int count = 0;
    for (const auto& [key, times] : reductionsDone) {
        const auto& [lcdType, nearest, inLight, width, height] = key;
        if (lcdType == method.lcdType && nearest == method.nearest &&
            (!size.x || (size == wxSize(width, height) && inLight == linear)))
            count += times;
    }
    return count;
}

// Pointers to the preview's protected parts, named through a class derived from it (never made).
struct PreviewParts : PreviewWindow {
#define PREVIEW_PART(name) static auto name##Part() { return &PreviewParts::name; }
    PREVIEW_PART(reducer) PREVIEW_PART(canvas) PREVIEW_PART(lblStatus) PREVIEW_PART(path) PREVIEW_PART(btnUseMethod)
    PREVIEW_PART(owner) PREVIEW_PART(settings) PREVIEW_PART(choMethod) PREVIEW_PART(chkCompare)
    PREVIEW_PART(choCompare) PREVIEW_PART(choZoom) PREVIEW_PART(shownMethods)
};

struct PreviewProbe {
    PreviewWindow* window;
    template <class Part>
    auto& part(Part (*member)()) const { return window->*member(); }
    PreviewReducer& reducer() const { return *part(PreviewParts::reducerPart); }
    PreviewCanvas& canvas() const { return *part(PreviewParts::canvasPart); }
    wxString status() const { return part(PreviewParts::lblStatusPart)->GetLabel(); }
    wxString file() const { return part(PreviewParts::pathPart); }
    wxButton* useButton() const { return part(PreviewParts::btnUseMethodPart); }
    RunSettings ownersSettings() const { return part(PreviewParts::ownerPart).settings(); }
    const RunSettings& shownSettings() const { return part(PreviewParts::settingsPart); }
    Method method() const {
        return methods()[static_cast<size_t>(part(PreviewParts::choMethodPart)->GetSelection())].method;
    }
    void choose(wxChoice* choice, const wxString& label) const {
        ASSERT_TRUE(choice->SetStringSelection(label)) << label;
        FrameProbe::send(choice, wxEVT_CHOICE, choice->GetSelection());
    }
    void chooseMethod(const wxString& label) const { choose(part(PreviewParts::choMethodPart), label); }
    void compareWith(const wxString& label) const {
        part(PreviewParts::chkComparePart)->SetValue(true);
        FrameProbe::send(part(PreviewParts::chkComparePart), wxEVT_CHECKBOX);
        choose(part(PreviewParts::choComparePart), label);
    }
    void zoom(int zoom) const { choose(part(PreviewParts::choZoomPart), wxString::Format("%dx", zoom)); }
    // Every method on screen reduced, with its figures, and the window showing them.
    bool settled() const {
        for (const Method& m : (window->*PreviewParts::shownMethodsPart())())
            if (!reducer().reduced(m) || (reducer().reduced(m)->image && !reducer().figures(m))) return false;
        return !reducer().reducing() && caughtUp();
    }
    bool caughtUp() const {  // the status line shows no step still under way
        const wxString text = status();
        return !text.empty() && !text.Contains(L"(Reading...)") && !text.Contains(L"(Reducing...)") &&
               !text.Contains(L"(Computing...)");
    }
    wxImage picture(const Method& m) const {  // invalid while there is none
        const auto reduced = reducer().reduced(m);
        std::unique_ptr<wxImage> copy(reduced && reduced->image ? reduced->image->createImage() : nullptr);
        return copy ? *copy : wxImage();
    }
};

namespace {

bool samePixels(const wxImage& a, const wxImage& b) {
    return a.IsOk() && b.IsOk() && a.GetSize() == b.GetSize() &&
           std::equal(a.GetData(), a.GetData() + size_t(a.GetWidth()) * a.GetHeight() * 3, b.GetData());
}

// Whether the canvas's view is what it must show: each pane's picture from the scroll position on, every output
// pixel a square of zoom x zoom device pixels, the background elsewhere. The plain formula, pixel by pixel.
bool drawnByFormula(PreviewCanvas& canvas, const std::vector<wxImage>& pictures) {
    const wxImage& view = canvas.view();
    wxImage expected(view.GetSize());
    const auto panes = canvas.panes();
    const wxPoint at = canvas.scrollPosition();
    for (int y = 0; y < expected.GetHeight(); ++y)
        for (int x = 0; x < expected.GetWidth(); ++x) {
            expected.SetRGB(x, y, PreviewCanvas::background, PreviewCanvas::background, PreviewCanvas::background);
            for (size_t p = 0; p < panes.size() && p < pictures.size(); ++p) {
                if (x < panes[p].left || x >= panes[p].left + panes[p].width) continue;
                const int px = (at.x + x - panes[p].left) / canvas.zoom(), py = (at.y + y) / canvas.zoom();
                const wxImage& picture = pictures[p];
                if (px < picture.GetWidth() && py < picture.GetHeight())
                    expected.SetRGB(x, y, picture.GetRed(px, py), picture.GetGreen(px, py), picture.GetBlue(px, py));
            }
        }
    return samePixels(view, expected);
}

// Whether the device pixels on the X screen come to show the canvas's view: what the toolkit really drew, whatever
// its scaling. The canvas's top left must be on the screen.
bool screenShowsView(PreviewCanvas& canvas) {
    const wxImage& view = canvas.view();
    if (view.GetSize() != canvas.surface()->GetClientSize() * canvas.scale()) return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    const int screen = DefaultScreen(display);
    const wxRect area = wxRect(canvas.surface()->ClientToScreen(wxPoint(0, 0)) * canvas.scale(), view.GetSize())
                            .Intersect(wxRect(0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)));
    const bool same = !area.IsEmpty() && pumpUntil([&] {
        XImage* shot = XGetImage(display, DefaultRootWindow(display), area.x, area.y, unsigned(area.width),
                                 unsigned(area.height), AllPlanes, ZPixmap);
        bool equal = shot != nullptr;
        for (int y = 0; equal && y < area.height; ++y)
            for (int x = 0; equal && x < area.width; ++x) {
                const unsigned long p = XGetPixel(shot, x, y);
                const unsigned char* v = view.GetData() + 3 * (size_t(y) * size_t(view.GetWidth()) + size_t(x));
                equal = v[0] == (p & shot->red_mask) >> 16 && v[1] == (p & shot->green_mask) >> 8 &&
                        v[2] == (p & shot->blue_mask);
            }
        if (shot) XDestroyImage(shot);
        return equal;
    });
    XCloseDisplay(display);
    return same;
}

}  // namespace

class PreviewTest : public FrameProbe {
public:  // to the tables' steps too
    void SetUp() override {
        watchPreviewReductions();
        start();
    }
    void TearDown() override {
        holdReductions = false;
        FrameProbe::TearDown();
        seams::onPreviewReduction(nullptr);
        EXPECT_FALSE(threadRunning("pixloom-preview"));  // joined by its window
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
    // What a run writes of the file with these settings, into out.
    FileOutcome writeAsRun(const wxString& path, RunSettings settings) const {
        settings.sameFolder = false, settings.saveDir = wx(out.dir);
        return convertFile(path, settings);
    }

    Folder out;
};

struct OpenWay { const char* name; std::function<void(PreviewTest&, wxPoint secondRow)> act; };
void PrintTo(const OpenWay& way, std::ostream* out) { *out << way.name; }
class PreviewOpens : public PreviewTest, public ::testing::WithParamInterface<OpenWay> {};

TEST_P(PreviewOpens, OnTheChosenEntryAndStartsNoRun) {
    const wxArrayString paths = files({"a.png", "b.png"});
    const wxString title = frame->GetTitle(), startLabel = btnStart->GetLabel();
    lstFiles->SetSelection(0);
    lstFiles->SetFocus();
    ASSERT_TRUE(pumpUntil([this] { return wxWindow::FindFocus() == lstFiles; }));
    wxPoint secondRow;  // on screen, inside the second entry
    for (int y = 0; y < lstFiles->GetClientSize().y && secondRow == wxPoint(); ++y)
        if (lstFiles->HitTest(wxPoint(20, y)) == 1) secondRow = lstFiles->ClientToScreen(wxPoint(20, y + 4));
    ASSERT_NE(secondRow, wxPoint());
    GetParam().act(*this, secondRow);
    ASSERT_TRUE(pumpUntil([this] { return PreviewWindow::of(frame) != nullptr; }));
    const PreviewProbe preview{PreviewWindow::of(frame)};
    EXPECT_EQ(preview.file(), paths[1]);
    EXPECT_TRUE(preview.window->GetTitle().EndsWith(L"— b.png")) << preview.window->GetTitle().utf8_str();
    EXPECT_TRUE(pumpUntil([this] { return btnStart->IsEnabled(); }));
    EXPECT_EQ(std::make_tuple(frame->GetTitle(), btnStart->GetLabel(), lstFiles->GetCount()),
              std::make_tuple(title, startLabel, 2u));
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "b.png"}));
}

// A double-click is the toolkit's to turn into the event Enter gives too; an open preview showing the next file
// opened: the test of what a run writes, which opens one file after another.
const OpenWay openWays[] = {
    {"Enter", [](PreviewTest& t, wxPoint) { t.lstFiles->SetSelection(1), wxUIActionSimulator().Char(WXK_RETURN); }},
    {"Space", [](PreviewTest& t, wxPoint) { t.lstFiles->SetSelection(1), wxUIActionSimulator().Char(' '); }},
    {"ContextMenu", [](PreviewTest& t, wxPoint row) {  // on the entry clicked, not the selected one
        t.lstFiles->Bind(wxEVT_MENU_OPEN, [](wxMenuEvent&) {
            wxTheApp->CallAfter([] { wxUIActionSimulator keys; keys.Char(WXK_DOWN), keys.Char(WXK_RETURN); });
        });
        wxUIActionSimulator().MouseMove(row), wxUIActionSimulator().MouseClick(wxMOUSE_BTN_RIGHT);
    }},
};
INSTANTIATE_TEST_SUITE_P(Preview, PreviewOpens, ::testing::ValuesIn(openWays),
                         [](const auto& info) { return std::string(info.param.name); });

using PreviewPixels = PreviewTest;

// At each size the window asks for, and in linear light, every method shows the picture a run writes (in light,
// not the one on code values, but for Nearest); each is reduced once from one
// decode, chosen again it is not redone; nothing is written. Then one method or two side by side, enlarged and
// scrolled: the canvas draws them by the plain formula, and the screen shows each output pixel on one device pixel.
TEST_F(PreviewPixels, EveryMethodShowsTheWrittenOutputsPixelsOnScreenForEachSizeAlsoEnlargedAndSideBySide) {
    const struct { const char* size; int width, height; const char* unit; bool fit; wxSize expected; bool linear; } sizes[] = {
        {"Other", 37, 37, "%", true, {236, 177}, false}, {"Other", 150, 50, "px", false, {150, 50}, false},
        {"Other", 150, 50, "px", false, {150, 50}, true}, {"320x320", 0, 0, "px", true, {320, 240}, false}};
    const wxArrayString paths = files({"a.png"});
    const PreviewProbe preview = open(0);
    PreviewCanvas& canvas = preview.canvas();
    for (const auto& s : sizes) {  // changed in the main window while the preview is open
        clearReductions();
        select(optSize, s.size);
        spnWidth->SetValue(s.width), spnHeight->SetValue(s.height);
        selUnits->SetStringSelection(s.unit), chkFixRatio->SetValue(s.fit), chkLinear->SetValue(s.linear);
        for (int round = 0; round < 2; ++round)
            for (const MethodInfo& m : methods()) {
                SCOPED_TRACE(std::string(s.size) + " " + std::string(wxString(m.label).utf8_str()));
                preview.chooseMethod(m.label);
                ASSERT_TRUE(pumpUntil(
                    [&] { return preview.settled() && preview.picture(m.method).GetSize() == s.expected; }));
                if (round) continue;  // chosen again: only the counts below
                RunSettings settings = preview.ownersSettings();
                settings.method = m.method, settings.type = FileType::PNG;
                wxImage png;
                EXPECT_TRUE(png.LoadFile(writeAsRun(paths[0], settings).output, wxBITMAP_TYPE_PNG));
                EXPECT_TRUE(samePixels(preview.picture(m.method), png));
                EXPECT_TRUE(drawnByFormula(canvas, {png}));
                if (!s.linear) continue;
                settings.linear = false;
                EXPECT_TRUE(png.LoadFile(writeAsRun(paths[0], settings).output, wxBITMAP_TYPE_PNG));
                EXPECT_EQ(samePixels(preview.picture(m.method), png), m.method.nearest);
            }
        for (const MethodInfo& m : methods()) EXPECT_EQ(reductionsOf(m.method, s.expected, s.linear), 1) << s.size;
        EXPECT_EQ(preview.reducer().decodes(), 1);
    }
    EXPECT_EQ(namesIn(dir.dir), std::vector<std::string>{"a.png"});

    preview.window->Move(0, 0);  // as much of it on the screen as fits
    preview.chooseMethod("LCD(hi)");
    const Method left = preview.method(), right = methods()[1].method;
    const struct { int zoom; bool compare; wxPoint scroll; } cases[] = {{1, false, {0, 0}}, {4, false, {0, 0}},
        {8, false, {13, 5}}, {1, true, {0, 0}}, {4, true, {37, 21}}, {8, true, {100, 64}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "zoom " << c.zoom << (c.compare ? " compare" : ""));
        if (c.compare) preview.compareWith(methods()[1].label);
        preview.zoom(c.zoom);
        ASSERT_TRUE(settled(preview));
        canvas.scrollTo(c.scroll);
        EXPECT_EQ(canvas.scrollPosition(), c.scroll);
        std::vector<wxImage> shown{preview.picture(left)};
        if (c.compare) shown.push_back(preview.picture(right));
        EXPECT_TRUE(!c.compare || !samePixels(shown[0], shown[1]));  // two different pictures side by side
        EXPECT_EQ(canvas.panes().size(), shown.size());
        EXPECT_TRUE(drawnByFormula(canvas, shown));
        EXPECT_TRUE(screenShowsView(canvas)) << "at scale " << canvas.scale() << ": the toolkit scaled or moved it";
    }
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);  // one notch down moves both panes
    wheel.m_wheelRotation = -120, wheel.m_wheelDelta = 120, wheel.m_linesPerAction = 3;
    canvas.surface()->ProcessWindowEvent(wheel);
    EXPECT_GT(canvas.scrollPosition().y, 64);
    EXPECT_TRUE(drawnByFormula(canvas, {preview.picture(left), preview.picture(right)}));
}

// For each type, limit, quality and lowest quality, changed in the main window while it is open: the size in pixels
// and bytes a run writes and the quality its size search picks, from the reductions it keeps of every method (none
// redone); for a file a run cannot read, its reason. "Use this method" selects it as a click would, closes the
// preview, and is saved. Then a run converts the file shown: the preview keeps its picture, and closes with the run's
// end.
TEST_F(PreviewTest, ShowsWhatARunWritesOrWhyNotUsesItsMethodAndKeepsItsPictureWhileARunConverts) {
    const wxArrayString paths = files({"a.png", "b.png"});
    writeText(dir / "b.png", "not a picture");
    fs::copy_file(PIXLOOM_TEST_PICTURES "/camera.jpg", dir / "camera.jpg");  // with EXIF, which a limit counts
    add(wxArrayString(1, wx(dir / "camera.jpg")));
    const struct { const char* type; const char* limit; int quality, lowest = 1; } cases[] = {{"PNG", "", 90},
        {"PNG", "", 20}, {"BMP", "", 20}, {"JPEG", "", 20}, {"JPEG", "", 90}, {"JPEG", "20", 90}, {"JPEG", "1", 90},
        {"JPEG", "4", 90, 60}, {"WebP", "", 90}, {"WebP", "4", 90}, {"PNG", "", 90}};  // the run below: no limit missed
    for (int entry : {0, 2}) {
        watchPreviewReductions();  // counted afresh for each file
        const PreviewProbe preview = open(entry);
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << lstFiles->GetString(unsigned(entry)) << " " << c.type << " limit "
                                              << c.limit << " q" << c.quality);
            select(optFiletype, c.type);
            cmbLimit->SetValue(c.limit), spnQuality->SetValue(c.quality), spnMinQuality->SetValue(c.lowest);
            RunSettings settings = preview.ownersSettings();
            ASSERT_TRUE(pumpUntil([&] {
                const RunSettings& shown = preview.shownSettings();
                const bool everyMethod = std::all_of(methods().begin(), methods().end(),
                                                     [](const MethodInfo& m) { return reductionsOf(m.method) > 0; });
                return preview.settled() && everyMethod && shown.type == settings.type &&
                       shown.limitBytes == settings.limitBytes && shown.quality == settings.quality &&
                       shown.minQuality == settings.minQuality;
            }));
            for (const MethodInfo& m : methods()) EXPECT_EQ(reductionsOf(m.method), 1) << m.label;
            EXPECT_EQ(preview.reducer().decodes(), 1);
            settings.method = preview.method();
            const FileOutcome outcome = writeAsRun(lstFiles->GetString(unsigned(entry)), settings);
            ASSERT_EQ(outcome.kind, FileOutcome::Written);
            const std::string output(outcome.output.utf8_str());
            const wxSize size = sizeOf(output);  // a lowest quality under a limit may write a smaller picture
            EXPECT_TRUE(c.lowest == 1 || entry || size.x < 320) << size.x;
            const wxString figures = wxString::Format(" %d x %d px, %s %llu bytes (", size.x, size.y, c.type,
                                                      (unsigned long long)fs::file_size(output));
            EXPECT_TRUE(pumpUntil([&] { return preview.status().Contains(figures); })) << preview.status();
            const wxString status = preview.status();
            const bool lossy = infoOf(settings.type).lossy;
            EXPECT_EQ(status.Contains(", quality "), lossy) << status;
            const wxString limit = outcome.problem.empty() ? " under the " + wxString(c.limit) + " KB limit"
                                                           : outcome.problem;
            EXPECT_EQ(status.Contains(limit), lossy && settings.limitBytes > 0) << status;
        }
    }
    PreviewProbe preview = open(1);
    ASSERT_TRUE(pumpUntil([&] { return preview.reducer().sourceError().has_value() && preview.caughtUp(); }));
    const wxString reason = *preview.reducer().sourceError();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(preview.status(), L"読み込めません(Cannot read): " + reason);
    EXPECT_FALSE(preview.useButton()->IsEnabled());

    int clicks = 0;
    optMethod->Bind(wxEVT_RADIOBOX, [&](wxCommandEvent& e) { ++clicks, e.Skip(); });
    preview = open(0);
    preview.chooseMethod("LCD(max)");
    ASSERT_TRUE(settled(preview));
    EXPECT_TRUE(preview.useButton()->IsEnabled());
    send(preview.useButton());
    EXPECT_TRUE(pumpUntil([this] { return PreviewWindow::of(frame) == nullptr && wxTopLevelWindows.size() == 1; }));
    EXPECT_EQ(std::make_pair(optMethod->GetStringSelection(), clicks), std::make_pair(wxString("LCD(max)"), 1));
    preview = open(0);  // while a run converts its file, and holds at the next one
    ASSERT_TRUE(settled(preview));
    startRun(true, paths[1]);
    ASSERT_TRUE(pumpUntil([&] { return lstFiles->GetCount() == 2 && lstFiles->GetString(0) == paths[1]; }));
    wxImage png;
    ASSERT_TRUE(png.LoadFile(wx(dir / "a_res.png"), wxBITMAP_TYPE_PNG));
    EXPECT_TRUE(samePixels(preview.picture(preview.method()), png));  // the run wrote what the preview shows
    preview.chooseMethod("Nearest");
    EXPECT_TRUE(pumpUntil([&] { return preview.picture(methods()[0].method).IsOk(); }));
    EXPECT_EQ(preview.reducer().decodes(), 1);  // from the picture it holds
    release();
    ASSERT_TRUE(windowClosed());  // the run's end closes the window, and it the preview
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_TRUE(messages()[0].Contains(paths[1] + ": " + reason)) << messages()[0].utf8_str();
    EXPECT_NE(readFile(home / ".pixloom").find("optMethod=LCD(max)"), std::string::npos);
}

// The window's reducer keeps every method; a smaller budget keeps fewer besides the one shown.
TEST(PreviewReducerAlone, KeepsMethodsNotShownWithinItsBudget) {
    Folder dir;
    ASSERT_TRUE(FrameProbe::picture(640, 480).SaveFile(wx(dir / "a.png"), wxBITMAP_TYPE_PNG));
    const size_t picture = 320 * 240 * 3;  // as the built-in settings reduce it
    const auto kept = [](const PreviewReducer& reducer) {
        return std::count_if(methods().begin(), methods().end(),
                             [&](const MethodInfo& m) { return reducer.reduced(m.method).has_value(); });
    };
    for (const auto& [budget, reduced] : {std::pair<size_t, long>{0, 1}, {picture * 5 / 2, 2}, {picture * 7, 7}}) {
        SCOPED_TRACE(budget);
        PreviewReducer reducer(nullptr, budget);
        reducer.open(wx(dir / "a.png"));
        reducer.show(RunSettings(), {RunSettings().method});
        ASSERT_TRUE(pumpUntil([&] { return kept(reducer) == reduced; }));
        if (reduced == 7) continue;
        // One more shown: the reductions of one worker come in turn, so any beyond the budget came before it.
        const Method later = methods().back().method;
        ASSERT_FALSE(reducer.reduced(later));
        reducer.show(RunSettings(), {later});
        ASSERT_TRUE(pumpUntil([&] { return reducer.reduced(later).has_value(); }));
        EXPECT_EQ(kept(reducer), reduced + 1);
    }
}

struct CloseCase { const char* name; std::function<void(PreviewTest&, const PreviewProbe&)> close; size_t left; };
void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }
class PreviewCloses : public PreviewTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(PreviewCloses, DuringAReductionGivingItUpAndLeavingNoThread) {
    files({"big.png"}, 2000, 1500);
    holdReductions = true, reductionsHeld = 0;
    const PreviewProbe preview = open(0);
    ASSERT_TRUE(pumpUntil([&] { return reductionsHeld == 1 && preview.status().Contains(L"縮小中...(Reducing...)"); }))
        << preview.status().utf8_str();
    EXPECT_TRUE(preview.reducer().reducing() && threadRunning("pixloom-preview"));
    GetParam().close(*this, preview);
    EXPECT_TRUE(pumpUntil([&] { return wxTopLevelWindows.size() == GetParam().left; }));
    EXPECT_FALSE(threadRunning("pixloom-preview"));
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
INSTANTIATE_TEST_SUITE_P(Preview, PreviewCloses, ::testing::ValuesIn(closeCases),
                         [](const auto& info) { return std::string(info.param.name); });
