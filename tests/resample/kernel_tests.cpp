// The engine's inner loops on every instruction set this processor has: the shortcut that turns sums into samples
// without dividing, against the rule itself next to every rounding step; whole resizes and the folds against the
// plain reference on sizes that reach every group width and remainder of the loops; the rows the LCD pass hands on
// to its fold; and the hand-out of rows to threads.
#include "filter.h"
#include "image.h"
#include "kernels.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::vector<resample::KernelSet> setsOfThisProcessor() {
    std::vector<resample::KernelSet> sets;
    for (auto set : {resample::KernelSet::portable, resample::KernelSet::avx2, resample::KernelSet::avx512})
        if (set <= resample::processorKernels()) sets.push_back(set);
    return sets;
}

const char* nameOf(resample::KernelSet set) {
    return set == resample::KernelSet::portable ? "portable" : set == resample::KernelSet::avx2 ? "AVX2" : "AVX-512";
}

// Holds the passes to one set for a scope.
struct KernelsLimited {
    explicit KernelsLimited(resample::KernelSet set) { resample::limitKernels(set); }
    ~KernelsLimited() { resample::limitKernels(resample::KernelSet::avx512); }
};

resample::TapSpan spanWithSum(double sum) {
    resample::TapSpan span;
    span.weightSum = sum;
    span.inverseSum = 1 / sum;
    return span;
}

// Sums whose division lands next to a step: v = k + 0.5 exactly (a tie the rule rounds up), a few units in the last
// place either side of it, of 0.49999 and of 1024, and far outside.
std::vector<double> sumsNearSteps(double weightSum) {
    std::vector<double> sums;
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
    for (double v : {INFINITY, -INFINITY, NAN}) sums.push_back(v);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spread(-300, 600);
    for (int n = 0; n < 500; ++n) sums.push_back(spread(random) * weightSum);
    return sums;
}

TEST(Kernels, SamplesFromSumsFollowTheRuleNextToEveryStep) {
    const double weightSums[] = {1.0,   std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), 3.7, 0.123456789, 17.25,
                                 -2.5,  1e-3,                     1.0 / 3,                  6.02e23, 2.2e-300};
    for (auto set : setsOfThisProcessor()) {
        KernelsLimited limited(set);
        for (double weightSum : weightSums) {
            const std::vector<double> sums = sumsNearSteps(weightSum);
            Bytes samples(sums.size());
            resample::samplesFromSums(sums.data(), sums.size(), spanWithSum(weightSum), samples.data());
            for (std::size_t i = 0; i < sums.size(); ++i)
                ASSERT_EQ(int(samples[i]), int(resample::sampleFromSum(sums[i], weightSum)))
                    << nameOf(set) << ": " << sums[i] << " / " << weightSum;
        }
    }
}

reference::Picture noise(int width, int height, std::mt19937& random) {
    reference::Picture p(width, height);
    for (auto& sample : p.rgb) sample = static_cast<unsigned char>(random());
    return p;
}

Bytes engineResize(const reference::Picture& source, int width, int height, int lcdType, int softness) {
    Image image(source.width, source.height, false);
    std::copy(source.rgb.begin(), source.rgb.end(), const_cast<unsigned char*>(image.pixelData()));
    image.lcdSetting(lcdType);
    image.softnessSetting(softness);
    image.resize(width, height, false, false);
    return Bytes(image.pixelData(), image.pixelData() + 3LL * image.getWidth() * image.getHeight());
}

struct Request {
    int width, height, targetWidth, targetHeight, lcdType, softness;
};

// Widths up to 700 pixels give rows of every remainder of the strips and vector groups, heights up to 300 several
// pieces per thread; most requests reduce, some enlarge.
std::vector<Request> randomRequests(unsigned seed, int count) {
    std::mt19937 random(seed);
    auto upTo = [&](int most) { return 1 + int(random() % unsigned(most)); };
    std::vector<Request> requests;
    for (int n = 0; n < count; ++n) {
        Request r{upTo(700), upTo(300), 0, 0, int(random() % 7), int(random() % 5)};
        r.targetWidth = random() % 8 ? upTo(r.width) : upTo(2 * r.width);
        r.targetHeight = random() % 8 ? upTo(r.height) : upTo(2 * r.height);
        requests.push_back(r);
    }
    return requests;
}

TEST(Kernels, EverySetAndThreadCountGivesTheReferenceSamples) {
    std::mt19937 random(99);
    for (const Request& r : randomRequests(2026, 60)) {
        const reference::Picture source = noise(r.width, r.height, random);
        const Bytes expected =
            reference::resize(source, r.targetWidth, r.targetHeight, false, false, r.lcdType, r.softness).rgb;
        for (auto set : setsOfThisProcessor()) {
            KernelsLimited limited(set);
            for (int threads : {1, 2, 5}) {
                Image::setThreadCount(threads);
                ASSERT_EQ(engineResize(source, r.targetWidth, r.targetHeight, r.lcdType, r.softness), expected)
                    << nameOf(set) << ", " << threads << " thread(s): " << r.width << "x" << r.height << " to "
                    << r.targetWidth << "x" << r.targetHeight << " type " << r.lcdType << " softness " << r.softness;
            }
        }
    }
    Image::setThreadCount(2);
}

// Folds of triple-width rows of every length up to 40 pixels (the vector box fold takes ten at a time and leaves
// the rest), on every set: the reference's samples, with sums of three 255s (the largest the division by 3 meets),
// zeros and noise.
TEST(Kernels, FoldsGiveTheReferenceSamplesOnEverySet) {
    std::mt19937 random(3);
    const struct { const char* name; int lcdType; bool (Image::*fold)(); } folds[] = {
        {"box", 4, &Image::foldSubpixelBox}, {"weighted", 6, &Image::foldSubpixelWeighted},
        {"adaptive", 5, &Image::foldSubpixelAdaptive}};
    for (int pixels = 1; pixels <= 40; ++pixels) {
        reference::Picture wide = noise(3 * pixels, 3, random);
        std::fill(wide.rgb.begin(), wide.rgb.begin() + 9 * pixels, 255);  // row 0 all 255, row 1 all 0, row 2 noise
        std::fill(wide.rgb.begin() + 9 * pixels, wide.rgb.begin() + 18 * pixels, 0);
        for (auto set : setsOfThisProcessor()) {
            KernelsLimited limited(set);
            for (const auto& fold : folds) {
                Image image(wide.width, wide.height, false);
                std::copy(wide.rgb.begin(), wide.rgb.end(), const_cast<unsigned char*>(image.pixelData()));
                ASSERT_TRUE((image.*fold.fold)());
                ASSERT_EQ(Bytes(image.pixelData(), image.pixelData() + 9 * pixels), reference::fold(wide, fold.lcdType).rgb)
                    << nameOf(set) << ", " << fold.name << " fold of " << pixels << " pixels";
            }
        }
    }
}

// The horizontal pass that hands each block of rows on as it is made (an LCD reduction folds them at once): the rows
// handed on are applyHorizontal's, each once; a cancel from inside stops it, and it says so.
TEST(Kernels, RowsHandedOnAreThePassRowsEachOnceUnlessCancelled) {
    std::mt19937 random(5);
    const reference::Picture source = noise(301, 45, random);
    resample::WeightTable table;
    ASSERT_TRUE(resample::buildHorizontalWeights(resample::horizontalGeometry(301, 270, 1, 1.0), table));
    const std::size_t rowBytes = 3 * table.spans.size();
    Bytes whole(rowBytes * 45);
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(resample::applyHorizontal(source.rgb.data(), 301, 45, table, whole.data(), cancel, 1));
    for (int threads : {1, 2, 3}) {
        for (int cancelAfter : {-1, 0, 2}) {
            Bytes handed(whole.size());
            std::vector<int> times(45);
            std::mutex mutex;
            int blocks = 0;
            std::atomic<bool> stop{false};
            auto finish = [&](const std::uint8_t* rows, long long firstRow, int rowCount) {
                std::lock_guard<std::mutex> lock(mutex);
                std::copy(rows, rows + rowCount * rowBytes, handed.begin() + firstRow * rowBytes);
                for (int k = 0; k < rowCount; ++k) ++times[firstRow + k];
                if (blocks++ == cancelAfter) stop = true;
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
        EXPECT_GE(workers.size(), 1u);
    }
}

}  // namespace
