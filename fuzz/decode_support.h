// SPDX-License-Identifier: MIT
// The decoding targets' common step: fuzzed bytes read as a source file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// Whether the bytes start with the signature a target's format has (the
// decoder is chosen by the first bytes; other formats have targets of their
// own).
bool startsWith(const std::uint8_t* data, std::size_t size, const char* signature, std::size_t length);

// Reads the bytes as a run reads a source: its size from the header, then
// the whole picture (as decodePicture chooses the decoder), then the EXIF
// its output would carry. Pictures whose header tells more than a few
// megapixels are left at the header: a real run decodes them too, but
// fuzzing wants many small inputs a second. Aborts on a broken promise.
int decodeSource(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
