// SPDX-License-Identifier: MIT
#include "exif_carry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

using Bytes = std::vector<unsigned char>;
using Range = std::pair<std::size_t, std::size_t>;  // [first, last): bytes of the data

enum : unsigned {
    orientationTag = 0x0112,
    softwareTag = 0x0131,
    exifPointer = 0x8769,
    interopPointer = 0xa005,
    exifVersionTag = 0x9000,
    colourSpaceTag = 0xa001,
    widthTag = 0xa002,
    heightTag = 0xa003,
    stripOffsets = 0x0111,
    stripByteCounts = 0x0117,
    thumbnailOffset = 0x0201,
    thumbnailLength = 0x0202,
};
enum : unsigned { asciiType = 2, shortType = 3, longType = 4, undefinedType = 7, ifdType = 13 };
constexpr std::size_t maxEntries = 1024;

// Blocks that may hold a picture of the source: XMP, IPTC and Photoshop's
// (whose resources include a preview).
bool mayHoldPicture(unsigned tag) { return tag == 0x02bc || tag == 0x83bb || tag == 0x8649; }

std::size_t unitOf(unsigned type) {
    static const std::size_t units[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof units / sizeof units[0] ? units[type] : 0;
}

// One directory entry, its 12 bytes as stored.
struct Entry {
    unsigned tag = 0;
    unsigned char bytes[12] = {};
};

class Tiff {
public:
    explicit Tiff(const Bytes& tiff) : data(tiff) {}

    bool header() {
        if (data.size() < 8) return false;
        if (std::memcmp(data.data(), "II*\0", 4) == 0)
            motorola = false;
        else if (std::memcmp(data.data(), "MM\0*", 4) == 0)
            motorola = true;
        else
            return false;
        return true;
    }

    std::uint32_t get(const unsigned char* at, int n) const {
        std::uint32_t value = 0;
        for (int i = 0; i < n; ++i) value |= std::uint32_t(at[motorola ? n - 1 - i : i]) << 8 * i;
        return value;
    }
    std::uint32_t get(std::size_t at, int n) const { return get(data.data() + at, n); }
    void put(unsigned char* at, std::uint32_t value, int n) const {
        for (int i = 0; i < n; ++i) at[motorola ? n - 1 - i : i] = static_cast<unsigned char>(value >> 8 * i);
    }

    // The entries of the directory at offset, and where it lies; false when
    // it does not lie within the data.
    bool directory(std::uint32_t offset, std::vector<Entry>& entries, Range& table) const {
        if (offset < 8 || std::size_t(offset) + 2 > data.size()) return false;
        const std::size_t count = get(offset, 2);
        const std::size_t end = std::size_t(offset) + 2 + 12 * count;
        if (count > maxEntries || end > data.size()) return false;
        for (std::size_t at = std::size_t(offset) + 2; at < end; at += 12) {
            Entry entry;
            entry.tag = get(at, 2);
            std::memcpy(entry.bytes, data.data() + at, 12);
            entries.push_back(entry);
        }
        table = {offset, std::min(end + 4, data.size())};
        return true;
    }
    std::uint32_t next(const Range& table) const {
        return table.second - table.first >= 6 && (table.second - table.first - 6) % 12 == 0 ? get(table.second - 4, 4)
                                                                                             : 0;
    }

    // The bytes an entry's value takes outside the entry; empty when it is
    // held inside or lies beyond the data.
    Range valueOf(const Entry& entry) const {
        const std::uint64_t size = std::uint64_t(unitOf(get(entry.bytes + 2, 2))) * get(entry.bytes + 4, 4);
        const std::uint64_t offset = get(entry.bytes + 8, 4);
        if (size <= 4 || offset + size > data.size()) return {0, 0};
        return {std::size_t(offset), std::size_t(offset + size)};
    }
    std::uint32_t number(const Entry& entry) const {
        const unsigned type = get(entry.bytes + 2, 2);
        if (type == shortType) return get(entry.bytes + 8, 2);
        return type == longType || type == ifdType ? get(entry.bytes + 8, 4) : 0;
    }
    // Never the header: damaged offsets may point anywhere.
    void zero(const Range& range) {
        if (range.second <= 8) return;
        std::fill(data.begin() + std::max<std::size_t>(range.first, 8), data.begin() + range.second, 0);
    }

    Entry make(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) const {
        Entry entry;
        entry.tag = tag;
        put(entry.bytes, tag, 2);
        put(entry.bytes + 2, type, 2);
        put(entry.bytes + 4, count, 4);
        if (type == shortType && count == 1)
            put(entry.bytes + 8, value, 2);
        else
            put(entry.bytes + 8, value, 4);
        return entry;
    }

    // Appends a directory at an even offset; false when the offsets would
    // not fit 32 bits.
    bool append(std::vector<Entry> entries, std::uint32_t& offset) {
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        if (data.size() % 2) data.push_back(0);
        if (data.size() + 6 + 12 * entries.size() > UINT32_MAX) return false;
        offset = static_cast<std::uint32_t>(data.size());
        data.resize(data.size() + 2 + 12 * entries.size() + 4, 0);
        put(data.data() + offset, static_cast<std::uint32_t>(entries.size()), 2);
        for (std::size_t i = 0; i < entries.size(); ++i)
            std::memcpy(data.data() + offset + 2 + 12 * i, entries[i].bytes, 12);
        return true;
    }

    Bytes data;
    bool motorola = false;
};

// The thumbnail's IFD, its picture (a JPEG or one strip) and the pointer to
// it go.
void dropThumbnail(Tiff& tiff, const Range& firstTable) {
    std::vector<Entry> entries;
    Range table;
    const std::uint32_t offset = tiff.next(firstTable);
    if (offset != 0 && tiff.directory(offset, entries, table)) {
        std::uint32_t start[2] = {0, 0}, length[2] = {0, 0};  // the JPEG, the strip
        for (const Entry& entry : entries) {
            if (entry.tag == thumbnailOffset) start[0] = tiff.number(entry);
            if (entry.tag == thumbnailLength) length[0] = tiff.number(entry);
            if (entry.tag == stripOffsets) start[1] = tiff.number(entry);
            if (entry.tag == stripByteCounts) length[1] = tiff.number(entry);
            tiff.zero(tiff.valueOf(entry));
        }
        for (int i = 0; i < 2; ++i)
            if (std::uint64_t(start[i]) + length[i] <= tiff.data.size()) tiff.zero({start[i], start[i] + length[i]});
        tiff.zero(table);
    }
    if (firstTable.second - firstTable.first >= 6) tiff.put(tiff.data.data() + firstTable.second - 4, 0, 4);
}

// The entries a directory keeps; the blocks that may hold a picture are
// zeroed.
std::vector<Entry> kept(Tiff& tiff, const std::vector<Entry>& entries, std::initializer_list<unsigned> rewritten) {
    std::vector<Entry> keep;
    for (const Entry& entry : entries) {
        if (mayHoldPicture(entry.tag)) tiff.zero(tiff.valueOf(entry));
        if (mayHoldPicture(entry.tag) || describesSourcePixels(entry.tag) ||
            std::find(rewritten.begin(), rewritten.end(), entry.tag) != rewritten.end())
            continue;
        keep.push_back(entry);
    }
    return keep;
}

}  // namespace

Bytes carriedExif(const Bytes& source, std::size_t width, std::size_t height, const std::string& software) {
    Tiff tiff(source);
    std::vector<Entry> first, exif;
    Range firstTable, exifTable{0, 0};
    if (!tiff.header() || !tiff.directory(tiff.get(4, 4), first, firstTable)) return Bytes();
    for (const Entry& entry : first)
        if (entry.tag == exifPointer && !tiff.directory(tiff.number(entry), exif, exifTable)) exif.clear();
    if (first.empty() && exif.empty()) return Bytes();  // nothing of the photo
    dropThumbnail(tiff, firstTable);
    std::vector<Entry> firstKept = kept(tiff, first, {orientationTag, softwareTag, exifPointer});
    std::vector<Entry> exifKept = kept(tiff, exif, {colourSpaceTag, widthTag, heightTag, interopPointer});
    // The old tables go: they would still tell the old orientation and size.
    tiff.zero(firstTable);
    tiff.zero(exifTable);

    if (std::none_of(exifKept.begin(), exifKept.end(), [](const Entry& e) { return e.tag == exifVersionTag; })) {
        Entry version = tiff.make(exifVersionTag, undefinedType, 4, 0);
        std::memcpy(version.bytes + 8, "0232", 4);
        exifKept.push_back(version);
    }
    exifKept.push_back(tiff.make(colourSpaceTag, shortType, 1, 1));  // sRGB
    exifKept.push_back(tiff.make(widthTag, longType, 1, static_cast<std::uint32_t>(width)));
    exifKept.push_back(tiff.make(heightTag, longType, 1, static_cast<std::uint32_t>(height)));

    const std::string text = software.substr(0, 0xffff);
    if (tiff.data.size() % 2) tiff.data.push_back(0);
    const std::size_t textAt = tiff.data.size();
    tiff.data.insert(tiff.data.end(), text.c_str(), text.c_str() + text.size() + 1);
    Entry softwareEntry = tiff.make(softwareTag, asciiType, static_cast<std::uint32_t>(text.size() + 1),
                                    static_cast<std::uint32_t>(textAt));
    if (text.size() + 1 <= 4) {  // held in the entry
        std::memset(softwareEntry.bytes + 8, 0, 4);
        std::memcpy(softwareEntry.bytes + 8, text.c_str(), text.size() + 1);
        tiff.data.resize(textAt);
    }
    std::uint32_t exifAt = 0, firstAt = 0;
    if (textAt > UINT32_MAX || !tiff.append(exifKept, exifAt)) return Bytes();
    firstKept.push_back(tiff.make(orientationTag, shortType, 1, 1));
    firstKept.push_back(softwareEntry);
    firstKept.push_back(tiff.make(exifPointer, longType, 1, exifAt));
    if (!tiff.append(firstKept, firstAt)) return Bytes();
    tiff.put(tiff.data.data() + 4, firstAt, 4);
    return std::move(tiff.data);
}
