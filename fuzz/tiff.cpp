// SPDX-License-Identifier: MIT
// TIFF sources: the reader over libtiff (strips, tiles, planes, every kind
// of sample, its RGBA reader for the rest), the orientation and profile,
// the file's EXIF.
#include "decode_support.h"
#include "fuzz_support.h"

#include <algorithm>
#include <iterator>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::startToolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* const signatures[] = {"II*\0", "MM\0*", "II+\0", "MM\0+"};  // classic and BigTIFF
    if (std::none_of(std::begin(signatures), std::end(signatures),
                     [&](const char* s) { return fuzzing::startsWith(data, size, s, 4); }))
        return -1;
    return fuzzing::decodeSource(data, size);
}
