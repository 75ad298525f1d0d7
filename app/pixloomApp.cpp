// SPDX-License-Identifier: MIT
#include "pixloomApp.h"

#include "app_icon.h"
#include "pixloomFrame.h"
#include "report.h"

#include <wx/image.h>

// main() is our own (it keeps the raw argv first), so no wx main here.
wxIMPLEMENT_APP_NO_MAIN(pixloomApp);

bool pixloomApp::OnInit() {
    // The toolkit installs its log boxes while starting up: take them back.
    reportToStandardError("pixloom");
    // Loading the inputs and writing BMP, PNG and JPEG depend on these.
    wxInitAllImageHandlers();
    auto* frame = new pixloomFrame(nullptr);
    frame->SetIcons(pixloomIcons());
    frame->Show();
    return true;
}
