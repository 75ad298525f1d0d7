// SPDX-License-Identifier: MIT
// pixloom's icon for its windows.
#pragma once

#include <wx/iconbndl.h>

// The icon at every size drawn for it (16 to 256 px), from PNGs compiled into
// the program: the window shows it wherever the program was installed.
wxIconBundle pixloomIcons();
