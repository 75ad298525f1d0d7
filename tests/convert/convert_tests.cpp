// The conversion pieces that need no display: output names, the JPEG quality
// walk and limit field, and atomic writes.
#include "jpeg_quality.h"
#include "output_path.h"
#include "test_files.h"
#include "write_image.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testfiles;

TEST(OutputPath, SameFolderOtherFolderAndTheSourcesOwnFolder) {
    // Naming: sameFolder, suffix, saveDir, extension. Expected "": no path but an error.
    const struct { const wchar_t* source; OutputNaming naming; const wchar_t* expected; } cases[] = {
        {L"/photos/cat.png", {true, L"_res", L"", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {true, L"_res", L"", L".jpg"}, L"/photos/cat_res.jpg"},
        {L"/photos/cat.png", {true, L"_res", L"", L".bmp"}, L"/photos/cat_res.bmp"},
        {L"/photos/a.b.png", {true, L"_res", L"", L".png"}, L"/photos/a.b_res.png"},
        {L"/cat.png", {true, L"_res", L"", L".png"}, L"/cat_res.png"},
        {L"cat.png", {true, L"_res", L"", L".png"}, L"cat_res.png"},  // in the working folder
        {L"/photos/cat.png", {true, L"   ", L"", L".png"}, L"/photos/cat   .png"},
        {L"/photos/cat.png", {true, L"", L"", L".png"}, L"/photos/cat_res.png"},  // suffix emptied during a run
        {L"/photos/cat.png", {false, L"_res", L"/out", L".jpg"}, L"/out/cat.jpg"},
        {L"/photos/cat.png", {false, L"_res", L"", L".png"}, L""},  // not at the file system's root
        {L"/photos/cat.png", {false, L"_res", L"/photos", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {false, L"", L"/photos", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {false, L"-small", L"/photos", L".png"}, L"/photos/cat-small.png"},
        {L"/photos/cat.PNG", {false, L"_res", L"/photos", L".png"}, L"/photos/cat.png"},  // another file
    };
    for (const auto& c : cases) {
        OutputPath output = outputPathFor(c.source, c.naming);
        EXPECT_EQ(output.path, c.expected) << wxString(c.source).utf8_str() << " to " << c.naming.saveDir.utf8_str();
        EXPECT_EQ(output.error.empty(), !output.path.empty()) << output.error.utf8_str();
    }
}

TEST(OutputPath, SourceIsRecognisedInOtherForms) {
    Folder in, out;
    writeText(in / "cat.png", "source");
    ASSERT_EQ(mkdir((in / "sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(in.dir.c_str(), (in / "link").c_str()), 0);
    ASSERT_EQ(link((in / "cat.png").c_str(), (out / "cat.png").c_str()), 0);
    for (const std::string& dir : {in.dir + "/", in.dir + "/.", in / "sub/..", in / "link", out.dir}) {
        wxString path = outputPathFor(wx(in / "cat.png"), {false, "_res", wx(dir), ".png"}).path;
        EXPECT_TRUE(path.EndsWith("/cat_res.png")) << dir << " -> " << path.utf8_str();
    }
    // When the suffixed name is the source as well, there is nowhere to write.
    ASSERT_EQ(symlink("cat.png", (in / "cat_res.png").c_str()), 0);
    OutputPath none = outputPathFor(wx(in / "cat.png"), {true, "_res", "", ".png"});
    EXPECT_TRUE(none.path.empty() && !none.error.empty());
}

TEST(JpegQuality, WalkFindsTheHighestFittingQuality) {
    const struct { int maxQuality, fitsUpTo, result; std::vector<int> tried; } cases[] = {
        {90, 59, 59, {90, 45, 67, 56, 61, 59, 60, 59}},
        {100, 73, 73, {100, 50, 75, 63, 69, 72, 73, 74, 73}},
        {90, 0, 1, {90, 45, 23, 12, 7, 5, 4, 3, 2, 1}},  // too large even at 1
        {2, 1, 1, {2, 1, 2, 1}},
        {90, 100, 90, {90}},
    };
    for (const auto& c : cases) {
        std::vector<int> tried;
        int q = fitJpegQuality(1000, c.maxQuality, [&](int quality) {  // sizes grow with the quality
            tried.push_back(quality);
            return quality <= c.fitsUpTo ? 999LL - (c.fitsUpTo - quality) : 1001LL + quality;
        });
        EXPECT_EQ(q, c.result) << c.maxQuality << " fitting up to " << c.fitsUpTo;
        EXPECT_EQ(tried, c.tried) << c.maxQuality << " fitting up to " << c.fitsUpTo;
    }
}

TEST(JpegQuality, NoSearchWithoutLimitOrBelowTwoAndAnExactFitFits) {
    int calls = 0;
    auto huge = [&](int) { return ++calls, 1LL << 40; };
    EXPECT_EQ(fitJpegQuality(0, 90, huge), 90);
    EXPECT_EQ(fitJpegQuality(1000, 1, huge), 1);
    EXPECT_EQ(fitJpegQuality(1000, 0, huge), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(fitJpegQuality(300 * 1024, 90, [&](int) { return ++calls, 300LL * 1024; }), 90);
    EXPECT_EQ(calls, 1);
}

TEST(JpegQuality, SizesThatDoNotGrowWithQualityStillEnd) {
    auto oddFit = [](int q) { return q % 2 ? 500LL + q : 2000LL - q; };  // odd qualities fit, even ones don't
    for (int top : {3, 10, 90, 100}) EXPECT_LE(oddFit(fitJpegQuality(1000, top, oddFit)), 1000) << "max " << top;
    // Fitting sizes that shrink as the quality grows: the walk would move
    // between 60 and 61 for ever.
    int tries = 0;
    EXPECT_EQ(fitJpegQuality(1000, 90, [&](int q) { return ++tries, q <= 60 ? 900LL - q : 2000LL; }), 60);
    EXPECT_LE(tries, 20);
}

TEST(JpegQuality, RealEncodingFitsARealLimit) {
    wxImage image = pattern(320, 240);
    const int limit = static_cast<int>(jpegSize(image, 90) / 2);
    int q = fitJpegQuality(&image, limit, 90);
    ASSERT_TRUE(q > 1 && q < 90) << q;
    EXPECT_LE(jpegSize(image, q), limit);
    EXPECT_GT(jpegSize(image, q + 1), limit);
}

TEST(JpegQuality, LimitTextIsKilobytesAsToLongReadsThem) {
    const std::pair<const char*, int> cases[] = {
        {"", 0}, {"0", 0}, {"abc", 0}, {"-5", 0}, {"300", 300 * 1024}, {" 300", 300 * 1024}, {"1.5", 1024},
        {"2097151", 2097151 * 1024}, {"2097152", 0}, {"99999999999999999999", 0},  // over an int: no limit
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(limitBytes(text), bytes) << '"' << text << '"';
}

TEST(WriteImage, ReplacesWholeOrNotAtAll) {
    Folder folder;
    writeText(folder / "a.bmp", "old");
    ASSERT_EQ(chmod((folder / "a.bmp").c_str(), 0640), 0);
    ASSERT_EQ(writeImageFile(pattern(8, 8), wx(folder / "a.bmp")), "");
    EXPECT_EQ(std::filesystem::status(folder / "a.bmp").permissions(), std::filesystem::perms(0640));
    // A file size limit makes the write itself fail, even for root.
    struct rlimit saved, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    small = saved;
    small.rlim_cur = 1000;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    wxString reason = writeImageFile(pattern(100, 100), wx(folder / "a.bmp"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(reason, "");
    // A missing folder; abandoned before the file was put in place.
    EXPECT_NE(writeImageFile(pattern(9, 9), wx(folder / "missing/a.bmp")), "");
    EXPECT_NE(writeImageFile(pattern(9, 9), wx(folder / "a.bmp"), [] { return true; }), "");
    EXPECT_EQ(sizeOf(folder / "a.bmp", wxBITMAP_TYPE_BMP), wxSize(8, 8));  // the file written first
    EXPECT_EQ(namesIn(folder.dir), std::vector<std::string>{"a.bmp"});  // no temporary left
}

TEST(WriteImage, WriteProtectedFileIsLeftAlone) {
    Folder folder;
    writeText(folder / "a.bmp", "old");
    ASSERT_EQ(chmod((folder / "a.bmp").c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.dir.c_str(), 0777), 0);  // the folder itself is writable
    const pid_t child = fork();  // as another user when root, whom no permission stops
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(2);
        _exit(writeImageFile(pattern(8, 8), wx(folder / "a.bmp")).empty());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the protected file was replaced";
    std::ifstream in(folder / "a.bmp");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk()) return 1;
    wxInitAllImageHandlers();
    return RUN_ALL_TESTS();
}
