// Engine tests need the toolkit's image handlers but no display.
#include "image.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

// Some tests ask for impossible sizes on purpose: a refused malloc must come
// back as null under the sanitizers too.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    // Load failures are expected in some tests; keep the toolkit's log quiet.
    wxLog::EnableLogging(false);
    return RUN_ALL_TESTS();
}
