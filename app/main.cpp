#include "pixloomFrame.h"

#include <wx/app.h>
#include <wx/image.h>

class pixloomApp : public wxApp {
public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        auto* frame = new pixloomFrame(nullptr);
        frame->Show();
        return true;
    }
};

wxIMPLEMENT_APP_NO_MAIN(pixloomApp);

int main(int argc, char** argv) { return wxEntry(argc, argv); }
