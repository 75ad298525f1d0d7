// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <wx/strconv.h>

#include <string>
#include <vector>

namespace {
std::vector<std::string> rawArguments;
}

void setCommandLineArguments(int argc, const char* const* argv) { rawArguments.assign(argv, argv + argc); }

wxArrayString commandLineArguments() {
    wxArrayString arguments;
    for (const std::string& raw : rawArguments) arguments.Add(wxString(raw.c_str(), *wxConvFileName));
    return arguments;
}
