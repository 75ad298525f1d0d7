#include "commandline.h"
#include "run_thread.h"
#include "report.h"

#include <wx/init.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

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
