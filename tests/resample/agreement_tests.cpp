// The engine against the plain reference, sample for sample, on many random
// pictures and requests, with one, two and three threads.
#include "support.h"

#include "filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

namespace {

using reference::Picture;

enum class Content { noise, smooth, blocks };

struct Case {
    int width, height;
    Content content;
    unsigned seed;
    int targetWidth, targetHeight;
    bool keepRatio, percent;
    int lcdType, softness;
};

std::string describe(const Case& c) {
    std::ostringstream out;
    out << c.width << "x" << c.height << " content " << int(c.content) << " seed " << c.seed << " -> "
        << c.targetWidth << "x" << c.targetHeight << (c.keepRatio ? " keepRatio" : "") << (c.percent ? " percent" : "")
        << " lcdType " << c.lcdType << " softness " << c.softness;
    return out.str();
}

unsigned char clampByte(double v) { return static_cast<unsigned char>(std::max(0.0, std::min(255.0, v))); }

Picture makeContent(const Case& c) {
    std::mt19937 random(c.seed);
    Picture picture(c.width, c.height);
    const double fx = 0.05 + (random() % 100) / 300.0, fy = 0.05 + (random() % 100) / 300.0;
    const int blockSize = 1 + int(random() % 7);
    std::vector<unsigned char> palette(48);
    for (auto& v : palette) v = static_cast<unsigned char>(random() & 0xff);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                unsigned char v = 0;
                if (c.content == Content::noise) v = static_cast<unsigned char>(random() & 0xff);
                if (c.content == Content::smooth)
                    v = clampByte(128 + 120 * std::sin(fx * x + 1.3 * ch) * std::cos(fy * y - 0.7 * ch));
                if (c.content == Content::blocks) v = palette[(x / blockSize * 7 + y / blockSize * 3 + ch) % 48];
                picture.at(x, y, ch) = v;
            }
    return picture;
}

// Size of one side: often 1 or tiny, mostly small, sometimes up to limit.
int randomSide(std::mt19937& random, int limit) {
    const unsigned pick = random() % 10;
    if (pick == 0) return 1;
    if (pick <= 2) return 2 + int(random() % 5);
    return 1 + int(random() % limit);
}

const int lcdTypes[] = {-2, 0, 0, 1, 2, 3, 4, 5, 6, 7};
const int softnessLevels[] = {0, 0, 0, 1, 2, 3, 4, 5, -1};

Case randomCase(std::mt19937& random, int limit) {
    Case c;
    c.width = randomSide(random, limit);
    c.height = randomSide(random, limit);
    c.content = Content(random() % 3);
    c.seed = random();
    c.keepRatio = random() % 5 == 0;
    c.percent = random() % 6 == 0;
    if (c.percent) {
        c.targetWidth = 1 + int(random() % 250);
        c.targetHeight = 1 + int(random() % 250);
    } else {
        c.targetWidth = randomSide(random, 2 * limit);
        c.targetHeight = randomSide(random, 2 * limit);
    }
    c.lcdType = lcdTypes[random() % (sizeof lcdTypes / sizeof *lcdTypes)];
    c.softness = softnessLevels[random() % (sizeof softnessLevels / sizeof *softnessLevels)];
    return c;
}

// Where two pictures first differ, for the failure message.
std::string firstDifference(const Picture& engine, const Picture& expected) {
    if (engine.width != expected.width || engine.height != expected.height) {
        std::ostringstream out;
        out << "engine " << engine.width << "x" << engine.height << ", reference " << expected.width << "x"
            << expected.height;
        return out.str();
    }
    for (size_t i = 0; i < engine.rgb.size(); ++i)
        if (engine.rgb[i] != expected.rgb[i]) {
            std::ostringstream out;
            const size_t pixel = i / 3;
            out << "sample x " << pixel % engine.width << " y " << pixel / engine.width << " channel " << i % 3
                << ": engine " << int(engine.rgb[i]) << ", reference " << int(expected.rgb[i]);
            return out.str();
        }
    return "";
}

Picture resizeWithEngine(const Picture& source, const Case& c, int threads) {
    ThreadCount count(threads);
    auto image = toEngine(source);
    image->lcdSetting(c.lcdType);
    image->softnessSetting(c.softness);
    image->resize(c.targetWidth, c.targetHeight, c.keepRatio, c.percent);
    return fromEngine(*image);
}

// Every thread count gives the reference's samples; only a type without a
// fold has something to say.
void expectAgreement(const Case& c) {
    const Picture source = makeContent(c);
    const Picture expected =
        reference::resize(source, c.targetWidth, c.targetHeight, c.keepRatio, c.percent, c.lcdType, c.softness);
    for (int threads : {1, 2, 3}) {
        MessageLog log;
        const std::string difference = firstDifference(resizeWithEngine(source, c, threads), expected);
        ASSERT_EQ(difference, "") << describe(c) << ", " << threads << " thread(s)";
        ASSERT_EQ(log.messages().size(), c.lcdType >= 7 ? 1u : 0u) << describe(c);
    }
}

TEST(Agreement, SmallRandomPicturesMatchTheReferenceExactly) {
    std::mt19937 random(20240611);
    for (int n = 0; n < 4000; ++n) {
        expectAgreement(randomCase(random, 40));
        if (HasFatalFailure()) return;
    }
}

TEST(Agreement, LargerRandomPicturesMatchTheReferenceExactly) {
    std::mt19937 random(77);
    for (int n = 0; n < 80; ++n) {
        Case c = randomCase(random, 400);
        c.softness = 0;
        expectAgreement(c);
        if (HasFatalFailure()) return;
    }
}

// Photo-sized steps the program actually takes, where the work is split
// across threads in earnest.
TEST(Agreement, TypicalReductionsMatchTheReferenceExactly) {
    const Case cases[] = {
        {1200, 800, Content::smooth, 1, 640, 480, true, false, 0, 0},
        {1200, 800, Content::noise, 2, 320, 320, true, false, 4, 0},
        {801, 603, Content::blocks, 3, 64, 64, false, false, 1, 0},
        {640, 960, Content::smooth, 4, 333, 500, false, false, 5, 0},
        {999, 333, Content::noise, 5, 50, 50, false, true, 3, 0},
        {500, 700, Content::blocks, 6, 1024, 768, true, false, 6, 0},
        {6000, 4000, Content::noise, 7, 1920, 1280, false, false, 0, 0},
        {6000, 4000, Content::noise, 8, 1920, 1280, false, false, 4, 0},
    };
    for (const Case& c : cases) {
        expectAgreement(c);
        if (HasFatalFailure()) return;
    }
}

TEST(Agreement, SinglePassesMatchTheReferenceExactly) {
    std::mt19937 random(99);
    for (int n = 0; n < 300; ++n) {
        const Case c = randomCase(random, 60);
        const Picture source = makeContent(c);
        auto vertical = toEngine(source);
        vertical->softnessSetting(c.softness);
        vertical->resampleVertical(c.targetHeight);
        ASSERT_EQ(firstDifference(fromEngine(*vertical), reference::resampleVertical(source, c.targetHeight, c.softness)),
                  "")
            << "vertical " << describe(c);
        auto horizontal = toEngine(source);
        horizontal->lcdSetting(c.lcdType);
        horizontal->softnessSetting(c.softness);
        horizontal->resampleHorizontal(c.targetWidth);
        ASSERT_EQ(firstDifference(fromEngine(*horizontal),
                                  reference::resampleHorizontal(source, c.targetWidth, c.lcdType, c.softness)),
                  "")
            << "horizontal " << describe(c);
    }
}

TEST(Agreement, FoldsMatchTheReferenceOnRandomStripes) {
    std::mt19937 random(5);
    for (int n = 0; n < 300; ++n) {
        Case c = randomCase(random, 30);
        c.width = 3 * c.width;
        const Picture wide = makeContent(c);
        auto box = toEngine(wide), weighted = toEngine(wide), adaptive = toEngine(wide);
        box->foldSubpixelBox();
        weighted->foldSubpixelWeighted();
        adaptive->foldSubpixelAdaptive();
        ASSERT_EQ(firstDifference(fromEngine(*box), reference::foldBox(wide)), "") << "box " << describe(c);
        ASSERT_EQ(firstDifference(fromEngine(*weighted), reference::foldWeighted(wide)), "") << "weighted " << describe(c);
        ASSERT_EQ(firstDifference(fromEngine(*adaptive), reference::foldAdaptive(wide)), "") << "adaptive " << describe(c);
    }
}

// The kernel is evaluated exactly as written, so the weights, and through
// them the rounding of every sample, agree to the bit.
TEST(Agreement, KernelAgreesToTheBit) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> anywhere(-3.5, 3.5);
    for (int n = 0; n < 100000; ++n) {
        const double x = n < 1400 ? (n - 700) / 200.0 : anywhere(random);
        ASSERT_EQ(Image::lanczos3(x), reference::lanczos3(x)) << "x = " << x;
    }
}

}  // namespace

// Processors without AVX2 take the portable kernels: they must give the
// same samples.
TEST(Agreement, PortableKernelsMatchTheReferenceExactly) {
    struct Portable {
        Portable() { resample::usePortableKernels(true); }
        ~Portable() { resample::usePortableKernels(false); }
    } portable;
    std::mt19937 random(4242);
    for (int n = 0; n < 600; ++n) {
        expectAgreement(randomCase(random, 60));
        if (HasFatalFailure()) return;
    }
    expectAgreement({1200, 800, Content::noise, 9, 640, 480, true, false, 4, 0});
}
