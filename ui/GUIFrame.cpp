#include "GUIFrame.h"

// Placeholder until the layout lands.
GUIFrame::GUIFrame(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                   const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style) {}

GUIFrame::~GUIFrame() = default;
