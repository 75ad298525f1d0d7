// SPDX-License-Identifier: MIT
// pixloom-batch's command line: fuzzed bytes cut at NUL into arguments (as
// the kernel hands them over) and parsed over the built-in settings.
#include "batch_options.h"
#include "fuzz_support.h"
#include "output_path.h"
#include "safe_write.h"

#include <algorithm>
#include <set>

namespace {

void checkRequest(const BatchRequest& request, const std::vector<std::string>& arguments) {
    const RunSettings& settings = request.settings;
    if (request.inputs.empty()) fuzzing::broken("a request without inputs");
    std::vector<TargetBox> boxes{{settings.width, settings.height}};
    boxes.insert(boxes.end(), settings.moreSizes.begin(), settings.moreSizes.end());
    std::set<wxString> names;
    for (const TargetBox& box : boxes) {
        if (box.width < 1 || box.width > 65535 || box.height < 1 || box.height > 65535)
            fuzzing::broken("a size outside 1 to 65535");
        OutputNaming naming = namingFor(settings, box);
        naming.size.width = box.width, naming.size.height = box.height;
        if (!names.insert(namedSuffix(naming)).second) fuzzing::broken("two sizes named alike");
    }
    if (settings.keepTree && settings.sameFolder) fuzzing::broken("a kept tree beside the sources");
    if (settings.quality < 1 || settings.quality > 100) fuzzing::broken("a quality outside 1 to 100");
    if (settings.limitBytes < 0) fuzzing::broken("a negative size limit");
    if (settings.minQuality < 1 || settings.minQuality > 100) fuzzing::broken("a lowest quality outside 1 to 100");
    if (settings.sameFolder && settings.suffix.empty()) fuzzing::broken("an empty suffix beside the sources");
    // An input is one whole argument, as the file-name conversion carries its
    // bytes (the toolkit's does not keep every invalid UTF-8 sequence).
    std::vector<std::string> carried;
    for (const std::string& argument : arguments)
        carried.push_back(nativePath(wxString(argument.c_str(), *wxConvFileName)));
    for (const wxString& input : request.inputs)
        if (std::find(carried.begin(), carried.end(), nativePath(input)) == carried.end())
            fuzzing::broken("an input that is not one of the arguments");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> arguments = fuzzing::split(data, size, '\0');
    if (arguments.size() > 64) return -1;
    BatchRequest request;
    wxString error;
    if (!parseBatchArguments(arguments, RunSettings(), request, error)) {
        if (error.empty()) fuzzing::broken("a usage error without a reason");
        return 0;
    }
    if (!request.help && !request.version) checkRequest(request, arguments);
    return 0;
}
