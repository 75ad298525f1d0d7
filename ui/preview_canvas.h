// SPDX-License-Identifier: MIT
// The preview's pictures on screen, one output pixel on one device pixel (or
// on a square of zoom x zoom of them): the toolkit never scales them, also
// under a desktop scale factor. One pane, or two side by side that show the
// same region; scrolled by the scroll bars, the wheel or dragging. The scroll
// bars are controls of their own beside the pictures: the ones GTK gives a
// window may lie over its edges.
#pragma once

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/scrolbar.h>

#include <memory>
#include <vector>

class Image;

class PreviewCanvas : public wxPanel {
public:
    explicit PreviewCanvas(wxWindow* parent);

    // The panes' pictures, left first; a null picture leaves its pane empty.
    void setPictures(const std::vector<std::shared_ptr<const Image>>& pictures);
    // 1, 4 or 8, keeping the centre of the view; a zoom under which the
    // pictures would be too large to scroll through is refused (false).
    bool setZoom(int zoom);
    int zoom() const { return zoomFactor; }
    // The view's top left corner in device pixels of the enlarged pictures.
    wxPoint scrollPosition() const { return position; }
    void scrollTo(wxPoint devicePixel);

    // Where the pictures are drawn, and what is drawn there: every device
    // pixel of its client area.
    wxWindow* surface() const { return area; }
    const wxImage& view();
    // Device pixels per logical one (the desktop scale factor).
    int scale() const;
    // A pane's left edge and width in device pixels.
    struct Pane {
        int left, width;
    };
    std::vector<Pane> panes() const;
    static constexpr unsigned char background = 0x80;  // around the pictures and between the panes

private:
    void onPaint(wxPaintEvent& event);
    void onSize(wxSizeEvent& event);
    void onScroll(wxScrollEvent& event);
    void onWheel(wxMouseEvent& event);
    void onDragStart(wxMouseEvent& event);
    void onDrag(wxMouseEvent& event);
    void onDragEnd(wxMouseEvent& event);
    void onCaptureLost(wxMouseCaptureLostEvent& event);

    wxSize deviceSize() const;
    wxSize contentSize() const;  // the largest picture, enlarged
    wxPoint furthestPosition() const;
    void changed();  // what is drawn must be made again
    void updateScrollBars();
    void compose();

    wxWindow* area;
    wxScrollBar* horizontal;
    wxScrollBar* vertical;
    std::vector<std::shared_ptr<const Image>> pictures;
    int zoomFactor = 1;
    wxPoint position{0, 0};
    wxImage composed;
    wxBitmap drawn;
    bool stale = true;
    wxPoint dragFrom;
};
