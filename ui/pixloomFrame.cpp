#include "pixloomFrame.h"

// Placeholder until the window's behaviour lands.
pixloomFrame::pixloomFrame(wxWindow* parent)
    : GUIFrame(parent, wxID_ANY, wxT("画像縮小ツール pixloom (resize image for LCD)"),
               wxDefaultPosition, wxSize(590, 595), wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL) {}
pixloomFrame::~pixloomFrame() = default;
void pixloomFrame::setFolderChooser(FolderChooser chooser) { folderChooser = std::move(chooser); }
void pixloomFrame::onHelpSize(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onSelectSize(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onHelpMethod(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onHelpFiletype(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onSelectFiletype(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onHelpSaveto(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onSelectDst(wxCommandEvent& event) { event.Skip(); }
void pixloomFrame::onBrowseSaveDir(wxCommandEvent& event) { event.Skip(); }
