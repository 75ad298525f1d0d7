// SPDX-License-Identifier: MIT
// The conversion without a display: output names, JPEG quality and limit, atomic writes, listing folders,
// and whole runs over a list as the command line makes them.
#include "conversion_run.h"
#include "decode_ahead.h"
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
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Beside the source or in another folder, names with the output's size in them, a walked file's sub-folders kept below
// the other folder, and the source in any form.
TEST(OutputPath, SameFolderOtherFolderPlaceholdersKeptSubFoldersAndTheSourceInAnyForm) {
    // Naming: sameFolder, suffix, saveDir, extension, keepTree, size. Expected "": no path but an error.
    const OutputSize known{1920, 1280, "1920x1920"}, unknown{0, 0, "50%"};
    const struct { const wchar_t* source; OutputNaming naming; const wchar_t* expected, *walked = L""; } cases[] = {
        {L"/photos/cat.png", {true, L"_res", L"", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/a.b.png", {true, L"_res", L"", L".png"}, L"/photos/a.b_res.png"},
        {L"cat.png", {true, L"_res", L"", L".png"}, L"cat_res.png"},  // in the working folder
        {L"/photos/cat.png", {false, L"_res", L"/out", L".jpg"}, L"/out/cat.jpg"},
        {L"/photos/cat.png", {false, L"_res", L"", L".png"}, L""},  // not at the file system's root
        {L"/photos/cat.png", {false, L"_res", L"/photos", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {false, L"", L"/photos", L".png"}, L"/photos/cat_res.png"},
        {L"/photos/cat.png", {false, L"-small", L"/photos", L".png"}, L"/photos/cat-small.png"},
        {L"/photos/cat.PNG", {false, L"_res", L"/photos", L".png"}, L"/photos/cat.png"},  // another file
        {L"/p/cat.jpg", {true, L"_{w}", L"", L".jpg", false, known}, L"/p/cat_1920.jpg"},
        {L"/p/cat.jpg", {true, L"_{w}x{h}@{size}", L"", L".png", false, known}, L"/p/cat_1920x1280@1920x1920.png"},
        {L"/p/cat.jpg", {true, L"_{W}{x}{size", L"", L".png", false, known}, L"/p/cat_{W}{x}{size.png"},
        {L"/p/cat.jpg", {true, L"_{w}_{size}", L"", L".png", false, unknown}, L"/p/cat_{w}_50%.png"},
        {L"/p/cat.jpg", {false, L"_{h}", L"/out", L".jpg", false, known}, L"/out/cat_1280.jpg"},
        {L"/p/cat.jpg", {false, L"_small", L"/out", L".jpg", false, known}, L"/out/cat.jpg"},  // no placeholder
        {L"/p/photos/2024/x/cat.jpg", {false, L"_res", L"/out", L".png", true, known}, L"/out/photos/2024/x/cat.png",
         L"/p/photos//"},
        {L"/p/photos/cat.jpg", {false, L"_{w}", L"/out", L".png", true, known}, L"/out/photos/cat_1920.png",
         L"/p/photos"},
        {L"/p/photos/cat.jpg", {false, L"_res", L"/out", L".png", true, known}, L"/out/cat.png"},  // on its own
        {L"/p/photos/cat.jpg", {true, L"_res", L"", L".png", true, known}, L"/p/photos/cat_res.png", L"/p/photos"},
        {L"/p/cat.png", {false, L"", L"/", L".png", true, known}, L"/p/cat_res.png", L"/"},  // the source: suffixed
    };
    const std::tuple<const char*, const char*, bool> patterns[] = {
        {"_1920", "_{w}", true}, {"_19x", "_{w}", false}, {"_", "_{w}", false}, {"_{w}", "_{w}", false},
        {"_50%", "_{size}", true}, {"_1920x1080", "_{size}", true}, {"_1920x1080", "_{w}x{h}", true},
        {"_12", "_{w}{h}", true}, {"_res", "_res", true}, {"_{x}", "_{x}", true}};
    for (const auto& [text, suffix, matches] : patterns)
        EXPECT_EQ(matchesSuffix(text, suffix), matches) << text << suffix;
    const std::pair<const char*, const char*> variants[] = {{"/p/cat_res.png", "/p/cat_res-2.png"},
        {"a.b.png", "a.b-2.png"}, {"/p.q/name", "/p.q/name-2"}, {"/p/.png", "/p/.png-2"}};
    for (const auto& [path, second] : variants) {
        EXPECT_EQ(variantPath(path, 2), second);
        EXPECT_TRUE(isNameOrVariant(wxString(second).AfterLast('/'), wxString(path).AfterLast('/'))) << second;
    }
    for (const char* other : {"cat_res-1.png", "cat_res-02.png", "cat_res-x.png", "cat_res-2.jpg", "cat-2.png"})
        EXPECT_FALSE(isNameOrVariant(other, "cat_res.png")) << other;
    for (const auto& c : cases) {
        OutputPath output = outputPathFor(c.source, c.naming, c.walked);
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
        {"OutputsNamedByTheirSize", {"a.png", "a_320.png", "a_64-2.png", "a_x.png", "a_320x240.png", "b.jpg",
         "b_1920.png", "b_1920.jpg"}, {"."}, {true, "_{w}", "", ".png"},
         {"a.png", "a_320x240.png", "a_x.png", "b.jpg", "b_1920.jpg"}},
        {"IntoItselfNamedByTheirSize", {"a.png", "a_50%.png", "b.png"}, {"."}, {false, "_{size}", ".", ".png"},
         {"a.png", "b.png"}},
        {"OnlyBesideItsSource", {"a.png", "sub/a_res.png"}, {"."}, beside, {"sub/a_res.png", "a.png"}},
        {"NamedOnItsOwn", {"a.png", "a_res.png"}, {"a.png", "a_res.png"}, beside, {"a.png", "a_res.png"}},
        {"NamesDifferingInCaseAreTwoFiles", {"Cat.png", "cat.png"}, {"."}, beside, {"Cat.png", "cat.png"}},
        {"TwoFilesNamedAlikeBothListed", {"Cat.png", "cat.png"}, {"Cat.png", "cat.png"}, beside,
         {"Cat.png", "cat.png"}},
        {"TheDestinationInsideIsNotWalked", {"a.png", "out/a.png", "out/deep/b.png"}, {"."},
         {false, "_res", "out", ".png"}, {"a.png"}},
        {"IntoTheWalkedFolderItself", {"a.png", "a_res.png", "b.jpg", "b.png"}, {"."}, {false, "_res", ".", ".png"},
         {"a.png", "b.jpg", "b.png"}},  // outputs named like sources can't be told from them
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Folder dir;
        for (const std::string& name : c.files) writeText(dir.made(name), "x");
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

// One file however it is named (another spelling of its path, a link, a link to its folder even before it exists);
// names differing only in case are two files unless the file system makes them one, as a case-folding stick does,
// shown here by a hard link: then a second output of that name gets a variant, never the first one's place.
TEST(FileIdentity, OneFileHoweverNamedAndCaseCountsOnlyWhereTheFileSystemSaysSo) {
    Folder dir;
    writeText(dir / "Landscape_5.jpg", "one");
    writeText(dir / "landscape_5.jpg", "two");
    ASSERT_EQ(mkdir((dir / "real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("Landscape_5.jpg", (dir / "link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("real", (dir / "linked").c_str()), 0);
    ASSERT_EQ(link((dir / "landscape_5.jpg").c_str(), (dir / "hard.jpg").c_str()), 0);
    FileListing listing;
    const wxArrayString listed = listing.add(wxSplit(wx(dir / "Landscape_5.jpg") + "\n" + wx(dir / "landscape_5.jpg") +
        "\n" + wx(dir / "link.jpg") + "\n" + wx(dir / "real/../Landscape_5.jpg") + "\n" + wx(dir / "hard.jpg"), '\n'));
    EXPECT_EQ(listed, wxSplit(wx(dir / "Landscape_5.jpg") + "\n" + wx(dir / "landscape_5.jpg"), '\n'));
    EXPECT_TRUE(listing.contains(wx(dir / "linked/../Landscape_5.jpg")));

    FileSet set;  // a file not there yet, named through a link to its folder and without
    set.add(wx(dir / "linked/new.png"));
    EXPECT_TRUE(set.names(wx(dir / "real/new.png")));
    EXPECT_TRUE(namesSameFile(wx(dir / "linked/new.png"), wx(dir / "real/new.png")));
    EXPECT_FALSE(set.names(wx(dir / "real/New.png")));

    NameGuard guard;
    writeText(dir / "landscape_5_res.png", "written");
    guard.outputWritten(wx(dir / "landscape_5_res.png"));
    const auto free = [&](const char* name) { return guard.freeName(wx(dir / name)).AfterLast('/'); };
    EXPECT_EQ(free("Landscape_5_res.png"), "Landscape_5_res.png");
    ASSERT_EQ(link((dir / "landscape_5_res.png").c_str(), (dir / "Landscape_5_res.png").c_str()), 0);
    EXPECT_EQ(free("Landscape_5_res.png"), "Landscape_5_res-2.png");
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
    size_t done = 0;
    client.onFileDone = [&](const wxString& source, const FileOutcome& outcome) {
        reportOutcome(source, outcome);
        ++done;
    };
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
    EXPECT_EQ(done, list.size());
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
    std::vector<std::string> sources;  // made as 64x48 pictures, each its own
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
        ASSERT_TRUE(pattern(64, 48, static_cast<unsigned>(before.size() + 1)).SaveFile(wx(dir.made(name))));
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
    {"WhenNothingDownTo16x16KeepsTheLimitAtTheLowestQualityTheSearchGoesOnBelowIt", {"a.png"}, {}, [](const Folder&) {
         auto s = sized(640, 16, FileType::JPEG); s.keepRatio = false, s.limitBytes = 1024, s.quality = 100;
         s.minQuality = 100; return s; },
     {"a_res.jpg"}, {"a.png: no size down to 16x16 fits 1 KB at quality 100: written at quality 26"}},
};
INSTANTIATE_TEST_SUITE_P(Safety, Runs, ::testing::ValuesIn(runCases), [](const auto& i) { return i.param.name; });

// What a written file misses is said: EXIF beyond what a JPEG file holds (a PNG holds it), and a name that could not
// be given after the output was committed, even when a stop comes meanwhile.
TEST(Runs, WhatAWrittenFileMissesIsSaidAndAStopWhileSmallerSizesAreTriedWritesNothing) {
    Folder dir;
    ASSERT_TRUE(pattern(64, 48).SaveFile(wx(dir / "a.png")));
    const std::string exif = std::string("II*\0\x08\0\0\0\x01\0\x7c\x92\x07\0", 14) +  // a maker note, 70000 bytes
                             std::string("\x70\x11\x01\0\x1a\0\0\0\0\0\0\0", 12) + std::string(70000, 'm');
    FileContext context;
    context.load = [&] {
        LoadedSource source = loadSource(wx(dir / "a.png"));
        source.exif.assign(exif.begin(), exif.end());
        return source;
    };
    for (FileType type : {FileType::JPEG, FileType::PNG}) {
        RunSettings settings = sized(32, 24, type);
        settings.metadata = MetadataMode::All;
        const FileOutcome outcome = convertFile(wx(dir / "a.png"), settings, context);
        ASSERT_EQ(outcome.kind, FileOutcome::Written) << outcome.problem;
        const bool carried = readFile(std::string(outcome.output.utf8_str())).find(std::string(1000, 'm')) !=
                             std::string::npos;
        EXPECT_EQ(carried, type == FileType::PNG);
        EXPECT_EQ(outcome.notes.size(), type == FileType::JPEG ? 1u : 0u);
        for (const wxString& note : outcome.notes) EXPECT_TRUE(note.StartsWith("EXIF data left out: its 7")) << note;
    }
    FileContext stopping;
    stopping.commit = [&] {  // then something takes the name, and a stop comes
        std::filesystem::create_directories(dir / "b_res.png/taken");
        stopping.cancel.request();
        return true;
    };
    ASSERT_TRUE(pattern(64, 48).SaveFile(wx(dir / "b.png")));
    const FileOutcome outcome = convertFile(wx(dir / "b.png"), sized(32, 24), stopping);
    EXPECT_EQ(outcome.kind, FileOutcome::Failed);
    EXPECT_TRUE(outcome.problem.StartsWith("cannot replace the output file: ")) << outcome.problem;
    std::filesystem::remove_all(dir / "b_res.png");

    // A stop while smaller sizes are tried gives the file up at once: no further size, nothing written.
    RunSettings settings = sized(640, 480, FileType::JPEG);
    settings.keepRatio = false, settings.limitBytes = 4096, settings.minQuality = 60;
    FileContext shrinking;
    std::set<int> widths;  // encoded
    seams::onEncode([&](int width, int) {
        widths.insert(width);
        if (widths.size() == 3) shrinking.cancel.request();  // the second smaller size
    });
    EXPECT_EQ(convertFile(wx(dir / "b.png"), settings, shrinking).kind, FileOutcome::Abandoned);
    seams::onEncode(nullptr);
    EXPECT_EQ(widths, (std::set<int>{518, 576, 640}));
    EXPECT_EQ(namesIn(dir.dir), (std::vector<std::string>{"a.png", "a_res.jpg", "a_res.png", "b.png"}));
}

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
    std::vector<wxString> nextFiles(const wxString& current, size_t count) override {
        return filesAfter(files.size(), [this](size_t i) { return files[i]; }, current, count);
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
        EXPECT_FALSE(threadRunning("pixloom-ahead")) << "the decoding thread outlived its run";
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

// Several files decoded at once change nothing but the speed: the same names (a clash is numbered in list order)
// and the same bytes for any number of decoders, whichever decode ends first.
TEST(DecodeAhead, AnyNumberOfDecodersWritesTheSameFilesInListOrder) {
    Folder dir;
    std::vector<std::string> list;
    const wxSize sizes[] = {{1200, 900}, {64, 48}, {640, 480}, {80, 60}, {900, 700}, {64, 64}};
    for (unsigned i = 0; i < 6; ++i) {  // larger and smaller in turn: later files are decoded before earlier ones
        const std::string name = std::string(i % 2 ? "b/" : "a/") + "photo" + std::to_string(i / 2) + ".jpg";
        ASSERT_TRUE(pattern(sizes[i].x, sizes[i].y, i + 1).SaveFile(wx(dir.made(name)), wxBITMAP_TYPE_JPEG));
        list.push_back(name);
    }
    std::map<std::string, std::string> first;
    const int cores = Image::threadCount();
    for (int decoders : {1, 2, 4}) {
        SCOPED_TRACE(decoders);
        Image::setThreadCount(decoders);  // a decoder a core
        std::filesystem::remove_all(dir / "out");
        RunSettings settings = intoFolder(dir / "out");
        settings.width = 320, settings.height = 320, settings.type = FileType::JPEG;
        const RunOutcome run = runOver(dir, list, settings);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.lines.size(), 3u);  // the b/ files, numbered after the a/ ones
        std::map<std::string, std::string> written;
        for (const std::string& name : namesIn(dir / "out")) written[name] = readFile(dir / ("out/" + name));
        EXPECT_EQ(written.size(), 6u);
        if (first.empty()) first = written;
        EXPECT_TRUE(written == first) << "other bytes or names than with one decoder";
        EXPECT_LT(sizeOf(dir / "out/photo2.jpg").y, 320);  // a/photo2.jpg, 900x700, listed first
        EXPECT_EQ(sizeOf(dir / "out/photo2-2.jpg").y, 320);
    }
    Image::setThreadCount(cores);
}

// The budget: a picture that does not fit beside those ahead is left to the run; nothing is decoded after a stop.
TEST(DecodeAhead, HoldsWhatTheBudgetAllowsAndOnlyWhatIsUnchanged) {
    Folder dir;
    const wxString small = wx(dir / "small.png"), large = wx(dir / "large.png"), other = wx(dir / "other.png");
    ASSERT_TRUE(pattern(40, 30).SaveFile(small) && pattern(400, 300).SaveFile(large) &&
                pattern(40, 30, 2).SaveFile(other));
    const size_t smallBytes = 40 * 30 * 3, largeBytes = 400 * 300 * 3;
    const struct { const char* name; unsigned decoders; size_t budget; std::vector<wxString> wanted;
                   std::vector<bool> given; } cases[] = {  // given: of small, large, other
        {"AllFit", 3, largeBytes + 2 * smallBytes, {small, large, other}, {true, true, true}},
        {"OverTheBudget", 3, largeBytes - 1, {small, large, other}, {true, false, true}},
        {"NotBesideTheOthers", 3, largeBytes + smallBytes, {small, other, large}, {true, false, true}},
        {"FewerDecoders", 1, largeBytes * 2, {large, small, other}, {false, true, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex mutex;
        std::condition_variable decoded;
        size_t ahead = 0;
        seams::onSourceDecoded([&](const wxString&, bool early) {
            std::lock_guard<std::mutex> lock(mutex);
            ahead += early;
            decoded.notify_all();
        });
        DecodeAhead decoders(c.decoders, c.budget);
        decoders.want(c.wanted);
        const size_t expected = static_cast<size_t>(std::count(c.given.begin(), c.given.end(), true));
        {
            std::unique_lock<std::mutex> lock(mutex);  // every decode over: none is taken before it starts
            ASSERT_TRUE(decoded.wait_for(lock, std::chrono::seconds(10), [&] { return ahead == expected; }));
        }
        const wxString files[] = {small, large, other};
        for (size_t i = 0; i < 3; ++i) {
            const std::optional<LoadedSource> taken = decoders.take(files[i]);
            EXPECT_EQ(taken && taken->image, c.given[i]) << i;
        }
        seams::onSourceDecoded(nullptr);
    }
    DecodeAhead decoders(2, largeBytes);  // a file changed while held: the Replaced row of the test above
    decoders.stop();
    decoders.want({small});
    EXPECT_FALSE(decoders.take(small)) << "wanted after stop";
}

// Memory running out fails the one file, with a reason, and the run goes on: room for the sources and a first pass
// only. Lanczos3 to 8000x6000; LCD(hi) to 1280x40000, whose second pass (folded block by block as it goes, never three
// times as wide) needs twice what the first pass made; a WebP file of a gigabyte, read whole, before a file that fits.
TEST(Runs, MemoryRunningOutFailsOneFileWithItsReasonAndTheRunGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a limit on the address space defeats the sanitizers' own memory";
#endif
    const struct { Method method; wxSize size; std::vector<std::string> files, lines; } cases[] = {
        {{0, false}, {8000, 6000}, {"a.png"}, {"a.png: not enough memory to reduce it to 8000x6000"}},
        {{4, false}, {1280, 40000}, {"a.png"}, {"a.png: not enough memory to reduce it to 1280x40000"}},
        {{0, false}, {32, 32}, {"big.webp", "a.png"}, {"big.webp: not enough memory to read it"}},
    };
    for (const auto& c : cases) {
        Folder dir;
        ASSERT_TRUE(pattern(640, 480).SaveFile(wx(dir / "a.png")));
        const std::uint32_t riff = (1u << 30) - 8;  // as far as the file goes: a sparse gigabyte
        writeText(dir / "big.webp", "RIFF" + std::string(reinterpret_cast<const char*>(&riff), 4) + "WEBPVP8 ");
        std::filesystem::resize_file(dir / "big.webp", 1u << 30);
        const pid_t child = fork();
        if (child == 0) {
            Image::setThreadCount(1);
            std::ifstream status("/proc/self/statm");
            long pages = 0;
            status >> pages;
            const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (100 << 20);
            const rlimit limit{room, room};
            RunSettings settings = sized(c.size.x, c.size.y);
            settings.keepRatio = false, settings.method = c.method;
            const bool limited = setrlimit(RLIMIT_AS, &limit) == 0;
            const RunOutcome run = runOver(dir, c.files, settings);
            const std::size_t written = std::count(run.names.begin(), run.names.end(), "a_res.png");
            _exit(limited && run.status == 1 && run.lines == c.lines && written == (c.files.size() > 1) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.files[0] << " to " << c.size.x;
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
