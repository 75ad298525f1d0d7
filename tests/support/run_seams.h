// SPDX-License-Identifier: MIT
// Watching a run and the preview from inside, for test programs only: they are
// linked with the run's steps wrapped (PIXLOOM_RUN_SEAMS in tests/CMakeLists.txt),
// so that each step first calls what a test set here. Set them while no run
// or preview works; nullptr for nothing. Called on the run's and the preview's
// threads.
#pragma once

#include "settings.h"

#include <wx/string.h>

#include <functional>

class Image;

namespace seams {
// A run takes source (before it is converted).
void onFileTaken(std::function<void(const wxString& source)> watcher);
// A source was decoded, ahead (on a decoder of the run) or not.
void onSourceDecoded(std::function<void(const wxString& source, bool ahead)> watcher);
// The preview reduces image as settings say; called at the start, and again
// with done set once the reduction is over.
void onPreviewReduction(std::function<void(const Image& image, const RunSettings& settings, bool done)> watcher);
// A picture of width x height is about to be encoded, on any thread.
void onEncode(std::function<void(int width, int height)> watcher);
}  // namespace seams
