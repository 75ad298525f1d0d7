// Test main for the conversion pieces that need the toolkit's image and
// string support but no display.
#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    // File names as bytes, the way the GUI program converts them.
    static wxConvBrokenFileNames fileNames(wxT("UTF-8"));
    wxConvFileName = &fileNames;
    wxInitAllImageHandlers();
    wxLog::SetActiveTarget(new wxLogStderr);
    return RUN_ALL_TESTS();
}
