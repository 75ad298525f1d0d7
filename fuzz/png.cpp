// SPDX-License-Identifier: MIT
// PNG sources: libpng row by row, transparency, iCCP and eXIf.
#include "decode_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!(fuzzing::startsWith(data, size, "\x89PNG", 4))) return -1;
    return fuzzing::decodeSource(data, size);
}
