// SPDX-License-Identifier: MIT
// JPEG sources: libjpeg-turbo with their EXIF orientation and ICC profile.
#include "decode_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!(fuzzing::startsWith(data, size, "\xFF\xD8", 2))) return -1;
    return fuzzing::decodeSource(data, size);
}
