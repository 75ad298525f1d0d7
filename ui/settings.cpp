#include "pixloomFrame.h"

// Placeholder until settings persistence lands.
void pixloomFrame::loadSettings() {}
void pixloomFrame::saveSettings() {}
void pixloomFrame::onFrameClose(wxCloseEvent& event) { event.Skip(); }
