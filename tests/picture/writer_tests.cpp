// SPDX-License-Identifier: MIT
// Writing outputs: the encoders (the bytes today's files have), the quality search under a size limit, and
// writing a file whole or not at all, also where /proc is missing.
#include "safe_write.h"
#include "size_search.h"
#include "test_files.h"
#include "writer.h"

#include <gtest/gtest.h>
#include <wx/mstream.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace {

CancelToken given() {
    CancelToken token;
    token.request();
    return token;
}

std::vector<char> encoded(const wxImage& image, FileType type, int quality, std::vector<unsigned char> exif = {},
                          const wxString& reason = "", const CancelToken& cancel = {},
                          bool progressive = false) {
    std::vector<char> bytes;
    EncodeOptions options{quality, std::move(exif), cancel};
    options.progressive = progressive;
    EXPECT_EQ(encodePicture({image.GetData(), image.GetWidth(), image.GetHeight()}, type, options, bytes), reason);
    return bytes;
}

std::vector<char> charsOf(const std::string& text) { return std::vector<char>(text.begin(), text.end()); }

// The samples the toolkit's decoder (libjpeg) gives for a JPEG file.
std::string pixelsOf(const std::vector<char>& file) {
    wxMemoryInputStream stream(file.data(), file.size());
    const wxImage image(stream, wxBITMAP_TYPE_JPEG);
    return image.IsOk() ? std::string(image.GetData(), image.GetData() + 3 * image.GetWidth() * image.GetHeight()) : "";
}

// The exit status of body run in a child process, -1 when it did not exit.
int inChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// A JPEG decodes to exactly the pixels of the toolkit writer's file at the same quality, in fewer bytes: Huffman
// tables made for the picture, baseline by default (every reader opens it), progressive when asked. BMP is the
// toolkit's. EXIF goes in one APP1 segment after SOI and JFIF, and is left out beyond what one holds.
TEST(Writers, JpegHasTheToolkitWritersPixelsInFewerBytesAndCarriesExifAfterItsHeader) {
    const wxImage image = pattern(97, 61);
    for (int q : {0, 1, 50, 90, 100}) {
        const auto toolkit = toolkitFile(image, wxBITMAP_TYPE_JPEG, q);
        ASSERT_EQ(pixelsOf(toolkit).size(), 3u * 97 * 61);
        for (bool progressive : {false, true}) {
            SCOPED_TRACE(testing::Message() << "quality " << q << (progressive ? " progressive" : " baseline"));
            const auto ours = encoded(image, FileType::JPEG, q, {}, "", {}, progressive);
            EXPECT_TRUE(pixelsOf(ours) == pixelsOf(toolkit));
            EXPECT_LT(ours.size(), toolkit.size());
            EXPECT_EQ(jpegSegments(ours, 0xC0).size(), progressive ? 0u : 1u);  // SOF0: baseline
            EXPECT_EQ(jpegSegments(ours, 0xC2).size(), progressive ? 1u : 0u);  // SOF2: progressive
            EXPECT_EQ(jpegSegments(ours, 0xDA).size() > 1, progressive);      // scans
            EXPECT_NE(jpegSegments(ours, 0xC4), jpegSegments(toolkit, 0xC4));  // not the standard Huffman tables
        }
    }
    EXPECT_TRUE(encoded(image, FileType::BMP, 90) == toolkitFile(image, wxBITMAP_TYPE_BMP, 90));
    const std::vector<unsigned char> exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};
    const auto plain = encoded(image, FileType::JPEG, 80), tagged = encoded(image, FileType::JPEG, 80, exif);
    const std::string marker = std::string("\xFF\xE1\x00\x16", 4) + std::string("Exif\0\0", 6) +
                               std::string(exif.begin(), exif.end());
    ASSERT_EQ(tagged.size(), plain.size() + marker.size());
    EXPECT_EQ(std::string(tagged.begin() + 20, tagged.begin() + 20 + marker.size()), marker);
    EXPECT_TRUE(std::equal(plain.begin() + 20, plain.end(), tagged.begin() + 20 + marker.size()));
    EXPECT_TRUE(encoded(image, FileType::JPEG, 80, std::vector<unsigned char>(70000, 0)) == plain);
    EXPECT_TRUE(encoded(pattern(64, 300), FileType::JPEG, 80, {}, "abandoned", given()).empty());
}

TEST(SizeSearch, TheHighestQualityWithinTheLimitIsFoundAndTheSearchEnds) {
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
        const int q = fitJpegQuality(c.limit, c.maxQuality, [&](int quality) {
            tried.push_back(quality);
            return quality <= c.fitsUpTo ? 999LL - (c.fitsUpTo - quality) : 1001LL + quality;
        });
        EXPECT_EQ(std::make_pair(q, tried), std::make_pair(c.result, c.tried)) << c.maxQuality << " to " << c.fitsUpTo;
    }
    // With a lowest quality: 0 when the limit needs less, each quality encoded once.
    const struct { int maxQuality, lowest, fitsUpTo, result; std::vector<int> tried; } floors[] = {
        {90, 60, 59, 0, {90, 60}}, {90, 60, 90, 90, {90}}, {90, 90, 89, 0, {90}}, {50, 60, 40, 0, {50}},
        {90, 60, 61, 61, {90, 60, 45, 67, 56, 61, 63, 62}},  // the walk itself, 90 and 60 known
        {90, 1, 59, 59, {90, 45, 67, 56, 61, 59, 60, 59}},   // 1: the walk as it was
    };
    for (const auto& c : floors) {
        std::vector<int> tried;
        const int q = fitQualityAtLeast(1000, c.maxQuality, c.lowest, [&](int quality) {
            tried.push_back(quality);
            return quality <= c.fitsUpTo ? 999LL - (c.fitsUpTo - quality) : 1001LL + quality;
        });
        EXPECT_EQ(std::make_pair(q, tried), std::make_pair(c.result, c.tried)) << c.lowest << " to " << c.fitsUpTo;
    }
    int tries = 0;  // fitting sizes that shrink as the quality grows: the walk would swing between 60 and 61
    EXPECT_EQ(fitJpegQuality(1000, 90, [&](int q) { return ++tries, q <= 60 ? 900LL - q : 2000LL; }), 60);
    EXPECT_LE(tries, 20);
}

TEST(SafeWrite, ReplacesWholeOrNotAtAll) {
    Folder folder;
    const std::string file = folder / "a.bmp";
    writeText(file, "old");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(writeFileAtomically(charsOf("first"), wx(file)), "");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));  // kept
    EXPECT_EQ(writeFileAtomically(charsOf("second"), wx(file), given()), "abandoned");
    ASSERT_EQ(chmod(folder.dir.c_str(), 0777), 0);  // writable by the other user below
    EXPECT_EQ(inChild([&] {  // a file size limit makes the write itself fail; then write-protected, as another user
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{1000, 1000};
        const bool errorSeen = setrlimit(RLIMIT_FSIZE, &small) == 0 &&
                               !writeFileAtomically(std::vector<char>(5000, 'x'), wx(file)).empty();
        // Only the effective user changes: the real one may still be root.
        const bool protectedLeft = chmod(file.c_str(), 0444) == 0 && (geteuid() != 0 || seteuid(65534) == 0) &&
                                   !writeFileAtomically(charsOf("third"), wx(file)).empty();
        return (errorSeen ? 0 : 1) | (protectedLeft ? 0 : 2);
    }), 0) << "1: a write error unnoticed, 2: the protected file replaced";
    EXPECT_EQ(readFile(file), "first");
    EXPECT_EQ(namesIn(folder.dir), std::vector<std::string>{"a.bmp"});  // no temporary left
}

// Killed before the new file is named: nothing is left where the file system has unnamed files; without /proc
// they could never be named, so a hidden file is used (and left) instead.
TEST(SafeWrite, AKilledWriterLeavesNothingBehindWhereItCanAndWritesWithoutProc) {
    const auto killedWhileWriting = [](const Folder& folder) {
        int ready[2];
        if (pipe(ready) != 0) return -1;
        const pid_t writer = fork();
        if (writer == 0) {
            writeFileAtomically(charsOf("new"), wx(folder / "b.bmp"), {}, [&] {
                return write(ready[1], "x", 1), pause(), true;
            });
            _exit(0);
        }
        char byte;
        const bool started = read(ready[0], &byte, 1) == 1;
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        close(ready[0]), close(ready[1]);
        return started ? static_cast<int>(namesIn(folder.dir).size()) : -1;
    };
    Folder withProc, noProc;
    EXPECT_EQ(killedWhileWriting(withProc), 0);
    const int status = inChild([&] {  // /proc an empty folder, as in a chroot: 99 where that needs root
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            return 99;
        if (!writeFileAtomically(charsOf("written"), wx(noProc / "c.bmp")).empty()) return 1;
        return killedWhileWriting(noProc) == 2 ? 0 : 2;  // c.bmp and the hidden file
    });
    if (status == 99) GTEST_SKIP() << "cannot hide /proc here (needs root)";
    EXPECT_EQ(status, 0) << "1: the write failed, 2: the hidden file was not used";
    EXPECT_EQ(readFile(noProc / "c.bmp"), "written");
}
