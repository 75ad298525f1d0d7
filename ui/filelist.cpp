#include "pixloomFrame.h"

// Placeholder until the file list lands.
void pixloomFrame::addFiles(wxListBox*, const wxArrayString&) {}
bool pixloomFrame::isImageFile(const wxString&) { return false; }
void pixloomFrame::onClearList(wxCommandEvent& event) { event.Skip(); }
