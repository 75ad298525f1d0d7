// SPDX-License-Identifier: MIT
// BMP sources, decoded by the toolkit.
#include "decode_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!(fuzzing::startsWith(data, size, "BM", 2))) return -1;
    return fuzzing::decodeSource(data, size);
}
