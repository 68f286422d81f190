// The output catalogue: three classes (Video, Device, Audio), the formats of each class with
// their index, file extension, presets and default preset, and the user's selection of
// class, format and preset as it lives in the state record. No widgets: the output page binds
// its buttons and lists to the functions below.
#pragma once

#include "app/Branding.h"
#include "app/Formats.h"
#include "app/GlobalVars.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

struct TPresetRow;
struct TFormatValues;

// One format of the catalogue: the format table's entry (app/Formats.h) with what its
// presets set. Index is the number stored in the settings; it does not change when an
// edition hides formats.
struct TOutputFormat : TFormatInfo {
    const TFormatValues* Values;          // set for the whole format, before the preset
    std::span<const TPresetRow> Presets;  // in list order

    int PresetCount() const { return int(Presets.size()); }
    bool HasPreset(int preset) const { return preset >= 0 && preset < PresetCount(); }
    // The text of a preset; empty when the index is not in the list.
    std::string_view PresetText(int preset) const;
    // The preset's row; nullptr when the index is not in the list.
    const TPresetRow* Preset(int preset) const;
};

struct TOutputClassInfo {
    int Index;                              // TOutputClass
    std::string_view Name;                  // "Video", "Device", "Audio"
    std::span<const TOutputFormat> Formats; // in button order
    uint8_t TGlobalVars::*FormatKey;        // the state field holding the selected format
};

// The three classes in index order.
std::span<const TOutputClassInfo> OutputClasses();

// Lookups. Numbers outside the catalogue give nullptr; names compare without regard to case
// ("avi", "IPOD", "Wav").
const TOutputClassInfo* FindClass(int outputClass);
const TOutputClassInfo* FindClassByName(std::string_view name);
const TOutputFormat* FindFormat(int outputClass, int format);
const TOutputFormat* FindFormatByName(std::string_view name); // format names are unique
const TOutputFormat* FindFormatByName(int outputClass, std::string_view name);

// Selection state, read from and written to the state record.

// Sets every format's preset to its default.
void ApplyDefaultPresets(TGlobalVars& vars);

// The class buttons: the clicked class becomes the active one. Other numbers are ignored.
void SelectClass(TGlobalVars& vars, int outputClass);
// A format button: the format becomes the selected one of its class; the active class stays.
void SelectFormat(TGlobalVars& vars, const TOutputFormat& format);

// The stored format number of a class; -1 for a class outside the catalogue.
int SelectedFormatIndex(const TGlobalVars& vars, int outputClass);
// The stored format of a class; nullptr when the class or the stored number is unknown.
const TOutputFormat* SelectedFormat(const TGlobalVars& vars, int outputClass);
// The active class's selected format: the one a conversion uses.
const TOutputFormat* ActiveFormat(const TGlobalVars& vars);
// The stored preset number of a format, as stored (it may lie outside the list).
int StoredPreset(const TGlobalVars& vars, const TOutputFormat& format);
// The extension of the active class's selected format; empty when either is unknown.
std::string OutputExtension(const TGlobalVars& vars);

// What the output page shows, without the widgets: the folder box, the class panel, the
// format button of each class and the current entry of each preset list.
struct TOutputPageState {
    std::string FolderText;
    int ShownClass = -1;                                       // -1: no class panel selected
    std::array<int, OutputClassCount> ShownFormat{-1, -1, -1}; // per class; -1 none
    // Current entry of every preset list, per class and format index; -1 no current entry.
    std::array<std::vector<int>, OutputClassCount> PresetIndex;

    int& Preset(const TOutputFormat& format);
    int Preset(const TOutputFormat& format) const;
};

// Entering the page: the stored values, with anything outside the catalogue shown as nothing
// selected (a preset number outside its list leaves the list without a current entry).
TOutputPageState ShowOutputSelection(const TGlobalVars& vars);
// Leaving the page forward: the folder text (with a trailing separator) and every list's
// current entry (-1 when it has none) go back into the state record. Class and format
// choices are not taken here: they were stored when they were clicked.
void TakeOutputSelection(const TOutputPageState& page, TGlobalVars& vars);

// Availability from the edition's branding flags. A format switched off has no button; a
// class with no offered format has no class button; with one class left, no class buttons
// are shown at all. None of this changes indices or the stored selection.
bool FormatOffered(const TBrandingConfig& config, const TOutputFormat& format);
bool ClassOffered(const TBrandingConfig& config, int outputClass);
bool ClassButtonsShown(const TBrandingConfig& config);
// Entering the output page: a stored format the edition does not offer gives way to the
// class's first offered format, and a stored class without offered formats to the first class
// that has some. A class the edition offers nothing of keeps its stored format (for other
// editions), and numbers outside the catalogue stay as read: they select nothing.
void FitSelectionToEdition(const TBrandingConfig& config, TGlobalVars& vars);

// Every preset of the catalogue in class, format and list order.
struct TPresetEntry {
    std::string_view ClassName;
    std::string_view FormatName;
    int Index;
    std::string_view Text;
};
std::vector<TPresetEntry> AllPresets();

} // namespace cw
