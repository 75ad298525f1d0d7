// One file's conversion: decoding, resizing with the settings given, and
// writing, with the failures that skip a file.
#include "convert_file.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <unistd.h>

using testfiles::Folder;

namespace {

RunSettings pngTo(int width, int height) {
    RunSettings settings;
    settings.typeLabel = wxT("PNG");
    settings.methodLabel = wxT("Lanczos3");
    settings.width = width;
    settings.height = height;
    settings.keepRatio = false;
    settings.suffix = wxT("_res");
    return settings;
}

wxSize sizeOf(const std::string& path) {
    wxImage image;
    if (!image.LoadFile(wxString::FromUTF8(path.c_str()))) return wxSize(-1, -1);
    return image.GetSize();
}

}  // namespace

TEST(ConvertFile, WritesTheReducedImageBesideTheSource) {
    Folder folder;
    testfiles::save(testfiles::pattern(64, 48), folder / "cat.png", wxBITMAP_TYPE_PNG);
    FileOutcome outcome = convertFile(folder.wx("cat.png"), pngTo(32, 24));
    ASSERT_EQ(outcome.kind, FileOutcome::Written) << outcome.reason.utf8_str();
    EXPECT_EQ(outcome.output, folder.wx("cat_res.png"));
    EXPECT_EQ(sizeOf(folder / "cat_res.png"), wxSize(32, 24));
}

TEST(ConvertFile, EveryMethodLabelResizes) {
    Folder folder;
    testfiles::save(testfiles::pattern(90, 60), folder / "a.bmp", wxBITMAP_TYPE_BMP);
    for (const wchar_t* label : {L"Nearest", L"Lanczos3", L"LCD(low)", L"LCD(mid)", L"LCD(hi)", L"LCD(ex)", L"LCD(max)"}) {
        RunSettings settings = pngTo(30, 20);
        settings.methodLabel = label;
        settings.typeLabel = wxT("BMP");
        ASSERT_EQ(convertFile(folder.wx("a.bmp"), settings).kind, FileOutcome::Written) << wxString(label).utf8_str();
        EXPECT_EQ(sizeOf(folder / "a_res.bmp"), wxSize(30, 20)) << wxString(label).utf8_str();
    }
}

TEST(ConvertFile, PercentSizesArePassedAsPercent) {
    Folder folder;
    testfiles::save(testfiles::pattern(64, 48), folder / "cat.png", wxBITMAP_TYPE_PNG);
    RunSettings settings = pngTo(50, 50);
    settings.percent = true;
    ASSERT_EQ(convertFile(folder.wx("cat.png"), settings).kind, FileOutcome::Written);
    EXPECT_EQ(sizeOf(folder / "cat_res.png"), wxSize(32, 24));
}

TEST(ConvertFile, JpegFitsTheSizeLimit) {
    Folder folder;
    testfiles::save(testfiles::pattern(600, 400), folder / "big.png", wxBITMAP_TYPE_PNG);
    RunSettings settings = pngTo(300, 200);
    settings.typeLabel = wxT("JPEG");
    settings.quality = 95;
    settings.limitText = wxT("20");
    ASSERT_EQ(convertFile(folder.wx("big.png"), settings).kind, FileOutcome::Written);
    auto size = std::filesystem::file_size(folder / "big_res.jpg");
    EXPECT_LE(size, 20u * 1024);
    EXPECT_GT(size, 10u * 1024);  // not squeezed far below the limit
}

TEST(ConvertFile, UndecodableFileIsNeitherResizedNorWritten) {
    Folder folder;
    testfiles::writeText(folder / "broken.png", "this is not a picture");
    FileOutcome outcome = convertFile(folder.wx("broken.png"), pngTo(10, 10));
    EXPECT_EQ(outcome.kind, FileOutcome::Failed);
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_EQ(testfiles::namesIn(folder.path()), std::vector<std::string>{"broken.png"});
    EXPECT_EQ(convertFile(folder.wx("gone.png"), pngTo(10, 10)).kind, FileOutcome::Failed);
}

TEST(ConvertFile, SourceIsNeverWrittenOver) {
    Folder folder;
    testfiles::save(testfiles::pattern(64, 48), folder / "cat.png", wxBITMAP_TYPE_PNG);
    const std::string before = testfiles::readAll(folder / "cat.png");
    RunSettings settings = pngTo(32, 24);
    settings.sameFolder = false;
    settings.saveDir = folder.wx() + wxT("/./");
    settings.suffix = wxT("");
    FileOutcome outcome = convertFile(folder.wx("cat.png"), settings);
    ASSERT_EQ(outcome.kind, FileOutcome::Written);
    EXPECT_TRUE(outcome.output.EndsWith(wxT("cat_res.png")));
    EXPECT_EQ(testfiles::readAll(folder / "cat.png"), before);
    EXPECT_EQ(sizeOf(folder / "cat_res.png"), wxSize(32, 24));
}

TEST(ConvertFile, BareFileNameWritesInTheWorkingFolder) {
    Folder folder;
    testfiles::save(testfiles::pattern(64, 48), folder / "cat.png", wxBITMAP_TYPE_PNG);
    char previous[4096];
    ASSERT_TRUE(getcwd(previous, sizeof previous));
    ASSERT_EQ(chdir(folder.path().c_str()), 0);
    FileOutcome outcome = convertFile(wxT("cat.png"), pngTo(32, 24));
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(outcome.kind, FileOutcome::Written);
    EXPECT_EQ(outcome.output, wxT("cat_res.png"));
    EXPECT_EQ(sizeOf(folder / "cat_res.png"), wxSize(32, 24));
}

TEST(ConvertFile, AbandonedFileLeavesNoOutput) {
    Folder folder;
    testfiles::save(testfiles::pattern(64, 48), folder / "cat.png", wxBITMAP_TYPE_PNG);
    ConversionHooks hooks;
    hooks.abandoned = [] { return true; };
    EXPECT_EQ(convertFile(folder.wx("cat.png"), pngTo(32, 24), hooks).kind, FileOutcome::Abandoned);
    EXPECT_EQ(testfiles::namesIn(folder.path()), std::vector<std::string>{"cat.png"});
}
