#include "app/Branding.h"

#include "app/GlobalVars.h"
#include "app/Utils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

namespace cw {

std::string ConfigFilePath() { return ExecutableFolder() + BrandingFileName; }

std::string UnscrambleLine(const std::string& line) {
    std::string out = line;
    for (char& c : out)
        c = char(~static_cast<unsigned char>(c));
    return out;
}

std::string ScrambleText(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        auto nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos
                                                                       : nl - start);
        bool cr = !line.empty() && line.back() == '\r';
        if (cr)
            line.pop_back();
        out += UnscrambleLine(line);
        if (nl == std::string::npos)
            break;
        out += cr ? "\r\n" : "\n";
        start = nl + 1;
    }
    return out;
}

TIniFile LoadBrandingFile(const std::string& path) {
    if (!FileExists(path))
        throw std::runtime_error("The branding file \"" + path + "\" is missing.");
    std::string text;
    try {
        text = ReadFileText(path);
    } catch (const std::exception&) {
        throw std::runtime_error("The branding file \"" + path + "\" cannot be read.");
    }
    // Only LF and CR LF separate the stored lines; the scrambled bytes never contain them
    // unless the plain text had bytes 0xF5 or 0xF2, which INI text does not.
    std::vector<std::string> lines = SplitLines(text);
    for (auto& l : lines)
        l = UnscrambleLine(l);
    TIniFile ini;
    ini.LoadFromLines(lines);
    return ini;
}

const std::vector<std::string>& FormatKeys(int outputClass) {
    static const auto keys = [] {
        std::array<std::vector<std::string>, OutputClassCount> all;
        for (const TFormatClass& c : FormatClasses())
            for (const TFormatInfo& f : c.Formats)
                all[size_t(c.Index)].push_back(f.BrandingKey());
        return all;
    }();
    static const std::vector<std::string> none;
    return outputClass >= 0 && outputClass < OutputClassCount ? keys[size_t(outputClass)] : none;
}

bool LooksLikeHost(const std::string& value) {
    // The part before the first "/", ":", "?" or "#": two or more dot-separated labels of
    // letters, digits and hyphens, the last one letters only ("www.example.com").
    const std::string host = value.substr(0, value.find_first_of("/:?#"));
    const auto labels = SplitText(host, ".");
    if (labels.size() < 2)
        return false;
    for (const auto& label : labels) {
        if (label.empty() || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
                return false;
    }
    const std::string& top = labels.back();
    return top.size() >= 2 && std::all_of(top.begin(), top.end(), [](char c) {
               return std::isalpha(static_cast<unsigned char>(c)) != 0;
           });
}

std::string ResolveLink(const std::string& value, const std::string& base) {
    if (value.empty() || value.find("://") != std::string::npos || value[0] == '/' ||
        value.rfind("mailto:", 0) == 0)
        return value;
    const std::string local = AddTrailingBackslash(base) + value;
    // A web address written without its scheme; a file of that name beside the program
    // (such as "index.html") stays a file.
    if (LooksLikeHost(value) && !FileExists(local.substr(0, local.find_first_of("?#"))))
        return "https://" + value;
    return local;
}

namespace {
int ReadInt(const TIniFile& ini, const char* key) {
    int v = 0;
    return ParseIniInteger(ini.ReadString(BrandingSection, key, ""), v) ? v : 0;
}
} // namespace

TBrandingConfig ReadBrandingConfig(const TIniFile& ini, const std::string& linkBase) {
    TBrandingConfig c;
    auto str = [&](const char* key) { return ini.ReadString(BrandingSection, key, ""); };
    auto flag = [&](const std::string& key) { return IsTrueValue(ini.ReadString(BrandingSection, key, "")); };
    auto link = [&](const char* key) { return ResolveLink(str(key), linkBase); };
    c.Name = str("Name");
    c.Version = str("Version");
    c.Copyright = str("Copyright");
    c.Download = flag("Download");
    c.Merge = flag("Merge");
    c.Skin = ReadInt(ini, "Skin");
    c.ResFolder = str("ResFolder");
    c.HelpContectLink = link("HelpContectLink");
    c.HelpHowTosTutorialVideosLink = link("HelpHowTosTutorialVideosLink");
    c.HelpHomePageLink = link("HelpHomePageLink");
    c.HelpMoreFreeToolsLink = link("HelpMoreFreeToolsLink");
    c.HelpCheckForUpdatesLink = link("HelpCheckForUpdatesLink");
    c.HelpSupportLink = link("HelpSupportLink");
    for (int cls = 0; cls < OutputClassCount; ++cls)
        for (const auto& key : FormatKeys(cls))
            c.Formats[size_t(cls)].push_back(flag(key));
    c.DefaultVideo = ReadInt(ini, "DefaultVideo");
    c.DefaultDevice = ReadInt(ini, "DefaultDevice");
    c.DefaultAudio = ReadInt(ini, "DefaultAudio");
    c.DefaultClass = ReadInt(ini, "DefaultClass");
    if (const std::string domain = Trim(str("VideoSiteDomain")); !domain.empty())
        c.VideoSiteDomain = domain;
    // Written "1" in editions, like the other keys of ours; the file's own flag words too.
    c.AnySite = flag("AnySite") || Trim(str("AnySite")) == "1";
    return c;
}

void ApplyBrandingToGlobals(const TBrandingConfig& c, TGlobalVars& v) {
    v.Version = c.Version;
    v.Copyright = c.Copyright;
    v.Download = c.Download;
    v.Merge = c.Merge;
    v.Skin = c.Skin;
    v.ResFolder = c.ResFolder;
    v.HelpContectLink = c.HelpContectLink;
    v.HelpHowTosTutorialVideosLink = c.HelpHowTosTutorialVideosLink;
    v.HelpHomePageLink = c.HelpHomePageLink;
    v.HelpMoreFreeToolsLink = c.HelpMoreFreeToolsLink;
    v.HelpCheckForUpdatesLink = c.HelpCheckForUpdatesLink;
    v.HelpSupportLink = c.HelpSupportLink;
    if (c.DefaultClass >= 0 && c.DefaultClass <= 2)
        v.OutputFormatClass = uint8_t(c.DefaultClass);
    v.OutputVideoFormat = uint8_t(c.DefaultVideo);
    v.OutputDeviceFormat = uint8_t(c.DefaultDevice);
    v.OutputAudioFormat = uint8_t(c.DefaultAudio);
}

std::string PrepareDataDir(const std::string& title, const std::string& appData) {
    const std::string base = AddTrailingBackslash(appData);
    std::string name = title;
    std::replace(name.begin(), name.end(), '/', ' ');
    const std::string dir = AddTrailingBackslash(base + name);
    if (name.empty())
        return dir;
    if (DirectoryExists(dir))
        return dir;
    // One level only: the application-data folder itself is not created.
    if (::mkdir(dir.c_str(), 0755) == 0 || DirectoryExists(dir))
        return dir;
    return base;
}

std::vector<TCellPlacement> FormatButtonCells(const std::vector<bool>& flags, int pageWidth) {
    const int columns = std::max(1, (pageWidth - 10 - 2) / 62);
    std::vector<TCellPlacement> cells(flags.size());
    int k = 0;
    for (size_t i = 0; i < flags.size(); ++i) {
        if (!flags[i])
            continue;
        cells[i] = {true, 10 + (k % columns) * 64, 5 + (k / columns) * 60};
        ++k;
    }
    return cells;
}

TClassSelectorLayout ClassSelectorCells(const std::array<bool, OutputClassCount>& classVisible,
                                        int pageWidth) {
    TClassSelectorLayout layout;
    const int columns = std::max(1, (pageWidth - 18) / 171);
    int k = 0;
    for (size_t i = 0; i < classVisible.size(); ++i) {
        if (!classVisible[i])
            continue;
        layout.Selectors[i] = {true, 18 + (k % columns) * 171, 135 + (k / columns) * 32};
        ++k;
    }
    if (k == 1) {
        for (auto& s : layout.Selectors)
            s.Visible = false;
        layout.FormatPagesTop = 120;
    }
    return layout;
}

} // namespace cw
