// SPDX-License-Identifier: MIT
// The engine's tests: worked examples (the reference is held to them too), what a user notices, and agreement with
// the plain reference, sample for sample, on random and extreme requests with every kernel set this processor has;
// the kernels' own steps, and the hand-out of rows to threads. Loading files: the decoding tests.
#include "filter.h"
#include "image.h"
#include "kernels.h"
#include "reference.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

// Impossible sizes are asked for on purpose: a refused malloc must give null.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using reference::Picture;
using Bytes = std::vector<unsigned char>;
using Size = std::pair<int, int>;

std::vector<wxString> messages;  // the engine's, as received since the last clear()

Size sizeOf(const Image& image) { return {image.getWidth(), image.getHeight()}; }
Bytes bytes(const Image& i) { return Bytes(i.pixelData(), i.pixelData() + 3LL * i.getWidth() * i.getHeight()); }

// The engine offers no write access; its buffer is its own heap block, so writing through it is well defined.
std::unique_ptr<Image> toEngine(const Picture& p) {
    auto image = std::make_unique<Image>(p.width, p.height, false);
    if (image->pixelData()) std::copy(p.rgb.begin(), p.rgb.end(), const_cast<unsigned char*>(image->pixelData()));
    return image;
}

Picture noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture p(width, height);
    for (auto& sample : p.rgb) sample = static_cast<unsigned char>(random());
    return p;
}

Bytes greys(std::initializer_list<int> levels) { Bytes g; for (int v : levels) g.insert(g.end(), 3, v); return g; }

// Engine and reference alike, on rows (a column for height 3); width 0: resampleHorizontal(height) alone. Types
// 4, 5, 6 to a third of the width only fold: ramps (green curved) show each rule's columns and weights, a dark
// column 2 the adaptive threshold (over 31 from the sharp value: the box mean) and the box's colour fringe.
TEST(Golden, LanczosAndFolds) {
    const Bytes six = greys({0, 51, 102, 153, 204, 255});
    const Bytes twelve = greys({0, 23, 46, 69, 92, 115, 138, 161, 184, 207, 230, 253});
    Bytes ramps;
    for (int s = 0; s < 9; ++s)
        for (int v : {20 * s, 3 * s * s + 5, 250 - 20 * s}) ramps.push_back(v);
    auto left = [](int r, int g, int b) { Bytes row(27, 255); row[6] = r, row[7] = g, row[8] = b; return row; };
    const struct { Bytes source; int lcdType, width, height; Bytes expected; } cases[] = {
        {six, 0, 3, 1, greys({24, 125, 229})}, {six, 0, 1, 3, greys({24, 125, 229})},
        {twelve, 4, 0, 6, greys({11, 56, 103, 148, 195, 241})},
        {twelve, 4, 2, 1, {26, 56, 102, 148, 194, 225}},  // LCD(hi): a grey ramp gains colour at the stripe pitch
        {ramps, 4, 3, 1, {6, 10, 210, 60, 55, 150, 120, 154, 96}},
        {ramps, 6, 3, 1, {6, 10, 210, 66, 54, 156, 126, 154, 96}},
        {ramps, 5, 3, 1, {20, 10, 230, 66, 55, 156, 140, 154, 110}},
        {left(0, 255, 255), 5, 3, 1, {170, 255, 255, 170, 255, 255, 255, 255, 255}},
        {left(200, 255, 255), 5, 3, 1, {236, 255, 255, 255, 255, 255, 255, 255, 255}},
        {left(163, 255, 255), 5, 3, 1, {224, 255, 255, 255, 255, 255, 255, 255, 255}},  // 31 from the sharp value
        {left(160, 255, 255), 5, 3, 1, {223, 255, 255, 223, 255, 255, 255, 255, 255}},  // 32
        {left(0, 0, 0), 4, 3, 1, {255, 170, 170, 170, 255, 255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        const int n = int(c.source.size() / 3);
        Picture source(c.height == 3 ? 1 : n, c.height == 3 ? n : 1);
        source.rgb = c.source;
        auto image = toEngine(source);
        image->lcdSetting(c.lcdType);
        c.width ? image->resize(c.width, c.height, false, false) : image->resampleHorizontal(c.height);
        EXPECT_EQ(bytes(*image), c.expected) << n << " pixels, type " << c.lcdType;
        EXPECT_EQ(c.width ? reference::resize(source, c.width, c.height, false, false, c.lcdType, 0).rgb
                          : reference::resample(source, c.height, true, c.lcdType, 0).rgb,
                  c.expected);
    }
}

// Source, request, keepRatio, percent, expected; 65535 on long images takes products beyond int. Nearest picks the
// pixels the toolkit's nearest scaling picks, which it once did.
TEST(Golden, TargetSizeAndNearestPixels) {
    for (auto [W, H, w, h, keepRatio, percent, expectedWidth, expectedHeight] :
         {std::array{400, 300, 200, 200, 1, 0, 200, 150}, {300, 400, 200, 200, 1, 0, 150, 200},
          {401, 301, 50, 50, 0, 1, 200, 150}, {400, 300, 50, 10, 1, 1, 40, 30}, {400, 300, 0, -5, 0, 0, 1, 1},
          {400, 300, -1, 0, 1, 0, 1, 1}, {40000, 1, 65535, 65535, 1, 0, 65535, 1},
          {1, 40000, 65535, 65535, 1, 0, 1, 65535}, {40000, 1, 65535, 1, 0, 1, 26214000, 1},
          {1, 40000, 1, 65535, 0, 1, 1, 26214000}, {40000, 100, 65535, 1, 1, 1, 400, 1},
          {97, 61, 10, 7, 0, 0, 10, 7}, {97, 61, 96, 60, 0, 0, 96, 60}, {97, 61, 97, 61, 0, 0, 97, 61},
          {97, 61, 300, 130, 0, 0, 300, 130}, {97, 61, 33, 61, 0, 0, 33, 61}}) {
        const Picture picture = noise(W, H, static_cast<unsigned>(W + w));
        auto image = toEngine(picture);
        image->resizeNearest(w, h, keepRatio, percent);
        EXPECT_EQ(sizeOf(*image), Size(expectedWidth, expectedHeight))
            << W << "x" << H << " to " << w << "x" << h << " keepRatio " << keepRatio << " percent " << percent;
        if (double(expectedWidth) * expectedHeight > 1e6) continue;
        wxImage source(W, H, const_cast<unsigned char*>(picture.rgb.data()), true);
        const wxImage scaled = source.Scale(expectedWidth, expectedHeight, wxIMAGE_QUALITY_NORMAL);
        EXPECT_EQ(bytes(*image), Bytes(scaled.GetData(), scaled.GetData() + 3 * expectedWidth * expectedHeight))
            << W << "x" << H << " to " << expectedWidth << "x" << expectedHeight;
    }
}

// Empty, cancelled first, or asked for a size whose byte count no memory holds; cancelled from another thread at any
// moment, each pass is done wholly or not at all.
TEST(Resize, RefusedOrCancelledLeavesTheImageAsItWas) {
    messages.clear();
    Image empty;
    empty.lcdSetting(4);
    empty.resize(100, 80, true, true);  // refused quietly: nothing to reduce, no ratio to keep
    empty.resizeNearest(100, 80, true, true);
    empty.resampleVertical(3);  // the pass itself speaks on a zero height
    EXPECT_EQ(sizeOf(empty), Size(0, 0));
    EXPECT_EQ(empty.createImage(), nullptr);
    EXPECT_EQ(messages, std::vector<wxString>{wxString::FromUTF8("縮小専用です")});
    const Picture picture = noise(1000, 1000, 12);
    void (*const steps[])(Image&) = {
        [](Image& i) { i.cancel(), i.lcdSetting(4), i.resize(10, 7, false, false); },
        [](Image& i) { i.cancel(), i.resampleHorizontal(50), i.resampleVertical(50); },
        [](Image& i) { i.cancel(), i.foldSubpixelBox(), i.foldSubpixelWeighted(), i.foldSubpixelAdaptive(); },
        [](Image& i) { i.resize(INT_MAX, INT_MAX, false, false); },
        [](Image& i) { i.resize(INT_MAX, INT_MAX, true, true); },
        [](Image& i) { i.lcdSetting(4), i.resize(INT_MAX / 2, 1, false, false); },  // 3 x width > INT_MAX
        [](Image& i) { i.resampleHorizontal(INT_MAX), i.resampleVertical(INT_MAX); },
        [](Image& i) { i.resizeNearest(INT_MAX, INT_MAX, false, false); },
        [](Image& i) { i.cancel(), i.linearSetting(1), i.lcdSetting(5), i.resize(10, 7, false, false); },
        [](Image& i) { i.linearSetting(1), i.resize(INT_MAX, INT_MAX, false, false); },
    };
    for (std::size_t n = 0; n < std::size(steps); ++n) {
        auto image = toEngine(picture);
        steps[n](*image);
        EXPECT_EQ(bytes(*image), picture.rgb) << "step " << n;
    }
    for (auto [w, h] : {std::pair{INT_MAX, INT_MAX}, {INT_MAX, 1 << 22}, {-5, 3}})
        EXPECT_EQ(Image(w, h, false).pixelData(), nullptr) << w << "x" << h;
    const Bytes tall = reference::resample(picture, 150, false, 0, 0).rgb;
    const Bytes done = reference::resize(picture, 200, 150, false, false, 0, 0).rgb;
    const Bytes light = reference::resize(picture, 200, 150, false, false, 0, 0, true).rgb;  // one step in light
    Image::setThreadCount(2);
    for (bool linear : {false, true}) {
        for (int delay : {0, 300, 1000, 3000, 10000}) {
            auto image = toEngine(picture);
            image->linearSetting(linear);
            std::thread canceller(
                [&] { std::this_thread::sleep_for(std::chrono::microseconds(delay)), image->cancel(); });
            image->resize(200, 150, false, false);
            canceller.join();
            EXPECT_EQ(bytes(*image), image->getHeight() == 1000 ? picture.rgb
                                     : linear                   ? light
                                     : image->getWidth() == 1000 ? tall
                                                                 : done);
        }
    }
}

// Runs body(set) with the passes held to each kernel set this processor has, slowest first; then the best again.
template <class Body>
void onEverySet(Body body) {
    for (auto set : {resample::KernelSet::portable, resample::KernelSet::avx2, resample::KernelSet::avx512})
        if (set <= resample::processorKernels()) resample::limitKernels(set), body(int(set));
    resample::limitKernels(resample::KernelSet::avx512);
}

// Every kernel set and thread count gives the reference's samples (types 7 and above: no fold, three times as wide,
// and a message).
void expectAgreement(int width, int height, int targetWidth, int targetHeight, bool keepRatio = false,
                     bool percent = false, int lcdType = 0, int softness = 0, unsigned seed = 1, bool linear = false) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height << " to " << targetWidth << "x" << targetHeight
                                      << (keepRatio ? " keeping ratio" : "") << (percent ? " in %" : "") << " type "
                                      << lcdType << " softness " << softness << " seed " << seed
                                      << (linear ? " linear" : ""));
    const Picture source = noise(width, height, seed);
    const Picture expected = reference::resize(source, targetWidth, targetHeight, keepRatio, percent, lcdType,
                                               softness, linear);
    onEverySet([&](int set) {
        for (int threads : {1, 2, 5}) {
            Image::setThreadCount(threads);
            messages.clear();
            auto image = toEngine(source);
            image->lcdSetting(lcdType);
            image->softnessSetting(softness);
            image->linearSetting(linear);
            image->resize(targetWidth, targetHeight, keepRatio, percent);
            const Bytes result = bytes(*image);
            const auto diff = std::mismatch(result.begin(), result.end(), expected.rgb.begin(), expected.rgb.end());
            EXPECT_EQ(sizeOf(*image), Size(expected.width, expected.height));
            EXPECT_TRUE(diff.first == result.end())
                << "kernel set " << set << ", " << threads << " thread(s): sample " << diff.first - result.begin();
            EXPECT_EQ(image->lcdSetting(-1), lcdType);  // -1 only asks
            EXPECT_EQ(messages, std::vector<wxString>(lcdType >= 7, wxT("undefined LCD type!")));
        }
    });
}

// Sides often 1 or tiny, mostly up to limit (targets: targetLimit); every type, softness and flag, every third case
// in linear light. Stops at the first failing case.
void expectRandomAgreement(unsigned seed, int count, int limit, int targetLimit) {
    std::mt19937 random(seed);
    auto side = [&](int most) { return int(random() % 10 ? 1 + random() % (random() % 4 ? most : 6) : 1); };
    const int types[] = {-2, 0, 0, 1, 2, 3, 4, 5, 6, 7}, softness[] = {0, 0, 0, 1, 2, 3, 4, 5, -1};
    for (int n = 0; n < count && !::testing::Test::HasFailure(); ++n) {
        const int width = side(limit), height = side(limit);
        const bool keepRatio = random() % 5 == 0, percent = random() % 6 == 0;
        const int targetWidth = percent ? 1 + random() % 250 : side(targetLimit);
        const int targetHeight = percent ? 1 + random() % 250 : side(targetLimit);
        expectAgreement(width, height, targetWidth, targetHeight, keepRatio, percent, types[random() % 10],
                        softness[random() % 9], unsigned(random()), n % 3 == 0);
    }
}

// Small pictures, and widths up to 700 (targets mostly smaller) that give rows of every remainder of the kernels'
// strips and vector groups, heights several pieces per thread.
TEST(Agreement, RandomPictures) {
    expectRandomAgreement(20240611, 1200, 40, 80);
    expectRandomAgreement(2026, 60, 700, 300);
}

// Extreme ratios (taps outside the image must cost nothing: visiting them would take minutes, past the test's time
// limit, not milliseconds), and a photo; a quarter of its sides under the sanitizers, whose checks depend on the
// strips' and bands' remainders, not on their number.
TEST(Agreement, ExtremeRatiosAndAPhoto) {
    for (auto [w, h, toWidth, toHeight, type] :
         {std::array{60000, 1, 1, 1, 0}, {1, 60000, 1, 1, 0}, {1, 1, 60000, 1, 0}, {1, 1, 1, 60000, 0},
          {60000, 1, 1, 1, 4}, {1, 1, 60000, 1, 4}, {2, 60000, 60000, 2, 5}})
        for (bool linear : {false, true}) expectAgreement(w, h, toWidth, toHeight, false, false, type, 0, 1, linear);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const int scale = 4;
#else
    const int scale = 1;
#endif
    expectAgreement(6000 / scale, 4000 / scale, 1920 / scale, 1280 / scale, true, false, 4);
    expectAgreement(3000 / scale, 2000 / scale, 960 / scale, 640 / scale, true, false, 2, 0, 1, true);
}

// Linear light: a one-pixel checkerboard reduced 16 times is half the light (sRGB 187-188), not half the code value
// (127-128), with every method; a flat grey of any level comes back as that level; Nearest averages nothing and
// ignores it.
TEST(Linear, AveragesLightNotCodeValues) {
    Picture board(512, 512);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            for (int c = 0; c < 3; ++c) board.at(x, y, c) = (x + y) % 2 ? 255 : 0;
    for (int type : {0, 1, 2, 3, 4, 5, 6}) {
        for (bool linear : {false, true}) {
            auto image = toEngine(board);
            image->lcdSetting(type);
            image->linearSetting(linear);
            ASSERT_TRUE(image->resize(32, 32, false, false));
            const Bytes out = bytes(*image);
            const auto [low, high] = std::minmax_element(out.begin() + 3 * 32 * 4, out.end() - 3 * 32 * 4);
            EXPECT_GE(*low, linear ? 186 : 126) << "type " << type;
            EXPECT_LE(*high, linear ? 189 : 129) << "type " << type;
        }
    }
    for (int level = 0; level < 256; ++level) {
        Picture flat(40, 30);
        std::fill(flat.rgb.begin(), flat.rgb.end(), static_cast<unsigned char>(level));
        for (int type : {0, 2, 6}) {
            auto image = toEngine(flat);
            image->lcdSetting(type);
            image->linearSetting(1);
            ASSERT_TRUE(image->resize(7, 5, false, false));
            EXPECT_EQ(bytes(*image), Bytes(3 * 7 * 5, static_cast<unsigned char>(level))) << "type " << type;
        }
    }
    const Picture source = noise(90, 60, 7);
    auto plain = toEngine(source), linear = toEngine(source);
    linear->linearSetting(1);
    ASSERT_TRUE(plain->resizeNearest(30, 20, false, false) && linear->resizeNearest(30, 20, false, false));
    EXPECT_EQ(bytes(*linear), bytes(*plain));
}

// The kernels' shortcut that turns sums into samples without dividing, against the rule itself on sums whose division
// lands next to a step: v = k + 0.5 exactly (a tie the rule rounds up), a few units in the last place either side of
// it, of 0.49999 and of 1024, and far outside.
TEST(Kernels, SamplesFromSumsFollowTheRuleNextToEveryStep) {
    const double weightSums[] = {1.0,   std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), 3.7, 0.123456789, 17.25,
                                 -2.5,  1e-3,                     1.0 / 3,                  6.02e23, 2.2e-300};
    onEverySet([&](int set) {
        for (double weightSum : weightSums) {
            std::vector<double> sums{INFINITY, -INFINITY, NAN};
            auto around = [&](double centre) {
                double below = centre, above = centre;
                sums.push_back(centre);
                for (int ulp = 0; ulp < 4; ++ulp) {
                    below = std::nextafter(below, -INFINITY), above = std::nextafter(above, INFINITY);
                    sums.push_back(below), sums.push_back(above);
                }
            };
            for (int k = -3; k <= 257; ++k) around((k + 0.5) * weightSum);
            for (double v : {0.49999, 1024.0, -1024.0, 1024.5, 1e6, -1e6, 0.0}) around(v * weightSum);
            std::mt19937_64 random(7);
            std::uniform_real_distribution<double> spread(-300, 600);
            for (int n = 0; n < 500; ++n) sums.push_back(spread(random) * weightSum);
            resample::TapSpan span;
            span.weightSum = weightSum, span.inverseSum = 1 / weightSum;
            Bytes samples(sums.size());
            resample::samplesFromSums(sums.data(), sums.size(), span, samples.data());
            for (std::size_t i = 0; i < sums.size(); ++i)
                ASSERT_EQ(int(samples[i]), int(resample::sampleFromSum(sums[i], weightSum)))
                    << "kernel set " << set << ": " << sums[i] << " / " << weightSum;
        }
    });
}

// Folds of triple-width rows of every length up to 40 pixels (the vector box fold takes ten at a time and leaves
// the rest), on every set: the reference's samples, with sums of three 255s (the largest the division by 3 meets),
// zeros and noise.
TEST(Kernels, FoldsGiveTheReferenceSamplesOnEverySet) {
    const struct { const char* name; int lcdType; bool (Image::*fold)(); } folds[] = {
        {"box", 4, &Image::foldSubpixelBox}, {"weighted", 6, &Image::foldSubpixelWeighted},
        {"adaptive", 5, &Image::foldSubpixelAdaptive}};
    for (int pixels = 1; pixels <= 40; ++pixels) {
        Picture wide = noise(3 * pixels, 3, unsigned(pixels));
        std::fill(wide.rgb.begin(), wide.rgb.begin() + 9 * pixels, 255);  // row 0 all 255, row 1 all 0, row 2 noise
        std::fill(wide.rgb.begin() + 9 * pixels, wide.rgb.begin() + 18 * pixels, 0);
        onEverySet([&](int set) {
            for (const auto& fold : folds) {
                auto image = toEngine(wide);
                ASSERT_TRUE(((*image).*fold.fold)());
                ASSERT_EQ(bytes(*image), reference::fold(wide, fold.lcdType).rgb)
                    << "kernel set " << set << ", " << fold.name << " fold of " << pixels << " pixels";
            }
        });
    }
}

// The horizontal pass that hands each block of rows on as it is made (an LCD reduction folds them at once): the rows
// handed on are applyHorizontal's, each once; a cancel from inside stops it, and it says so.
TEST(Kernels, RowsHandedOnAreThePassRowsEachOnceUnlessCancelled) {
    const Picture source = noise(301, 45, 5);
    resample::WeightTable table;
    ASSERT_TRUE(resample::buildHorizontalWeights(resample::horizontalGeometry(301, 270, 1, 1.0), table));
    const std::size_t rowBytes = 3 * table.spans.size();
    Bytes whole(rowBytes * 45);
    ASSERT_TRUE(resample::applyHorizontal(source.rgb.data(), 301, 45, table, whole.data(), CancelToken(), 1));
    for (int threads : {1, 2, 3}) {
        for (int cancelAfter : {-1, 0, 2}) {
            Bytes handed(whole.size());
            std::vector<int> times(45);
            std::mutex mutex;
            int blocks = 0;
            CancelToken stop;
            auto finish = [&](const std::uint8_t* rows, long long firstRow, int rowCount) {
                std::lock_guard<std::mutex> lock(mutex);
                std::copy(rows, rows + rowCount * rowBytes, handed.begin() + firstRow * rowBytes);
                for (int k = 0; k < rowCount; ++k) ++times[firstRow + k];
                if (blocks++ == cancelAfter) stop.request();
            };
            bool done = resample::applyHorizontalThen(source.rgb.data(), 301, 45, table, finish, stop, threads);
            SCOPED_TRACE(::testing::Message() << threads << " thread(s), cancelled after block " << cancelAfter);
            EXPECT_EQ(done, cancelAfter < 0);
            if (cancelAfter < 0) {
                EXPECT_EQ(handed, whole);
                EXPECT_EQ(times, std::vector<int>(45, 1));
            } else {
                EXPECT_LE(blocks, cancelAfter + threads);  // each thread finishes at most the block it is on
            }
        }
    }
}

TEST(Threads, EveryPieceIsDoneOnceByNoMoreThreadsThanAllowed) {
    const struct { long long count, piece; int threads; } cases[] = {
        {0, 1, 2}, {1, 1, 4}, {7, 3, 2}, {100, 1, 3}, {1000, 64, 2}, {1000, 5000, 4}, {997, 16, 7}, {5, 0, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::atomic<int>> visits(static_cast<std::size_t>(c.count));
        std::mutex mutex;
        std::set<std::thread::id> workers;
        resample::parallelPieces(c.count, c.piece, c.threads, [&](resample::PieceQueue& queue) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                workers.insert(std::this_thread::get_id());
            }
            for (long long begin, end; queue.take(begin, end);)
                for (long long i = begin; i < end; ++i) ++visits[static_cast<std::size_t>(i)];
        });
        for (long long i = 0; i < c.count; ++i)
            ASSERT_EQ(visits[static_cast<std::size_t>(i)], 1) << "index " << i << " of " << c.count;
        EXPECT_LE(workers.size(), std::size_t(std::max(1, c.threads))) << c.count << " in pieces of " << c.piece;
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    setMessageCallback([](const wxString& text) { messages.push_back(text); });
    return RUN_ALL_TESTS();
}
