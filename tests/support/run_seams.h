// SPDX-License-Identifier: MIT
// The run's seams, defined for test programs: a test sets what happens when
// a run takes a file or decodes a source (on the run's threads). Set them
// while no run is active; nullptr for nothing.
#pragma once

#include <wx/string.h>

#include <functional>

namespace seams {
void onFileTaken(std::function<void(const wxString& source)> watcher);
void onSourceDecoded(std::function<void(const wxString& source, bool ahead)> watcher);
}  // namespace seams
