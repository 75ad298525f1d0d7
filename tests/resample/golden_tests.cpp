// Worked examples with their expected pixels written out. Each is checked on
// the engine and on the reference, so the reference is held to them too.
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using reference::Picture;

std::vector<int> channel(const Picture& picture, int c) {
    std::vector<int> values;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) values.push_back(picture.at(x, y, c));
    return values;
}

std::vector<std::vector<int>> pixels(const Picture& picture) {
    std::vector<std::vector<int>> values;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            values.push_back({picture.at(x, y, 0), picture.at(x, y, 1), picture.at(x, y, 2)});
    return values;
}

std::vector<int> ramp(int count, int step) {
    std::vector<int> levels;
    for (int i = 0; i < count; ++i) levels.push_back(i * step);
    return levels;
}

void expectGreys(const Picture& picture, const std::vector<int>& levels) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(channel(picture, c), levels) << "channel " << c;
}

TEST(GoldenLanczos, SixLevelRowReducesToThreeGreys) {
    const Picture row = greyRow(ramp(6, 51));
    auto image = toEngine(row);
    image->resize(3, 1, false, false);
    ASSERT_EQ(image->getWidth(), 3);
    ASSERT_EQ(image->getHeight(), 1);
    expectGreys(fromEngine(*image), {24, 125, 229});
    expectGreys(reference::resize(row, 3, 1, false, false, 0, 0), {24, 125, 229});
}

TEST(GoldenLanczos, SixLevelColumnReducesToThreeGreys) {
    const Picture column = greyColumn(ramp(6, 51));
    auto image = toEngine(column);
    image->resize(1, 3, false, false);
    ASSERT_EQ(image->getWidth(), 1);
    ASSERT_EQ(image->getHeight(), 3);
    expectGreys(fromEngine(*image), {24, 125, 229});
    expectGreys(reference::resize(column, 1, 3, false, false, 0, 0), {24, 125, 229});
}

TEST(GoldenLcd, TwelveLevelRampWidensToSixStripesWithLcdHi) {
    const Picture row = greyRow(ramp(12, 23));
    auto image = toEngine(row);
    image->lcdSetting(4);
    image->resampleHorizontal(6);
    ASSERT_EQ(image->getWidth(), 6);
    const std::vector<int> stripes = {11, 56, 103, 148, 195, 241};
    expectGreys(fromEngine(*image), stripes);
    expectGreys(reference::resampleHorizontal(row, 6, 4, 0), stripes);
}

TEST(GoldenLcd, TwelveLevelRampGainsColourAtStripePitchWithLcdHi) {
    const Picture row = greyRow(ramp(12, 23));
    auto image = toEngine(row);
    image->lcdSetting(4);
    image->resize(2, 1, false, false);
    ASSERT_EQ(image->getWidth(), 2);
    const std::vector<std::vector<int>> expected = {{26, 56, 102}, {148, 194, 225}};
    EXPECT_EQ(pixels(fromEngine(*image)), expected);
    EXPECT_EQ(pixels(reference::resize(row, 2, 1, false, false, 4, 0)), expected);
}

// Nine stripe columns (three target pixels) with a different ramp per channel,
// so every rule's choice of columns and weights shows in the result.
Picture distinctStripes(int columns) {
    std::vector<std::vector<int>> stripes;
    for (int s = 0; s < columns; ++s) stripes.push_back({20 * s, 20 * s + 5, 250 - 20 * s});
    return rgbRow(stripes);
}

enum class Fold { box, weighted, adaptive };

Picture foldWithEngine(const Picture& wide, Fold fold) {
    auto image = toEngine(wide);
    if (fold == Fold::box) image->foldSubpixelBox();
    if (fold == Fold::weighted) image->foldSubpixelWeighted();
    if (fold == Fold::adaptive) image->foldSubpixelAdaptive();
    return fromEngine(*image);
}

Picture foldWithReference(const Picture& wide, Fold fold) {
    if (fold == Fold::box) return reference::foldBox(wide);
    if (fold == Fold::weighted) return reference::foldWeighted(wide);
    return reference::foldAdaptive(wide);
}

struct FoldCase {
    Fold fold;
    int columns;
    std::vector<std::vector<int>> expected;
};

class GoldenFold : public ::testing::TestWithParam<FoldCase> {};

TEST_P(GoldenFold, FirstMiddleAndLastPixelsFollowTheirRules) {
    const FoldCase& c = GetParam();
    const Picture wide = distinctStripes(c.columns);
    EXPECT_EQ(pixels(foldWithEngine(wide, c.fold)), c.expected);
    EXPECT_EQ(pixels(foldWithReference(wide, c.fold)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ThreePixels, GoldenFold,
    ::testing::Values(FoldCase{Fold::box, 9, {{6, 25, 210}, {60, 85, 150}, {120, 145, 96}}},
                      FoldCase{Fold::weighted, 9, {{6, 25, 210}, {66, 85, 156}, {126, 145, 96}}},
                      FoldCase{Fold::adaptive, 9, {{20, 25, 230}, {66, 85, 156}, {140, 145, 110}}}));

// Target width 2: only a first and a last pixel.
INSTANTIATE_TEST_SUITE_P(TwoPixels, GoldenFold,
                         ::testing::Values(FoldCase{Fold::box, 6, {{6, 25, 210}, {60, 85, 156}}},
                                           FoldCase{Fold::weighted, 6, {{6, 25, 210}, {66, 85, 156}}},
                                           FoldCase{Fold::adaptive, 6, {{20, 25, 230}, {80, 85, 170}}}));

// Target width 1: the pixel is built from its own three columns only.
INSTANTIATE_TEST_SUITE_P(OnePixel, GoldenFold,
                         ::testing::Values(FoldCase{Fold::box, 3, {{6, 25, 216}}},
                                           FoldCase{Fold::weighted, 3, {{6, 25, 216}}},
                                           FoldCase{Fold::adaptive, 3, {{20, 25, 230}}}));

// A middle pixel (n = 1) whose red stripes in columns 2, 3, 4 are given; the
// rest of the row is white.
Picture redAroundMiddlePixel(int left, int own, int next) {
    Picture row = uniform(9, 1, 255, 255, 255);
    row.at(2, 0, 0) = static_cast<unsigned char>(left);
    row.at(3, 0, 0) = static_cast<unsigned char>(own);
    row.at(4, 0, 0) = static_cast<unsigned char>(next);
    return row;
}

int middleRedAfterAdaptiveFold(const Picture& row) {
    const int engine = foldWithEngine(row, Fold::adaptive).at(1, 0, 0);
    EXPECT_EQ(reference::foldAdaptive(row).at(1, 0, 0), engine);
    return engine;
}

TEST(GoldenLcd, AdaptiveFoldFallsBackToTheBoxMeanOnlyWhenFarFromTheSharpValue) {
    EXPECT_EQ(middleRedAfterAdaptiveFold(redAroundMiddlePixel(0, 255, 255)), 170);    // e 255, b 170
    EXPECT_EQ(middleRedAfterAdaptiveFold(redAroundMiddlePixel(200, 255, 255)), 255);  // e 255, b 236
    EXPECT_EQ(middleRedAfterAdaptiveFold(redAroundMiddlePixel(163, 255, 255)), 255);  // difference 31
    EXPECT_EQ(middleRedAfterAdaptiveFold(redAroundMiddlePixel(160, 255, 255)), 223);  // difference 32
}

TEST(GoldenLcd, BoxFoldShowsARedFringeNextToABlackStripe) {
    Picture row = uniform(9, 1, 255, 255, 255);
    for (int c = 0; c < 3; ++c) row.at(2, 0, c) = 0;
    const Picture folded = foldWithEngine(row, Fold::box);
    EXPECT_EQ(pixels(folded)[1], (std::vector<int>{170, 255, 255}));
    EXPECT_EQ(pixels(reference::foldBox(row))[1], (std::vector<int>{170, 255, 255}));
}

TEST(GoldenLcd, FoldOfAWidthNotAMultipleOfThreeChangesNothing) {
    const Picture row = distinctStripes(7);
    for (Fold fold : {Fold::box, Fold::weighted, Fold::adaptive}) {
        const Picture folded = foldWithEngine(row, fold);
        EXPECT_EQ(folded.width, 7);
        EXPECT_EQ(folded.rgb, row.rgb);
    }
}

TEST(GoldenKernel, Lanczos3HasItsDefiningValues) {
    const double pi = 3.141592653589793;
    EXPECT_EQ(Image::lanczos3(0.0), 1.0);
    EXPECT_EQ(Image::lanczos3(3.0), 0.0);
    EXPECT_EQ(Image::lanczos3(-3.0), 0.0);
    EXPECT_EQ(Image::lanczos3(7.25), 0.0);
    EXPECT_DOUBLE_EQ(Image::lanczos3(0.5), 3 * std::sin(pi / 2) * std::sin(pi / 6) / (pi * pi * 0.25));
    EXPECT_DOUBLE_EQ(Image::lanczos3(-0.5), Image::lanczos3(0.5));
    EXPECT_EQ(Image::lanczos3(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_EQ(Image::lanczos3(std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_LT(std::fabs(Image::lanczos3(1.0)), 1e-15);
    EXPECT_LT(Image::lanczos3(1.5), 0.0);  // the negative lobe
}

TEST(GoldenKernel, SoftnessFactorsWidenEvenlyFromOneToRootThree) {
    const double expected[5] = {1.0, 1.1830127025, 1.366025405, 1.5490381075, 1.73205081};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Image::softnessFactors[i], expected[i]) << i;
}

TEST(Settings, LcdAndSoftnessAreQueriedWithMinusOne) {
    Image image;
    EXPECT_EQ(image.lcdSetting(-1), 0);
    EXPECT_EQ(image.lcdSetting(-1), 0);
    EXPECT_EQ(image.lcdSetting(5), 5);
    EXPECT_EQ(image.lcdSetting(-1), 5);
    EXPECT_EQ(image.softnessSetting(-1), 0);
    EXPECT_EQ(image.softnessSetting(3), 3);
    EXPECT_EQ(image.softnessSetting(-1), 3);
}

}  // namespace
