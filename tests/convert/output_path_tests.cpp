// Output names: beside the source with a suffix, in another folder, and the
// rule that keeps a file from being written over its own source.
#include "output_path.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

using testfiles::Folder;

namespace {

OutputNaming sameFolder(const wxString& suffix, const wxString& extension) {
    OutputNaming naming;
    naming.sameFolder = true;
    naming.suffix = suffix;
    naming.extension = extension;
    return naming;
}

OutputNaming otherFolder(const wxString& dir, const wxString& suffix, const wxString& extension) {
    OutputNaming naming;
    naming.sameFolder = false;
    naming.saveDir = dir;
    naming.suffix = suffix;
    naming.extension = extension;
    return naming;
}

wxString pathFor(const wxString& source, const OutputNaming& naming) {
    OutputPath output = outputPathFor(source, naming);
    EXPECT_TRUE(output.error.empty()) << output.error.utf8_str();
    return output.path;
}

}  // namespace

TEST(OutputPath, FileTypeLabelsGiveTheirExtensions) {
    EXPECT_EQ(extensionForType(wxT("JPEG")), wxT(".jpg"));
    EXPECT_EQ(extensionForType(wxT("PNG")), wxT(".png"));
    EXPECT_EQ(extensionForType(wxT("BMP")), wxT(".bmp"));
    EXPECT_EQ(extensionForType(wxT("jpeg")), wxT(""));
}

TEST(OutputPath, SameFolderAddsTheSuffixBesideTheSource) {
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), sameFolder(wxT("_res"), wxT(".png"))), wxT("/photos/cat_res.png"));
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), sameFolder(wxT("_res"), wxT(".jpg"))), wxT("/photos/cat_res.jpg"));
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), sameFolder(wxT("_res"), wxT(".bmp"))), wxT("/photos/cat_res.bmp"));
    EXPECT_EQ(pathFor(wxT("/photos/a.b.png"), sameFolder(wxT("_res"), wxT(".png"))), wxT("/photos/a.b_res.png"));
    EXPECT_EQ(pathFor(wxT("/cat.png"), sameFolder(wxT("_res"), wxT(".png"))), wxT("/cat_res.png"));
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), sameFolder(wxT("   "), wxT(".png"))), wxT("/photos/cat   .png"));
}

TEST(OutputPath, BareFileNameStaysInTheWorkingFolder) {
    EXPECT_EQ(pathFor(wxT("cat.png"), sameFolder(wxT("_res"), wxT(".png"))), wxT("cat_res.png"));
}

TEST(OutputPath, OtherFolderTakesNoSuffix) {
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), otherFolder(wxT("/out"), wxT("_res"), wxT(".jpg"))), wxT("/out/cat.jpg"));
    // The folder is used as typed.
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), otherFolder(wxT("/out/"), wxT("_res"), wxT(".jpg"))), wxT("/out//cat.jpg"));
}

TEST(OutputPath, EmptyOtherFolderGivesNoPath) {
    OutputPath output = outputPathFor(wxT("/photos/cat.png"), otherFolder(wxT(""), wxT("_res"), wxT(".png")));
    EXPECT_TRUE(output.path.empty());
    EXPECT_FALSE(output.error.empty());
}

TEST(OutputPath, OtherFolderNamingTheSourcesFolderAddsTheSuffix) {
    // Textual matches need no files.
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), otherFolder(wxT("/photos"), wxT("_res"), wxT(".png"))), wxT("/photos/cat_res.png"));
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), otherFolder(wxT("/photos"), wxT(""), wxT(".png"))), wxT("/photos/cat_res.png"));
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), otherFolder(wxT("/photos"), wxT("-small"), wxT(".png"))), wxT("/photos/cat-small.png"));
    // Another letter case is another file here.
    EXPECT_EQ(pathFor(wxT("/photos/cat.PNG"), otherFolder(wxT("/photos"), wxT("_res"), wxT(".png"))), wxT("/photos/cat.png"));
}

TEST(OutputPath, SourceIsRecognisedInOtherForms) {
    Folder folder;
    testfiles::writeText(folder / "cat.png", "source");
    ASSERT_EQ(mkdir((folder / "sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(folder.path().c_str(), (folder / "link").c_str()), 0);
    const wxString source = folder.wx("cat.png");
    const wxString forms[] = {folder.wx() + wxT("/"), folder.wx() + wxT("/."), folder.wx("sub") + wxT("/.."),
                              folder.wx("link")};
    for (const wxString& dir : forms) {
        wxString path = pathFor(source, otherFolder(dir, wxT("_res"), wxT(".png")));
        EXPECT_TRUE(path.EndsWith(wxT("/cat_res.png"))) << dir.utf8_str() << " -> " << path.utf8_str();
    }
}

TEST(OutputPath, HardLinkedSourceIsRecognised) {
    Folder in, out;
    testfiles::writeText(in / "cat.png", "source");
    ASSERT_EQ(link((in / "cat.png").c_str(), (out / "cat.png").c_str()), 0);
    EXPECT_EQ(pathFor(in.wx("cat.png"), otherFolder(out.wx(), wxT("_res"), wxT(".png"))), out.wx("cat_res.png"));
}

TEST(OutputPath, SameFolderWithoutSuffixStaysBesideTheSource) {
    // The suffix can be emptied while a run goes on: the rule still keeps
    // the output beside its source, not at the file system's root.
    EXPECT_EQ(pathFor(wxT("/photos/cat.png"), sameFolder(wxT(""), wxT(".png"))), wxT("/photos/cat_res.png"));
}

TEST(OutputPath, NoPathWhenEveryCandidateIsTheSource) {
    Folder folder;
    testfiles::writeText(folder / "cat.png", "source");
    ASSERT_EQ(symlink("cat.png", (folder / "cat_res.png").c_str()), 0);
    OutputPath output = outputPathFor(folder.wx("cat.png"), sameFolder(wxT("_res"), wxT(".png")));
    EXPECT_TRUE(output.path.empty());
    EXPECT_FALSE(output.error.empty());
}
