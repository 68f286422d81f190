#include "app/Settings.h"

#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "app/Utils.h"

#include <algorithm>
#include <cstdint>
#include <variant>

namespace cw {

namespace {

// One row per key of section "System", in the order the file is written and read.
// Default: the value SetDefaultUserSettings gives; none for the folders and the output
// selection, whose defaults come from the documents folder and the branding file.
struct TSettingRow {
    const char* Key;
    std::variant<std::string TGlobalVars::*, uint8_t TGlobalVars::*, int TGlobalVars::*,
                 bool TGlobalVars::*>
        Field;
    int Default;
    bool HasDefault;
};

using G = TGlobalVars;
const TSettingRow SettingRows[] = {
    {"LastOpenDir", &G::LastOpenDir, 0, false},
    {"OutputFileDir", &G::OutputFileDir, 0, false},
    {"OutputURLDir", &G::OutputURLDir, 0, false},
    {"OutputFormatClass", &G::OutputFormatClass, 0, false},
    {"OutputAudioFormat", &G::OutputAudioFormat, 0, false},
    {"OutputVideoFormat", &G::OutputVideoFormat, 0, false},
    {"OutputDeviceFormat", &G::OutputDeviceFormat, 0, false},
    {"OutputWAVPreset", &G::OutputWAVPreset, 3, true},
    {"OutputMP3Preset", &G::OutputMP3Preset, 2, true},
    {"OutputWMAPreset", &G::OutputWMAPreset, 1, true},
    {"OutputOGGPreset", &G::OutputOGGPreset, 3, true},
    {"OutputM4APreset", &G::OutputM4APreset, 0, true},
    {"OutputAACPreset", &G::OutputAACPreset, 3, true},
    {"OutputFLACPreset", &G::OutputFLACPreset, 5, true},
    {"OutputMP2Preset", &G::OutputMP2Preset, 0, true},
    {"OutputAVIPreset", &G::OutputAVIPreset, 3, true},
    {"OutputMP4Preset", &G::OutputMP4Preset, 3, true},
    {"OutputFLVPreset", &G::OutputFLVPreset, 1, true},
    {"OutputSWFPreset", &G::OutputSWFPreset, 1, true},
    {"OutputMPEGPreset", &G::OutputMPEGPreset, 5, true},
    {"OutputRMPreset", &G::OutputRMPreset, 1, true},
    {"OutputWMVPreset", &G::OutputWMVPreset, 16, true},
    {"OutputMOVPreset", &G::OutputMOVPreset, 7, true},
    {"Output3GPPreset", &G::Output3GPPreset, 2, true},
    {"OutputiPodPreset", &G::OutputiPodPreset, 5, true},
    {"OutputiPhonePreset", &G::OutputiPhonePreset, 1, true},
    {"OutputAppleTVPreset", &G::OutputAppleTVPreset, 1, true},
    {"OutputPSPPreset", &G::OutputPSPPreset, 1, true},
    {"OutputBlackBerryPreset", &G::OutputBlackBerryPreset, 1, true},
    {"OutputMobilePhonePreset", &G::OutputMobilePhonePreset, 1, true},
    {"OutputiPadPreset", &G::OutputiPadPreset, 0, true},
    {"OutputAndroidPreset", &G::OutputAndroidPreset, 0, true},
    {"PlayASoundWhenFinished", &G::PlayASoundWhenFinished, 0, true},
    {"ShutDownWhenFinished", &G::ShutDownWhenFinished, 0, true},
    {"PreferYouTubeQuality", &G::PreferYouTubeQuality, 1, true},
    {"PreferYouTube1", &G::PreferYouTube1, 1, true},
    {"PreferYouTube2", &G::PreferYouTube2, 2, true},
    {"PreferYouTube3", &G::PreferYouTube3, 3, true},
    {"PreferYouTube4", &G::PreferYouTube4, 0, true},
    {"PreferYouTube5", &G::PreferYouTube5, 4, true},
    {"PreferYouTube6", &G::PreferYouTube6, 5, true},
    {"PreferYouTube7", &G::PreferYouTube7, 6, true},
    {"PreferYouTube18", &G::PreferYouTube18, 7, true},
};

template <class... F> struct TOverload : F... {
    using F::operator()...;
};
template <class... F> TOverload(F...) -> TOverload<F...>;

std::string PathFor(const TGlobalVars& vars, const std::string& file) {
    return Trim(file).empty() ? SettingsFilePath(vars) : file;
}

} // namespace

std::string SettingsFilePath(const TGlobalVars& vars) { return vars.DataDir + SettingsFileName; }

void SetDefaultUserSettings(TGlobalVars& vars, const std::string& personalFolder) {
    vars.LastOpenDir = personalFolder;
    vars.OutputFileDir = personalFolder;
    vars.OutputURLDir = personalFolder;
    for (const auto& row : SettingRows) {
        if (!row.HasDefault)
            continue;
        std::visit(TOverload{[](std::string G::*) {},
                             [&](uint8_t G::*f) { vars.*f = uint8_t(row.Default); },
                             [&](int G::*f) { vars.*f = row.Default; },
                             [&](bool G::*f) { vars.*f = row.Default != 0; }},
                   row.Field);
    }
    for (auto& url : vars.StreamURLs)
        url.clear();
}

bool LoadSettings(TGlobalVars& vars) {
    const std::string path = SettingsFilePath(vars);
    if (!FileExists(path)) {
        SaveSettings(vars);
        return false;
    }
    TIniFile ini;
    try {
        ini.Load(path);
    } catch (const std::exception&) {
        // An unreadable file is left alone and every value keeps its default.
        return true;
    }
    const char* s = SettingsSection;
    for (const auto& row : SettingRows) {
        std::visit(TOverload{[&](std::string G::*f) { vars.*f = ini.ReadString(s, row.Key, vars.*f); },
                             [&](uint8_t G::*f) {
                                 vars.*f = uint8_t(ini.ReadInteger(s, row.Key, vars.*f) & 0xFF);
                             },
                             [&](int G::*f) { vars.*f = ini.ReadInteger(s, row.Key, vars.*f); },
                             [&](bool G::*f) { vars.*f = ini.ReadBool(s, row.Key, vars.*f); }},
                   row.Field);
    }
    return true;
}

void SaveSettings(const TGlobalVars& vars) {
    const std::string path = SettingsFilePath(vars);
    TIniFile ini;
    // Keep the placement sections that are already in the file.
    ini.Load(path);
    const char* s = SettingsSection;
    for (const auto& row : SettingRows) {
        std::visit(TOverload{[&](std::string G::*f) { ini.WriteString(s, row.Key, vars.*f); },
                             [&](uint8_t G::*f) { ini.WriteInteger(s, row.Key, vars.*f); },
                             [&](int G::*f) { ini.WriteInteger(s, row.Key, vars.*f); },
                             [&](bool G::*f) { ini.WriteBool(s, row.Key, vars.*f); }},
                   row.Field);
    }
    ini.Save(path);
}

TWindowPlacement ClampPlacement(TWindowPlacement p, int screenWidth, int screenHeight) {
    if (p.Width > screenWidth)
        p.Width = screenWidth;
    if (p.Height > screenHeight)
        p.Height = screenHeight;
    // The stored numbers are whatever the file holds: the sums are taken in 64 bits.
    if (int64_t(p.Left) + p.Width > screenWidth)
        p.Left = int(std::max<int64_t>(int64_t(screenWidth) - p.Width, 0));
    if (int64_t(p.Top) + p.Height > screenHeight)
        p.Top = int(std::max<int64_t>(int64_t(screenHeight) - p.Height, 0));
    if (p.Left < 0)
        p.Left = 0;
    if (p.Top < 0)
        p.Top = 0;
    return p;
}

TWindowPlacement RestorePlacement(const std::string& section, const TWindowPlacement& current,
                                  int screenWidth, int screenHeight, const TGlobalVars& vars,
                                  const std::string& file) {
    TIniFile ini;
    ini.Load(PathFor(vars, file));
    TWindowPlacement p;
    p.Maximized = ini.ReadBool(section, "maximized", false);
    p.Left = ini.ReadInteger(section, "x", current.Left);
    p.Top = ini.ReadInteger(section, "y", current.Top);
    p.Height = ini.ReadInteger(section, "height", current.Height);
    p.Width = ini.ReadInteger(section, "width", current.Width);
    return ClampPlacement(p, screenWidth, screenHeight);
}

void SavePlacement(const std::string& section, const TWindowPlacement& window,
                   const TGlobalVars& vars, const std::string& file) {
    const std::string path = PathFor(vars, file);
    TIniFile ini;
    ini.Load(path);
    ini.WriteInteger(section, "x", window.Left);
    ini.WriteInteger(section, "y", window.Top);
    ini.WriteInteger(section, "height", window.Height);
    ini.WriteInteger(section, "width", window.Width);
    ini.WriteBool(section, "maximized", window.Maximized);
    ini.Save(path);
}

} // namespace cw
