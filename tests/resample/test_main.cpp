// Engine tests need the toolkit's image handlers but no display.
#include "image.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    // Load failures are expected in some tests; keep the toolkit's log quiet.
    wxLog::EnableLogging(false);
    return RUN_ALL_TESTS();
}
