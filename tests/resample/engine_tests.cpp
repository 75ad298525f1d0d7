// The engine's tests: worked examples (the reference is held to them too), what a user notices, and agreement with
// the plain reference, sample for sample, on random and extreme requests. Loading files: the decoding tests.
#include "filter.h"
#include "image.h"
#include "reference.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <array>
#include <chrono>
#include <climits>
#include <memory>
#include <random>
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

Bytes greys(std::initializer_list<int> levels) { Bytes rgb; for (int v : levels) rgb.insert(rgb.end(), 3, v); return rgb; }

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

// Source, request, keepRatio, percent, expected; 65535 on long images takes products beyond int.
TEST(Golden, TargetSize) {
    for (auto [W, H, w, h, keepRatio, percent, expectedWidth, expectedHeight] :
         {std::array{400, 300, 200, 200, 1, 0, 200, 150}, {300, 400, 200, 200, 1, 0, 150, 200},
          {401, 301, 50, 50, 0, 1, 200, 150}, {400, 300, 50, 10, 1, 1, 40, 30}, {400, 300, 0, -5, 0, 0, 1, 1},
          {400, 300, -1, 0, 1, 0, 1, 1}, {40000, 1, 65535, 65535, 1, 0, 65535, 1},
          {1, 40000, 65535, 65535, 1, 0, 1, 65535}, {40000, 1, 65535, 1, 0, 1, 26214000, 1},
          {1, 40000, 1, 65535, 0, 1, 1, 26214000}, {40000, 100, 65535, 1, 1, 1, 400, 1}}) {
        Image image(W, H, true);
        image.resizeNearest(w, h, keepRatio, percent);
        EXPECT_EQ(sizeOf(image), Size(expectedWidth, expectedHeight))
            << W << "x" << H << " to " << w << "x" << h << " keepRatio " << keepRatio << " percent " << percent;
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
    Image::setThreadCount(2);
    for (int delay : {0, 300, 1000, 3000, 10000}) {
        auto image = toEngine(picture);
        std::thread canceller([&] { std::this_thread::sleep_for(std::chrono::microseconds(delay)), image->cancel(); });
        image->resize(200, 150, false, false);
        canceller.join();
        EXPECT_EQ(bytes(*image), image->getHeight() == 1000 ? picture.rgb : image->getWidth() == 1000 ? tall : done);
    }
}

// Every thread count gives the reference's samples (7 and above: no fold, three times as wide, and a message).
void expectAgreement(int width, int height, int targetWidth, int targetHeight, bool keepRatio = false,
                     bool percent = false, int lcdType = 0, int softness = 0, unsigned seed = 1) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height << " to " << targetWidth << "x" << targetHeight
                                      << (keepRatio ? " keeping ratio" : "") << (percent ? " in %" : "") << " type "
                                      << lcdType << " softness " << softness << " seed " << seed);
    const Picture source = noise(width, height, seed);
    const Picture expected = reference::resize(source, targetWidth, targetHeight, keepRatio, percent, lcdType, softness);
    for (int threads : {1, 2, 3}) {
        Image::setThreadCount(threads);
        messages.clear();
        auto image = toEngine(source);
        image->lcdSetting(lcdType);
        image->softnessSetting(softness);
        image->resize(targetWidth, targetHeight, keepRatio, percent);
        const Bytes result = bytes(*image);
        const auto diff = std::mismatch(result.begin(), result.end(), expected.rgb.begin(), expected.rgb.end());
        EXPECT_EQ(sizeOf(*image), Size(expected.width, expected.height));
        EXPECT_TRUE(diff.first == result.end()) << threads << " thread(s): sample " << diff.first - result.begin();
        EXPECT_EQ(image->lcdSetting(-1), lcdType);  // -1 only asks
        EXPECT_EQ(messages, std::vector<wxString>(lcdType >= 7, wxT("undefined LCD type!")));
    }
}

// Sides often 1 or tiny, mostly up to limit; every type, softness and flag. Stops at the first failing case.
void expectRandomAgreement(unsigned seed, int count, int limit) {
    std::mt19937 random(seed);
    auto side = [&](int most) { return int(random() % 10 ? 1 + random() % (random() % 4 ? most : 6) : 1); };
    const int types[] = {-2, 0, 0, 1, 2, 3, 4, 5, 6, 7}, softness[] = {0, 0, 0, 1, 2, 3, 4, 5, -1};
    for (int n = 0; n < count && !::testing::Test::HasFailure(); ++n) {
        const int width = side(limit), height = side(limit);
        const bool keepRatio = random() % 5 == 0, percent = random() % 6 == 0;
        const int targetWidth = percent ? 1 + random() % 250 : side(2 * limit);
        const int targetHeight = percent ? 1 + random() % 250 : side(2 * limit);
        expectAgreement(width, height, targetWidth, targetHeight, keepRatio, percent, types[random() % 10],
                        softness[random() % 9], unsigned(random()));
    }
}

// Processors without AVX2 take the portable kernels: the same samples.
TEST(Agreement, RandomPicturesWithEitherKernels) {
    expectRandomAgreement(20240611, 2500, 40);
    expectRandomAgreement(77, 40, 400);
    resample::usePortableKernels(true);
    expectRandomAgreement(4242, 600, 60);
    expectAgreement(1200, 800, 640, 480, true, false, 4);
    resample::usePortableKernels(false);
}

// Extreme ratios (taps outside the image must cost nothing: visiting them would take minutes, past the test's time
// limit, not milliseconds), and a photo.
TEST(Agreement, ExtremeRatiosAndAPhoto) {
    for (auto [w, h, toWidth, toHeight, type] :
         {std::array{60000, 1, 1, 1, 0}, {1, 60000, 1, 1, 0}, {1, 1, 60000, 1, 0}, {1, 1, 1, 60000, 0},
          {60000, 1, 1, 1, 4}, {1, 1, 60000, 1, 4}, {2, 60000, 60000, 2, 5}})
        expectAgreement(w, h, toWidth, toHeight, false, false, type);
    expectAgreement(6000, 4000, 1920, 1280, false, false, 4);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    setMessageCallback([](const wxString& text) { messages.push_back(text); });
    return RUN_ALL_TESTS();
}
