// SPDX-License-Identifier: MIT
// Support for in-process tests against real wx windows under Xvfb.
#pragma once

#include <wx/string.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace guitest {
using std::chrono::milliseconds;

// Runs events, CallAfter and idle work until the condition holds or the timeout passes; returns the condition.
bool pumpUntil(const std::function<bool()>& condition, milliseconds timeout = std::chrono::seconds(10));
void pumpOnce();  // what is pending now, then idle work
bool destroyAllWindows(milliseconds timeout = std::chrono::seconds(10));  // true when all went in time

// A modal dialog that the hook answered (wxID_OK, folder choosers wxID_CANCEL) instead of showing it.
struct ShownDialog {
    wxString kind;              // "message", "dir" or the dialog's class name
    wxString message, caption;  // a folder chooser's prompt as its message
    long style = 0;
};
std::vector<ShownDialog> shownDialogs();  // in order, since the last clear
void clearShownDialogs();
}  // namespace guitest
