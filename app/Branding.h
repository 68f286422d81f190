// The branding file: a scrambled INI text beside the executable that decides the title,
// version line, links, offered formats, defaults and artwork of an edition.
#pragma once

#include "app/Formats.h"
#include "app/IniFile.h"

#include <array>
#include <string>
#include <vector>

namespace cw {

struct TGlobalVars;

constexpr const char* BrandingFileName = "lamecore.dll";
constexpr const char* BrandingSection = "SYSTEM";

std::string ConfigFilePath();

// Complements every byte; its own inverse, so it both scrambles and unscrambles.
std::string UnscrambleLine(const std::string& line);
// Turns a whole readable text into the stored form (line breaks stay as they are).
std::string ScrambleText(const std::string& text);

// Reads and unscrambles the branding file into an INI document. Throws std::runtime_error
// naming the file when it is missing or unreadable.
TIniFile LoadBrandingFile(const std::string& path);

// The flags that offer the formats of a class, in button order: "AVI", ..., "IPOD", ...;
// empty for a number outside the classes.
const std::vector<std::string>& FormatKeys(int outputClass);

// Everything the branding file holds, read in the order the window applies it.
struct TBrandingConfig {
    std::string Name;
    std::string Version;
    std::string Copyright;
    bool Download = false;
    bool Merge = false;
    int Skin = 0;
    std::string ResFolder;
    std::string HelpContectLink;
    std::string HelpHowTosTutorialVideosLink;
    std::string HelpHomePageLink;
    std::string HelpMoreFreeToolsLink;
    std::string HelpCheckForUpdatesLink;
    std::string HelpSupportLink;
    // Format flags per class, in the order of FormatKeys.
    std::array<std::vector<bool>, OutputClassCount> Formats;
    int DefaultVideo = 0;
    int DefaultDevice = 0;
    int DefaultAudio = 0;
    int DefaultClass = 0;
    // The video service's host name (our own key); "www.youtube.com" when the key is absent.
    std::string VideoSiteDomain = "www.youtube.com";
    // Links of any site are taken when the external resolver can read them (our own key).
    bool AnySite = false;
};

// Reads every key. Missing strings are empty, flags false; missing or non-numeric integers
// are 0. A relative link value is resolved against linkBase (the executable folder), so that
// the edition can point at its own help pages.
TBrandingConfig ReadBrandingConfig(const TIniFile& ini, const std::string& linkBase);

// A link value as the window opens it: absolute addresses and paths as they are, a host name
// without a scheme ("www.example.com/x") as an https address, anything else below base.
std::string ResolveLink(const std::string& value, const std::string& base);
// True when the text starts with something shaped like a host name.
bool LooksLikeHost(const std::string& value);

// Stores the branding values in the state record and applies the default output choices
// (DefaultClass only when it is 0, 1 or 2).
void ApplyBrandingToGlobals(const TBrandingConfig& config, TGlobalVars& vars);

// The per-user data folder: appData + title with "/" turned into blanks, created one level
// deep when missing; appData itself when the title is empty or creating fails. Both end in
// the separator.
std::string PrepareDataDir(const std::string& title, const std::string& appData);

// Where a button goes on a page.
struct TCellPlacement {
    bool Visible = false;
    int Left = 0;
    int Top = 0;
};

// Format buttons of one class page: hidden where the flag is off, the rest in consecutive
// cells of 62 x 57 pixels.
std::vector<TCellPlacement> FormatButtonCells(const std::vector<bool>& flags, int pageWidth);

struct TClassSelectorLayout {
    std::array<TCellPlacement, OutputClassCount> Selectors;
    int FormatPagesTop = 172; // top of the class pages' control
};

// The class selector buttons: a class with no offered format has none; with only one class
// left, all three are hidden and the format pages move up.
TClassSelectorLayout ClassSelectorCells(const std::array<bool, OutputClassCount>& classVisible,
                                        int pageWidth);

} // namespace cw
