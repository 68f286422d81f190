// The user's settings file "~system2.dat" in the data folder: section "System" with the
// choices of the state record, and one placement section per window.
#pragma once

#include <string>

namespace cw {

struct TGlobalVars;

constexpr const char* SettingsFileName = "~system2.dat";
constexpr const char* SettingsSection = "System";

std::string SettingsFilePath(const TGlobalVars& vars);

// Folders default to the documents folder; presets, post-run options and the quality
// preference get their defaults; the stream addresses are cleared.
void SetDefaultUserSettings(TGlobalVars& vars, const std::string& personalFolder);

// Reads every key over the current values. When the file does not exist it is written with
// the current values and false is returned. Unreadable values keep the current value.
// A file that cannot be read, is empty, holds binary data, ends in the middle of a line or
// lacks section "System" is renamed to "<file>.bad", the current values are written as on
// the first run, false is returned and problem (when given) tells what happened.
bool LoadSettings(TGlobalVars& vars, std::string* problem = nullptr);
// Why a settings text cannot be a file this program wrote, worded; empty when it can.
std::string SettingsDamage(const std::string& text);
// Writes every key of section "System", keeping the file's other sections. Throws
// std::runtime_error naming the file when it cannot be written; the old file then stays.
void SaveSettings(const TGlobalVars& vars);

struct TWindowPlacement {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool Maximized = false;
};

// Where a window goes given the stored values: width and height are limited to the screen,
// the window is moved back onto the screen, and never above or left of it. Only Left, Top
// and Maximized of the result are applied; the window keeps its own size.
TWindowPlacement ClampPlacement(TWindowPlacement stored, int screenWidth, int screenHeight);

// Reads the section's placement with the window's current geometry as defaults and clamps it.
// An empty or blank file name means the settings file of vars.
TWindowPlacement RestorePlacement(const std::string& section, const TWindowPlacement& current,
                                  int screenWidth, int screenHeight, const TGlobalVars& vars,
                                  const std::string& file = "");
void SavePlacement(const std::string& section, const TWindowPlacement& window,
                   const TGlobalVars& vars, const std::string& file = "");
// True when the settings file holds a position for the section's window.
bool PlacementStored(const std::string& section, const TGlobalVars& vars);

} // namespace cw
