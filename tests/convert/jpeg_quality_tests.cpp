// The JPEG quality walk, over made-up sizes and one real encoding, and the
// reading of the size limit field.
#include "jpeg_quality.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Walk {
    int result;
    std::vector<int> tried;
};

// Sizes that grow with the quality and fit the limit up to `fitsUpTo`.
Walk walk(int maxQuality, int fitsUpTo, int limit = 1000) {
    Walk w;
    w.result = fitJpegQuality(limit, maxQuality, [&](int q) {
        w.tried.push_back(q);
        return static_cast<long long>(limit - (fitsUpTo - q) * 10 - (q <= fitsUpTo ? 1 : 0));
    });
    return w;
}

}  // namespace

TEST(JpegQuality, WalkFindsTheHighestFittingQuality) {
    Walk w = walk(90, 59);
    EXPECT_EQ(w.result, 59);
    EXPECT_EQ(w.tried, (std::vector<int>{90, 45, 67, 56, 61, 59, 60, 59}));

    w = walk(100, 73);
    EXPECT_EQ(w.result, 73);
    EXPECT_EQ(w.tried, (std::vector<int>{100, 50, 75, 63, 69, 72, 73, 74, 73}));
}

TEST(JpegQuality, TooLargeEvenAtOneGivesOne) {
    Walk w = walk(90, 0);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.tried, (std::vector<int>{90, 45, 23, 12, 7, 5, 4, 3, 2, 1}));
}

TEST(JpegQuality, QualityTwoWithOnlyOneFitting) {
    Walk w = walk(2, 1);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.tried, (std::vector<int>{2, 1, 2, 1}));
}

TEST(JpegQuality, FittingAtTheTopTakesOneTry) {
    Walk w = walk(90, 100);
    EXPECT_EQ(w.result, 90);
    EXPECT_EQ(w.tried, std::vector<int>{90});
}

TEST(JpegQuality, SizeExactlyAtTheLimitFits) {
    std::vector<int> tried;
    int q = fitJpegQuality(300 * 1024, 90, [&](int quality) {
        tried.push_back(quality);
        return 300LL * 1024;
    });
    EXPECT_EQ(q, 90);
    EXPECT_EQ(tried.size(), 1u);
}

TEST(JpegQuality, NoSearchWithoutLimitOrAtTheBottom) {
    int calls = 0;
    auto count = [&](int) {
        ++calls;
        return 1LL << 40;
    };
    EXPECT_EQ(fitJpegQuality(0, 90, count), 90);
    EXPECT_EQ(fitJpegQuality(-5, 90, count), 90);
    EXPECT_EQ(fitJpegQuality(1000, 1, count), 1);
    EXPECT_EQ(fitJpegQuality(1000, 0, count), 0);
    EXPECT_EQ(calls, 0);
}

TEST(JpegQuality, SizesThatDoNotGrowWithQualityStillEnd) {
    // Odd qualities are small, even ones large: the walk could alternate.
    for (int maxQuality : {3, 10, 90, 100}) {
        int tries = 0;
        auto zigzag = [&](int q) {
            ++tries;
            return q % 2 ? 500LL + q : 2000LL - q;
        };
        int q = fitJpegQuality(1000, maxQuality, zigzag);
        EXPECT_LE(zigzag(q), 1000) << "max " << maxQuality << " gave " << q;
        EXPECT_LE(tries, 2 * maxQuality + 2);
    }
    // Fitting sizes that shrink as the quality grows: near the boundary the
    // walk would move between 60 and 61 for ever.
    std::vector<int> tried;
    int q = fitJpegQuality(1000, 90, [&](int quality) {
        tried.push_back(quality);
        return quality <= 60 ? 900LL - quality : 2000LL;
    });
    EXPECT_EQ(q, 60);
    EXPECT_LE(tried.size(), 20u);
}

TEST(JpegQuality, RealEncodingFitsARealLimit) {
    wxImage image = testfiles::pattern(320, 240);
    const long long top = jpegSize(image, 90);
    const int limit = static_cast<int>(top / 2);
    int q = fitJpegQuality(&image, limit, 90);
    ASSERT_GT(q, 1);
    ASSERT_LT(q, 90);
    EXPECT_LE(jpegSize(image, q), limit);
    EXPECT_GT(jpegSize(image, q + 1), limit);
}

TEST(JpegQuality, LimitTextIsKilobytesAsToLongReadsThem) {
    EXPECT_EQ(limitBytes(wxT("")), 0);
    EXPECT_EQ(limitBytes(wxT("0")), 0);
    EXPECT_EQ(limitBytes(wxT("abc")), 0);
    EXPECT_EQ(limitBytes(wxT("-5")), 0);
    EXPECT_EQ(limitBytes(wxT("300")), 300 * 1024);
    EXPECT_EQ(limitBytes(wxT(" 300")), 300 * 1024);
    EXPECT_EQ(limitBytes(wxT("1.5")), 1024);
    EXPECT_EQ(limitBytes(wxT("10240")), 10240 * 1024);
    EXPECT_EQ(limitBytes(wxT("2097151")), 2097151 * 1024);
    // Beyond what an int holds in bytes: no limit.
    EXPECT_EQ(limitBytes(wxT("2097152")), 0);
    EXPECT_EQ(limitBytes(wxT("99999999999999999999")), 0);
}
