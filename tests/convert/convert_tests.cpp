// The conversion pieces that need no display: output names, JPEG quality and limit, atomic writes.
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

TEST(OutputPath, SameFolderOtherFolderAndTheSourceInAnyForm) {
    // Naming: sameFolder, suffix, saveDir, extension. Expected "": no path but an error.
    const struct { const wchar_t* source; OutputNaming naming; const wchar_t* expected; } cases[] = {
        {L"/photos/cat.png", {true, L"_res", L"", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {true, L"_res", L"", L".jpg"}, L"/photos/cat_res.jpg"},
        {L"/photos/cat.png", {true, L"_res", L"", L".bmp"}, L"/photos/cat_res.bmp"},
        {L"/photos/a.b.png", {true, L"_res", L"", L".png"}, L"/photos/a.b_res.png"},
        {L"cat.png", {true, L"_res", L"", L".png"}, L"cat_res.png"},  // in the working folder
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
    Folder in, out;  // the source in other forms: the output takes the suffix
    writeText(in / "cat.png", "source");
    ASSERT_EQ(mkdir((in / "sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(in.dir.c_str(), (in / "link").c_str()), 0);
    ASSERT_EQ(link((in / "cat.png").c_str(), (out / "cat.png").c_str()), 0);  // the same file under another name
    for (const std::string& dir : {in.dir + "/", in / "sub/..", in / "link", out.dir}) {
        wxString path = outputPathFor(wx(in / "cat.png"), {false, "_res", wx(dir), ".png"}).path;
        EXPECT_TRUE(path.EndsWith("/cat_res.png")) << dir << " -> " << path.utf8_str();
    }
}

TEST(JpegQuality, TheHighestQualityWithinTheLimitIsFoundAndTheSearchEnds) {
    // Sizes grow with the quality, up to 999 at fitsUpTo.
    const struct { int limit, maxQuality, fitsUpTo, result; std::vector<int> tried; } cases[] = {
        {1000, 90, 59, 59, {90, 45, 67, 56, 61, 59, 60, 59}},
        {1000, 100, 73, 73, {100, 50, 75, 63, 69, 72, 73, 74, 73}},
        {1000, 90, 0, 1, {90, 45, 23, 12, 7, 5, 4, 3, 2, 1}},  // too large even at 1
        {1000, 2, 1, 1, {2, 1, 2, 1}},
        {999, 90, 90, 90, {90}},  // an exact fit
        {0, 90, 0, 90, {}}, {1000, 1, 0, 1, {}}, {1000, 0, 0, 0, {}},  // no limit, or nothing to search
    };
    for (const auto& c : cases) {
        std::vector<int> tried;
        int q = fitJpegQuality(c.limit, c.maxQuality, [&](int quality) {
            tried.push_back(quality);
            return quality <= c.fitsUpTo ? 999LL - (c.fitsUpTo - quality) : 1001LL + quality;
        });
        EXPECT_EQ(q, c.result) << c.maxQuality << " fitting up to " << c.fitsUpTo;
        EXPECT_EQ(tried, c.tried) << c.maxQuality << " fitting up to " << c.fitsUpTo;
    }
    int tries = 0;  // fitting sizes that shrink as the quality grows: the walk would swing between 60 and 61
    EXPECT_EQ(fitJpegQuality(1000, 90, [&](int q) { return ++tries, q <= 60 ? 900LL - q : 2000LL; }), 60);
    EXPECT_LE(tries, 20);
    wxImage image = pattern(320, 240);  // real encodings within a real limit
    const int limit = static_cast<int>(jpegSize(image, 90) / 2);
    int q = fitJpegQuality(&image, limit, 90);
    ASSERT_TRUE(q > 1 && q < 90) << q;
    EXPECT_LE(jpegSize(image, q), limit);
    EXPECT_GT(jpegSize(image, q + 1), limit);
    const std::pair<const char*, int> texts[] = {{"", 0}, {"abc", 0}, {"-5", 0}, {"300", 300 * 1024}, {"1.5", 1024},
        {"2097151", 2097151 * 1024}, {"2097152", 0}, {"99999999999999999999", 0}};  // over an int: no limit
    for (const auto& [text, bytes] : texts) EXPECT_EQ(limitBytes(text), bytes) << '"' << text << '"';
}

TEST(WriteImage, ReplacesWholeOrNotAtAll) {
    Folder folder;
    const std::string file = folder / "a.bmp";
    writeText(file, "old");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(writeImageFile(pattern(8, 8), wx(file)), "");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));  // kept
    EXPECT_NE(writeImageFile(pattern(9, 9), wx(file), [] { return true; }), "");  // abandoned before the rename
    ASSERT_EQ(chmod(folder.dir.c_str(), 0777), 0);  // writable by the other user below
    const pid_t child = fork();
    if (child == 0) {  // a file size limit makes the write itself fail; then write-protected, as another user if root
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{1000, 1000};
        const bool errorSeen = setrlimit(RLIMIT_FSIZE, &small) == 0 && !writeImageFile(pattern(99, 99), wx(file)).empty();
        const bool protectedLeft = chmod(file.c_str(), 0444) == 0 && (geteuid() != 0 || setuid(65534) == 0) &&
                                   !writeImageFile(pattern(9, 9), wx(file)).empty();
        _exit((errorSeen ? 0 : 1) | (protectedLeft ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "1: a write error unnoticed, 2: the protected file replaced";
    EXPECT_EQ(sizeOf(file, wxBITMAP_TYPE_BMP), wxSize(8, 8));          // the file written first
    EXPECT_EQ(namesIn(folder.dir), std::vector<std::string>{"a.bmp"});  // no temporary left
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    wxInitAllImageHandlers();
    return toolkit.IsOk() ? RUN_ALL_TESTS() : 1;
}
