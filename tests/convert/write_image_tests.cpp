// Writing files: the right format and options, and a file that appears
// complete or not at all.
#include "test_files.h"
#include "write_image.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using testfiles::Folder;

TEST(WriteImage, WritesTheFormatOfTheExtension) {
    Folder folder;
    wxImage image = testfiles::pattern(40, 30);
    const std::pair<const char*, wxBitmapType> cases[] = {
        {"a.png", wxBITMAP_TYPE_PNG}, {"a.jpg", wxBITMAP_TYPE_JPEG}, {"a.bmp", wxBITMAP_TYPE_BMP}, {"b.PNG", wxBITMAP_TYPE_PNG}};
    for (const auto& [name, type] : cases) {
        EXPECT_EQ(writeImageFile(image, folder.wx(name)), wxT("")) << name;
        wxImage back;
        EXPECT_TRUE(back.LoadFile(folder.wx(name), type)) << name;
        EXPECT_EQ(back.GetWidth(), 40);
    }
    EXPECT_EQ(testfiles::namesIn(folder.path()), (std::vector<std::string>{"a.bmp", "a.jpg", "a.png", "b.PNG"}));
}

TEST(WriteImage, JpegUsesTheQualityOption) {
    Folder folder;
    wxImage image = testfiles::pattern(200, 150);
    image.SetOption(wxIMAGE_OPTION_QUALITY, 10);
    ASSERT_EQ(writeImageFile(image, folder.wx("low.jpg")), wxT(""));
    image.SetOption(wxIMAGE_OPTION_QUALITY, 95);
    ASSERT_EQ(writeImageFile(image, folder.wx("high.jpg")), wxT(""));
    EXPECT_LT(std::filesystem::file_size(folder / "low.jpg") * 2, std::filesystem::file_size(folder / "high.jpg"));
}

TEST(WriteImage, ReplacesAnExistingFileKeepingItsPermissions) {
    Folder folder;
    testfiles::writeText(folder / "a.png", "old");
    ASSERT_EQ(chmod((folder / "a.png").c_str(), 0640), 0);
    ASSERT_EQ(writeImageFile(testfiles::pattern(8, 8), folder.wx("a.png")), wxT(""));
    EXPECT_NE(testfiles::readAll(folder / "a.png"), "old");
    struct stat written;
    ASSERT_EQ(stat((folder / "a.png").c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 0777, 0640u);
    EXPECT_EQ(testfiles::namesIn(folder.path()), std::vector<std::string>{"a.png"});
}

TEST(WriteImage, FailedWritesLeaveTheOldFileAndNoTemporary) {
    Folder folder;
    const std::string old(5000, 'x');
    testfiles::writeText(folder / "a.bmp", old);
    // A file size limit makes the write itself fail, even for root.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    wxString reason = writeImageFile(testfiles::pattern(100, 100), folder.wx("a.bmp"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_NE(reason, wxT(""));
    EXPECT_EQ(testfiles::readAll(folder / "a.bmp"), old);
    EXPECT_EQ(testfiles::namesIn(folder.path()), std::vector<std::string>{"a.bmp"});
}

TEST(WriteImage, OtherFailuresAreReportedAndLeaveNothing) {
    Folder folder;
    testfiles::writeText(folder / "a.png", "old");
    // Not an image: nothing to encode.
    EXPECT_NE(writeImageFile(wxImage(), folder.wx("a.png")), wxT(""));
    // No writer for the extension.
    EXPECT_NE(writeImageFile(testfiles::pattern(8, 8), folder.wx("a.xyz")), wxT(""));
    // A missing folder.
    EXPECT_NE(writeImageFile(testfiles::pattern(8, 8), folder.wx("missing/a.png")), wxT(""));
    // Abandoned before the file was put in place.
    EXPECT_NE(writeImageFile(testfiles::pattern(8, 8), folder.wx("a.png"), [] { return true; }), wxT(""));
    EXPECT_EQ(testfiles::readAll(folder / "a.png"), "old");
    EXPECT_EQ(testfiles::namesIn(folder.path()), std::vector<std::string>{"a.png"});
}
