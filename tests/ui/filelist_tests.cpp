// The file list: drops, the image-file test, folder walks, duplicates,
// clearing and the command line, against a real window under Xvfb.
#include "commandline.h"
#include "guitest.h"
#include "pixloomFrame.h"

#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/strconv.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct FrameProbe {
    explicit FrameProbe(pixloomFrame& frame) : frame(frame), list(frame.lstFiles) {}

    bool drop(const wxArrayString& paths) {
        auto* target = dynamic_cast<wxFileDropTarget*>(frame.GetDropTarget());
        return target && target->OnDropFiles(10, 10, paths);
    }

    void clickClear() {
        wxCommandEvent click(wxEVT_BUTTON, frame.btnClearList->GetId());
        click.SetEventObject(frame.btnClearList);
        frame.btnClearList->ProcessWindowEvent(click);
    }

    pixloomFrame& frame;
    wxListBox* list;
};

namespace {

// A path as the toolkit hands it over: bytes decoded as a file name.
wxString fileName(const std::string& bytes) { return wxString(bytes.c_str(), *wxConvFileName); }

std::string bytesOf(const wxString& name) {
    const wxCharBuffer buffer = wxConvFileName->cWX2MB(name.wc_str());
    return buffer.data() ? std::string(buffer.data()) : std::string("<unconvertible>");
}

wxArrayString pathArray(const std::vector<std::string>& paths) {
    wxArrayString array;
    for (const std::string& path : paths) array.Add(fileName(path));
    return array;
}

std::vector<std::string> entries(const wxListBox* list) {
    std::vector<std::string> result;
    for (unsigned i = 0; i < list->GetCount(); ++i) result.push_back(bytesOf(list->GetString(i)));
    return result;
}

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::clearShownDialogs();
        setCommandLineArguments(0, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(guitest::destroyAllWindows());
        setCommandLineArguments(0, nullptr);
    }

    FrameProbe makeFrame() { return FrameProbe(*new pixloomFrame(nullptr)); }

    bool drop(FrameProbe& frame, const std::vector<std::string>& paths) {
        return frame.drop(pathArray(paths));
    }

    guitest::TempHome home;  // set before any frame reads its settings
    guitest::TempDir dir;
};

TEST_F(FileListTest, AFileDroppedAgainOrInAnotherCaseIsListedOnce) {
    for (const char* name : {"x/a.png", "x/A.png", "b.png"}) touch(dir / name);
    FrameProbe frame = makeFrame();

    EXPECT_TRUE(drop(frame, {dir / "x/a.png"}));
    EXPECT_TRUE(drop(frame, {dir / "x/a.png"}));
    EXPECT_TRUE(drop(frame, {dir / "x/A.png"}));  // another file, but the same name ignoring case
    EXPECT_TRUE(drop(frame, {dir / "b.png", dir / "B.PNG", dir / "b.png"}));
    EXPECT_TRUE(drop(frame, {dir / "missing.png", dir / "x"}));  // nothing new: still taken

    EXPECT_EQ(entries(frame.list), (std::vector<std::string>{dir / "x/a.png", dir / "b.png"}));
}

TEST_F(FileListTest, ImageFilesAreKnownByExtensionAndMustBeRegularFiles) {
    for (const char* name : {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp",
                             "photo.jpeg", "scan.tif", "README", ".png", "v1.png/README", "ok.d/x.png"})
        touch(dir / name);
    fs::create_directory_symlink(dir / "v1.png", dir / "folder-link.png");
    fs::create_symlink(dir / "old.bmp", dir / "link.bmp");
    fs::create_symlink(dir / "nowhere.png", dir / "dangling.png");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);

    for (const char* name : {"photo.PNG", "photo.Jpg", "scan.tiff", "anim.GIF", "old.bmp", "link.bmp",
                             "ok.d/x.png"})
        EXPECT_TRUE(pixloomFrame::isImageFile(fileName(dir / name))) << name;
    for (const char* name : {"photo.jpeg", "scan.tif", "README", ".png", "v1.png", "v1.png/README",
                             "folder-link.png", "dangling.png", "pipe.png", "missing.png"})
        EXPECT_FALSE(pixloomFrame::isImageFile(fileName(dir / name))) << name;
}

TEST_F(FileListTest, AFolderListsSubFoldersFirstAndSkipsHiddenEntries) {
    const std::string folder = dir / "pics.png";  // a folder, whatever its name
    for (const char* name : {"a.png", "notes.txt", ".hidden.png", ".cache/c.png", "sub/b.jpg",
                             "sub/deeper/d.gif"})
        touch(folder + "/" + name);
    FrameProbe frame = makeFrame();

    EXPECT_TRUE(drop(frame, {folder}));
    const std::vector<std::string> walked{folder + "/sub/deeper/d.gif", folder + "/sub/b.jpg",
                                          folder + "/a.png"};
    EXPECT_EQ(entries(frame.list), walked);
    EXPECT_TRUE(drop(frame, {folder, folder + "/"}));  // the same folder again adds nothing
    EXPECT_EQ(entries(frame.list), walked);

    frame.clickClear();
    EXPECT_TRUE(drop(frame, {folder + "//"}));  // no doubled separator in the entries
    EXPECT_EQ(entries(frame.list), walked);
}

TEST_F(FileListTest, AMixedDropIsListedInDropOrder) {
    for (const char* name : {"x.png", "folder/a.png", "folder/sub/b.jpg", "y.bmp"}) touch(dir / name);
    FrameProbe frame = makeFrame();

    EXPECT_TRUE(drop(frame, {dir / "x.png", dir / "folder", dir / "y.bmp", dir / "folder/a.png"}));
    EXPECT_EQ(entries(frame.list), (std::vector<std::string>{dir / "x.png", dir / "folder/sub/b.jpg",
                                                             dir / "folder/a.png", dir / "y.bmp"}));
}

TEST_F(FileListTest, SymbolicLinksNeitherLoopNorListAFileTwice) {
    const std::string root = dir / "root";
    for (const char* name : {"root/a.png", "root/sub/b.png", "elsewhere/c.png"}) touch(dir / name);
    fs::create_directory_symlink("..", root + "/sub/up");
    fs::create_directory_symlink(".", root + "/sub/self");
    fs::create_directory_symlink(root, root + "/sub/again");
    fs::create_directory_symlink(root + "/sub", root + "/twin");
    fs::create_directory_symlink(dir / "elsewhere", root + "/outside");
    fs::create_symlink("nowhere", root + "/dangling.png");
    FrameProbe frame = makeFrame();

    EXPECT_TRUE(drop(frame, {root}));
    const std::vector<std::string> listed = entries(frame.list);
    // Each folder is entered once, by whichever road the walk meets first.
    ASSERT_EQ(listed.size(), 3u);
    std::set<std::string> names;
    for (const std::string& entry : listed) names.insert(fs::path(entry).filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_EQ(listed.back(), root + "/a.png");  // the root's own file after its sub-folders
    EXPECT_TRUE(drop(frame, {root + "/sub"}));  // a folder entered through a link lists what it holds
}

TEST_F(FileListTest, TwentyThousandFilesFromOneFolderAreListedQuickly) {
    const std::string root = dir / "many";
    for (int folder = 0; folder < 20; ++folder) {
        const std::string sub = root + "/d" + std::to_string(folder);
        fs::create_directories(sub);
        for (int file = 0; file < 1000; ++file) std::ofstream(sub + "/f" + std::to_string(file) + ".png");
    }
    std::ofstream(root + "/notes.txt");
    FrameProbe frame = makeFrame();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    EXPECT_TRUE(drop(frame, {root}));
    const std::chrono::duration<double> first = Clock::now() - start;
    EXPECT_TRUE(drop(frame, {root}));
    const std::chrono::duration<double> again = Clock::now() - start - first;
    std::printf("20000 files: first drop %.3f s, same folder again %.3f s\n", first.count(),
                again.count());

    const std::vector<std::string> listed = entries(frame.list);
    ASSERT_EQ(listed.size(), 20000u);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), 20000u);
    // Each sub-folder's files come together.
    std::set<std::string> finished;
    for (size_t i = 1; i < listed.size(); ++i) {
        const std::string before = fs::path(listed[i - 1]).parent_path(), now = fs::path(listed[i]).parent_path();
        if (before != now) {
            EXPECT_TRUE(finished.insert(before).second) << before << " comes back";
        }
    }
    EXPECT_LT(first.count() + again.count(), 5.0);
}

TEST_F(FileListTest, NamesThatAreNotValidTextAndJapaneseNamesAreListedAsTheyAre) {
    const std::string folder = dir / "写真";
    const std::string latin1 = folder + "/caf\xe9.png", japanese = folder + "/猫.png",
                      nested = folder + "/フォルダ/画像.JPG";
    for (const std::string& name : {latin1, japanese, nested}) touch(name);
    FrameProbe frame = makeFrame();

    EXPECT_TRUE(drop(frame, {folder, latin1}));
    const std::vector<std::string> listed = entries(frame.list);
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
              (std::set<std::string>{latin1, japanese, nested}));
    for (unsigned i = 0; i < frame.list->GetCount(); ++i)
        EXPECT_TRUE(wxFileExists(frame.list->GetString(i))) << listed[i];
    // Valid names show as the text they are.
    EXPECT_NE(frame.list->FindString(wxString::FromUTF8(japanese.c_str()), true), wxNOT_FOUND);
    EXPECT_NE(frame.list->FindString(wxString::FromUTF8(nested.c_str()), true), wxNOT_FOUND);
}

TEST_F(FileListTest, DuplicatesAreFoundAsTheListBoxFindsThem) {
    // The drop's case-insensitive check must agree with the list box's own.
    const std::vector<std::string> listed{"Photo.PNG", "ÉCOLE.png", "Straße.png", "写真.png"};
    const std::vector<std::string> offered{"photo.png", "PHOTO.png", "école.png", "ÉCOLE.PNG",
                                           "STRASSE.png", "straße.PNG", "写真.PNG"};
    for (const std::string& name : listed) touch(dir / name);
    for (const std::string& name : offered) touch(dir / name);
    FrameProbe frame = makeFrame();
    std::vector<std::string> listedPaths;
    for (const std::string& name : listed) listedPaths.push_back(dir / name);
    drop(frame, listedPaths);

    for (const std::string& name : offered) {
        const wxString path = fileName(dir / name);
        const bool foundByListBox = frame.list->FindString(path) != wxNOT_FOUND;
        const unsigned before = frame.list->GetCount();
        drop(frame, {dir / name});
        EXPECT_EQ(frame.list->GetCount() == before, foundByListBox) << name;
        if (frame.list->GetCount() != before) frame.frame.removeListEntry(path);
    }
}

TEST_F(FileListTest, ClearingAndRemovingKeepTheDuplicateCheckInStep) {
    for (const char* name : {"a.png", "b.png", "c.png"}) touch(dir / name);
    const std::vector<std::string> all{dir / "a.png", dir / "b.png", dir / "c.png"};
    FrameProbe frame = makeFrame();

    frame.clickClear();  // an empty list stays empty
    EXPECT_EQ(frame.list->GetCount(), 0u);
    drop(frame, all);
    frame.clickClear();
    EXPECT_EQ(frame.list->GetCount(), 0u);
    drop(frame, all);  // cleared files can be listed again
    EXPECT_EQ(entries(frame.list), all);

    EXPECT_FALSE(frame.frame.removeListEntry(fileName(dir / "A.png")));  // exact text only
    EXPECT_TRUE(frame.frame.removeListEntry(fileName(dir / "a.png")));
    EXPECT_FALSE(frame.frame.removeListEntry(fileName(dir / "a.png")));
    EXPECT_TRUE(frame.frame.removeListEntry(fileName(dir / "c.png")));
    drop(frame, all);
    EXPECT_EQ(entries(frame.list), (std::vector<std::string>{dir / "b.png", dir / "a.png", dir / "c.png"}));

    frame.list->Delete(0);  // an entry removed behind the list's back
    drop(frame, all);
    EXPECT_EQ(entries(frame.list), (std::vector<std::string>{dir / "a.png", dir / "c.png", dir / "b.png"}));
}

}  // namespace
