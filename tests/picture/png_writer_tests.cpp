// SPDX-License-Identifier: MIT
// The PNG writer: what it writes, read back with libpng (which it does not use to write). Its sizes: bench/png_bench.
#include "picture.h"
#include "png_writer.h"
#include "test_files.h"
#include "test_pictures.h"

#include <gtest/gtest.h>
#include <png.h>

namespace {

// libpng's strict reading: any error fails it, warnings are counted; the rows are kept.
struct PngRead {
    bool ok = false;
    std::size_t width = 0, height = 0, warnings = 0;
    int colourType = -1, depth = 0;
    Bytes rgb = {}, exif = {};
};
template <class Container>
PngRead readPng(const Container& file) {
    PngRead r;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, nullptr, [](png_structp p, png_const_charp) {
        ++static_cast<PngRead*>(png_get_error_ptr(p))->warnings;
    });
    png_infop info = png_create_info_struct(png);
    std::pair<const unsigned char*, std::size_t> in{reinterpret_cast<const unsigned char*>(file.data()), file.size()};
    png_set_read_fn(png, &in, [](png_structp p, png_bytep to, png_size_t n) {
        auto* in = static_cast<std::pair<const unsigned char*, std::size_t>*>(png_get_io_ptr(p));
        if (n > in->second) png_error(p, "truncated");
        std::memcpy(to, in->first, n), in->first += n, in->second -= n;
    });
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
        png_read_info(png, info);
        r.width = png_get_image_width(png, info), r.height = png_get_image_height(png, info);
        r.colourType = png_get_color_type(png, info), r.depth = png_get_bit_depth(png, info);
        Bytes row(png_get_rowbytes(png, info));
        for (std::size_t y = 0; y < r.height; ++y)
            png_read_row(png, row.data(), nullptr), r.rgb.insert(r.rgb.end(), row.begin(), row.end());
        png_read_end(png, info);
        png_bytep exif = nullptr;
        png_uint_32 length = 0;
        if (png_get_eXIf_1(png, info, &length, &exif)) r.exif.assign(exif, exif + length);
        r.ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return r;
}

enum class Content { Random, Flat, EveryFilter, Glyphs };

// The PNG definitions, one byte at a time.
int predicted(int filter, int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int prediction[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
    return prediction[filter];
}

// Every other row random; between them rows that one filter predicts exactly: Sub a ramp, the others their own
// predictor (None: zeros).
Bytes picture(std::size_t width, std::size_t height, Content content, unsigned seed = 1) {
    std::mt19937 random(seed);
    Bytes rgb(3 * width * height);
    for (auto& v : rgb) v = content == Content::Flat ? 77 : static_cast<std::uint8_t>(random());
    if (content == Content::Glyphs)  // white, with 8x8 glyphs of three kinds at random places: text-like
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            const std::size_t x = i / 3 % width, y = i / 3 / width, cell = (y / 8) * width + x / 8;
            const unsigned glyph = (cell * 2654435761u) >> 13 & 3;
            rgb[i] = glyph == 3 || ((0x5A3C7E18u >> (glyph * 8 + (x + 2 * y) % 8)) & 1) ? 255 : 0;
        }
    const std::size_t n = 3 * width;
    for (std::size_t y = 1; content == Content::EveryFilter && y < height; y += 2)
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t* x = &rgb[y * n + i];
            const int f = y / 2 % 5, a = i < 3 ? 0 : x[-3], c = i < 3 ? 0 : x[-3 - int(n)];
            *x = static_cast<std::uint8_t>(f == 1 ? int(i * 5 + y) : predicted(f, a, x[-int(n)], c));
        }
    return rgb;
}

// CRCs are libpng's to check.
struct Chunk { std::string type; Bytes data; };

std::vector<Chunk> chunksOf(const std::vector<char>& png) {
    std::vector<Chunk> chunks;
    const auto* p = reinterpret_cast<const std::uint8_t*>(png.data());
    if (png.size() < 8 || std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) != 0) return chunks;
    auto be = [&](std::size_t at) { return std::uint32_t(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3]; };
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = be(at);
        if (at + 12 + length > png.size()) break;
        chunks.push_back({std::string(png.data() + at + 4, 4), Bytes(p + at + 8, p + at + 8 + length)});
        at += 12 + length;
    }
    return chunks;
}

std::vector<char> encoded(const Bytes& rgb, std::size_t w, std::size_t h, PngSettings settings = {},
                          const Bytes& exif = {}) {
    std::vector<char> png;
    EXPECT_EQ(encodePngWith(rgb.data(), w, h, exif, png, {}, settings), "");
    return png;
}

}  // namespace

// libpng's strict reading takes every output without a warning, as written: the samples, the EXIF, which comes before
// the first IDAT; the bytes do not depend on the threads.
TEST(PngWriter, EveryOutputIsAPlainPngOfTheSameSamples) {
    const std::size_t wide = 700000;  // a row of over 2 MiB
    const Bytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    Bytes large(70000, 0x5A);  // more than a JPEG segment holds
    large[0] = large[1] = 'I', large[2] = 42;
    const struct { std::size_t width, height; Content content; PngSettings settings; Bytes exif = {}; } cases[] = {
        {1, 1, Content::Random, {}}, {1, 1, Content::Flat, {}}, {1, 9, Content::Random, {}},
        {7, 1, Content::Random, {}}, {3, 5, Content::EveryFilter, {}}, {333, 77, Content::EveryFilter, {}, tiff},
        {16000, 7, Content::EveryFilter, {12, 1, 40000}}, {wide, 2, Content::Random, {}}, {wide, 3, Content::Flat, {}},
        {333, 77, Content::Random, {1, 1, 4096}},                            // many pieces
        {333, 77, Content::EveryFilter, {12, 2, 5000}, large},               // pieces across threads, level 12
        {333, 77, Content::EveryFilter, {1, 2, 5000, PngCompressor::LibdeflateOnly}, tiff},  // libdeflate's joined
        {wide, 2, Content::Random, {6, 1, 1, PngCompressor::LibdeflateOnly}},
        {640, 480, Content::Glyphs, {8, 3, 20000}, tiff},
        {101, 50, Content::Flat, {6, 3, 1}},                                 // one row a piece
        {1920, 1280, Content::EveryFilter, {6, 8, kPngPieceBytes}}, {300, 90, Content::Random, {6, 2, 8000}, large},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " pieces of " +
                     std::to_string(c.settings.pieceBytes) + " level " + std::to_string(c.settings.level));
        const Bytes rgb = picture(c.width, c.height, c.content);
        const std::vector<char> png = encoded(rgb, c.width, c.height, c.settings, c.exif);
        const PngRead d = readPng(png);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(std::make_tuple(d.warnings, d.width, d.height, d.colourType, d.depth),
                  std::make_tuple(0u, c.width, c.height, PNG_COLOR_TYPE_RGB, 8));
        EXPECT_TRUE(d.rgb == rgb && d.exif == c.exif);
        std::string order;  // a run of IDATs as one
        for (const Chunk& chunk : chunksOf(png))
            if (order.size() < 4 || order.compare(order.size() - 4, 4, chunk.type) != 0) order += chunk.type;
        EXPECT_EQ(order, c.exif.empty() ? "IHDRIDATIEND" : "IHDReXIfIDATIEND");
        PngSettings oneThread = c.settings;
        oneThread.threads = 1;
        EXPECT_TRUE(c.settings.threads == 1 || encoded(rgb, c.width, c.height, oneThread, c.exif) == png);
    }
}

// What PNG cannot hold is refused, and an abandoned encode leaves nothing, on one thread or several.
TEST(PngWriter, RefusesWhatPngCannotHoldAndAbandonedEncodesLeaveNothing) {
    const std::uint8_t sample[3] = {};
    const std::size_t tooLarge = std::size_t{1} << 31;
    const struct { const std::uint8_t* rgb; std::size_t width, height; const char* reason; } cases[] = {
        {sample, 0, 1, "there is no picture to write"}, {sample, 1, 0, "there is no picture to write"},
        {nullptr, 1, 1, "there is no picture to write"},
        {sample, tooLarge, 1, "2147483648x1 is too large for PNG"},
        {sample, 1, tooLarge, "1x2147483648 is too large for PNG"},
    };
    for (const auto& c : cases) {
        std::vector<char> png(5, 'x');
        EXPECT_EQ(encodePng(c.rgb, c.width, c.height, {}, png), c.reason);
        EXPECT_TRUE(png.empty());
    }
    const Bytes rgb = picture(2000, 600, Content::Random);  // 20 pieces of 30 rows
    for (int threads : {1, 2})
        for (bool given : {false, true}) {
            CancelToken cancel;
            if (given) cancel.request();
            std::vector<char> png(10, 'x');
            const wxString reason = encodePngWith(rgb.data(), 2000, 600, {}, png, cancel, {1, threads, 180030});
            EXPECT_EQ(reason, given ? "abandoned" : "");
            EXPECT_EQ(png.empty(), given);
        }
}

// Over 2 GiB of samples, more than the toolkit's images hold: written, read back exactly by libpng and by pixloom's
// decoding, which also gives up when stopped.
TEST(PngWriter, PicturesOverTwoGibibytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "gigabytes of samples take minutes under the sanitizers; small pictures run the same code there";
#endif
    const std::size_t width = 27000, height = 27000, n = 3 * width;  // 2.19e9 bytes
    Bytes rgb(n * height);
    for (std::size_t y = 0; y < height; ++y) std::memset(&rgb[y * n], static_cast<int>(y * 7 % 251), n);
    rgb.back() = 1;
    std::vector<char> png;
    ASSERT_EQ(encodePng(rgb.data(), width, height, {}, png, {}, 2), "");
    // Read back by the program's own decoder: both directions past 2 GiB at once.
    const Folder folder;
    writeBytes(folder / "huge.png", bytesOf(png));
    png = {};
    const DecodedPicture decoded = decodePicture(wx(folder / "huge.png"));
    ASSERT_TRUE(decoded.ok()) << decoded.error;
    EXPECT_EQ(std::make_pair(decoded.width, decoded.height), std::make_pair(int(width), int(height)));
    EXPECT_TRUE(decoded.notes.empty());
    EXPECT_EQ(std::memcmp(decoded.pixels, rgb.data(), rgb.size()), 0);
    DecodeOptions stopped;
    stopped.cancel.request();
    EXPECT_EQ(decodePicture(wx(folder / "huge.png"), stopped).error, "cancelled");
}
