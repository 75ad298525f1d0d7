// SPDX-License-Identifier: MIT
// pixloom-batch's command line: options over the saved settings, inputs.
#pragma once

#include "settings.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <string>
#include <vector>

struct BatchRequest {
    RunSettings settings;
    wxArrayString inputs;  // files and folders, as the file names the arguments are
    bool help = false;
    bool version = false;
};

// Reads the arguments (the program's name not among them) over defaults.
// False for a usage error, which error names.
bool parseBatchArguments(const std::vector<std::string>& arguments, const RunSettings& defaults, BatchRequest& request,
                         wxString& error);

wxString batchUsage();
