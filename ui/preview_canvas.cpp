// SPDX-License-Identifier: MIT
#include "preview_canvas.h"

#include "image.h"

#include <wx/dcclient.h>
#include <wx/sizer.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// One picture into its pane of the view (packed RGB, viewWidth pixels a
// row), from the device pixel position of the enlarged picture on.
void copyEnlarged(const Image& picture, const PreviewCanvas::Pane& pane, wxPoint position, int zoom,
                  unsigned char* view, std::size_t viewWidth, int viewHeight) {
    const std::size_t width = static_cast<std::size_t>(picture.getWidth());
    const std::size_t height = static_cast<std::size_t>(picture.getHeight());
    const std::size_t firstColumn = static_cast<std::size_t>(position.x / zoom);
    for (int y = 0; y < viewHeight; ++y) {
        const std::size_t row = static_cast<std::size_t>((static_cast<long long>(position.y) + y) / zoom);
        if (row >= height) break;
        const unsigned char* in = picture.pixelData() + row * width * 3;
        unsigned char* out = view + (static_cast<std::size_t>(y) * viewWidth + static_cast<std::size_t>(pane.left)) * 3;
        if (zoom == 1) {
            if (firstColumn >= width) continue;
            const std::size_t count = std::min(static_cast<std::size_t>(pane.width), width - firstColumn);
            std::memcpy(out, in + firstColumn * 3, count * 3);
            continue;
        }
        for (int x = 0; x < pane.width; ++x) {
            const std::size_t column = static_cast<std::size_t>((static_cast<long long>(position.x) + x) / zoom);
            if (column >= width) break;
            std::memcpy(out + static_cast<std::size_t>(x) * 3, in + column * 3, 3);
        }
    }
}

// Whether every picture, enlarged zoom times, still has int sides.
bool fitsZoom(const std::vector<std::shared_ptr<const Image>>& pictures, int zoom) {
    return std::all_of(pictures.begin(), pictures.end(), [zoom](const std::shared_ptr<const Image>& picture) {
        return !picture || (static_cast<long long>(picture->getWidth()) * zoom <= INT_MAX &&
                            static_cast<long long>(picture->getHeight()) * zoom <= INT_MAX);
    });
}

}  // namespace

PreviewCanvas::PreviewCanvas(wxWindow* parent)
    : wxPanel(parent),
      area(new wxWindow(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE)),
      horizontal(new wxScrollBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_HORIZONTAL)),
      vertical(new wxScrollBar(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_VERTICAL)) {
    auto* grid = new wxFlexGridSizer(2, 2, 0, 0);
    grid->AddGrowableCol(0);
    grid->AddGrowableRow(0);
    grid->Add(area, 1, wxEXPAND);
    grid->Add(vertical, 0, wxEXPAND);
    grid->Add(horizontal, 0, wxEXPAND);
    SetSizer(grid);
    area->SetBackgroundStyle(wxBG_STYLE_PAINT);  // every pixel is painted
    area->Bind(wxEVT_PAINT, &PreviewCanvas::onPaint, this);
    area->Bind(wxEVT_SIZE, &PreviewCanvas::onSize, this);
    for (wxScrollBar* bar : {horizontal, vertical})
        for (const auto& type :
             {wxEVT_SCROLL_TOP, wxEVT_SCROLL_BOTTOM, wxEVT_SCROLL_LINEUP, wxEVT_SCROLL_LINEDOWN, wxEVT_SCROLL_PAGEUP,
              wxEVT_SCROLL_PAGEDOWN, wxEVT_SCROLL_THUMBTRACK, wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED})
            bar->Bind(type, &PreviewCanvas::onScroll, this);
    area->Bind(wxEVT_MOUSEWHEEL, &PreviewCanvas::onWheel, this);
    area->Bind(wxEVT_LEFT_DOWN, &PreviewCanvas::onDragStart, this);
    area->Bind(wxEVT_MOTION, &PreviewCanvas::onDrag, this);
    area->Bind(wxEVT_LEFT_UP, &PreviewCanvas::onDragEnd, this);
    area->Bind(wxEVT_MOUSE_CAPTURE_LOST, &PreviewCanvas::onCaptureLost, this);
}

int PreviewCanvas::scale() const { return std::max(1, static_cast<int>(std::lround(area->GetContentScaleFactor()))); }

wxSize PreviewCanvas::deviceSize() const { return area->GetClientSize() * scale(); }

std::vector<PreviewCanvas::Pane> PreviewCanvas::panes() const {
    const int width = deviceSize().x;
    if (pictures.size() < 2) return {{0, width}};
    const int gap = 8 * scale();
    const int each = std::max(0, (width - gap) / 2);
    return {{0, each}, {each + gap, each}};
}

void PreviewCanvas::setPictures(const std::vector<std::shared_ptr<const Image>>& shown) {
    if (shown == pictures) return;
    pictures = shown;
    if (!fitsZoom(pictures, zoomFactor)) zoomFactor = 1;
    position.x = std::min(position.x, furthestPosition().x);
    position.y = std::min(position.y, furthestPosition().y);
    updateScrollBars();
    changed();
}

bool PreviewCanvas::setZoom(int zoom) {
    if (zoom < 1 || !fitsZoom(pictures, zoom)) return false;
    if (zoom == zoomFactor) return true;
    // The output pixel at the centre of what the first pane shows of the
    // pictures stays at the centre.
    const wxSize size = deviceSize(), content = contentSize();
    const long long halfWidth = panes().front().width / 2, halfHeight = size.y / 2;
    const long long centreX =
        (position.x + std::min(position.x + 2 * halfWidth, static_cast<long long>(content.x))) / 2 / zoomFactor;
    const long long centreY =
        (position.y + std::min(position.y + 2 * halfHeight, static_cast<long long>(content.y))) / 2 / zoomFactor;
    zoomFactor = zoom;
    const wxPoint furthest = furthestPosition();
    position.x = static_cast<int>(std::clamp(centreX * zoom - halfWidth, 0LL, static_cast<long long>(furthest.x)));
    position.y = static_cast<int>(std::clamp(centreY * zoom - halfHeight, 0LL, static_cast<long long>(furthest.y)));
    updateScrollBars();
    changed();
    return true;
}

void PreviewCanvas::scrollTo(wxPoint wanted) {
    const wxPoint furthest = furthestPosition();
    wanted.x = std::clamp(wanted.x, 0, furthest.x);
    wanted.y = std::clamp(wanted.y, 0, furthest.y);
    if (wanted == position) return;
    position = wanted;
    updateScrollBars();
    changed();
}

wxSize PreviewCanvas::contentSize() const {
    wxSize size(0, 0);
    for (const auto& picture : pictures) {
        if (!picture) continue;
        size.x = std::max(size.x, picture->getWidth() * zoomFactor);
        size.y = std::max(size.y, picture->getHeight() * zoomFactor);
    }
    return size;
}

wxPoint PreviewCanvas::furthestPosition() const {
    const wxSize content = contentSize();
    return {std::max(0, content.x - panes().front().width), std::max(0, content.y - deviceSize().y)};
}

void PreviewCanvas::updateScrollBars() {
    const wxSize content = contentSize();
    const int width = std::max(1, panes().front().width), height = std::max(1, deviceSize().y);
    horizontal->SetScrollbar(position.x, width, std::max(content.x, width), width);
    vertical->SetScrollbar(position.y, height, std::max(content.y, height), height);
}

void PreviewCanvas::changed() {
    stale = true;
    area->Refresh(false);
}

const wxImage& PreviewCanvas::view() {
    if (stale) compose();
    return composed;
}

void PreviewCanvas::compose() {
    stale = false;
    const wxSize size = deviceSize();
    if (size.x <= 0 || size.y <= 0) {
        composed = wxImage();
        drawn = wxBitmap();
        return;
    }
    if (!composed.IsOk() || composed.GetSize() != size) composed.Create(size.x, size.y, false);
    unsigned char* pixels = composed.GetData();
    std::fill(pixels, pixels + static_cast<std::size_t>(size.x) * static_cast<std::size_t>(size.y) * 3, background);
    const std::vector<Pane> layout = panes();
    for (std::size_t i = 0; i < pictures.size() && i < layout.size(); ++i)
        if (pictures[i] && !pictures[i]->isEmpty())
            copyEnlarged(*pictures[i], layout[i], position, zoomFactor, pixels, static_cast<std::size_t>(size.x),
                         size.y);
    // Of the scale factor's size per logical pixel: drawn without scaling.
    drawn = wxBitmap(composed, -1, scale());
}

void PreviewCanvas::onPaint(wxPaintEvent&) {
    wxPaintDC dc(area);
    if (stale) compose();
    if (drawn.IsOk()) dc.DrawBitmap(drawn, 0, 0);
}

void PreviewCanvas::onSize(wxSizeEvent& event) {
    event.Skip();
    const wxPoint furthest = furthestPosition();
    position.x = std::min(position.x, furthest.x);
    position.y = std::min(position.y, furthest.y);
    updateScrollBars();
    changed();
}

// The bar has moved already, by whatever the user did to it.
void PreviewCanvas::onScroll(wxScrollEvent& event) {
    if (event.GetEventObject() == horizontal)
        scrollTo({horizontal->GetThumbPosition(), position.y});
    else
        scrollTo({position.x, vertical->GetThumbPosition()});
}

void PreviewCanvas::onWheel(wxMouseEvent& event) {
    const int delta = std::max(1, event.GetWheelDelta());
    const long long step = 16LL * scale() * std::max(1, event.GetLinesPerAction());
    const int amount =
        static_cast<int>(std::clamp(step * event.GetWheelRotation() / delta, -1LL * INT_MAX / 2, 1LL * INT_MAX / 2));
    if (event.GetWheelAxis() == wxMOUSE_WHEEL_HORIZONTAL)
        scrollTo({position.x + amount, position.y});
    else if (event.ShiftDown())
        scrollTo({position.x - amount, position.y});
    else
        scrollTo({position.x, position.y - amount});
}

void PreviewCanvas::onDragStart(wxMouseEvent& event) {
    event.Skip();  // focus as usual
    dragFrom = event.GetPosition();
    if (!area->HasCapture()) area->CaptureMouse();
}

void PreviewCanvas::onDrag(wxMouseEvent& event) {
    if (!area->HasCapture() || !event.LeftIsDown()) return;
    const wxPoint moved = event.GetPosition() - dragFrom;
    dragFrom = event.GetPosition();
    scrollTo(position - moved * scale());
}

void PreviewCanvas::onDragEnd(wxMouseEvent&) {
    if (area->HasCapture()) area->ReleaseMouse();
}

void PreviewCanvas::onCaptureLost(wxMouseCaptureLostEvent&) {}
