#include "app/Settings.h"

#include "app/Formats.h"
#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "app/Utils.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <variant>
#include <vector>

namespace cw {

namespace {

// One row per key of section "System", in the order the file is written and read.
// Default: the value SetDefaultUserSettings gives; none for the folders and the output
// selection, whose defaults come from the documents folder and the branding file.
struct TSettingRow {
    std::string Key;
    std::variant<std::string TGlobalVars::*, uint8_t TGlobalVars::*, int TGlobalVars::*,
                 bool TGlobalVars::*>
        Field;
    int Default;
    bool HasDefault;
};

using G = TGlobalVars;

// The output selection's keys come from the format table: the class, each class's format
// and each format's preset, the classes taken in the order Audio, Video, Device.
std::vector<TSettingRow> BuildSettingRows() {
    std::vector<TSettingRow> rows = {
        {"LastOpenDir", &G::LastOpenDir, 0, false},
        {"OutputFileDir", &G::OutputFileDir, 0, false},
        {"OutputURLDir", &G::OutputURLDir, 0, false},
        {"OutputFormatClass", &G::OutputFormatClass, 0, false},
    };
    const auto classes = FormatClasses();
    const TFormatClass* order[] = {&classes[ocAudio], &classes[ocVideo], &classes[ocDevice]};
    for (const TFormatClass* c : order)
        rows.push_back({c->FormatKeyName(), c->FormatKey, 0, false});
    for (const TFormatClass* c : order)
        for (const TFormatInfo& f : c->Formats)
            rows.push_back({f.PresetKeyName(), f.PresetKey, f.DefaultPreset, true});
    const TSettingRow tail[] = {
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
        {"Resolver", &G::Resolver, 0, false},
        {"ResolverProgram", &G::ResolverProgram, 0, false},
    };
    rows.insert(rows.end(), std::begin(tail), std::end(tail));
    return rows;
}

const std::vector<TSettingRow>& SettingRows() {
    static const std::vector<TSettingRow> rows = BuildSettingRows();
    return rows;
}

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
    for (const auto& row : SettingRows()) {
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

std::string SettingsDamage(const std::string& text) {
    if (text.empty())
        return "it is empty";
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            return "it holds binary data";
    // Every file written here ends in a line break; a last line that is neither a section
    // nor a key is what is left of a write that was cut short.
    if (text.back() != '\n') {
        const auto nl = text.rfind('\n');
        std::string last = Trim(text.substr(nl == std::string::npos ? 0 : nl + 1));
        const bool section =
            last.size() >= 2 && last.front() == '[' && last.find(']') != std::string::npos;
        const auto eq = last.find('=');
        if (!section && (eq == std::string::npos || Trim(last.substr(0, eq)).empty()))
            return "it ends in the middle of a line";
    }
    TIniFile ini;
    ini.LoadFromText(text);
    if (!ini.SectionExists(SettingsSection))
        return std::string("it has no section ") + SettingsSection;
    return "";
}

bool LoadSettings(TGlobalVars& vars, std::string* problem) {
    const std::string path = SettingsFilePath(vars);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 ||
        (S_ISLNK(st.st_mode) && !FileExists(path) && !DirectoryExists(path))) {
        SaveSettings(vars);
        return false;
    }
    std::string reason;
    std::string text;
    try {
        if (DirectoryExists(path))
            throw std::runtime_error("it is a folder");
        text = ReadFileText(path);
        reason = SettingsDamage(text);
    } catch (const std::exception& e) {
        reason = std::string("it cannot be read: ") + e.what();
    }
    if (!reason.empty()) {
        // The damaged file is set aside, not overwritten, and the defaults stand; a fresh
        // file is written as on the first run.
        // An earlier damaged file kept aside stays too: the new one takes a free name.
        const std::string target = ResolveSymlinks(path);
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string aside =
            folder + UniqueFileName(target.substr(folder.size()) + ".bad", folder);
        std::string line = "The settings file \"" + path + "\" could not be used (" + reason +
                           "); the defaults are used instead";
        if (::rename(target.c_str(), aside.c_str()) == 0)
            line += " and the file was kept as \"" + aside + "\".";
        else
            line +=
                "; it could not be kept aside as \"" + aside + "\" (" + std::strerror(errno) + ").";
        if (problem)
            *problem = line;
        SaveSettings(vars);
        return false;
    }
    TIniFile ini;
    ini.LoadFromText(text);
    const char* s = SettingsSection;
    for (const auto& row : SettingRows()) {
        std::visit(TOverload{[&](std::string G::*f) { vars.*f = ini.ReadString(s, row.Key, vars.*f); },
                             [&](uint8_t G::*f) {
                                 vars.*f = uint8_t(ini.ReadInteger(s, row.Key, vars.*f) & 0xFF);
                             },
                             [&](int G::*f) { vars.*f = ini.ReadInteger(s, row.Key, vars.*f); },
                             [&](bool G::*f) { vars.*f = ini.ReadBool(s, row.Key, vars.*f); }},
                   row.Field);
    }
    // Folders typed or edited by hand mean what the folder boxes make of them.
    for (std::string* folder : {&vars.LastOpenDir, &vars.OutputFileDir, &vars.OutputURLDir})
        if (!Trim(*folder).empty())
            *folder = ExpandUserFolder(*folder);
    return true;
}

void SaveSettings(const TGlobalVars& vars) {
    const std::string path = SettingsFilePath(vars);
    TIniFile ini;
    // Keep the placement sections that are already in the file.
    ini.Load(path);
    const char* s = SettingsSection;
    for (const auto& row : SettingRows()) {
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
    try {
        ini.Load(PathFor(vars, file));
    } catch (const std::exception&) {
        // A file that cannot be read places nothing: the window stays where it is.
    }
    TWindowPlacement p;
    p.Maximized = ini.ReadBool(section, "maximized", false);
    p.Left = ini.ReadInteger(section, "x", current.Left);
    p.Top = ini.ReadInteger(section, "y", current.Top);
    p.Height = ini.ReadInteger(section, "height", current.Height);
    p.Width = ini.ReadInteger(section, "width", current.Width);
    return ClampPlacement(p, screenWidth, screenHeight);
}

bool PlacementStored(const std::string& section, const TGlobalVars& vars) {
    TIniFile ini;
    try {
        ini.Load(SettingsFilePath(vars));
    } catch (const std::exception&) {
        return false;
    }
    return ini.ValueExists(section, "x") && ini.ValueExists(section, "y");
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
