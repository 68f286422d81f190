#include "app/Settings.h"
#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace cw;
using cw::test::TTempDir;
using cw::test::TTempHome;

namespace {

TGlobalVars FreshVars(const TTempDir& dir) {
    TGlobalVars v;
    v.DataDir = dir.Path;
    v.OutputFormatClass = 1; // as a branding default would set them
    v.OutputVideoFormat = 2;
    SetDefaultUserSettings(v, "/home/u/Documents");
    return v;
}

const char* const ExpectedFirstRun =
    "[System]\r\n"
    "LastOpenDir=/home/u/Documents\r\n"
    "OutputFileDir=/home/u/Documents\r\n"
    "OutputURLDir=/home/u/Documents\r\n"
    "OutputFormatClass=1\r\n"
    "OutputAudioFormat=0\r\n"
    "OutputVideoFormat=2\r\n"
    "OutputDeviceFormat=0\r\n"
    "OutputWAVPreset=3\r\nOutputMP3Preset=2\r\nOutputWMAPreset=1\r\nOutputOGGPreset=3\r\n"
    "OutputAACPreset=3\r\nOutputM4APreset=0\r\nOutputFLACPreset=5\r\nOutputMP2Preset=0\r\n"
    "OutputOpusPreset=2\r\n"
    "OutputAVIPreset=3\r\nOutputMP4Preset=3\r\nOutputFLVPreset=1\r\nOutputSWFPreset=1\r\n"
    "OutputMPEGPreset=5\r\nOutputRMPreset=1\r\nOutputWMVPreset=16\r\nOutputMOVPreset=7\r\n"
    "Output3GPPreset=2\r\nOutputMKVPreset=1\r\nOutputWebMPreset=0\r\n"
    "OutputiPodPreset=5\r\nOutputiPhonePreset=1\r\n"
    "OutputAppleTVPreset=1\r\nOutputPSPPreset=1\r\nOutputBlackBerryPreset=1\r\n"
    "OutputMobilePhonePreset=1\r\nOutputiPadPreset=0\r\nOutputAndroidPreset=0\r\n"
    "PlayASoundWhenFinished=0\r\nShutDownWhenFinished=0\r\nPreferYouTubeQuality=1\r\n"
    "PreferYouTube1=1\r\nPreferYouTube2=2\r\nPreferYouTube3=3\r\nPreferYouTube4=0\r\n"
    "PreferYouTube5=4\r\nPreferYouTube6=5\r\nPreferYouTube7=6\r\nPreferYouTube18=7\r\n"
    "Resolver=\r\nResolverProgram=\r\n";

} // namespace

TEST(Settings, FirstRunWritesDefaultsInKeyOrderAndLaterRunsReadThemBack) {
    TTempDir dir;
    TGlobalVars v = FreshVars(dir);
    v.StreamURLs[3] = "leftover";
    SetDefaultUserSettings(v, "/home/u/Documents");
    EXPECT_TRUE(v.StreamURLs[3].empty());

    EXPECT_FALSE(LoadSettings(v));
    EXPECT_EQ(dir.Read("~system2.dat"), ExpectedFirstRun);

    TGlobalVars again = FreshVars(dir);
    again.OutputWMVPreset = 99;
    EXPECT_TRUE(LoadSettings(again));
    EXPECT_EQ(again.OutputWMVPreset, 16);
    EXPECT_EQ(again.PreferYouTube18, 7);
    EXPECT_TRUE(again.PreferYouTubeQuality);
}

TEST(Settings, SingleKeyFileKeepsEveryOtherDefault) {
    TTempDir dir;
    dir.Write("~system2.dat", "[System]\nOutputWMVPreset=4\n");
    TGlobalVars v = FreshVars(dir);
    TGlobalVars defaults = v;
    EXPECT_TRUE(LoadSettings(v));
    EXPECT_EQ(v.OutputWMVPreset, 4);
    EXPECT_EQ(v.OutputMP3Preset, defaults.OutputMP3Preset);
    EXPECT_EQ(v.OutputFormatClass, 1);
    EXPECT_EQ(v.LastOpenDir, "/home/u/Documents");
    EXPECT_EQ(v.PreferYouTube4, 0);
    EXPECT_EQ(v.PreferYouTube5, 4);
}

TEST(Settings, NumbersBytesAndBooleansAsStored) {
    TTempDir dir;
    dir.Write("~system2.dat", "[system]\n"
                              "OUTPUTFORMATCLASS=258\n"
                              "PlayASoundWhenFinished=2\n"
                              "ShutDownWhenFinished=0x10\n"
                              "OutputMP4Preset=0x1F\n"
                              "OutputAVIPreset=-3\n"
                              "OutputDeviceFormat=511\n"
                              "PreferYouTubeQuality=0\n");
    TGlobalVars v = FreshVars(dir);
    EXPECT_TRUE(LoadSettings(v));
    EXPECT_EQ(v.OutputFormatClass, 2);
    EXPECT_TRUE(v.PlayASoundWhenFinished);
    EXPECT_TRUE(v.ShutDownWhenFinished);
    EXPECT_EQ(v.OutputMP4Preset, 31);
    EXPECT_EQ(v.OutputAVIPreset, -3); // out of range values are used as read
    EXPECT_EQ(v.OutputDeviceFormat, 255);
    EXPECT_FALSE(v.PreferYouTubeQuality);
}

TEST(Settings, DamagedLinesAndValuesLoadWithDefaultsForWhatCannotBeRead) {
    TTempDir dir;
    TGlobalVars defaults = FreshVars(dir);
    // BOM, CR LF, garbage lines, non-numeric values, a last line without its line end
    const std::string text = "\xEF\xBB\xBF[System]\r\nOutputMP3Preset=abc\r\n%%%garbage\r\n=5\r\n"
                             "OutputOGGPreset=\r\nOutputFLACPreset=9999999999999\r\n"
                             "OutputAACPreset=1";
    dir.Write("~system2.dat", text);
    TGlobalVars v = FreshVars(dir);
    std::string problem;
    EXPECT_TRUE(LoadSettings(v, &problem));
    EXPECT_EQ(problem, "");
    EXPECT_EQ(v.OutputMP3Preset, defaults.OutputMP3Preset);
    EXPECT_EQ(v.OutputOGGPreset, defaults.OutputOGGPreset);
    EXPECT_EQ(v.OutputFLACPreset, defaults.OutputFLACPreset);
    EXPECT_EQ(v.OutputAACPreset, 1);
    EXPECT_EQ(dir.Read("~system2.dat"), text); // read, not rewritten
}

TEST(Settings, AFileThatIsNoSettingsFileIsKeptAsideAndTheDefaultsAreWrittenAnew) {
    struct TCase {
        const char* Name;
        std::string Content; // empty with Folder: a folder stands where the file should be
        bool Folder;
        const char* Reason;
    };
    const TCase cases[] = {
        {"empty", "", false, "it is empty"},
        {"binary", std::string("\0\x01\xff[System]\nOutputMP3Preset=3\n", 30), false,
         "binary data"},
        {"cut in the middle of a line",
         "[System]\r\nLastOpenDir=/x\r\nOutputMP3Preset=3\r\nOutputFormatCl", false,
         "middle of a line"},
        {"no section System", "OutputAACPreset=1\nOutputMP3Preset=3\n", false, "no section System"},
        {"a folder", "", true, "cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        if (c.Folder)
            std::filesystem::create_directory(dir.Path + "~system2.dat");
        else
            dir.Write("~system2.dat", c.Content);
        TGlobalVars v = FreshVars(dir);
        std::string problem;
        EXPECT_FALSE(LoadSettings(v, &problem)); // as on a first run
        EXPECT_NE(problem.find(dir.Path + "~system2.dat"), std::string::npos) << problem;
        EXPECT_NE(problem.find(c.Reason), std::string::npos) << problem;
        EXPECT_NE(problem.find("~system2.dat.bad"), std::string::npos) << problem;
        EXPECT_EQ(v.OutputMP3Preset, 2);
        // The damaged file is kept as it was; a complete file of defaults takes its place.
        if (c.Folder)
            EXPECT_TRUE(std::filesystem::is_directory(dir.Path + "~system2.dat.bad"));
        else
            EXPECT_EQ(dir.Read("~system2.dat.bad"), c.Content);
        EXPECT_EQ(dir.Read("~system2.dat"), ExpectedFirstRun);
        std::string again;
        TGlobalVars next = FreshVars(dir);
        EXPECT_TRUE(LoadSettings(next, &again));
        EXPECT_EQ(again, "");
    }
}

// Damaged or odd settings files behind links and beside earlier damaged ones: nothing the
// user had is lost, and what happened is worded.
TEST(Settings, DamagedFilesBehindLinksAndKeptAsideFilesAreNeverLost) {
    namespace fs = std::filesystem;
    const std::string damaged = "OutputMP3Preset=3\n"; // no section: damaged
    // A target name that fits the file system but not with ".bad" after it.
    const std::string longName(253, 'n');
    struct TCase {
        const char* Name;
        std::function<void(const TTempDir& dir)> Make;
        bool Throws;         // the defaults cannot be written: the start-up words it
        const char* Problem; // part of the worded line, "" for none
        std::function<void(const TTempDir& dir)> Check;
    };
    const TCase cases[] = {
        {"an earlier damaged file kept aside",
         [&](const TTempDir& dir) {
             dir.Write("~system2.dat.bad", "first damage");
             dir.Write("~system2.dat", damaged);
         },
         false, "kept as",
         [&](const TTempDir& dir) {
             EXPECT_EQ(dir.Read("~system2.dat.bad"), "first damage");
             EXPECT_EQ(dir.Read("~system2.dat(1).bad"), damaged);
             EXPECT_EQ(dir.Read("~system2.dat"), ExpectedFirstRun);
         }},
        {"a damaged file behind a link",
         [&](const TTempDir& dir) {
             fs::create_directory(dir.Path + "real");
             dir.Write("real/kept.ini", damaged);
             fs::create_symlink(dir.Path + "real/kept.ini", dir.Path + "~system2.dat");
         },
         false, "real/kept.ini.bad",
         [&](const TTempDir& dir) {
             EXPECT_TRUE(fs::is_symlink(dir.Path + "~system2.dat"));
             EXPECT_EQ(dir.Read("real/kept.ini.bad"), damaged);
             EXPECT_EQ(dir.Read("real/kept.ini"), ExpectedFirstRun);
         }},
        {"a dangling link",
         [&](const TTempDir& dir) {
             fs::create_symlink(dir.Path + "made.ini", dir.Path + "~system2.dat");
         },
         false, "",
         [&](const TTempDir& dir) {
             EXPECT_TRUE(fs::is_symlink(dir.Path + "~system2.dat"));
             EXPECT_EQ(dir.Read("made.ini"), ExpectedFirstRun);
         }},
        {"a link loop",
         [&](const TTempDir& dir) {
             fs::create_symlink(dir.Path + "loop", dir.Path + "~system2.dat");
             fs::create_symlink(dir.Path + "~system2.dat", dir.Path + "loop");
         },
         false, "",
         [&](const TTempDir& dir) { EXPECT_EQ(dir.Read("~system2.dat"), ExpectedFirstRun); }},
        {"a damaged file that cannot be set aside",
         [&](const TTempDir& dir) {
             dir.Write(longName, damaged);
             fs::create_symlink(dir.Path + longName, dir.Path + "~system2.dat");
         },
         true, "could not be kept aside",
         [&](const TTempDir& dir) { EXPECT_EQ(dir.Read(longName), damaged); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        c.Make(dir);
        TGlobalVars v = FreshVars(dir);
        std::string problem;
        if (c.Throws) {
            EXPECT_THROW(LoadSettings(v, &problem), std::runtime_error);
        } else {
            EXPECT_FALSE(LoadSettings(v, &problem));
        }
        EXPECT_EQ(v.OutputMP3Preset, 2);
        if (*c.Problem) {
            EXPECT_NE(problem.find(c.Problem), std::string::npos) << problem;
        } else {
            EXPECT_EQ(problem, "");
        }
        c.Check(dir);
        // No temporary file is left behind.
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
                << entry.path();
    }
}

TEST(Settings, WritesGoThroughLinksKeepPermissionsAndNewFilesArePrivate) {
    TTempDir dir;
    TTempDir elsewhere;
    const mode_t oldMask = ::umask(0);
    TGlobalVars v = FreshVars(dir);
    // A new file is the user's alone, whatever the umask.
    SaveSettings(v);
    struct stat st {};
    ASSERT_EQ(::stat((dir.Path + "~system2.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // An existing file keeps the bits its owner gave it.
    ::chmod((dir.Path + "~system2.dat").c_str(), 0640);
    v.OutputMP3Preset = 1;
    SaveSettings(v);
    ASSERT_EQ(::stat((dir.Path + "~system2.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A linked settings file is written where the link points, and the link stays; a link
    // whose target is not there yet gets its target made (relative links too).
    std::filesystem::remove(dir.Path + "~system2.dat");
    std::filesystem::create_symlink(elsewhere.Path + "kept.ini", dir.Path + "~system2.dat");
    SavePlacement("Form", {5, 6, 772, 547, false}, v);
    SaveSettings(v);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path + "~system2.dat"));
    const std::string target = elsewhere.Read("kept.ini");
    EXPECT_NE(target.find("OutputMP3Preset=1\r\n"), std::string::npos);
    EXPECT_NE(target.find("[Form]"), std::string::npos);
    ASSERT_EQ(::stat((elsewhere.Path + "kept.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::filesystem::remove(dir.Path + "~system2.dat");
    std::filesystem::create_directory(dir.Path + "sub");
    std::filesystem::create_symlink("sub/rel.ini", dir.Path + "~system2.dat");
    SaveSettings(v);
    EXPECT_NE(dir.Read("sub/rel.ini").find("[System]"), std::string::npos);
    // No temporary file is left behind anywhere.
    for (const auto* folder : {&dir.Path, &elsewhere.Path})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(*folder))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    ::umask(oldMask);
}

TEST(Settings, StoredFoldersAreReadAsTheFolderBoxesTakeThem) {
    TTempDir dir;
    TTempHome home;
    home.Set("HOME", "/home/ann");
    dir.Write("~system2.dat", "[System]\nLastOpenDir=~\nOutputFileDir=~/Clipwright test/\n"
                              "OutputURLDir=Downloads/\n");
    TGlobalVars v = FreshVars(dir);
    EXPECT_TRUE(LoadSettings(v));
    EXPECT_EQ(v.LastOpenDir, "/home/ann");
    EXPECT_EQ(v.OutputFileDir, "/home/ann/Clipwright test/");
    EXPECT_EQ(v.OutputURLDir, "/home/ann/Downloads/");
}

TEST(Settings, SaveKeepsPlacementsAndStringsVerbatim) {
    TTempDir dir;
    TGlobalVars v = FreshVars(dir);
    SavePlacement("Form", {10, 20, 772, 547, false}, v);
    v.OutputFileDir = "/media/My Videos;=x \"q\"";
    SaveSettings(v);
    TIniFile ini;
    ini.Load(dir.Path + "~system2.dat");
    EXPECT_EQ(ini.ReadInteger("Form", "x", -1), 10);
    EXPECT_EQ(ini.ReadString("System", "OutputFileDir", ""), "/media/My Videos;=x \"q\"");

    TGlobalVars back = FreshVars(dir);
    LoadSettings(back);
    EXPECT_EQ(back.OutputFileDir, v.OutputFileDir);
}

TEST(Settings, FailedWriteNamesTheFileAndKeepsTheOldOne) {
    TTempDir dir;
    TGlobalVars v = FreshVars(dir);
    SaveSettings(v);
    const std::string before = dir.Read("~system2.dat");
    // Block the temporary file the save writes first (a folder under its name fails even
    // for root); the old file must come through untouched.
    const std::string temp = dir.Path + "~system2.dat.tmp" + std::to_string(getpid());
    std::filesystem::create_directory(temp);
    v.OutputWMVPreset = 1;
    try {
        SaveSettings(v);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir.Path + "~system2.dat"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(dir.Read("~system2.dat"), before);
    EXPECT_TRUE(std::filesystem::is_directory(temp)); // not ours to remove
}

TEST(Settings, FailedWriteIntoMissingFolderNamesTheFile) {
    // Works as root too: a folder that does not exist cannot receive the file.
    TTempDir dir;
    TGlobalVars v = FreshVars(dir);
    v.DataDir = dir.Path + "gone/";
    try {
        SaveSettings(v);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir.Path + "gone/~system2.dat"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path + "gone"));
}

TEST(Placement, ClampingKeepsTheWindowOnScreen) {
    // x 1900 with width 772 on a 1280 screen: moved back to 508.
    auto p = ClampPlacement({1900, 100, 772, 547, false}, 1280, 1024);
    EXPECT_EQ(p.Left, 508);
    EXPECT_EQ(p.Top, 100);
    // width 2000 is limited to 1280 for the computation, which gives x 0.
    p = ClampPlacement({300, 0, 2000, 547, false}, 1280, 1024);
    EXPECT_EQ(p.Left, 0);
    EXPECT_EQ(p.Width, 1280);
    p = ClampPlacement({-50, -60, 772, 547, true}, 1280, 1024);
    EXPECT_EQ(p.Left, 0);
    EXPECT_EQ(p.Top, 0);
    EXPECT_TRUE(p.Maximized);
    p = ClampPlacement({0, 900, 772, 547, false}, 1280, 1024);
    EXPECT_EQ(p.Top, 1024 - 547);
    // A hand-edited file may hold any integer: the far ends of the range still land on screen.
    p = ClampPlacement({INT_MAX, INT_MAX, 772, 547, false}, 1280, 1024);
    EXPECT_EQ(p.Left, 1280 - 772);
    EXPECT_EQ(p.Top, 1024 - 547);
    p = ClampPlacement({INT_MIN, INT_MAX, INT_MIN, INT_MAX, false}, 1280, 1024);
    EXPECT_EQ(p.Left, 0);
    EXPECT_EQ(p.Top, 0);
}

TEST(Placement, SavedPlacementRestoresAndMissingSectionKeepsCurrent) {
    TTempDir dir;
    TGlobalVars v = FreshVars(dir);
    const TWindowPlacement current{240, 230, 772, 547, false};

    auto p = RestorePlacement("Form", current, 1280, 1024, v);
    EXPECT_EQ(p.Left, 240);
    EXPECT_EQ(p.Top, 230);
    EXPECT_FALSE(p.Maximized);

    SavePlacement("FormLog", {1900, 50, 400, 772, true}, v, " ");
    p = RestorePlacement("FormLog", current, 1280, 1024, v, "");
    EXPECT_EQ(p.Left, 1280 - 400);
    EXPECT_EQ(p.Top, 50);
    EXPECT_TRUE(p.Maximized);

    TIniFile ini;
    ini.Load(dir.Path + "~system2.dat");
    EXPECT_EQ(ini.Text(),
              "[FormLog]\r\nx=1900\r\ny=50\r\nheight=772\r\nwidth=400\r\nmaximized=1\r\n");

    // Another file can be named explicitly.
    SavePlacement("Form", {1, 2, 3, 4, false}, v, dir.Path + "other.ini");
    EXPECT_NE(dir.Read("other.ini").find("[Form]"), std::string::npos);
}

TEST(IniFile, ParsesIntegersStrictly) {
    int v = 0;
    EXPECT_TRUE(ParseIniInteger("42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseIniInteger(" -7 ", v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(ParseIniInteger("0xff", v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(ParseIniInteger("0xFFFFFFFF", v));
    EXPECT_EQ(v, -1);
    for (const char* bad : {"", "0x", "12a", "1.5", "2147483648", "0x100000000", "abc", "-"})
        EXPECT_FALSE(ParseIniInteger(bad, v)) << bad;
}
