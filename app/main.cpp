// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "pixloom_version.h"
#include "run_thread.h"
#include "report.h"

#include <wx/init.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char helpText[] =
    "usage: pixloom [FILE_OR_FOLDER...]\n"
    "\n"
    "Opens the window that reduces image files in batches. The files and folders\n"
    "named are put on its list as if dropped on it: PNG, JPEG, TIFF, GIF, BMP and\n"
    "WebP files (.png .jpg .jpeg .jpe .tiff .tif .gif .bmp .webp, in any case),\n"
    "and folders, whose image files are listed. A file named like an option is\n"
    "given with its folder (./--help).\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "The same conversion without a window: pixloom-batch --help.\n"
    "More: man pixloom, man pixloom-batch.\n";

// --help and --version are answered before the toolkit starts, so that they
// work without a display. Returns true when one was.
bool answeredInformationOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(helpText, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("pixloom " PIXLOOM_VERSION);
            return true;
        }
    }
    return false;
}

// The toolkit converts argv itself and warns about names it cannot convert,
// though the program opens them from the raw bytes. It gets only arguments
// it can read: the others it would not use anyway.
std::vector<char*> toolkitArguments(int argc, char** argv) {
    static char placeholder[] = "-";
    std::vector<char*> arguments(argv, argv + argc);
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string argument = arguments[i];
        if (std::any_of(argument.begin(), argument.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            arguments[i] = placeholder;
    }
    arguments.push_back(nullptr);
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredInformationOption(argc, argv)) {
        if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
        std::fputs("pixloom: standard output could not be written\n", stderr);
        return 1;
    }
    // Keep the raw bytes before wx converts argv: file names that are not
    // valid in the current encoding would be dropped or garbled there.
    setCommandLineArguments(argc, argv);
    reportToStandardError("pixloom");
    std::vector<char*> arguments = toolkitArguments(argc, argv);
    int count = argc;
    const int status = wxEntry(count, arguments.data());
    // A run ends by closing the window, which waits for its worker; the
    // run's status (1 when a file failed) becomes the program's.
    return status != 0 ? status : runsExitStatus();
}
