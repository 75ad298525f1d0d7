// SPDX-License-Identifier: MIT
// The settings table read from odd files, the limit field's text, and the one form of every report line.
#include "report.h"
#include "settings.h"
#include "settings_file.h"
#include "settings_text.h"
#include "test_files.h"

#include <gtest/gtest.h>

// What a run does with a settings file, the window and pixloom-batch alike (the window's tests compare the two on
// the same files). Lines the toolkit's reader fails its own checks on (an entry without a
// name, a group given twice) make the file damaged, said once, with nothing else on standard error; a NUL byte, which
// the toolkit reads up to but cannot write back, does not stop the settings being written. Whatever was read is
// written and read back the same.
TEST(Settings, OddFilesGiveWhatTheWindowShows) {
    const std::string defaults = "LCD(hi) PNG 320x320px fit q90 limit 0 same _res|";
    const struct { std::string file, run; bool damaged = false; } cases[] = {
        {"", defaults},
        {"[Filetype]\noptFiletype=jpeg\n", "LCD(hi) JPEG 320x320px fit q90 limit 0 same _res|"},  // any case
        {"[Size]\noptSize= Other \nspnWidth= 800 \nspnHeight=600\nselUnits=%\nchkFixRatio=0\n",
         "LCD(hi) PNG 800x600% stretch q90 limit 0 same _res|"},
        {"[Size]\noptSize=1920x1080\nspnWidth=800\n", "LCD(hi) PNG 1920x1080px fit q90 limit 0 same _res|"},  // preset
        {"[Size]\noptSize=Other\nspnWidth=99999\nspnHeight=-4\n", "LCD(hi) PNG 65535x1px fit q90 limit 0 same _res|"},
        {"[Size]\noptSize=Other\nspnWidth=abc\nchkFixRatio=yes\n", defaults},
        {"[Method]\noptMethod=Bicubic\n", defaults},  // an unknown label keeps the built-in one
        {"[Method]\noptMethod=lcd(MAX)\nchkLinear=1\n", "LCD(max) PNG 320x320px fit linear q90 limit 0 same _res|"},
        {"[Filetype]\noptFiletype=JPEG\nspnQuality=0\ncmbLimit=300\n",
         "LCD(hi) JPEG 320x320px fit q0 limit 307200 same _res|"},
        {"[Filetype]\nspnQuality=150\n", "LCD(hi) PNG 320x320px fit q100 limit 0 same _res|"},
        {"[Filetype]\nspnMinQuality=150\nchkProgressive=1\n",
         "LCD(hi) PNG 320x320px fit q90 limit 0 min q100 progressive same _res|"},
        {"[Saveto]\noptDst=other folder\ntxtSuffix=\ntxtSaveDir=/tmp/out\n",
         "LCD(hi) PNG 320x320px fit q90 limit 0 other _res|/tmp/out"},
        {"[Saveto]\nchkKeepTree=1\nchkKeepDates=2\n[Size]\nchkOnlyReduce=1\n",
         "LCD(hi) PNG 320x320px fit q90 limit 0 same _res| tree dates reduce"},
        {"[Size]\n=x\nspnWidth=800\n", defaults, true},
        {"[Size]\nspnWidth=800\n[Method]\n[Size]\n", defaults, true},
        {std::string("[Saveto]\ntxtSuffix=_a\0b\n[Method]\noptMethod=LCD(\0x\n", 50),
         "LCD(hi) PNG 320x320px fit q90 limit 0 same _a|", true},
    };
    for (const auto& c : cases) {
        TempHome home;
        writeText(home / ".pixloom", c.file);
        std::vector<wxString> notes;
        testing::internal::CaptureStderr();
        const SettingValues values = settingValuesFrom(readStoredSettings(notes, false));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.file;
        EXPECT_EQ(describe(runSettingsFrom(values)), c.run) << c.file;
        ASSERT_EQ(notes.size(), c.damaged ? 1u : 0u) << c.file;
        EXPECT_TRUE(!c.damaged || notes[0].Contains(wxT(" is damaged ("))) << notes[0];
        ASSERT_EQ(writeStoredSettings(values), "");
        notes.clear();
        EXPECT_EQ(settingValuesFrom(readStoredSettings(notes, false)), values) << c.file;
        EXPECT_TRUE(notes.empty()) << c.file;
    }
}

TEST(Settings, TheLimitIsTheLeadingNumberOfKilobytes) {
    const std::pair<const char*, int> texts[] = {{"", 0}, {"abc", 0}, {"-5", 0}, {"300", 300 * 1024}, {"1.5", 1024},
        {" 7", 7 * 1024}, {"2097151", 2097151 * 1024}, {"2097152", 0}, {"99999999999999999999", 0}};  // over an int
    for (const auto& [text, bytes] : texts) EXPECT_EQ(limitBytes(text), bytes) << '"' << text << '"';
}

// One report, one line, showing a name's real bytes.
TEST(Reports, NamesShowTheirBytesOnOneLine) {
    const std::pair<std::string, std::string> names[] = {
        {"/p/cat.png", "/p/cat.png"},
        {"/p/写真.png", "/p/写真.png"},
        {"/p/a\nb.png", "/p/a\\nb.png"},
        {"/p/caf\xe9.png", "/p/caf\\xe9.png"},
        {"/p/a\\b\x1b.png", "/p/a\\\\b\\x1b.png"},
        {"/p/\xed\xa0\x80.png", "/p/\\xed\\xa0\\x80.png"},  // an encoded surrogate is no UTF-8
    };
    for (const auto& [bytes, shown] : names) {
        const wxString name(bytes.c_str(), *wxConvFileName);
        EXPECT_EQ(reportText(name, wxT("damaged")), shown + ": damaged");
    }
    EXPECT_EQ(reportText(wxString(), wxT("3 of 3 files written")), "3 of 3 files written");
}
