// The application object: registers the image formats and opens the window.
#pragma once

#include <wx/app.h>

class pixloomApp : public wxApp {
public:
    bool OnInit() override;
    // Lets a conversion run that the closed window left finish before the
    // toolkit is torn down.
    int OnExit() override;
};
