// SPDX-License-Identifier: MIT
// TIFF sources: the toolkit's decoding, the header's orientation and
// profile, the file's EXIF.
#include "decode_support.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!(fuzzing::startsWith(data, size, "II*\0", 4) || fuzzing::startsWith(data, size, "MM\0*", 4))) return -1;
    return fuzzing::decodeSource(data, size);
}
