// The engine's tests: worked examples (the reference is held to them too), what a user notices,
// and agreement with the plain reference, sample for sample, on random and extreme requests.
#include "filter.h"
#include "image.h"
#include "reference.h"

#include <gtest/gtest.h>
#include <wx/file.h>
#include <wx/filename.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>

namespace {

using reference::Fold;
using reference::Picture;
using Samples = std::vector<int>;
using Size = std::pair<long long, long long>;

Size sizeOf(const Image& image) { return {image.getWidth(), image.getHeight()}; }
Samples samples(const Picture& p) { return Samples(p.rgb.begin(), p.rgb.end()); }

// The engine offers no write access; its buffer is its own heap block, so
// writing through the read pointer is well defined.
std::unique_ptr<Image> toEngine(const Picture& p) {
    auto image = std::make_unique<Image>(p.width, p.height, false);
    if (image->pixelData()) std::memcpy(const_cast<unsigned char*>(image->pixelData()), p.rgb.data(), p.rgb.size());
    return image;
}

Picture fromEngine(const Image& image) {
    Picture p(image.getWidth(), image.getHeight());
    if (image.pixelData()) std::memcpy(p.rgb.data(), image.pixelData(), p.rgb.size());
    return p;
}

Picture noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture p(width, height);
    for (auto& sample : p.rgb) sample = static_cast<unsigned char>(random());
    return p;
}

// A row (or column) of pixels given as r, g, b, r, g, b, ...
Picture line(const Samples& rgb, bool column = false) {
    Picture p(column ? 1 : int(rgb.size() / 3), column ? int(rgb.size() / 3) : 1);
    std::copy(rgb.begin(), rgb.end(), p.rgb.begin());
    return p;
}

Samples greys(const Samples& levels) {
    Samples rgb;
    for (int v : levels) rgb.insert(rgb.end(), {v, v, v});
    return rgb;
}

struct MessageLog {  // the engine's messages while it lives
    std::vector<wxString> messages;
    MessageLog() { setMessageCallback([this](const wxString& text) { messages.push_back(text); }); }
    MessageLog(const MessageLog&) = delete;
    ~MessageLog() { setMessageCallback(nullptr); }
};

struct ThreadCount {  // the engine's thread count while it lives
    const int previous = Image::threadCount();
    explicit ThreadCount(int count) { Image::setThreadCount(count); }
    ~ThreadCount() { Image::setThreadCount(previous); }
};

// Engine (width 0: resampleHorizontal alone) and reference give expected; returns the engine's size.
Size expectGolden(const Picture& source, int lcdType, int width, int height, const Samples& expected) {
    auto image = toEngine(source);
    image->lcdSetting(lcdType);
    width ? image->resize(width, height, false, false) : image->resampleHorizontal(height);
    EXPECT_EQ(samples(fromEngine(*image)), expected) << source.width << "x" << source.height << " type " << lcdType;
    EXPECT_EQ(samples(width ? reference::resize(source, width, height, false, false, lcdType, 0)
                            : reference::resample(source, height, true, lcdType, 0)),
              expected);
    return sizeOf(*image);
}

TEST(Golden, LanczosAndLcdResizes) {
    const Samples six = greys({0, 51, 102, 153, 204, 255});
    const Samples twelve = greys({0, 23, 46, 69, 92, 115, 138, 161, 184, 207, 230, 253});
    EXPECT_EQ(expectGolden(line(six), 0, 3, 1, greys({24, 125, 229})), Size(3, 1));
    EXPECT_EQ(expectGolden(line(six, true), 0, 1, 3, greys({24, 125, 229})), Size(1, 3));
    EXPECT_EQ(expectGolden(line(twelve), 4, 0, 6, greys({11, 56, 103, 148, 195, 241})), Size(6, 1));
    // LCD(hi): a grey ramp gains colour at the stripe pitch.
    EXPECT_EQ(expectGolden(line(twelve), 4, 2, 1, {26, 56, 102, 148, 194, 225}), Size(2, 1));
}

// Stripe rows with a different ramp per channel (green curved) show every rule's choice of
// columns and weights; then the adaptive threshold and the colour fringe.
TEST(Golden, Folds) {
    Samples ramps;
    for (int s = 0; s < 9; ++s) ramps.insert(ramps.end(), {20 * s, 3 * s * s + 5, 250 - 20 * s});
    auto first = [&](int columns) { return Samples(ramps.begin(), ramps.begin() + 3 * columns); };
    auto left = [](int r, int g, int b) {  // column 2, left of pixel 1, in a white row
        Samples row(27, 255);
        row[6] = r, row[7] = g, row[8] = b;
        return row;
    };
    auto expectFold = [](Fold fold, const Samples& wide, const Samples& expected) {
        auto image = toEngine(line(wide));
        fold == Fold::box ? image->foldSubpixelBox()
                          : fold == Fold::weighted ? image->foldSubpixelWeighted() : image->foldSubpixelAdaptive();
        EXPECT_EQ(samples(fromEngine(*image)), expected) << "fold " << int(fold) << " of " << wide.size() / 3;
        EXPECT_EQ(samples(reference::fold(line(wide), fold)), expected) << "reference";
    };
    expectFold(Fold::box, ramps, {6, 10, 210, 60, 55, 150, 120, 154, 96});
    expectFold(Fold::weighted, ramps, {6, 10, 210, 66, 54, 156, 126, 154, 96});
    expectFold(Fold::adaptive, ramps, {20, 10, 230, 66, 55, 156, 140, 154, 110});
    expectFold(Fold::box, first(6), {6, 10, 210, 60, 55, 156});  // target width 2
    expectFold(Fold::weighted, first(6), {6, 10, 210, 66, 55, 156});
    expectFold(Fold::adaptive, first(6), {20, 10, 230, 80, 55, 170});
    expectFold(Fold::box, first(3), {6, 10, 216});  // target width 1: its own three columns
    expectFold(Fold::weighted, first(3), {6, 10, 216});
    expectFold(Fold::adaptive, first(3), {20, 10, 230});
    // Adaptive red of pixel 1: the box mean only when more than 31 from the sharp value.
    expectFold(Fold::adaptive, left(0, 255, 255), {170, 255, 255, 170, 255, 255, 255, 255, 255});
    expectFold(Fold::adaptive, left(200, 255, 255), {236, 255, 255, 255, 255, 255, 255, 255, 255});
    expectFold(Fold::adaptive, left(163, 255, 255), {224, 255, 255, 255, 255, 255, 255, 255, 255});
    expectFold(Fold::adaptive, left(160, 255, 255), {223, 255, 255, 223, 255, 255, 255, 255, 255});
    expectFold(Fold::box, left(0, 0, 0), {255, 170, 170, 170, 255, 255, 255, 255, 255});  // the fringe
}

TEST(Golden, Lanczos3Kernel) {
    const double pi = 3.141592653589793;
    EXPECT_EQ(Image::lanczos3(0.0), 1.0);
    for (double x : {3.0, -3.0, std::nan("")}) EXPECT_EQ(Image::lanczos3(x), 0.0) << x;
    EXPECT_DOUBLE_EQ(Image::lanczos3(0.5), 3 * std::sin(pi / 2) * std::sin(pi / 6) / (pi * pi * 0.25));
    for (int n = -700; n <= 700; ++n)  // to the bit, as the reference's weights
        ASSERT_EQ(Image::lanczos3(n / 200.0), reference::lanczos3(n / 200.0)) << n / 200.0;
}

TEST(Golden, TargetSize) {
    // Source, request, keepRatio, percent, expected; 65535 on long images takes products beyond int.
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

TEST(Resize, SameSizeUniformColourAndNearest) {
    const Picture picture = noise(37, 23, 1);
    auto same = toEngine(picture), nearest = toEngine(picture);
    same->resize(37, 23, false, false);
    EXPECT_EQ(fromEngine(*same).rgb, picture.rgb);
    nearest->resizeNearest(13, 40, false, false);  // the toolkit's nearest-neighbour scaling
    const wxImage scaled = wxImage(37, 23, const_cast<unsigned char*>(picture.rgb.data()), true).Scale(13, 40);
    EXPECT_EQ(fromEngine(*nearest).rgb, std::vector<unsigned char>(scaled.GetData(), scaled.GetData() + 3 * 13 * 40));
    auto uniform = [](int w, int h) {
        Picture p(w, h);
        for (std::size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = "\xc8\x0d\x4d"[i % 3];
        return p;
    };
    for (int type : {-1, 0, 1, 3, 4, 5, 6})  // -1: Nearest
        for (auto [w, h] : {std::pair{17, 9}, {83, 61}, {1, 1}, {2, 1}, {1, 7}}) {
            auto image = toEngine(uniform(50, 40));
            image->lcdSetting(std::max(type, 0));
            type < 0 ? image->resizeNearest(w, h, false, false) : image->resize(w, h, false, false);
            EXPECT_EQ(fromEngine(*image).rgb, uniform(w, h).rgb) << "type " << type << " to " << w << "x" << h;
        }
}

// Black then white: the kernel's negative lobes overshoot past 0 and 255
// near the edge, which must clamp, never wrap.
TEST(Resize, SharpEdgesClamp) {
    for (bool vertical : {false, true})
        for (int target : {23, 40, 97, 150}) {
            const int w = vertical ? 2 : target, h = vertical ? target : 2;
            Picture edge(vertical ? 2 : 60, vertical ? 60 : 2);
            for (std::size_t i = 0; i < edge.rgb.size(); ++i)
                edge.rgb[i] = (vertical ? i / 6 : i / 3 % 60) < 30 ? 0 : 255;
            auto image = toEngine(edge);
            image->resize(w, h, false, false);
            const std::vector<unsigned char> result = fromEngine(*image).rgb;
            EXPECT_EQ(*std::min_element(result.begin(), result.end()), 0);
            EXPECT_EQ(*std::max_element(result.begin(), result.end()), 255);
            EXPECT_EQ(result, reference::resize(edge, w, h, false, false, 0, 0).rgb) << target;
        }
}

TEST(Resize, EmptyImageAndMessages) {
    MessageLog log;
    Image empty;
    empty.lcdSetting(4);
    empty.resize(100, 80, true, true);  // refused quietly: nothing to reduce, no ratio to keep
    empty.resizeNearest(100, 80, true, true);
    EXPECT_EQ(empty.createImage(), nullptr);
    empty.resampleVertical(3);  // the pass itself speaks on a zero height
    EXPECT_EQ(sizeOf(empty), Size(0, 0));
    const Picture picture = noise(20, 10, 5);
    auto image = toEngine(picture);
    image->lcdSetting(7);
    image->resize(5, 4, false, false);  // no fold: three times as wide
    EXPECT_EQ(fromEngine(*image).rgb, reference::resize(picture, 5, 4, false, false, 7, 0).rgb);
    EXPECT_EQ(sizeOf(*image), Size(15, 4));
    EXPECT_EQ(log.messages, (std::vector<wxString>{wxString::FromUTF8("縮小専用です"), wxT("undefined LCD type!")}));
}

// Cancelled first, or asked for a size whose byte count no memory holds.
TEST(Resize, CancelledOrImpossibleLeavesTheImageAsItWas) {
    const Picture picture = noise(1000, 1000, 12);
    const std::pair<bool, std::function<void(Image&)>> steps[] = {
        {true, [](Image& i) { i.resize(10, 7, false, false); }},
        {true, [](Image& i) { i.lcdSetting(4), i.resize(10, 7, false, false); }},
        {true, [](Image& i) { i.resampleHorizontal(50), i.resampleVertical(50); }},
        {true, [](Image& i) { i.foldSubpixelBox(), i.foldSubpixelWeighted(), i.foldSubpixelAdaptive(); }},
        {false, [](Image& i) { i.resize(INT_MAX, INT_MAX, false, false); }},
        {false, [](Image& i) { i.resize(INT_MAX, INT_MAX, true, true); }},
        {false, [](Image& i) { i.lcdSetting(4), i.resize(INT_MAX / 2, 1, false, false); }},  // 3 x width > INT_MAX
        {false, [](Image& i) { i.resampleHorizontal(INT_MAX), i.resampleVertical(INT_MAX); }},
        {false, [](Image& i) { i.resizeNearest(INT_MAX, INT_MAX, false, false); }},
    };
    for (std::size_t n = 0; n < std::size(steps); ++n) {
        auto image = toEngine(picture);
        if (steps[n].first) image->cancel();
        steps[n].second(*image);
        EXPECT_EQ(fromEngine(*image).rgb, picture.rgb) << "step " << n;
        EXPECT_EQ(sizeOf(*image), Size(1000, 1000)) << "step " << n;
    }
    for (auto [w, h] : {std::pair{INT_MAX, INT_MAX}, {INT_MAX, 1 << 22}, {-5, 3}})
        EXPECT_EQ(Image(w, h, false).pixelData(), nullptr) << w << "x" << h;
}

// Cancelled from another thread at any moment: each pass done wholly or not at all.
TEST(Resize, CancelFromAnotherThread) {
    const Picture big = noise(900, 600, 9), tall = reference::resample(big, 150, false, 0, 0);
    const Picture done = reference::resample(tall, 200, true, 0, 0);
    ThreadCount threads(2);
    for (int delay : {0, 300, 1000, 3000, 10000}) {
        auto image = toEngine(big);
        std::thread canceller([&] { std::this_thread::sleep_for(std::chrono::microseconds(delay)), image->cancel(); });
        image->resize(200, 150, false, false);
        canceller.join();
        const Picture result = fromEngine(*image);
        EXPECT_EQ(result.rgb, result.height == 600 ? big.rgb : result.width == 900 ? tall.rgb : done.rgb) << delay;
    }
}

// A 3 x 2 PNG with alpha, turned 0, 1 (clockwise), 2 and 3 (one turn) quarters.
TEST(Files, LoadingTurnsAndDropsAlpha) {
    const wxString path = wxFileName::CreateTempFileName(wxT("pixloom-test"));
    const Picture source = noise(3, 2, 14);
    wxImage saved(3, 2, const_cast<unsigned char*>(source.rgb.data()), true);
    saved.InitAlpha();
    saved.SetAlpha(0, 0, 0);
    ASSERT_TRUE(saved.SaveFile(path, wxBITMAP_TYPE_PNG));
    for (int turns : {0, 1, 2, 3}) {
        const Image image(path, turns, wxBITMAP_TYPE_ANY, -1);
        ASSERT_EQ(sizeOf(image), turns % 2 ? Size(2, 3) : Size(3, 2));
        for (int i = 0, x = 0, y = 0; i < 18; ++i, x = i / 3 % image.getWidth(), y = i / 3 / image.getWidth())
            EXPECT_EQ(image.pixelData()[i], turns == 2 ? source.at(2 - x, 1 - y, i % 3)
                                            : turns    ? source.at(y, 1 - x, i % 3)
                                                       : source.at(x, y, i % 3));
        EXPECT_FALSE(std::unique_ptr<wxImage>(image.createImage())->HasAlpha());
    }
    wxFile(path, wxFile::write).Write("not a picture\n");
    EXPECT_EQ(sizeOf(Image(path, 1, wxBITMAP_TYPE_ANY, -1)), Size(0, 0));
    wxRemoveFile(path);
}

TEST(Files, CreateImageHoldsItsOwnCopy) {
    const Picture source = noise(3, 2, 15);
    auto image = toEngine(source);
    std::unique_ptr<wxImage> handedBack(image->createImage());
    image->resize(2, 1, false, false);
    EXPECT_EQ(std::vector<unsigned char>(handedBack->GetData(), handedBack->GetData() + 18), source.rgb);
    EXPECT_EQ(image->lcdSetting(5) + image->lcdSetting(-1), 10);  // -1 only asks
}

struct Case {
    int width, height, targetWidth, targetHeight;
    bool keepRatio = false, percent = false;
    int lcdType = 0, softness = 0;
    unsigned seed = 1;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.width << "x" << c.height << " to " << c.targetWidth << "x" << c.targetHeight << " keepRatio "
               << c.keepRatio << " percent " << c.percent << " type " << c.lcdType << " softness " << c.softness
               << " seed " << c.seed;
}

// Every thread count gives the reference's samples; only a type without a
// fold has something to say. The slowest run's time goes to *seconds.
void expectAgreement(const Case& c, double* seconds = nullptr) {
    const Picture source = noise(c.width, c.height, c.seed);
    const Picture expected =
        reference::resize(source, c.targetWidth, c.targetHeight, c.keepRatio, c.percent, c.lcdType, c.softness);
    for (int threads : {1, 2, 3}) {
        ThreadCount count(threads);
        MessageLog log;
        auto image = toEngine(source);
        image->lcdSetting(c.lcdType);
        image->softnessSetting(c.softness);
        const auto start = std::chrono::steady_clock::now();
        image->resize(c.targetWidth, c.targetHeight, c.keepRatio, c.percent);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (seconds) *seconds = std::max(*seconds, took.count());
        const Picture result = fromEngine(*image);
        ASSERT_EQ(sizeOf(*image), Size(expected.width, expected.height)) << c;
        const auto diff = std::mismatch(result.rgb.begin(), result.rgb.end(), expected.rgb.begin());
        ASSERT_TRUE(diff.first == result.rgb.end()) << c << ", " << threads << " thread(s): sample "
                                                    << diff.first - result.rgb.begin() << " is " << int(*diff.first)
                                                    << ", reference " << int(*diff.second);
        ASSERT_EQ(log.messages.size(), c.lcdType >= 7 ? 1u : 0u) << c;
    }
}

// Sides often 1 or tiny, mostly up to limit; every type, softness and flag.
void expectRandomAgreement(unsigned seed, int count, int limit) {
    std::mt19937 random(seed);
    auto side = [&](int most) { return int(random() % 10 ? 1 + random() % (random() % 4 ? most : 6) : 1); };
    const int types[] = {-2, 0, 0, 1, 2, 3, 4, 5, 6, 7}, softness[] = {0, 0, 0, 1, 2, 3, 4, 5, -1};
    for (int n = 0; n < count && !::testing::Test::HasFatalFailure(); ++n) {
        const int width = side(limit), height = side(limit);
        const bool keepRatio = random() % 5 == 0, percent = random() % 6 == 0;
        const int targetWidth = percent ? 1 + random() % 250 : side(2 * limit);
        const int targetHeight = percent ? 1 + random() % 250 : side(2 * limit);
        expectAgreement({width, height, targetWidth, targetHeight, keepRatio, percent, types[random() % 10],
                         softness[random() % 9], unsigned(random())});
    }
}

TEST(Agreement, RandomPictures) {
    expectRandomAgreement(20240611, 2500, 40);
    expectRandomAgreement(77, 40, 400);
}

TEST(Agreement, ExtremeRatiosQuicklyAndPhotoSizes) {
    for (const Case& c : {Case{60000, 1, 1, 1}, {1, 60000, 1, 1}, {1, 1, 60000, 1}, {1, 1, 1, 60000},
                          {60000, 1, 1, 1, false, false, 4}, {1, 1, 60000, 1, false, false, 4},
                          {2, 60000, 60000, 2, false, false, 5}}) {
        double seconds = 0;
        expectAgreement(c, &seconds);
        EXPECT_LT(seconds, 1.0) << c;
    }
    expectAgreement({6000, 4000, 1920, 1280});
    expectAgreement({6000, 4000, 1920, 1280, false, false, 4});
}

// Processors without AVX2 take the portable kernels: the same samples.
TEST(Agreement, PortableKernels) {
    resample::usePortableKernels(true);
    expectRandomAgreement(4242, 600, 60);
    expectAgreement({1200, 800, 640, 480, true, false, 4});
    resample::usePortableKernels(false);
}

}  // namespace
