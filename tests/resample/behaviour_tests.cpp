// What a user of the engine notices: sizes, methods, messages, cancelling,
// empty and extreme inputs.
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

namespace {

using reference::Picture;

Picture noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture picture(width, height);
    for (auto& sample : picture.rgb) sample = static_cast<unsigned char>(random() & 0xff);
    return picture;
}

struct Method {
    const char* name;
    int lcdType;
    bool nearest;
};

const Method allMethods[] = {{"Nearest", 0, true},  {"Lanczos3", 0, false}, {"LCD(low)", 1, false},
                             {"LCD(mid)", 3, false}, {"LCD(hi)", 4, false},  {"LCD(ex)", 5, false},
                             {"LCD(max)", 6, false}};

void apply(Image& image, const Method& method, int width, int height) {
    image.lcdSetting(method.lcdType);
    if (method.nearest) image.resizeNearest(width, height, false, false);
    else image.resize(width, height, false, false);
}

double secondsFor(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --- target size ---------------------------------------------------------

struct SizeRequest {
    int sourceWidth, sourceHeight, width, height;
    bool keepRatio, percent;
    int expectedWidth, expectedHeight;
};

class TargetSize : public ::testing::TestWithParam<SizeRequest> {};

TEST_P(TargetSize, BothEntryPointsReachTheSameSize) {
    const SizeRequest& r = GetParam();
    Image nearest(r.sourceWidth, r.sourceHeight, true);
    nearest.resizeNearest(r.width, r.height, r.keepRatio, r.percent);
    EXPECT_EQ(nearest.getWidth(), r.expectedWidth);
    EXPECT_EQ(nearest.getHeight(), r.expectedHeight);
    const reference::Size planned =
        reference::targetSize(r.sourceWidth, r.sourceHeight, r.width, r.height, r.keepRatio, r.percent);
    EXPECT_EQ(planned.width, r.expectedWidth);
    EXPECT_EQ(planned.height, r.expectedHeight);
    if (static_cast<long long>(r.expectedWidth) * r.expectedHeight > 4'000'000) return;  // Lanczos only on small ones
    Image lanczos(r.sourceWidth, r.sourceHeight, true);
    lanczos.resize(r.width, r.height, r.keepRatio, r.percent);
    EXPECT_EQ(lanczos.getWidth(), r.expectedWidth);
    EXPECT_EQ(lanczos.getHeight(), r.expectedHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, TargetSize,
    ::testing::Values(SizeRequest{400, 300, 200, 200, true, false, 200, 150},
                      SizeRequest{300, 400, 200, 200, true, false, 150, 200},
                      SizeRequest{401, 301, 50, 50, false, true, 200, 150},
                      SizeRequest{400, 300, 50, 10, true, true, 40, 30},  // the smaller percentage decides
                      SizeRequest{400, 300, 0, -5, false, false, 1, 1},
                      SizeRequest{400, 300, -1, 0, true, false, 1, 1},
                      SizeRequest{3, 3, 1, 1, false, true, 1, 1},
                      SizeRequest{400, 300, 120, 90, true, false, 120, 90},  // exact fit
                      // Requests of 65535 on long images: the products exceed int.
                      SizeRequest{40000, 1, 65535, 65535, true, false, 65535, 1},
                      SizeRequest{1, 40000, 65535, 65535, true, false, 1, 65535},
                      SizeRequest{40000, 1, 65535, 1, false, true, 26214000, 1},
                      SizeRequest{1, 40000, 1, 65535, false, true, 1, 26214000},
                      SizeRequest{40000, 100, 65535, 1, true, true, 400, 1}));

TEST(TargetSizeRule, MatchesPlainIntArithmeticOnOrdinaryRequests) {
    std::mt19937 random(7);
    for (int n = 0; n < 300; ++n) {
        const int w = 1 + int(random() % 300), h = 1 + int(random() % 300);
        const int rw = int(random() % 420) - 20, rh = int(random() % 420) - 20;
        const bool keepRatio = random() & 1, percent = random() & 1;
        // The rule as int arithmetic; nothing here comes near overflow.
        int tw = rw, th = rh;
        if (percent) {
            tw = tw * w / 100;
            th = th * h / 100;
        }
        if (keepRatio) {
            if (th * w <= tw * h) tw = th * w / h;
            else th = tw * h / w;
        }
        tw = std::max(tw, 1);
        th = std::max(th, 1);
        Image image(w, h, true);
        image.resizeNearest(rw, rh, keepRatio, percent);
        ASSERT_EQ(image.getWidth(), tw) << w << "x" << h << " req " << rw << "x" << rh << " " << keepRatio << percent;
        ASSERT_EQ(image.getHeight(), th) << w << "x" << h << " req " << rw << "x" << rh << " " << keepRatio << percent;
    }
}

// --- methods ---------------------------------------------------------------

TEST(Resize, ToTheSameSizeReturnsEverySampleUnchanged) {
    const Picture picture = noise(37, 23, 1);
    auto image = toEngine(picture);
    image->resize(37, 23, false, false);
    EXPECT_EQ(fromEngine(*image).rgb, picture.rgb);
}

TEST(Resize, UniformColourStaysThatColourWithEveryMethod) {
    const int targets[][2] = {{17, 9}, {50, 40}, {83, 61}, {1, 1}, {2, 1}, {1, 7}};
    for (const Method& method : allMethods) {
        for (const auto& target : targets) {
            auto image = toEngine(uniform(50, 40, 200, 13, 77));
            apply(*image, method, target[0], target[1]);
            ASSERT_EQ(image->getWidth(), target[0]) << method.name;
            ASSERT_EQ(image->getHeight(), target[1]) << method.name;
            EXPECT_EQ(fromEngine(*image).rgb, uniform(target[0], target[1], 200, 13, 77).rgb)
                << method.name << " to " << target[0] << "x" << target[1];
        }
    }
}

TEST(Resize, NearestIsTheToolkitsNearestNeighbourScaling) {
    const Picture picture = noise(31, 17, 2);
    auto image = toEngine(picture);
    image->resizeNearest(13, 40, false, false);
    wxImage expected(31, 17, const_cast<unsigned char*>(picture.rgb.data()), true);
    expected = expected.Scale(13, 40, wxIMAGE_QUALITY_NORMAL);
    ASSERT_EQ(image->getWidth(), 13);
    ASSERT_EQ(image->getHeight(), 40);
    EXPECT_EQ(0, std::memcmp(image->pixelData(), expected.GetData(), 3 * 13 * 40));
}

// A black half and a white half: the kernel's negative lobes push samples past
// 0 and 255 near the edge; they must clamp, never wrap round.
Picture blackThenWhite(int length, bool vertical) {
    Picture picture(vertical ? 2 : length, vertical ? length : 2);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const bool white = (vertical ? y : x) >= length / 2;
            for (int c = 0; c < 3; ++c) picture.at(x, y, c) = white ? 255 : 0;
        }
    return picture;
}

// Samples whose source position is well away from the edge (beyond the
// kernel's reach) keep to their side; wrapped overshoot would not.
void expectClampedEdge(const Picture& result, int sourceLength, bool vertical) {
    const int length = vertical ? result.height : result.width;
    int lowest = 255, highest = 0;
    for (int i = 0; i < length; ++i) {
        const int v = vertical ? result.at(0, i, 0) : result.at(i, 0, 0);
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
        const double sourcePosition = double(i) * sourceLength / length;
        if (sourcePosition < sourceLength / 2 - 10) {
            EXPECT_LT(v, 64) << "dark side, index " << i;
        }
        if (sourcePosition > sourceLength / 2 + 10) {
            EXPECT_GT(v, 191) << "bright side, index " << i;
        }
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 255);
}

TEST(Resize, SharpEdgesClampToBlackAndWhiteWithoutWrapping) {
    for (bool vertical : {false, true}) {
        for (int target : {23, 40, 97, 150}) {
            const Picture edge = blackThenWhite(60, vertical);
            const int w = vertical ? 2 : target, h = vertical ? target : 2;
            auto image = toEngine(edge);
            image->resize(w, h, false, false);
            const Picture result = fromEngine(*image);
            expectClampedEdge(result, 60, vertical);
            EXPECT_EQ(result.rgb, reference::resize(edge, w, h, false, false, 0, 0).rgb);
        }
    }
}

TEST(Resize, NegativeLcdTypeIsPlainLanczos) {
    const Picture picture = noise(40, 30, 3);
    auto plain = toEngine(picture);
    auto negative = toEngine(picture);
    negative->lcdSetting(-4);
    plain->resize(13, 11, false, false);
    negative->resize(13, 11, false, false);
    EXPECT_EQ(negative->getWidth(), 13);
    EXPECT_EQ(fromEngine(*negative).rgb, fromEngine(*plain).rgb);
}

TEST(Resize, LcdLowIsSofterThanLcdHiOnTheSamePicture) {
    const Picture picture = noise(120, 20, 4);
    auto low = toEngine(picture), hi = toEngine(picture);
    low->lcdSetting(1);
    hi->lcdSetting(4);
    low->resize(30, 20, false, false);
    hi->resize(30, 20, false, false);
    auto spread = [](const Picture& p) {
        double sum = 0, squares = 0;
        for (unsigned char v : p.rgb) sum += v, squares += double(v) * v;
        return squares / p.rgb.size() - (sum / p.rgb.size()) * (sum / p.rgb.size());
    };
    EXPECT_LT(spread(fromEngine(*low)), spread(fromEngine(*hi)));
}

// --- messages --------------------------------------------------------------

TEST(Messages, UnknownLcdTypeSaysSoAndLeavesTripleWidth) {
    const Picture picture = noise(20, 10, 5);
    for (int type : {7, 100}) {
        MessageLog log;
        auto image = toEngine(picture);
        image->lcdSetting(type);
        image->resize(5, 4, false, false);
        ASSERT_EQ(log.messages().size(), 1u);
        EXPECT_EQ(log.messages()[0], wxT("undefined LCD type!"));
        EXPECT_EQ(image->getWidth(), 15);
        EXPECT_EQ(image->getHeight(), 4);
        EXPECT_EQ(fromEngine(*image).rgb, reference::resize(picture, 5, 4, false, false, type, 0).rgb);
    }
}

TEST(Messages, OrdinaryResizesAndEnlargementsSayNothing) {
    MessageLog log;
    for (int type = 0; type <= 6; ++type) {
        auto image = toEngine(noise(10, 10, 6));
        image->lcdSetting(type);
        image->resize(20, 20, false, false);
        image->resize(3, 2, false, false);
        image->resize(1, 1, false, false);
    }
    EXPECT_TRUE(log.messages().empty());
}

TEST(Messages, ReductionOnlyMessageComesFromAZeroHeightImage) {
    MessageLog log;
    Image empty;
    empty.resampleVertical(3);
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0], wxString::FromUTF8("縮小専用です"));
    EXPECT_TRUE(empty.isEmpty());
}

// --- cancelling --------------------------------------------------------------

TEST(Cancel, EveryPassLeavesACancelledImageAsItWas) {
    const Picture picture = noise(30, 21, 8);
    const std::function<void(Image&)> steps[] = {
        [](Image& i) { i.resize(10, 7, false, false); },
        [](Image& i) {
            i.lcdSetting(4);
            i.resize(10, 7, false, false);
        },
        [](Image& i) {
            i.lcdSetting(7);
            i.resize(10, 7, false, false);
        },
        [](Image& i) { i.resampleVertical(5); },
        [](Image& i) { i.resampleHorizontal(50); },
        [](Image& i) { i.foldSubpixelBox(); },
        [](Image& i) { i.foldSubpixelWeighted(); },
        [](Image& i) { i.foldSubpixelAdaptive(); },
    };
    MessageLog log;
    for (const auto& step : steps) {
        auto image = toEngine(picture);
        image->cancel();
        step(*image);
        EXPECT_EQ(image->getWidth(), 30);
        EXPECT_EQ(image->getHeight(), 21);
        EXPECT_EQ(fromEngine(*image).rgb, picture.rgb);
    }
    EXPECT_TRUE(log.messages().empty());
}

// Cancelled from another thread at some moment: each pass is either done
// completely or not at all, whatever the moment.
TEST(Cancel, FromAnotherThreadLeavesOnlyWholePasses) {
    const Picture picture = noise(900, 600, 9);
    const Picture tall = reference::resampleVertical(picture, 150, 0);
    const Picture done = reference::resampleHorizontal(tall, 200, 0, 0);
    ThreadCount threads(2);
    for (int delayMicros : {0, 300, 1000, 3000, 10000}) {
        auto image = toEngine(picture);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(delayMicros));
            image->cancel();
        });
        image->resize(200, 150, false, false);
        canceller.join();
        const Picture result = fromEngine(*image);
        if (result.height == 600) {
            EXPECT_EQ(result.rgb, picture.rgb) << delayMicros;
        } else if (result.width == 900) {
            EXPECT_EQ(result.rgb, tall.rgb) << delayMicros;
        } else {
            EXPECT_EQ(result.rgb, done.rgb) << delayMicros;
        }
    }
}

// --- empty, tiny, extreme and impossible sizes --------------------------------

TEST(EmptyImage, PassesThroughEveryResizeUnchanged) {
    MessageLog log;
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7}) {
        for (bool keepRatio : {false, true}) {
            for (bool percent : {false, true}) {
                Image image;
                image.lcdSetting(type);
                image.resize(100, 80, keepRatio, percent);
                EXPECT_TRUE(image.isEmpty());
                EXPECT_EQ(image.pixelData(), nullptr);
                image.resizeNearest(100, 80, keepRatio, percent);
                EXPECT_TRUE(image.isEmpty());
                EXPECT_EQ(image.getWidth(), 0);
                EXPECT_EQ(image.getHeight(), 0);
            }
        }
    }
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(Image().createImage(), nullptr);
}

TEST(LcdOnePixelWide, BuildsThePixelFromItsOwnThreeColumns) {
    const Picture picture = noise(50, 6, 10);
    for (int type = 1; type <= 6; ++type) {
        auto image = toEngine(picture);
        image->lcdSetting(type);
        image->resize(1, 6, false, false);
        ASSERT_EQ(image->getWidth(), 1) << type;
        EXPECT_EQ(fromEngine(*image).rgb, reference::resize(picture, 1, 6, false, false, type, 0).rgb) << type;
    }
}

struct Extreme {
    int width, height, targetWidth, targetHeight, lcdType;
};

class ExtremeRatio : public ::testing::TestWithParam<Extreme> {};

TEST_P(ExtremeRatio, IsCorrectAndQuick) {
    const Extreme& e = GetParam();
    const Picture picture = noise(e.width, e.height, 11);
    auto image = toEngine(picture);
    image->lcdSetting(e.lcdType);
    const double seconds = secondsFor([&] { image->resize(e.targetWidth, e.targetHeight, false, false); });
    EXPECT_LT(seconds, 1.0);
    ASSERT_EQ(image->getWidth(), e.targetWidth);
    ASSERT_EQ(image->getHeight(), e.targetHeight);
    EXPECT_EQ(fromEngine(*image).rgb,
              reference::resize(picture, e.targetWidth, e.targetHeight, false, false, e.lcdType, 0).rgb);
}

INSTANTIATE_TEST_SUITE_P(Ratios, ExtremeRatio,
                         ::testing::Values(Extreme{60000, 1, 1, 1, 0}, Extreme{1, 60000, 1, 1, 0},
                                           Extreme{1, 1, 60000, 1, 0}, Extreme{1, 1, 1, 60000, 0},
                                           Extreme{60000, 1, 1, 1, 4}, Extreme{1, 1, 60000, 1, 4},
                                           Extreme{60000, 3, 2, 1, 1}, Extreme{2, 60000, 60000, 2, 5}));

TEST(BlankImage, IsClearedOnRequest) {
    const Image blank(4, 3, true);
    EXPECT_EQ(blank.getWidth(), 4);
    EXPECT_EQ(blank.getHeight(), 3);
    EXPECT_EQ(fromEngine(blank).rgb, Picture(4, 3).rgb);
}

TEST(ImpossibleSizes, BlankImageTooLargeToAddressOrNegativeIsEmpty) {
    for (auto size : {std::pair<int, int>{INT_MAX, INT_MAX}, {INT_MAX, 1 << 22}, {1 << 22, INT_MAX}, {-5, 3},
                      {3, -5}, {INT_MIN, INT_MIN}}) {
        Image image(size.first, size.second, false);
        EXPECT_TRUE(image.isEmpty()) << size.first << "x" << size.second;
        EXPECT_EQ(image.pixelData(), nullptr);
    }
}

TEST(ImpossibleSizes, ResizeToThemLeavesTheImageUnchanged) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer aborts on a refused operator new instead of throwing bad_alloc";
#endif
    const Picture picture = noise(1000, 1000, 12);
    const std::function<void(Image&)> requests[] = {
        [](Image& i) { i.resize(INT_MAX, INT_MAX, false, false); },
        [](Image& i) { i.resize(INT_MAX, INT_MAX, true, false); },
        [](Image& i) { i.resize(INT_MAX, INT_MAX, false, true); },
        [](Image& i) { i.resize(INT_MAX, INT_MAX, true, true); },
        [](Image& i) {
            i.lcdSetting(4);
            i.resize(INT_MAX, INT_MAX, false, false);
        },
        [](Image& i) { i.resampleHorizontal(INT_MAX); },
        [](Image& i) { i.resampleVertical(INT_MAX); },
        [](Image& i) { i.resizeNearest(INT_MAX, INT_MAX, false, false); },
        [](Image& i) { i.resizeNearest(INT_MAX, INT_MAX, false, true); },
    };
    for (const auto& request : requests) {
        auto image = toEngine(picture);
        const double seconds = secondsFor([&] { request(*image); });
        EXPECT_LT(seconds, 1.0);
        EXPECT_EQ(image->getWidth(), 1000);
        EXPECT_EQ(image->getHeight(), 1000);
        EXPECT_EQ(fromEngine(*image).rgb, picture.rgb);
    }
}

// LCD types triple the target width: a width that fits an int can still
// overflow there. The vertical pass may have run; the width must not change.
TEST(ImpossibleSizes, LcdWidthBeyondIntIsRefused) {
    for (int type : {1, 4, 5}) {
        auto image = toEngine(noise(4, 4, 13));
        image->lcdSetting(type);
        image->resize(INT_MAX / 2, 1, false, false);
        EXPECT_EQ(image->getWidth(), 4) << type;
        EXPECT_TRUE(image->getHeight() == 4 || image->getHeight() == 1) << type;
        EXPECT_NE(image->pixelData(), nullptr);
    }
}

}  // namespace
