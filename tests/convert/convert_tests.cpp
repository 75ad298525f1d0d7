// SPDX-License-Identifier: MIT
// The conversion without a display: output names, JPEG quality and limit, atomic writes, listing folders,
// and whole runs over a list as the command line makes them.
#include "conversion_run.h"
#include "file_listing.h"
#include "image.h"
#include "name_guard.h"
#include "output_path.h"
#include "queue_client.h"
#include "run_seams.h"
#include "test_files.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
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
    const std::pair<const char*, const char*> variants[] = {{"/p/cat_res.png", "/p/cat_res-2.png"},
        {"a.b.png", "a.b-2.png"}, {"/p.q/name", "/p.q/name-2"}, {"/p/.png", "/p/.png-2"}};
    for (const auto& [path, second] : variants) {
        EXPECT_EQ(variantPath(path, 2), second);
        EXPECT_TRUE(isNameOrVariant(wxString(second).AfterLast('/'), wxString(path).AfterLast('/'))) << second;
    }
    for (const char* other : {"cat_res-1.png", "cat_res-02.png", "cat_res-x.png", "cat_res-2.jpg", "cat-2.png"})
        EXPECT_FALSE(isNameOrVariant(other, "cat_res.png")) << other;
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

// What a drop of the folder (or of the files named) lists with the naming of the moment, in the walk's order
// (sub-folders first, natural name order): earlier outputs of files beside them are left out of walks, never
// when named on their own.
TEST(Listing, AFolderConvertedAgainListsItsSourcesOnlyInNaturalNameOrder) {
    const OutputNaming beside{true, "_res", "", ".png"}, jpeg{true, "_res", "", ".jpg"};
    const struct { const char* name; std::vector<std::string> files, dropped; OutputNaming naming;
                   std::vector<std::string> listed; } cases[] = {
        {"NaturalOrderSubFoldersFirst", {"img10.png", "img2.png", "Img1.png", "img02.png", "b10/x.png", "b9/y.png",
         "b9/a/z.png", "a.txt"}, {"."}, beside,
         {"b9/a/z.png", "b9/y.png", "b10/x.png", "Img1.png", "img02.png", "img2.png", "img10.png"}},
        {"EarlierOutputsAndTheirVariants", {"a.png", "a_res.png", "a_res-2.png", "b.jpg", "b_res-3.png"}, {"."},
         beside, {"a.png", "b.jpg"}},
        {"OutputsOfAnotherTypeAreSources", {"a.png", "a_res.png"}, {"."}, jpeg, {"a.png", "a_res.png"}},
        {"NotVariantsOfAnOutput", {"a.png", "a_res-1.png", "a_res-02.png", "a_res-x.png", "a_res_res.png"}, {"."},
         beside, {"a.png", "a_res-1.png", "a_res-02.png", "a_res-x.png", "a_res_res.png"}},
        {"AnOutputWithoutItsSourceIsASource", {"a_res.png"}, {"."}, beside, {"a_res.png"}},
        {"OnlyBesideItsSource", {"a.png", "sub/a_res.png"}, {"."}, beside, {"sub/a_res.png", "a.png"}},
        {"NamedOnItsOwn", {"a.png", "a_res.png"}, {"a.png", "a_res.png"}, beside, {"a.png", "a_res.png"}},
        {"NamesDifferingInCaseAreListedOnce", {"Cat.png", "cat.png"}, {"."}, beside, {"Cat.png"}},
        {"TheDestinationInsideIsNotWalked", {"a.png", "out/a.png", "out/deep/b.png"}, {"."},
         {false, "_res", "out", ".png"}, {"a.png"}},
        {"IntoTheWalkedFolderItself", {"a.png", "a_res.png", "b.jpg", "b.png"}, {"."}, {false, "_res", ".", ".png"},
         {"a.png", "b.jpg", "b.png"}},  // outputs named like sources can't be told from them
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder dir;
        for (const std::string& name : c.files) {
            std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
            writeText(dir / name, "x");
        }
        OutputNaming naming = c.naming;
        if (!naming.sameFolder) naming.saveDir = wx(naming.saveDir == "." ? dir.dir : dir / "out");
        wxArrayString dropped;
        for (const std::string& name : c.dropped) dropped.Add(wx(name == "." ? dir.dir : dir / name));
        FileListing listing;
        std::vector<std::string> listed;
        for (const wxString& path : listing.add(dropped, &naming))
            listed.push_back(std::string(path.Mid(dir.dir.length() + 1).utf8_str()));
        EXPECT_EQ(listed, c.listed);
        EXPECT_TRUE(listing.add(dropped, &naming).empty());  // listed already
    }
}

// Runs over a fixed list, as the command line makes them: what is written, what is reported, what is left alone.
struct RunOutcome {
    int status;
    std::vector<std::string> names;  // in the folder afterwards
    std::vector<std::string> lines;  // for standard error
};

// Standard error is kept as lines, without the folder: everything for it comes through the report, in its form.
RunOutcome runOver(const Folder& dir, const std::vector<std::string>& list, const RunSettings& settings) {
    wxArrayString files;
    for (const std::string& name : list) files.Add(wx(dir / name));
    QueueClient client(files, settings);
    client.onFileDone = [&](const wxString& source, const FileOutcome& outcome) { reportOutcome(source, outcome); };
    ConversionRun run(client);
    testing::internal::CaptureStderr();
    RunOutcome outcome{run.runConversion(), namesIn(dir.dir), {}};
    std::istringstream text(testing::internal::GetCapturedStderr());
    for (std::string line; std::getline(text, line);) {
        EXPECT_EQ(line.rfind("pixloom: ", 0), 0u) << line;
        line.erase(0, std::min<size_t>(line.size(), 9));
        for (size_t at; (at = line.find(dir.dir + "/")) != std::string::npos;) line.erase(at, dir.dir.size() + 1);
        outcome.lines.push_back(line);
    }
    EXPECT_EQ(client.filesDone(), list.size());
    EXPECT_EQ(client.failures().size(), outcome.status ? client.failures().size() : 0u);
    return outcome;
}

RunSettings sized(int width, int height, FileType type = FileType::PNG) {
    RunSettings settings;
    settings.width = width, settings.height = height, settings.type = type;
    return settings;
}

struct RunCase {
    const char* name;
    std::vector<std::string> sources;  // made as 64x48 pictures, each its own; "cut…" ones cut short
    std::vector<std::string> list;     // in the order listed; the sources when empty
    std::function<RunSettings(const Folder&)> settings;
    std::vector<std::string> written;  // besides the sources
    std::vector<std::string> lines;
    int status = 0;
};
void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }
class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, NeverReplaceASourceOrAnEarlierOutputAndReportWhatWasNotDone) {
    const RunCase& c = GetParam();
    Folder dir;
    std::map<std::string, std::string> before;
    for (const std::string& name : c.sources) {
        std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
        ASSERT_TRUE(pattern(64, 48, static_cast<unsigned>(before.size() + 1)).SaveFile(wx(dir / name)));
        if (name.rfind("cut", 0) == 0)
            std::filesystem::resize_file(dir / name, std::filesystem::file_size(dir / name) / 2);
        before[name] = readFile(dir / name);
    }
    const RunSettings settings = c.settings(dir);
    std::vector<std::string> expected = c.written;
    for (const auto& source : before) expected.push_back(source.first);
    std::sort(expected.begin(), expected.end());
    for (int time = 1; time <= 2; ++time) {  // a second run writes the same names again
        SCOPED_TRACE(time);
        const RunOutcome run = runOver(dir, c.list.empty() ? c.sources : c.list, settings);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.names, expected);
        EXPECT_EQ(run.lines, c.lines);
        for (const auto& [name, bytes] : before) EXPECT_EQ(readFile(dir / name), bytes) << name << " was changed";
    }
}

const auto sameFolder = [](const Folder&) { return sized(32, 32); };
const auto intoFolder = [](const std::string& folder) {
    std::filesystem::create_directory(folder);
    RunSettings settings = sized(32, 32);
    settings.sameFolder = false, settings.saveDir = wx(folder);
    return settings;
};
const auto ownFolder = [](const Folder& dir) { return intoFolder(dir.dir); };
const auto outFolder = [](const Folder& dir) { return intoFolder(dir / "out"); };
const std::string another = " is another file of this run";
const RunCase runCases[] = {
    {"AnotherSourceListedLaterIsNotReplaced", {"photo.jpg", "photo.png"}, {}, ownFolder,
     {"photo-2.png", "photo_res.png"}, {"photo.jpg: written as photo-2.png, since photo.png" + another}},
    {"AnotherSourceTakenEarlierIsNotReplaced", {"photo.jpg", "photo.png"}, {"photo.png", "photo.jpg"}, ownFolder,
     {"photo-2.png", "photo_res.png"}, {"photo.jpg: written as photo-2.png, since photo.png" + another}},
    {"ASourceNamedLikeAnOutputIsNotReplaced", {"cat.png", "cat_res.png"}, {}, sameFolder,
     {"cat_res-2.png", "cat_res_res.png"}, {"cat.png: written as cat_res-2.png, since cat_res.png" + another}},
    {"ASourceNamedLikeAnOutputTakenFirst", {"cat.png", "cat_res.png"}, {"cat_res.png", "cat.png"}, sameFolder,
     {"cat_res-2.png", "cat_res_res.png"}, {"cat.png: written as cat_res-2.png, since cat_res.png" + another}},
    {"OutputsOfOneNameAreNumbered", {"cat.png", "cat.jpg", "cat.bmp"}, {}, sameFolder,
     {"cat_res-2.png", "cat_res-3.png", "cat_res.png"},
     {"cat.jpg: written as cat_res-2.png, since cat_res.png" + another,
      "cat.bmp: written as cat_res-3.png, since cat_res.png" + another}},
    {"NamesDifferingInCaseAreOtherFiles", {"a/Cat.png", "b/cat.png"}, {}, outFolder,
     {"out/Cat.png", "out/cat.png"}, {}},
    {"SameNamesFromTwoFoldersIntoOne", {"a/IMG_0001.jpg", "b/IMG_0001.jpg"}, {}, outFolder,
     {"out/IMG_0001-2.png", "out/IMG_0001.png"},
     {"b/IMG_0001.jpg: written as out/IMG_0001-2.png, since out/IMG_0001.png" + another}},
    {"ASizeTheToolkitCannotHoldFails", {"a.png", "b.png"}, {}, [](const Folder&) {
         auto s = sized(50000, 50000); s.keepRatio = false, s.method = {0, true}; return s; }, {},
     {"a.png: 50000x50000 is too large", "b.png: 50000x50000 is too large"}, 1},
    {"ATruncatedJpegFailsWithItsName", {"a.jpg", "cut.jpg"}, {}, sameFolder, {"a_res.png"},
     {"cut.jpg: damaged JPEG data (Premature end of JPEG file)"}, 1},
    {"AJpegLimitOutOfReachIsWrittenAndReported", {"a.png"}, {}, [](const Folder&) {
         auto s = sized(640, 480, FileType::JPEG); s.keepRatio = false, s.limitBytes = 1024; return s; },
     {"a_res.jpg"}, {"a.png: 7 KB at quality 1, over the 1 KB limit"}, 1},
};
INSTANTIATE_TEST_SUITE_P(Safety, Runs, ::testing::ValuesIn(runCases), [](const auto& i) { return i.param.name; });

// A list the test changes after each file: the decode ahead must never convert what is no longer there or no
// longer the same.
struct ChangingList : RunClient {
    std::deque<wxString> files;
    RunSettings settings = sized(32, 32);
    std::function<void(ChangingList&)> between;  // after each file is done
    std::optional<FileJob> takeFile() override {  // nothing: the list emptied, or a stop
        if (files.empty()) return std::nullopt;
        return FileJob{files.front(), settings};
    }
    std::optional<wxString> peekFile(const wxString& current) override {
        for (size_t i = 0; i < files.size() && i < 2; ++i) if (files[i] != current) return files[i];
        return std::nullopt;
    }
    std::function<void()> naming;  // while a name is chosen
    bool isWaiting(const wxString& path) override {
        if (naming) naming();
        return naming || std::count(files.begin(), files.end(), path) > 0;  // a closed window keeps every name
    }
    void fileDone(const wxString& source, const FileOutcome&) override {
        if (!files.empty() && files.front() == source) files.pop_front();
        if (between) between(*this);
    }
    void runEnded(const std::vector<FileFailure>&) override {}
};

TEST(DecodeAhead, TheNextFileIsDecodedWhileThisOneIsReducedAndUsedOnlyIfStillListedAndUnchanged) {
    const struct { const char* name; std::function<void(ChangingList&, ConversionRun&, const Folder&)> change;
                   std::vector<std::string> written; int decodesOfB; wxSize sizeOfB; bool undecodable = false; }
        cases[] = {
        {"Unchanged", nullptr, {"a_res.png", "b_res.png", "c_res.png"}, 1, {32, 24}},
        {"Replaced", [](ChangingList&, ConversionRun&, const Folder& dir) {  // a new picture under the same name
             ASSERT_TRUE(pattern(48, 48, 9).SaveFile(wx(dir / "b.png"))); },
         {"a_res.png", "b_res.png", "c_res.png"}, 2, {32, 32}},
        {"Removed", [](ChangingList& list, ConversionRun&, const Folder&) { list.files.erase(list.files.begin()); },
         {"a_res.png", "c_res.png"}, 1, {}},
        {"ClearedOrStopped", [](ChangingList& list, ConversionRun&, const Folder&) { list.files.clear(); },
         {"a_res.png"}, 1, {}},
        {"Closed", [](ChangingList&, ConversionRun& run, const Folder&) { run.cancel(); }, {"a_res.png"}, 1, {}},
        {"ClosedWhileNaming", [](ChangingList& list, ConversionRun& run, const Folder&) {  // every name taken then
             list.naming = [&run] { run.cancel(); }; },
         {"a_res.png"}, 1, {}},
        {"UndecodableIsNotDecodedTwice", nullptr, {"a_res.png", "c_res.png"}, 1, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder dir;
        ChangingList list;
        for (const char* name : {"a.png", "b.png", "c.png"}) {
            ASSERT_TRUE(pattern(64, 48, name[0]).SaveFile(wx(dir / name)));
            list.files.push_back(wx(dir / name));
        }
        if (c.undecodable) std::filesystem::resize_file(dir / "b.png", 100);
        std::mutex mutex;
        std::condition_variable decoded;
        std::map<std::string, int> decodes, ahead;
        seams::onSourceDecoded([&](const wxString& source, bool early) {
            std::lock_guard<std::mutex> lock(mutex);
            const std::string name = std::string(source.AfterLast('/').utf8_str());
            ++decodes[name];
            if (early) ++ahead[name];
            decoded.notify_all();
        });
        ConversionRun run(list);
        bool changed = false;
        list.between = [&](ChangingList& changing) {
            if (changed || !c.change) return;
            std::unique_lock<std::mutex> lock(mutex);  // b is ahead before a is done with
            ASSERT_TRUE(decoded.wait_for(lock, std::chrono::seconds(10), [&] { return ahead["b.png"] == 1; }));
            lock.unlock();
            c.change(changing, run, dir);
            changed = true;
        };
        EXPECT_EQ(run.runConversion(), c.undecodable ? 1 : 0);
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))  // a sanitizer's come and go
            EXPECT_NE(readFile(task.path() / "comm"), "pixloom-ahead\n") << "the decoding thread outlived its run";
        seams::onSourceDecoded(nullptr);
        std::vector<std::string> expected = c.written;
        for (const char* source : {"a.png", "b.png", "c.png"}) expected.push_back(source);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(namesIn(dir.dir), expected);
        EXPECT_EQ(decodes["b.png"], c.decodesOfB);
        EXPECT_EQ(ahead["b.png"], 1);
        EXPECT_TRUE(!c.sizeOfB.x || sizeOf(dir / "b_res.png") == c.sizeOfB) << "the picture decoded";
    }
}

TEST(Runs, AReductionShortOfMemoryWritesNothingAndSaysSo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a limit on the address space defeats the sanitizers' own memory";
#endif
    // Room for the source and the first pass only. Lanczos3 to 8000x6000; LCD(hi) to 1280x40000, whose second pass
    // (folded block by block as it goes, never three times as wide) needs twice what the first pass made.
    const std::pair<Method, wxSize> cases[] = {{{0, false}, {8000, 6000}}, {{4, false}, {1280, 40000}}};
    for (const auto& [method, size] : cases) {
        Folder dir;
        ASSERT_TRUE(pattern(640, 480).SaveFile(wx(dir / "a.png")));
        const pid_t child = fork();
        if (child == 0) {
            Image::setThreadCount(1);
            std::ifstream status("/proc/self/statm");
            long pages = 0;
            status >> pages;
            const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (100 << 20);
            const rlimit limit{room, room};
            RunSettings settings = sized(size.x, size.y);
            settings.keepRatio = false, settings.method = method;
            const bool limited = setrlimit(RLIMIT_AS, &limit) == 0;
            const RunOutcome run = runOver(dir, {"a.png"}, settings);
            const std::string told = "a.png: not enough memory to reduce it to " + std::to_string(size.x) + "x" +
                                     std::to_string(size.y);
            const bool saidSo = run.lines == std::vector<std::string>{told};
            _exit(limited && run.status == 1 && saidSo && run.names.size() == 1 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "LCD type " << method.lcdType;
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    static wxConvBrokenFileNames fileNames(wxT("UTF-8"));  // names as bytes, as the programs take them
    wxConvFileName = &fileNames;
    wxInitAllImageHandlers();
    return toolkit.IsOk() ? RUN_ALL_TESTS() : 1;
}
