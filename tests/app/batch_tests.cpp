// SPDX-License-Identifier: MIT
// pixloom-batch as a user runs it, with no display: usage errors, options over the saved settings, exact
// outputs, the JPEG options, failures, Ctrl-C.
#include "image.h"
#include "picture.h"
#include "pixloom_version.h"
#include "test_files.h"
#include "test_pictures.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

namespace {

struct Result {
    int status;
    std::string errors;  // standard error
};

// Runs the program in folder with HOME there; interrupt, if any, gets the program's process id while it runs.
Result batch(const Folder& folder, const std::vector<std::string>& arguments,
             const std::function<void(pid_t)>& interrupt = nullptr) {
    const std::string errors = folder / ".stderr";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.dir.c_str()) != 0) _exit(99);
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        setenv("HOME", folder.dir.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(PIXLOOM_BATCH)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(PIXLOOM_BATCH, argv.data());
        _exit(98);
    }
    if (interrupt) interrupt(child);
    int status = 0;
    waitpid(child, &status, 0);
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(errors)};
    std::filesystem::remove(errors);
    return result;
}

}  // namespace

TEST(Batch, UsageErrorsWriteNothingAndSayWhatIsWrong) {
    Folder folder;
    ASSERT_TRUE(pattern(64, 48).SaveFile(wx(folder / "a.png")));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no files or folders given"}, {{"--bogus", "a.png"}, "'bogus'"}, {{"--suffix", "", "a.png"}, "--suffix"},
        {{"--size", "10y4", "a.png"}, "--size"}, {{"--size", "0x10", "a.png"}, "--size"},
        {{"--quality", "0", "a.png"}, "--quality"}, {{"--limit", "-1", "a.png"}, "--limit"},
        {{"--method", "bicubic", "a.png"}, "--method"}, {{"--type", "gif", "a.png"}, "--type"},
        {{"--pixels", "--percent", "a.png"}, "--pixels and --percent"},
        {{"--fit", "--stretch", "a.png"}, "--fit and --stretch"},
        {{"--min-quality", "0", "a.png"}, "--min-quality"},
        {{"--progressive", "--baseline", "a.png"}, "--progressive and --baseline"},
        {{"--out", "nowhere", "a.png"}, "no such folder: nowhere"},
        {{"--suffix", "_x", "--out", ".", "a.png"}, "--suffix with --out needs {w}, {h} or {size}"},
        {{"--keep-tree", "a.png"}, "--keep-tree wants --out DIR"},
        {{"--size", "9x9", "--size", "8x8", "a.png"}, "--size 9x9 and 8x8 would write the same names"},
        {{"--size", "9x9", "--size", "9x9", "--suffix", "_{size}", "a.png"}, "--size 9x9 and 9x9"},
        {{"--size", "9x8", "--size", "9x9", "--suffix", "_{w}", "a.png"}, "--size 9x8 and 9x9"},
        {{"--size", "9x9", "--size", "x", "--suffix", "_{w}", "a.png"}, "--size wants"},
        {{"--linear", "--no-linear", "a.png"}, "--linear and --no-linear"},
    };
    for (const auto& [arguments, named] : cases) {
        const Result result = batch(folder, arguments);
        EXPECT_EQ(result.status, 2) << named;
        EXPECT_NE(result.errors.find(named), std::string::npos) << result.errors;
        EXPECT_EQ(namesIn(folder.dir), std::vector<std::string>{"a.png"}) << named;
    }
    EXPECT_EQ(batch(folder, {"--help"}).status, 0);
    EXPECT_EQ(batch(folder, {"--version"}).status, 0);
}

TEST(Batch, OptionsOverrideTheSavedSettingsOneByOne) {
    Folder folder;
    std::filesystem::create_directory(folder / "out");
    std::filesystem::create_directory(folder / "写真");
    ASSERT_TRUE(pattern(400, 300).SaveFile(wx(folder / "a.png")));
    writeText(folder / ".pixloom", "[Size]\noptSize=Other\nspnWidth=50\nspnHeight=50\nselUnits=%\nchkFixRatio=1\n"
                                   "[Method]\noptMethod=Lanczos3\n[Filetype]\noptFiletype=JPEG\nspnQuality=70\n"
                                   "[Saveto]\noptDst=Other Folder\ntxtSaveDir=" + folder / "out" + "\n");
    const std::string settings = readFile(folder / ".pixloom");
    const struct { std::vector<std::string> options; std::string output; wxSize size; } cases[] = {
        {{}, "out/a.jpg", {200, 150}},                                   // what the window would do
        {{"--type", "PNG", "--suffix", "_s"}, "a_s.png", {200, 150}},    // beside the source, still 50 %
        {{"--size", "100X100", "--pixels", "--type", "bmp"}, "out/a.bmp", {100, 75}},
        {{"--size", "100x100", "--pixels", "--stretch", "--type", "bmp"}, "out/a.bmp", {100, 100}},
        {{"--out=写真", "--type=png"}, "写真/a.png", {200, 150}},  // values beyond ASCII, after "="
        {{"--suffix=_縮小", "--type=png"}, "a_縮小.png", {200, 150}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.options;
        arguments.push_back("a.png");
        const Result result = batch(folder, arguments);
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(sizeOf(folder / c.output), c.size) << c.output;
    }
    EXPECT_EQ(readFile(folder / ".pixloom"), settings);  // never written
}

TEST(Batch, OutputsAreTheEnginesSampleForSampleInNameOrderAndFailuresAreReported) {
    Folder folder;
    for (const char* name : {"img10.png", "img2.png", "sub/b.png"})
        ASSERT_TRUE(pattern(300, 200, static_cast<unsigned>(std::strlen(name))).SaveFile(wx(folder.made(name))));
    writeText(folder / "broken.png", "not a picture");
    const Result result =
        batch(folder, {"--method", "LCD(max)", "--size", "90x90", "--type", "png", ".", "missing.png"});
    EXPECT_EQ(result.status, 1);
    for (const char* told : {"broken.png: unknown image data format", "missing.png: no such file or folder",
                             "3 of 4 files written, 2 failed"})
        EXPECT_NE(result.errors.find(told), std::string::npos) << result.errors;
    ASSERT_EQ(batch(folder, {"--method", "lcd-max", "--size", "90x90", "--linear", "--suffix", "_lin", "img2.png"}).status,
              0);
    for (auto [name, suffix] : {std::pair{"img10", "_res"}, {"img2", "_res"}, {"sub/b", "_res"}, {"img2", "_lin"}}) {
        Image expected(wx(folder / (std::string(name) + ".png")), 0);
        expected.lcdSetting(6);
        expected.linearSetting(suffix == std::string("_lin"));
        ASSERT_TRUE(expected.resize(90, 90, true, false));
        const wxImage written(wx(folder / (std::string(name) + suffix + ".png")));
        ASSERT_TRUE(written.IsOk()) << name;
        ASSERT_EQ(written.GetSize(), wxSize(expected.getWidth(), expected.getHeight()));
        EXPECT_EQ(std::memcmp(written.GetData(), expected.pixelData(), 3u * 90 * 60), 0) << name;
    }
    ASSERT_TRUE(pattern(300, 200).SaveFile(wx(folder / "cut.jpg")));  // damaged: written, counted apart
    std::filesystem::resize_file(folder / "cut.jpg", std::filesystem::file_size(folder / "cut.jpg") / 2);
    const Result missed =
        batch(folder, {"--type", "jpeg", "--limit", "1", "--size", "600x400", "img10.png", "cut.jpg"});
    EXPECT_EQ(missed.status, 1);
    EXPECT_TRUE(std::filesystem::exists(folder / "cut_res.jpg"));
    for (const char* told : {"img10.png: ", "at quality 1, over the 1 KB limit",
                             "cut.jpg: damaged JPEG data: converted as far as it could be read; ",
                             "2 of 2 files written, 2 over its size limit, 1 from damaged data, in"})
        EXPECT_NE(missed.errors.find(told), std::string::npos) << missed.errors;
}

// The luminance quantisation table (8-bit, table 0): at a higher quality no entry is larger.
std::string jpegLumaTable(const std::vector<char>& bytes) {
    for (const std::string& table : jpegSegments(bytes, 0xDB))
        for (std::size_t i = 0; i + 65 <= table.size(); i += 65)
            if (table[i] == 0) return table.substr(i + 1, 64);
    return {};
}

// --progressive reaches the file (its coding and pixels: the writers' tests); under a limit, a picture that needs
// less than --min-quality is written smaller, within the limit, at that quality or more.
TEST(Batch, ProgressiveAndALowestQualityReachTheFile) {
    Folder folder;
    ASSERT_TRUE(pattern(1200, 900).SaveFile(wx(folder / "a.png")));
    const Result result = batch(folder, {"--type", "jpeg", "--quality", "90", "--size", "1000x1000", "--progressive",
                                         "--min-quality", "60", "--limit", "50", "a.png"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_NE(result.errors.find("a.png: written at "), std::string::npos) << result.errors;
    const std::string text = readFile(folder / "a_res.jpg");
    const std::vector<char> file(text.begin(), text.end());
    EXPECT_EQ(jpegSegments(file, 0xC2).size(), 1u);  // SOF2: progressive
    EXPECT_LE(file.size(), 50u * 1024);
    const wxSize size = sizeOf(folder / "a_res.jpg");
    EXPECT_TRUE(size.x < 1000 && size.x > 16 && std::abs(size.x * 3 - size.y * 4) < 4) << size.x << "x" << size.y;
    const auto toolkitTable = [](int quality) {  // at a quality
        return jpegLumaTable(toolkitFile(pattern(64, 48), wxBITMAP_TYPE_JPEG, quality));
    };
    const std::string written = jpegLumaTable(file), at60 = toolkitTable(60);
    ASSERT_EQ(written.size(), 64u);
    for (std::size_t i = 0; i < 64; ++i)  // a higher quality quantises no coefficient more coarsely
        EXPECT_LE(static_cast<unsigned char>(written[i]), static_cast<unsigned char>(at60[i])) << i;
    EXPECT_NE(written, toolkitTable(59));
}

// Once the first file is written: Ctrl-C during the second, once or twice.
TEST(Batch, CtrlCGivesUpTheFileInProgressAtOnceAndWritesNothingOfIt) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "pictures this large take minutes under the sanitizers";
#endif
    for (int presses : {1, 2}) {
        SCOPED_TRACE(presses);
        Folder folder;
        ASSERT_TRUE(pattern(64, 48).SaveFile(wx(folder / "a.png")));
        ASSERT_TRUE(pattern(1600, 1200).SaveFile(wx(folder / "b.png")));  // its output takes a while
        ASSERT_TRUE(pattern(64, 48).SaveFile(wx(folder / "c.png")));
        const auto untilTold = [&](const std::function<bool()>& condition) {
            while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        const auto interrupt = [&](pid_t program) {
            untilTold([&] { return std::filesystem::exists(folder / "a_res.png"); });
            kill(program, SIGINT);
            if (presses == 1) return;
            untilTold([&] { return readFile(folder / ".stderr").find("interrupted") != std::string::npos; });
            kill(program, SIGINT);
        };
        const Result result = batch(folder, {"--size", "300x300", "--percent", "--stretch", "--method", "lanczos3",
                                             "--type", "png", "a.png", "b.png", "c.png"}, interrupt);
        EXPECT_EQ(result.status, 130) << result.errors;
        EXPECT_NE(result.errors.find("pixloom-batch: b.png: interrupted: this file will not be written\n"),
                  std::string::npos) << result.errors;
        // A second press ends the program at once, if it is still giving the file up: maybe with no summary.
        EXPECT_TRUE(presses == 2 || result.errors.find("1 of 3 files written, in") != std::string::npos)
            << result.errors;
        const std::vector<std::string> written{"a.png", "a_res.png", "b.png", "c.png"};  // a's output whole, alone
        EXPECT_EQ(namesIn(folder.dir), written);
    }
}

// A phone photo (EXIF written by another tool: exiv2) keeps its date, camera and author in every type that
// carries EXIF, never its location unless asked; a photo without EXIF gets none.
TEST(Batch, APhotosDateAndCameraSurviveItsLocationDoesNot) {
    Folder folder;
    std::filesystem::copy_file(std::string(PIXLOOM_PICTURE_FILES) + "/camera.jpg", folder / "camera.jpg");
    ASSERT_TRUE(pattern(32, 24).SaveFile(wx(folder / "plain.png")));
    const struct { const char* type; const char* metadata; bool location; } cases[] = {
        {"jpeg", "keep", false}, {"png", "keep", false}, {"webp", "keep", false}, {"jpeg", "all", true},
        {"webp", "all", true}, {"png", "none", false}, {"bmp", "keep", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.metadata);
        const Result result = batch(folder, {"--type", c.type, "--metadata", c.metadata, "--size", "12x12",
                                             "--suffix", "_out", "camera.jpg", "plain.png"});
        ASSERT_EQ(result.status, 0) << result.errors;
        const std::string extension = c.type == std::string("jpeg") ? ".jpg" : std::string(".") + c.type;
        EXPECT_TRUE(decodePicture(wx(folder / ("plain_out" + extension))).exif.empty());
        const Bytes exif = decodePicture(wx(folder / ("camera_out" + extension))).exif;  // APP1, eXIf or EXIF chunk
        EXPECT_EQ(exif.empty(), c.metadata == std::string("none") || c.type == std::string("bmp"));
        if (exif.empty()) continue;
        const ExifRead tags(exif);
        EXPECT_EQ(tags.text(EXIF_IFD_0, EXIF_TAG_MAKE), "TestCam");
        EXPECT_EQ(tags.text(EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2023:05:06 07:08:01");
        EXPECT_EQ(tags.text(EXIF_IFD_0, EXIF_TAG_ARTIST), "Ada Example");
        EXPECT_EQ(tags.number(EXIF_IFD_0, EXIF_TAG_ORIENTATION), 1);  // upright already: the turn was applied
        EXPECT_EQ(tags.number(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), 9);  // 32x24 turned to 24x32, in 12x12
        EXPECT_EQ(tags.text(EXIF_IFD_0, EXIF_TAG_SOFTWARE), "pixloom " PIXLOOM_VERSION);
        EXPECT_EQ(tags.data->ifd[EXIF_IFD_GPS]->count > 0, c.location);
        EXPECT_EQ(tags.raw(EXIF_IFD_EXIF, EXIF_TAG_MAKER_NOTE).empty(), !c.location);
    }
}

// A folder tree converted as people run batches: sub-folders kept under --out, several sizes named by their size,
// dates kept, nothing enlarged; a second run replaces, a file where a folder belongs fails that source alone.
TEST(Batch, FolderTreesKeepTheirShapeSizesNamesAndDates) {
    Folder folder;
    const std::pair<const char*, wxSize> sources[] = {
        {"photos/a.png", {400, 300}}, {"photos/2024/b.png", {200, 100}}, {"photos/2024/small.png", {50, 40}}};
    const timespec times[] = {{1600000000, 5}, {1500000000, 123456789}};  // accessed, modified
    for (const auto& [name, size] : sources) {
        ASSERT_TRUE(pattern(size.x, size.y).SaveFile(wx(folder.made(name))));
        ASSERT_EQ(utimensat(AT_FDCWD, (folder / name).c_str(), times, 0), 0);
    }
    std::filesystem::create_directory(folder / "out");
    const std::map<std::string, wxSize> expected = {
        {"photos/2024/b_100x50.png", {100, 50}}, {"photos/2024/b_200x100.png", {200, 100}},
        {"photos/2024/small_50x40.png", {50, 40}}, {"photos/a_100x75.png", {100, 75}},
        {"photos/a_300x225.png", {300, 225}}};
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const Result result = batch(folder, {"--out", "out", "--keep-tree", "--keep-dates", "--only-reduce", "--size",
                                             "100x100", "--size", "300x300", "--suffix", "_{w}x{h}", "photos"});
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_NE(result.errors.find("small.png: 300x300 gives the same picture as out/photos/2024/small_50x40.png"),
                  std::string::npos) << result.errors;
        std::vector<std::string> names;
        for (const auto& [name, size] : expected) {
            struct stat info {};
            ASSERT_EQ(stat((folder / "out/" + name).c_str(), &info), 0) << name;
            EXPECT_EQ(std::make_pair(info.st_mtim.tv_sec, info.st_mtim.tv_nsec), std::make_pair(1500000000L, 123456789L));
            EXPECT_EQ(sizeOf(folder / "out/" + name), size) << name;
            names.push_back(name);
        }
        EXPECT_EQ(namesIn(folder / "out"), names);
    }
    std::filesystem::create_directories(folder / "blocked/photos");
    writeText(folder / "blocked/photos/2024", "a file");
    const Result blocked = batch(folder, {"--out", "blocked", "--keep-tree", "--size", "20x20", "photos"});
    EXPECT_EQ(blocked.status, 1);
    for (const char* told : {"photos/2024/b.png: cannot create the folder blocked/photos/2024",
                             "photos/2024/small.png: cannot create the folder", "1 of 3 files written, 2 failed"})
        EXPECT_NE(blocked.errors.find(told), std::string::npos) << blocked.errors;
    EXPECT_EQ(namesIn(folder / "blocked"), (std::vector<std::string>{"photos/2024", "photos/a.png"}));
    EXPECT_EQ(readFile(folder / "blocked/photos/2024"), "a file");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    wxInitAllImageHandlers();
    return toolkit.IsOk() ? RUN_ALL_TESTS() : 1;
}
