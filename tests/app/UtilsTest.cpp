#include "app/Utils.h"
#include "tests/support/TempDir.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace cw;
using cw::test::TTempDir;
using cw::test::TTempHome;

TEST(PathNames, TrailingSeparatorAndExtensions) {
    EXPECT_EQ(AddTrailingBackslash("/out"), "/out/");
    EXPECT_EQ(AddTrailingBackslash("/out/"), "/out/");
    EXPECT_EQ(AddTrailingBackslash(""), ""); // no folder stays no folder, never the root
    EXPECT_EQ(StripExtension("/a.b/clip"), "/a.b/clip");
    EXPECT_EQ(StripExtension("/music/song.flac"), "/music/song");
    EXPECT_EQ(StripExtension("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(ExtractFileExt("/a.b/clip"), "");
    EXPECT_EQ(ExtractFileExt("/x/clip.MP4"), ".MP4");
    EXPECT_EQ(ExtractFileName("/x/y/clip.mp4"), "clip.mp4");
    EXPECT_EQ(ExtractFilePath("/x/y/clip.mp4"), "/x/y/");
    // The media libraries: "lib" first, "../lib" only when "lib" does not bind.
    for (const bool libBinds : {true, false}) {
        std::vector<std::string> tried;
        EXPECT_TRUE(BindFromLibraryFolders("/opt/cw/", [&](const std::string& folder) {
            tried.push_back(folder);
            return libBinds || folder == "/opt/cw/../lib";
        }));
        const std::vector<std::string> expected =
            libBinds ? std::vector<std::string>{"/opt/cw/lib"}
                     : std::vector<std::string>{"/opt/cw/lib", "/opt/cw/../lib"};
        EXPECT_EQ(tried, expected);
    }
}

TEST(UniqueFileName, NumbersTakenNamesLiterally) {
    TTempDir dir;
    EXPECT_EQ(UniqueFileName("clip.mp4", dir.Path), "clip.mp4");
    dir.Write("clip.mp4", "x");
    dir.Write("clip(1).mp4", "x");
    EXPECT_EQ(UniqueFileName("clip.mp4", dir.Path), "clip(2).mp4");

    dir.Write("Output_Merge", "x");
    EXPECT_EQ(UniqueFileName("Output_Merge", dir.Path), "Output_Merge(1)");

    // Percent signs and format-like text are ordinary characters.
    dir.Write("100%d.mp3", "x");
    EXPECT_EQ(UniqueFileName("100%d.mp3", dir.Path), "100%d(1).mp3");

    // A folder under the name is taken too: it can never become the output file.
    std::filesystem::create_directory(dir.Path + "movie.avi");
    EXPECT_EQ(UniqueFileName("movie.avi", dir.Path), "movie(1).avi");
}

TEST(FileNames, SanitizeAndValidate) {
    EXPECT_EQ(SanitizeFileName("AC/DC: Live?"), "AC_DC_ Live_");
    EXPECT_EQ(SanitizeFileName("a\\b*c\"d<e>f|g"), "a_b_c_d_e_f_g");
    EXPECT_EQ(SanitizeFileName("plain name.mp4"), "plain name.mp4");
    EXPECT_FALSE(IsValidFileName(""));
    EXPECT_FALSE(IsValidFileName("a:b"));
    EXPECT_TRUE(ContainsAnyChar("abc", "xyc"));
    EXPECT_FALSE(ContainsAnyChar("abc", "xyz"));
}

TEST(MediaExtensions, TableAndCase) {
    EXPECT_EQ(MediaExtensions().size(), 41u);
    EXPECT_TRUE(IsMediaExtension(".MP3"));
    EXPECT_TRUE(IsMediaExtension(".rmvb"));
    EXPECT_FALSE(IsMediaExtension(".webm"));
    EXPECT_FALSE(IsMediaExtension(".mpeg"));
    EXPECT_FALSE(IsMediaExtension("mp3"));
}

TEST(TextValues, TrueOnlyForTrueAndYes) {
    EXPECT_TRUE(IsTrueValue("True"));
    EXPECT_TRUE(IsTrueValue("Yes"));
    for (const char* v : {"true", "yes", "1", "", "TRUE", " True"})
        EXPECT_FALSE(IsTrueValue(v)) << v;
}

TEST(TimeFormats, MicrosecondsAndSeconds) {
    EXPECT_EQ(FormatMicroseconds(0), "00:00:00.000");
    EXPECT_EQ(FormatMicroseconds(83456789), "00:01:23.456");
    EXPECT_EQ(FormatMicroseconds(int64_t(100) * 3600 * 1000000), "100:00:00.000");
    EXPECT_EQ(FormatSeconds(3725), "01:02:05");
    EXPECT_EQ(FormatSeconds(0), "00:00:00");
    EXPECT_EQ(FormatSeconds(360000), "100:00:00");
}

TEST(TextRoutines, TextBetween) {
    EXPECT_EQ(TextBetween("x=1&y=2", "y=", "&"), "");
    EXPECT_EQ(TextBetween("x=1&y=2&z", "y=", "&"), "2");
    EXPECT_EQ(TextBetween("<title>Clip</title>", "<title>", "</title>"), "Clip");
    // Absent start marker: the remainder begins at (1-based) position length(start).
    EXPECT_EQ(TextBetween("abcdef", "zzz", "e"), "cd");
    EXPECT_EQ(TextBetween("", "a", "b"), "");
}

TEST(TextRoutines, SplitText) {
    EXPECT_EQ(SplitText("a,,b,", ","), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitText("", ",").empty());
    EXPECT_EQ(SplitText("one\r\ntwo\r\n", "\r\n"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(SplitText(",x", ","), (std::vector<std::string>{"", "x"}));
}

TEST(TextRoutines, DecodeHtmlEntities) {
    EXPECT_EQ(DecodeHtmlEntities("Tom &amp; Jerry &lt;3&gt; &quot;hi&quot;&nbsp;!"),
              "Tom & Jerry <3> \"hi\" !");
    EXPECT_EQ(DecodeHtmlEntities("it&#39;s"), "it's");
    EXPECT_EQ(DecodeHtmlEntities("end&#65"), "endA");
    EXPECT_EQ(DecodeHtmlEntities("&#321;"), "\xC5\x81");
    EXPECT_EQ(DecodeHtmlEntities("it&#8217;s &#x1F600;&#X41;"), "it\xE2\x80\x99s \xF0\x9F\x98\x80"
                                                                "A");
    // Never a control byte in a title.
    EXPECT_EQ(DecodeHtmlEntities("a&#10;b&#0;c&#x7F;d&#xD800;e&#x110000;"), "a b\xEF\xBF\xBD"
                                                                            "c\xEF\xBF\xBD"
                                                                            "d\xEF\xBF\xBD"
                                                                            "e\xEF\xBF\xBD");
    // Unknown entities and bare ampersands stay as they are.
    EXPECT_EQ(DecodeHtmlEntities("a & b &copy; &#x; &#;"), "a & b &copy; &#x; &#;");
    for (const char* s : {"&", "&#", "&amp", "&#1234567890123;"})
        EXPECT_LE(DecodeHtmlEntities(s).size(), std::string(s).size()) << s;
}

TEST(ShellFolders, FollowXdgAndFallBackToHome) {
    TTempHome home(TTempHome::NoConfigVariable | TTempHome::NoDocuments);
    const TTempDir& dir = home.Folder;
    const std::string base = dir.Path.substr(0, dir.Path.size() - 1);
    EXPECT_EQ(ShellFolder("AppData"), base + "/.config");
    EXPECT_EQ(ShellFolder("Personal"), base); // no Documents folder: home
    EXPECT_EQ(ShellFolder("Nonsense"), base);

    std::filesystem::create_directory(dir.Path + "Docs");
    std::filesystem::create_directory(dir.Path + "cfg");
    dir.Write("cfg/user-dirs.dirs", "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    home.Set("XDG_CONFIG_HOME", dir.Path + "cfg");
    EXPECT_EQ(ShellFolder("AppData"), dir.Path + "cfg");
    EXPECT_EQ(ShellFolder("Personal"), base + "/Docs");
}

TEST(ShellFolders, TypedFoldersAreTakenBelowTheHomeFolder) {
    TTempHome home;
    home.Set("HOME", "/home/ann/");
    const std::pair<const char*, const char*> cases[] = {
        {"~", "/home/ann"},
        {"~/", "/home/ann/"},
        {"~/Clipwright test", "/home/ann/Clipwright test"},
        {"Videos/out/", "/home/ann/Videos/out/"},
        {"./x", "/home/ann/./x"},
        {"~other/x", "/home/ann/~other/x"},
        {"/media/films", "/media/films"},
        {"", ""},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(ExpandUserFolder(typed), expected) << typed;
}
