#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace cw;
using cw::test::TTempDir;

namespace {
TIniFile BrandingFrom(const TTempDir& dir, const std::string& plain) {
    dir.Write("lamecore.dll", ScrambleText(plain));
    return LoadBrandingFile(dir.Path + "lamecore.dll");
}
} // namespace

TEST(Branding, ScrambledLinesRoundTripAndNamesIgnoreCase) {
    EXPECT_EQ(UnscrambleLine(UnscrambleLine("Name=A\xE9")), "Name=A\xE9");
    EXPECT_EQ(UnscrambleLine("A"), std::string(1, char(0xBE)));

    TTempDir dir;
    auto ini = BrandingFrom(dir, "[system]\r\nname=My Tool\r\nVERSION=2.1\r\nMP3=Yes\r\n");
    auto c = ReadBrandingConfig(ini, "/opt/cw/");
    EXPECT_EQ(c.Name, "My Tool");
    EXPECT_EQ(c.Version, "2.1");
    EXPECT_TRUE(c.Formats[ocAudio][1]);
    EXPECT_FALSE(c.Formats[ocAudio][0]);
    EXPECT_FALSE(c.Download);
    EXPECT_EQ(c.Skin, 0);
}

TEST(Branding, MissingOrUnreadableFileIsAnErrorNamingIt) {
    TTempDir dir;
    try {
        LoadBrandingFile(dir.Path + "lamecore.dll");
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir.Path + "lamecore.dll"), std::string::npos);
    }
    std::filesystem::create_directory(dir.Path + "lamecore.dll");
    EXPECT_THROW(LoadBrandingFile(dir.Path + "lamecore.dll"), std::runtime_error);
}

TEST(Branding, FlagsIntegersLinksAndUnreadableLines) {
    TTempDir dir;
    // The third line is stored unscrambled, so it reads back as noise and its key is lost.
    std::string stored = ScrambleText("[SYSTEM]\nDownload=True\n") + "Merge=Yes\n" +
                         ScrambleText("AVI=true\nMP4=1\nFLV=\nMOV=Yes\nWEBM=False\nSkin=abc\n"
                                      "DefaultVideo=2\nDefaultClass=7\nDefaultAudio=0x3\n"
                                      "HelpContectLink=docs/help.html\n"
                                      "HelpHomePageLink=https://example.org/x\n"
                                      "HelpSupportLink=/usr/share/doc/x.html\n");
    dir.Write("lamecore.dll", stored);
    auto c = ReadBrandingConfig(LoadBrandingFile(dir.Path + "lamecore.dll"), "/opt/cw/");
    EXPECT_TRUE(c.Download);
    EXPECT_FALSE(c.Merge);
    const auto& video = c.Formats[ocVideo];
    EXPECT_FALSE(video[0]); // AVI=true (lower case)
    EXPECT_FALSE(video[1]); // MP4=1
    EXPECT_FALSE(video[2]); // FLV empty
    EXPECT_TRUE(video[7]);  // MOV=Yes
    EXPECT_FALSE(video[8]); // 3GP missing
    EXPECT_FALSE(video[9]); // MKV missing
    EXPECT_FALSE(video[10]);             // WEBM=False
    EXPECT_FALSE(c.Formats[ocAudio][8]); // OPUS missing
    EXPECT_EQ(c.Skin, 0);   // non-numeric
    EXPECT_EQ(c.DefaultVideo, 2);
    EXPECT_EQ(c.DefaultAudio, 3);
    EXPECT_EQ(c.HelpContectLink, "/opt/cw/docs/help.html");
    EXPECT_EQ(c.HelpHomePageLink, "https://example.org/x");
    EXPECT_EQ(c.HelpSupportLink, "/usr/share/doc/x.html");
    EXPECT_EQ(c.HelpMoreFreeToolsLink, "");

    TGlobalVars v;
    ApplyBrandingToGlobals(c, v);
    EXPECT_EQ(v.OutputFormatClass, 0); // DefaultClass 7 is not a class
    EXPECT_EQ(v.OutputVideoFormat, 2); // FLV
    EXPECT_EQ(v.OutputAudioFormat, 3);
    c.DefaultClass = 2;
    ApplyBrandingToGlobals(c, v);
    EXPECT_EQ(v.OutputFormatClass, 2);
}

TEST(Branding, LinksWithoutSchemeOpenAsWebAddressesAndLocalPagesStayLocal) {
    TTempDir base;
    base.Write("index.html", "<html></html>");
    const std::pair<const char*, std::string> cases[] = {
        {"www.example.com", "https://www.example.com"},
        {"www.example.com/support?x=1", "https://www.example.com/support?x=1"},
        {"example.org:8080/x", "https://example.org:8080/x"},
        {"http://www.example.com", "http://www.example.com"},
        {"mailto:help@example.com", "mailto:help@example.com"},
        {"docs/help.html", base.Path + "docs/help.html"},
        {"docs/help.html#start", base.Path + "docs/help.html#start"},
        {"index.html", base.Path + "index.html"}, // a file of that name lies beside the program
        {"help", base.Path + "help"},
        {"1.2.3.4", base.Path + "1.2.3.4"},
        {"/usr/share/doc/x.html", "/usr/share/doc/x.html"},
        {"", ""},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(ResolveLink(value, base.Path), expected) << value;
}

TEST(Branding, ShippedEditionsReadAsIntended) {
    const std::string root = CW_SOURCE_DIR;
    for (const auto& [file, download, merge] :
         {std::tuple{"branding.ini", true, false}, std::tuple{"branding-join.ini", false, true}}) {
        TTempDir dir;
        std::ifstream in(root + "/data/" + file);
        dir.Write("lamecore.dll", ScrambleText(std::string(std::istreambuf_iterator<char>(in), {})));
        auto c = ReadBrandingConfig(LoadBrandingFile(dir.Path + "lamecore.dll"), "/opt/cw/");
        EXPECT_FALSE(c.Name.empty()) << file;
        EXPECT_EQ(c.Download, download) << file;
        EXPECT_EQ(c.Merge, merge) << file;
        for (int cls = 0; cls < OutputClassCount; ++cls)
            for (bool on : c.Formats[size_t(cls)])
                EXPECT_TRUE(on) << file;
        for (const auto* link : {&c.HelpContectLink, &c.HelpHomePageLink, &c.HelpSupportLink})
            EXPECT_EQ(link->rfind("/opt/cw/docs/", 0), 0u) << *link;
    }
}

TEST(DataFolder, TitleBecomesOneFolderLevel) {
    TTempDir dir;
    EXPECT_EQ(PrepareDataDir("A/B", dir.Path), dir.Path + "A B/");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path + "A B"));
    EXPECT_EQ(PrepareDataDir("", dir.Path), dir.Path);
    // The application-data folder itself is not created: the folder falls back to it.
    const std::string missing = dir.Path + "nothere";
    EXPECT_EQ(PrepareDataDir("Clipwright", missing), missing + "/");
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(ButtonGrid, FormatButtonsFillCellsInOrder) {
    // 400 pixels: (400 - 12) div 62 = 6 columns; the seventh visible button wraps.
    std::vector<bool> flags = {true, false, true, true, true, true, true, true, true};
    auto cells = FormatButtonCells(flags, 400);
    EXPECT_FALSE(cells[1].Visible);
    EXPECT_EQ(cells[0].Left, 10);
    EXPECT_EQ(cells[0].Top, 5);
    EXPECT_EQ(cells[2].Left, 74);
    EXPECT_EQ(cells[7].Left, 10); // seventh visible button
    EXPECT_EQ(cells[7].Top, 65);
    EXPECT_EQ(cells[8].Left, 74);
    // A page narrower than one cell still has one column.
    cells = FormatButtonCells({true, true}, 20);
    EXPECT_EQ(cells[1].Left, 10);
    EXPECT_EQ(cells[1].Top, 65);
}

TEST(ButtonGrid, ClassSelectors) {
    auto layout = ClassSelectorCells({true, true, true}, 560);
    EXPECT_EQ(layout.FormatPagesTop, 172);
    EXPECT_EQ(layout.Selectors[0].Left, 18);
    EXPECT_EQ(layout.Selectors[1].Left, 189);
    EXPECT_EQ(layout.Selectors[2].Left, 360);
    EXPECT_EQ(layout.Selectors[2].Top, 135);

    layout = ClassSelectorCells({true, false, true}, 300);
    EXPECT_FALSE(layout.Selectors[1].Visible);
    EXPECT_EQ(layout.Selectors[2].Left, 18);
    EXPECT_EQ(layout.Selectors[2].Top, 167);

    // Only WAV and MP3 offered: one class left, so every selector hides and pages move up.
    std::vector<bool> audio = {true, true, false, false, false, false, false, false};
    auto audioCells = FormatButtonCells(audio, 560);
    EXPECT_EQ(audioCells[1].Left, 74);
    layout = ClassSelectorCells({false, false, true}, 560);
    for (const auto& s : layout.Selectors)
        EXPECT_FALSE(s.Visible);
    EXPECT_EQ(layout.FormatPagesTop, 120);
}
