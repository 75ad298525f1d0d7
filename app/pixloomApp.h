// SPDX-License-Identifier: MIT
// The application object: registers the image formats and opens the window.
#pragma once

#include <wx/app.h>

class pixloomApp : public wxApp {
public:
    bool OnInit() override;
};
