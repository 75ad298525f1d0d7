// SPDX-License-Identifier: MIT
// WebP sources: still and animated, with ICCP and EXIF chunks.
#include "decode_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!(size >= 12 && fuzzing::startsWith(data, size, "RIFF", 4) &&
          fuzzing::startsWith(data + 8, size - 8, "WEBP", 4)))
        return -1;
    return fuzzing::decodeSource(data, size);
}
