// Engine tests need the toolkit's image handlers but no display.
#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

// Impossible sizes are asked for on purpose: a refused malloc must give null.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    wxLog::EnableLogging(false);  // some tests load files that fail on purpose
    return RUN_ALL_TESTS();
}
