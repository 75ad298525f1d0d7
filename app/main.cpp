#include "commandline.h"
#include "run_link.h"

#include <wx/init.h>

int main(int argc, char** argv) {
    // Keep the raw bytes before wx converts argv: file names that are not
    // valid in the current encoding would be dropped or garbled there.
    setCommandLineArguments(argc, argv);
    const int status = wxEntry(argc, argv);
    // A run ends by closing the window; its status (1 when a file failed)
    // becomes the program's. The runs have all ended by now.
    return status != 0 ? status : waitForConversionRuns();
}
