#include "app/Startup.h"
#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace cw;
using cw::test::TTempDir;
using cw::test::TTempHome;

TEST(Startup, FirstRunWritesSettingsAndStoredChoicesWinOverBrandingDefaults) {
    TTempHome home(TTempHome::NoConfigVariable | TTempHome::NoDocuments);
    TTempDir exe;
    exe.Write("lamecore.dll", ScrambleText("[SYSTEM]\r\nName=Tool A/B\r\nDownload=Yes\r\n"
                                           "DefaultVideo=2\r\nDefaultClass=1\r\n"));
    TGlobalVars vars;
    auto state = PrepareApplication(vars, exe.Path);
    EXPECT_EQ(state.Title, "Tool A/B");
    EXPECT_TRUE(state.FirstRun);
    EXPECT_TRUE(state.SettingsError.empty());
    EXPECT_TRUE(vars.Download);
    const std::string dataDir = home.Folder.Path + ".config/Tool A B/";
    EXPECT_EQ(vars.DataDir, dataDir);
    EXPECT_EQ(vars.OutputVideoFormat, 2); // FLV from the branding default
    EXPECT_EQ(vars.OutputFormatClass, 1);
    EXPECT_EQ(vars.OutputWMVPreset, 16);
    EXPECT_TRUE(std::filesystem::exists(dataDir + "~system2.dat"));

    // The user picks MP4; the next start keeps it although the branding says FLV.
    TIniFile ini;
    ini.Load(dataDir + "~system2.dat");
    ini.WriteInteger("System", "OutputVideoFormat", 1);
    ini.Save(dataDir + "~system2.dat");
    TGlobalVars next;
    state = PrepareApplication(next, exe.Path);
    EXPECT_FALSE(state.FirstRun);
    EXPECT_EQ(next.OutputVideoFormat, 1);
}

TEST(Startup, AnAccountWithoutAConfigFolderGetsOneAndKeepsItsSettings) {
    TTempHome home(TTempHome::NoConfigVariable | TTempHome::NoDocuments);
    std::filesystem::remove_all(home.Folder.Path + ".config");
    TTempDir exe;
    exe.Write("lamecore.dll", ScrambleText("[SYSTEM]\r\nName=Tool\r\n"));
    TGlobalVars vars;
    auto state = PrepareApplication(vars, exe.Path);
    EXPECT_TRUE(state.SettingsError.empty()) << state.SettingsError;
    EXPECT_EQ(vars.DataDir, home.Folder.Path + ".config/Tool/");
    EXPECT_TRUE(std::filesystem::exists(vars.DataDir + "~system2.dat"));
    const auto perms = std::filesystem::status(home.Folder.Path + ".config").permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
}

TEST(Startup, MissingBrandingFileStopsWithItsNameAndChangesNothing) {
    TTempHome home(TTempHome::NoConfigVariable | TTempHome::NoDocuments);
    TTempDir exe;
    TGlobalVars vars;
    vars.OutputWMVPreset = 5;
    try {
        PrepareApplication(vars, exe.Path);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(exe.Path + "lamecore.dll"), std::string::npos);
    }
    EXPECT_EQ(vars.OutputWMVPreset, 5);
    EXPECT_TRUE(vars.DataDir.empty());
}

TEST(Startup, UnwritableDataFolderStillStartsWithDefaults) {
    TTempHome home(TTempHome::NoConfigVariable | TTempHome::NoDocuments);
    TTempDir exe;
    exe.Write("lamecore.dll", ScrambleText("[SYSTEM]\nName=Tool\n"));
    // The data folder name is taken by a file: it can be neither created nor written into.
    home.Folder.Write(".config/Tool", "not a folder");
    TGlobalVars vars;
    auto state = PrepareApplication(vars, exe.Path);
    EXPECT_EQ(vars.DataDir, home.Folder.Path + ".config/"); // falls back to the app-data folder
    EXPECT_TRUE(state.SettingsError.empty());
    EXPECT_EQ(vars.OutputMP3Preset, 2);
}
