// SPDX-License-Identifier: MIT
#include "png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t kBytesPerPixel = 3;
constexpr std::size_t kMaxDimension = 0x7fffffff;            // PNG stores sizes in 31 bits
constexpr std::size_t kMaxChunkData = std::size_t{1} << 30;  // PNG allows up to 2^31 - 1
constexpr std::size_t kMaxThreads = 64;
constexpr std::size_t kInflateScratch = std::size_t{64} << 10;
constexpr std::size_t kEmptyStoredBlock = 5;             // at most one byte of header bits, then LEN and NLEN
constexpr std::size_t kZlibStep = std::size_t{1} << 30;  // zlib counts bytes in unsigned int
constexpr std::size_t kFlushRoom = 64;
// Run lengths leaving more than this part of a piece: noise, which matches
// further back do not shrink (measured on photos: libdeflate came out larger).
constexpr std::size_t kNoiseRatio = 4;

enum FilterType : std::uint8_t { kNone, kSub, kUp, kAverage, kPaeth, kFilterCount };

// The picture, and how its filtered rows (a filter type byte, then the
// samples) are cut into pieces that are compressed one at a time.
struct Layout {
    const std::uint8_t* rgb;
    std::size_t height;
    std::size_t rowSamples;
    std::size_t rowsPerPiece;
    std::size_t pieces;
    int level;
    PngCompressor compressor;

    std::size_t rowBytes() const { return rowSamples + 1; }
    const std::uint8_t* row(std::size_t y) const { return rgb + y * rowSamples; }
};

// One piece's part of the zlib stream, as IDAT data.
struct Piece {
    std::vector<std::uint8_t> bytes;
    std::uint32_t adler = 1;  // of its filtered bytes
    std::size_t rawBytes = 0;
};

// ---- Filters. Each writes x's residuals to out and returns their weight.

// How far a residual is from zero read as a signed byte: what the heuristic adds up.
inline std::uint32_t weight(std::uint8_t v) { return v < 128 ? v : 256u - v; }

inline int paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Residuals of x against predict(left, up, up-left), 0 where there is no
// such neighbour. The first pixel apart, so that the loop over the rest has
// no branch and vectorises; its sums stay 32-bit for the same reason.
template <class Predict>
std::uint64_t filterWith(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out,
                         Predict predict) {
    constexpr std::size_t kBlock = std::size_t{1} << 24;  // 2^24 weights of at most 128 fit 32 bits
    std::uint64_t sum = 0;
    const std::size_t head = std::min(n, kBytesPerPixel);
    for (std::size_t i = 0; i < head; ++i)
        sum += weight(out[i] = static_cast<std::uint8_t>(x[i] - predict(0, up[i], 0)));
    for (std::size_t start = head; start < n; start += kBlock) {
        std::uint32_t part = 0;
        for (std::size_t i = start, end = std::min(n, start + kBlock); i < end; ++i) {
            const int p = predict(x[i - kBytesPerPixel], up[i], up[i - kBytesPerPixel]);
            part += weight(out[i] = static_cast<std::uint8_t>(x[i] - p));
        }
        sum += part;
    }
    return sum;
}

std::uint64_t filterNone(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out) {
    return filterWith(x, up, n, out, [](int, int, int) { return 0; });
}

std::uint64_t filterSub(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out) {
    return filterWith(x, up, n, out, [](int a, int, int) { return a; });
}

std::uint64_t filterUp(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out) {
    return filterWith(x, up, n, out, [](int, int b, int) { return b; });
}

std::uint64_t filterAverage(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out) {
    return filterWith(x, up, n, out, [](int a, int b, int) { return (a + b) >> 1; });
}

std::uint64_t filterPaeth(const std::uint8_t* x, const std::uint8_t* up, std::size_t n, std::uint8_t* out) {
    return filterWith(x, up, n, out, paethPredictor);
}

using Filter = std::uint64_t (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::uint8_t*);
constexpr Filter kFilters[kFilterCount] = {filterNone, filterSub, filterUp, filterAverage, filterPaeth};

// ---- Compressing one piece.

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// What one thread needs to filter and compress pieces; reused piece after piece.
class PieceEncoder {
public:
    explicit PieceEncoder(const Layout& layout);
    ~PieceEncoder();
    PieceEncoder(const PieceEncoder&) = delete;
    PieceEncoder& operator=(const PieceEncoder&) = delete;

    // Fills piece with piece number index; returns the reason it could not.
    wxString encode(std::size_t index, Piece& piece) noexcept;

private:
    wxString encodeOrThrow(std::size_t index, Piece& piece);
    void filterRows(std::size_t first, std::size_t end);
    void filterRow(const std::uint8_t* x, const std::uint8_t* up, std::uint8_t* out);
    bool runLength(std::vector<std::uint8_t>& bytes, bool last);
    bool deflateIfSmaller(std::vector<std::uint8_t>& bytes, std::size_t begin, bool last);
    bool makeContinuable(std::vector<std::uint8_t>& bytes, std::size_t begin);
    bool inflateToEnd(const std::uint8_t* data, std::size_t size, std::size_t& lastHeaderBit, std::size_t& endBit);

    const Layout& layout_;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor_;
    z_stream runLength_{}, inflater_{};
    bool runLengthReady_ = false, inflaterReady_ = false;
    std::vector<std::uint8_t> raw_, zeroRow_, candidates_[kFilterCount], deflated_, scratch_;
};

PieceEncoder::PieceEncoder(const Layout& layout)
    : layout_(layout), compressor_(libdeflate_alloc_compressor(layout.level)) {
    // Both raw deflate, without zlib's header: pieces are joined under one.
    runLengthReady_ = deflateInit2(&runLength_, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE) == Z_OK;
    inflaterReady_ = inflateInit2(&inflater_, -MAX_WBITS) == Z_OK;
    if (!compressor_ || !runLengthReady_ || !inflaterReady_) throw std::bad_alloc();
}

PieceEncoder::~PieceEncoder() {
    if (runLengthReady_) deflateEnd(&runLength_);
    if (inflaterReady_) inflateEnd(&inflater_);
}

wxString PieceEncoder::encode(std::size_t index, Piece& piece) noexcept {
    try {
        return encodeOrThrow(index, piece);
    } catch (const std::bad_alloc&) {
        return "not enough memory";
    }
}

// Photos' filtered rows are mostly noise, where run lengths and Huffman codes
// do best and fast; where run lengths leave little, matches further back may
// do better still, and libdeflate looks for them.
wxString PieceEncoder::encodeOrThrow(std::size_t index, Piece& piece) {
    const std::size_t first = index * layout_.rowsPerPiece;
    filterRows(first, std::min(layout_.height, first + layout_.rowsPerPiece));
    piece.adler = libdeflate_adler32(1, raw_.data(), raw_.size());
    piece.rawBytes = raw_.size();
    const std::size_t begin = index == 0 ? 2 : 0;  // room for the zlib header
    const bool last = index + 1 == layout_.pieces;
    piece.bytes.resize(begin);
    const PngCompressor how = layout_.compressor;
    bool done = how == PngCompressor::LibdeflateOnly || runLength(piece.bytes, last);
    const bool noise = how == PngCompressor::ByContent && (piece.bytes.size() - begin) * kNoiseRatio > raw_.size();
    if (done && how != PngCompressor::RunLengthOnly && !noise) done = deflateIfSmaller(piece.bytes, begin, last);
    return done ? wxString() : wxString(wxT("the picture could not be compressed"));
}

void PieceEncoder::filterRows(std::size_t first, std::size_t end) {
    const std::size_t samples = layout_.rowSamples;
    raw_.resize((end - first) * layout_.rowBytes());
    for (auto& candidate : candidates_) candidate.resize(samples);
    if (first == 0) zeroRow_.assign(samples, 0);  // the row above the first
    std::uint8_t* out = raw_.data();
    for (std::size_t y = first; y < end; ++y, out += layout_.rowBytes())
        filterRow(layout_.row(y), y == 0 ? zeroRow_.data() : layout_.row(y - 1), out);
}

// The filter whose residuals weigh least, the first of equals: libpng's
// default choice for such pictures.
void PieceEncoder::filterRow(const std::uint8_t* x, const std::uint8_t* up, std::uint8_t* out) {
    const std::size_t n = layout_.rowSamples;
    std::uint64_t least = std::numeric_limits<std::uint64_t>::max();
    std::uint8_t chosen = kNone;
    for (std::uint8_t f = kNone; f < kFilterCount; ++f) {
        const std::uint64_t sum = kFilters[f](x, up, n, candidates_[f].data());
        if (sum < least) {
            least = sum;
            chosen = f;
        }
    }
    out[0] = chosen;
    std::memcpy(out + 1, candidates_[chosen].data(), n);
}

// zlib with only distance-1 matches, appended to bytes; all but the last
// piece end with a sync flush: an empty stored block, no "last" bit.
bool PieceEncoder::runLength(std::vector<std::uint8_t>& bytes, bool last) {
    if (deflateReset(&runLength_) != Z_OK) return false;
    std::size_t in = 0, out = bytes.size();
    bytes.resize(out + deflateBound(&runLength_, raw_.size()) + kFlushRoom);
    for (;;) {
        const std::size_t inStep = std::min(raw_.size() - in, kZlibStep);
        const std::size_t outStep = std::min(bytes.size() - out, kZlibStep);
        runLength_.next_in = raw_.data() + in;
        runLength_.avail_in = static_cast<uInt>(inStep);
        runLength_.next_out = bytes.data() + out;
        runLength_.avail_out = static_cast<uInt>(outStep);
        const bool allIn = in + inStep == raw_.size();
        const int flush = !allIn ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        const int result = deflate(&runLength_, flush);
        in += inStep - runLength_.avail_in;
        out += outStep - runLength_.avail_out;
        const bool flushed = flush == Z_SYNC_FLUSH && runLength_.avail_out != 0;
        if (result == Z_STREAM_END || (result == Z_OK && flushed)) break;
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        if (out == bytes.size()) bytes.resize(out + kFlushRoom);  // a flush may pass deflateBound a little
    }
    bytes.resize(out);
    return true;
}

// libdeflate's stream replaces what bytes hold from begin when smaller, or
// when they hold nothing yet.
bool PieceEncoder::deflateIfSmaller(std::vector<std::uint8_t>& bytes, std::size_t begin, bool last) {
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor_.get(), raw_.size());
    deflated_.resize(bound);
    const std::size_t size =
        libdeflate_deflate_compress(compressor_.get(), raw_.data(), raw_.size(), deflated_.data(), bound);
    if (size == 0) return false;
    const std::size_t held = bytes.size() - begin;
    if (held != 0 && size + kEmptyStoredBlock >= held) return true;
    deflated_.resize(size);
    if (!last && !makeContinuable(deflated_, 0)) return false;
    bytes.resize(begin);
    bytes.insert(bytes.end(), deflated_.begin(), deflated_.end());
    return true;
}

// A complete raw deflate stream made into one that goes on: its last block
// loses the "last" bit, and an empty stored block brings the end to a byte
// boundary, where the next piece's stream can start. zlib's inflate, stopping
// at each block boundary, tells where the last block's header is.
bool PieceEncoder::makeContinuable(std::vector<std::uint8_t>& bytes, std::size_t begin) {
    std::uint8_t* data = bytes.data() + begin;
    const std::size_t size = bytes.size() - begin;
    std::size_t lastHeaderBit = 0, endBit = 0;
    if (size == 0 || !inflateToEnd(data, size, lastHeaderBit, endBit) || (endBit + 7) / 8 != size) return false;
    const std::uint8_t finalBit = static_cast<std::uint8_t>(1u << (lastHeaderBit % 8));
    if (!(data[lastHeaderBit / 8] & finalBit)) return false;
    data[lastHeaderBit / 8] &= static_cast<std::uint8_t>(~finalBit);
    // The stored block's three header bits are zeros, as is what pads it to a byte.
    const std::size_t unusedBits = size * 8 - endBit;
    data[size - 1] &= static_cast<std::uint8_t>(0xFFu >> unusedBits);
    if (unusedBits < 3) bytes.push_back(0);
    for (std::uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) bytes.push_back(b);  // LEN 0 and its complement
    return true;
}

// Inflates the whole stream, which must decode to the piece's filtered
// bytes. Stopping before each block header, zlib says how many bits of the
// last byte it took are still unread: so lastHeaderBit is where the last
// block begins, endBit where it ends.
bool PieceEncoder::inflateToEnd(const std::uint8_t* data, std::size_t size, std::size_t& lastHeaderBit,
                                std::size_t& endBit) {
    if (inflateReset(&inflater_) != Z_OK) return false;
    scratch_.resize(kInflateScratch);
    std::size_t fed = 0, produced = 0;
    inflater_.avail_in = 0;
    for (;;) {
        if (inflater_.avail_in == 0) {
            const std::size_t step = std::min<std::size_t>(size - fed, std::numeric_limits<uInt>::max());
            inflater_.next_in = const_cast<Bytef*>(data + fed);
            inflater_.avail_in = static_cast<uInt>(step);
            fed += step;
        }
        inflater_.next_out = scratch_.data();
        inflater_.avail_out = static_cast<uInt>(scratch_.size());
        const int result = inflate(&inflater_, Z_BLOCK);
        produced += scratch_.size() - inflater_.avail_out;
        if (result == Z_STREAM_END) return fed == size && inflater_.avail_in == 0 && produced == raw_.size();
        if (result != Z_OK) return false;
        const int state = inflater_.data_type;
        if (!(state & 128)) continue;  // not at a block boundary
        const std::size_t bitsRead = (fed - inflater_.avail_in) * 8 - (state & 7);
        (state & 64 ? endBit : lastHeaderBit) = bitsRead;  // 64: the block just ended was the last
    }
}

// ---- The file around the compressed pieces.

void putBigEndian(std::vector<char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(std::vector<char>& out, const char* type, const std::uint8_t* data, std::size_t size) {
    putBigEndian(out, static_cast<std::uint32_t>(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    putBigEndian(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

void appendHeader(std::vector<char>& out, std::size_t width, std::size_t height) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    out.insert(out.end(), signature, signature + 8);
    std::uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        header[4 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    header[8] = 8;  // bits per sample
    header[9] = 2;  // RGB; compression, filter method and interlacing are all 0
    appendChunk(out, "IHDR", header, sizeof header);
}

// zlib's header: deflate with a 32 KiB window, and how hard it tried.
void putZlibHeader(std::uint8_t* at, int level) {
    at[0] = 0x78;
    at[1] = level < 2 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
}

// IDAT chunks in order make the zlib stream; each piece is one (or more when huge).
class IdatWriter {
public:
    IdatWriter(std::vector<char>& out, const Layout& layout) : out_(out), layout_(layout) {}

    void append(Piece& piece, std::size_t index) {
        if (index == 0) putZlibHeader(piece.bytes.data(), layout_.level);
        adler_ = index == 0 ? piece.adler : adler32_combine(adler_, piece.adler, static_cast<z_off_t>(piece.rawBytes));
        if (index + 1 == layout_.pieces)
            for (int shift = 24; shift >= 0; shift -= 8)
                piece.bytes.push_back(static_cast<std::uint8_t>(adler_ >> shift));
        for (std::size_t at = 0; at < piece.bytes.size(); at += kMaxChunkData)
            appendChunk(out_, "IDAT", piece.bytes.data() + at, std::min(kMaxChunkData, piece.bytes.size() - at));
    }

private:
    std::vector<char>& out_;
    const Layout& layout_;
    uLong adler_ = 1;
};

// ---- Threads.

// Threads started here are joined here, however the scope is left.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;
    ~ThreadGroup() {
        for (auto& thread : threads_) thread.join();
    }
    template <class Work>
    void start(Work work) {
        threads_.emplace_back(std::move(work));
    }

private:
    std::vector<std::thread> threads_;
};

wxString checkSize(const std::uint8_t* rgb, std::size_t width, std::size_t height,
                   const std::vector<std::uint8_t>& exif) {
    if (width == 0 || height == 0 || !rgb) return "there is no picture to write";
    const wxString size = wxString::Format(wxT("%zux%zu"), width, height);
    if (width > kMaxDimension || height > kMaxDimension) return size + " is too large for PNG";
    if (height > std::numeric_limits<std::size_t>::max() / (kBytesPerPixel * width + 1)) return size + " is too large";
    if (exif.size() > kMaxChunkData) return "the EXIF data is too large for PNG";
    return wxString();
}

Layout layoutFor(const std::uint8_t* rgb, std::size_t width, std::size_t height, const PngSettings& settings) {
    Layout layout{rgb, height, kBytesPerPixel * width, 1, 1, std::clamp(settings.level, 1, 12), settings.compressor};
    const std::size_t pieceBytes = settings.pieceBytes == 0 ? kPngPieceBytes : settings.pieceBytes;
    const std::size_t rowsPerPiece = std::max<std::size_t>(1, pieceBytes / layout.rowBytes());
    // Pieces of equal size, so that threads finish together.
    const std::size_t pieces = (height + rowsPerPiece - 1) / rowsPerPiece;
    layout.rowsPerPiece = (height + pieces - 1) / pieces;
    layout.pieces = (height + layout.rowsPerPiece - 1) / layout.rowsPerPiece;
    return layout;
}

// Pieces are encoded a batch at a time, one per thread, and written in order.
wxString encodePieces(const Layout& layout, std::vector<char>& out, const CancelToken& cancel, int threads) {
    const std::size_t workers = std::min({layout.pieces, kMaxThreads, static_cast<std::size_t>(std::max(threads, 1))});
    std::vector<std::unique_ptr<PieceEncoder>> encoders;
    for (std::size_t i = 0; i < workers; ++i) encoders.push_back(std::make_unique<PieceEncoder>(layout));
    std::vector<Piece> batch(workers);
    IdatWriter writer(out, layout);
    for (std::size_t first = 0; first < layout.pieces; first += workers) {
        if (cancel.requested()) return "abandoned";
        const std::size_t count = std::min(workers, layout.pieces - first);
        std::vector<wxString> reasons(count);
        {
            ThreadGroup helpers;
            for (std::size_t i = 1; i < count; ++i)
                helpers.start([&, i] { reasons[i] = encoders[i]->encode(first + i, batch[i]); });
            reasons[0] = encoders[0]->encode(first, batch[0]);
        }
        for (const wxString& reason : reasons)
            if (!reason.empty()) return reason;
        for (std::size_t i = 0; i < count; ++i) writer.append(batch[i], first + i);
    }
    return wxString();
}

}  // namespace

wxString encodePng(const std::uint8_t* rgb, std::size_t width, std::size_t height,
                   const std::vector<std::uint8_t>& exif, std::vector<char>& out, const CancelToken& cancel,
                   int threads) {
    PngSettings settings;
    settings.threads = threads;
    return encodePngWith(rgb, width, height, exif, out, cancel, settings);
}

wxString encodePngWith(const std::uint8_t* rgb, std::size_t width, std::size_t height,
                       const std::vector<std::uint8_t>& exif, std::vector<char>& out, const CancelToken& cancel,
                       const PngSettings& settings) {
    out.clear();
    wxString reason = checkSize(rgb, width, height, exif);
    if (!reason.empty()) return reason;
    try {
        const Layout layout = layoutFor(rgb, width, height, settings);
        appendHeader(out, width, height);
        if (!exif.empty()) appendChunk(out, "eXIf", exif.data(), exif.size());
        reason = encodePieces(layout, out, cancel, settings.threads);
        if (reason.empty()) appendChunk(out, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    } catch (const std::system_error&) {
        reason = "cannot start a thread";
    }
    if (!reason.empty()) std::vector<char>().swap(out);
    return reason;
}
