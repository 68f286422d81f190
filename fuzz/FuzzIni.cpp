// The INI reader and what is read through it: the settings file with the window placements
// (and the choices that later index the catalogue and the quality list), and the branding
// file after unscrambling. The first byte picks the road. Beyond "no crash", the reader must
// give back what it was just told to write, and loading and saving the settings must reach
// a fixed point after one round.
#include "FuzzSupport.h"

#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "convert/Catalogue.h"
#include "convert/PresetMapping.h"
#include "download/Quality.h"

#include <cstdlib>
#include <fstream>

namespace {

using namespace cw;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Reads every kind of value, then writes a value made from the input and reads it back.
void IniDocument(const std::string& text) {
    TIniFile ini;
    ini.LoadFromText(text);
    const std::string once = ini.Text();
    TIniFile again;
    again.LoadFromText(once);
    if (again.Text() != once)
        Fail("text of a loaded document changes when loaded again");
    for (const char* section : {"System", "Form", "SYSTEM", ""}) {
        for (const char* key : {"x", "Skin", "OutputFileDir", ""}) {
            (void)ini.ReadString(section, key, "d");
            (void)ini.ReadInteger(section, key, 7);
            (void)ini.ReadBool(section, key, true);
        }
    }
    std::string value = text.substr(0, 64);
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    ini.WriteString("System", "Probe", value);
    if (ini.ReadString("System", "Probe", "") != value)
        Fail("a written value reads back differently");
    int number = 0;
    if (ParseIniInteger(value, number)) {
        ini.WriteInteger("Form", "y", number);
        if (ini.ReadInteger("Form", "y", number + 1) != number)
            Fail("a written integer reads back differently");
    }
}

// The settings file as the window loads it at start and saves it at close.
void SettingsFile(const std::string& text) {
    TGlobalVars vars;
    vars.DataDir = fuzz::ScratchDir().string() + "/";
    const std::string path = SettingsFilePath(vars);
    WriteFile(path, text);
    SetDefaultUserSettings(vars, vars.DataDir);
    LoadSettings(vars);

    // What the loaded choices are used for.
    (void)ShowOutputSelection(vars);
    (void)OutputExtension(vars);
    (void)ActiveFormat(vars);
    const TPreferenceOrder order = PreferenceOrder(vars);
    for (int attempt = 0; attempt < 10; ++attempt) {
        (void)AttemptName(attempt, order);
        (void)AttemptSlot(attempt, order);
        (void)AttemptExtension(attempt, order);
    }
    (void)PreferenceSummary(vars.PreferYouTubeQuality, order);
    for (const char* section : {"Form", "FormLog"}) {
        const TWindowPlacement current{10, 20, 640, 480, false};
        const TWindowPlacement p = RestorePlacement(section, current, 1280, 800, vars);
        if (p.Left < 0 || p.Top < 0)
            Fail("a restored window lies above or left of the screen");
        SavePlacement(section, p, vars);
    }

    SaveSettings(vars);
    const std::string first = ReadFileText(path);
    TGlobalVars reloaded;
    reloaded.DataDir = vars.DataDir;
    LoadSettings(reloaded);
    SaveSettings(reloaded);
    if (ReadFileText(path) != first)
        Fail("settings saved, loaded and saved again differ");
}

// The branding file: stored scrambled, read and applied as at start-up.
void BrandingFile(const std::string& text) {
    const std::string path = fuzz::ScratchDir().string() + "/" + BrandingFileName;
    WriteFile(path, ScrambleText(text));
    const TIniFile ini = LoadBrandingFile(path);
    const TBrandingConfig config = ReadBrandingConfig(ini, "/opt/clipwright/");
    TGlobalVars vars;
    ApplyBrandingToGlobals(config, vars);
    std::array<bool, OutputClassCount> visible{};
    for (int c = 0; c < OutputClassCount; ++c) {
        (void)FormatButtonCells(config.Formats[size_t(c)], 520);
        visible[size_t(c)] = ClassOffered(config, c);
    }
    (void)ClassSelectorCells(visible, 520);
    (void)ClassButtonsShown(config);
    (void)OutputExtension(vars);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::string text = fuzz::Text(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        IniDocument(text);
        break;
    case 1:
        SettingsFile(text);
        break;
    case 2:
        BrandingFile(text);
        break;
    }
    return 0;
}
