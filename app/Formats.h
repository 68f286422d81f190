// The output formats the program offers, declared once: the three classes and, per class, the
// formats in button order with their name, button caption, file extension, default preset and
// the state field that holds the chosen preset. The settings keys and the branding keys are
// derived from the names; the presets themselves and what they set live with the conversion
// code (convert/Catalogue.cpp), in the same order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cw {

struct TGlobalVars;

// The output classes in the fixed button order.
enum TOutputClass { ocVideo = 0, ocDevice = 1, ocAudio = 2 };
constexpr int OutputClassCount = 3;

struct TFormatInfo {
    int Class;                   // TOutputClass
    int Index;                   // position within the class; the number stored in the settings
    std::string_view Name;       // "AVI", "iPod", "WAV", ...
    std::string_view Caption;    // the format button's text (may break into two lines)
    std::string_view Extension;  // with its dot: ".avi"; ".mp4" for every device
    int DefaultPreset;           // preset chosen before any setting is read
    int TGlobalVars::*PresetKey; // the state field holding the selected preset

    // The key of the branding file's flag that offers the format: the name in capitals.
    std::string BrandingKey() const;
    // The settings key of the selected preset: "OutputAVIPreset".
    std::string PresetKeyName() const;
};

struct TFormatClass {
    int Index;                            // TOutputClass
    std::string_view Name;                // "Video", "Device", "Audio"
    std::span<const TFormatInfo> Formats; // in button order
    uint8_t TGlobalVars::*FormatKey;      // the state field holding the selected format

    // The settings key of the selected format: "OutputVideoFormat".
    std::string FormatKeyName() const;
};

// The three classes in index order.
std::span<const TFormatClass> FormatClasses();

} // namespace cw
