#include "pixloomFrame.h"

// Placeholder until the conversion run lands.
bool pixloomFrame::validateInputs() { return false; }
void pixloomFrame::runConversion() {}
void pixloomFrame::convertFirstFile() {}
void pixloomFrame::onStartStop(wxCommandEvent& event) { event.Skip(); }
