// SPDX-License-Identifier: MIT
// GIF: what the toolkit's GIF reader meets before it decodes the first
// image, found the way it walks the blocks, so that the file can be refused
// before the toolkit runs into what it does not guard against.
#include "formats.h"

#include <sys/types.h>

#include <cstring>

namespace formats {
namespace {

bool skip(std::FILE* file, long bytes) { return fseeko(file, bytes, SEEK_CUR) == 0; }

// The colour table a flags byte announces, if any.
bool skipColourTable(std::FILE* file, unsigned flags) {
    if (!(flags & 0x80)) return true;
    const std::size_t bytes = 3 * (std::size_t(2) << (flags & 7));
    unsigned char table[3 * 256];
    return std::fread(table, 1, bytes, file) == bytes;
}

// Sub-blocks up to the empty one that ends them; false when the file ends
// first.
bool skipSubBlocks(std::FILE* file) {
    for (int size; (size = std::fgetc(file)) != 0;)
        if (size == EOF || !skip(file, size)) return false;
    return true;
}

// An extension after its introducer: the toolkit reads a graphic control
// extension as six bytes whatever its sizes say, others as sub-blocks.
bool skipExtension(std::FILE* file) {
    if (std::fgetc(file) == 0xF9) {
        unsigned char control[6];
        return std::fread(control, 1, sizeof control, file) == sizeof control;
    }
    return skipSubBlocks(file);
}

unsigned littleEndian16(const unsigned char* bytes) { return bytes[0] | bytes[1] << 8; }

}  // namespace

bool findFirstGifImage(std::FILE* file, GifImage& image) {
    unsigned char head[13];
    if (std::fread(head, 1, sizeof head, file) != sizeof head || std::memcmp(head, "GIF", 3) != 0 ||
        !skipColourTable(file, head[10]))
        return false;
    for (;;) {
        const int type = std::fgetc(file);
        if (type == EOF || type == 0x3B) return false;
        if (type == 0x21 && !skipExtension(file)) return false;
        if (type != 0x2C) continue;  // the toolkit passes over stray bytes
        unsigned char descriptor[9];
        if (std::fread(descriptor, 1, sizeof descriptor, file) != sizeof descriptor) return false;
        image.width = littleEndian16(descriptor + 4);
        image.height = littleEndian16(descriptor + 6);
        if (!skipColourTable(file, descriptor[8])) return true;  // the toolkit stops there, its buffer made
        const int codeSize = std::fgetc(file);
        image.codeSize = codeSize == EOF ? 255 : codeSize;  // the toolkit takes a missing byte as 255
        image.dataComplete = codeSize != EOF && skipSubBlocks(file);
        return true;
    }
}

}  // namespace formats
