#include "commandline.h"

#include <wx/init.h>

int main(int argc, char** argv) {
    // Keep the raw bytes before wx converts argv: file names that are not
    // valid in the current encoding would be dropped or garbled there.
    setCommandLineArguments(argc, argv);
    return wxEntry(argc, argv);
}
