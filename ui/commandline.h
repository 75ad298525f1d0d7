// SPDX-License-Identifier: MIT
// The program's command-line arguments, kept as the raw bytes main() got.
// wx converts argv itself before the toolkit is up, which drops or garbles
// file names that are not valid in the current encoding; converting the raw
// bytes later with the file-name converter keeps such files openable.
#pragma once

#include <wx/arrstr.h>

// Keeps a copy of argv (the program name first). Call before the frame is
// built: main() does so before wxEntry, tests before building a frame.
void setCommandLineArguments(int argc, const char* const* argv);

// The kept arguments, program name first, converted as file names. Needs the
// toolkit to be up. Empty when nothing was kept.
wxArrayString commandLineArguments();
