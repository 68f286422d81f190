// Link intake: what counts as a link of the service, how pasted text is cut into links, the
// duplicate rule, and what is read from a watch page.
#include "app/Branding.h"
#include "download/VideoLinks.h"

#include <gtest/gtest.h>

using namespace cw;

namespace {
const std::string Domain = "www.youtube.com";
using TLines = std::vector<std::string>;
} // namespace

TEST(VideoLinks, OnlyLinksToAVideoOfTheSiteCountInAnyLetterCase) {
    EXPECT_TRUE(IsVideoLink("https://www.youtube.com/watch?v=abc", Domain));
    EXPECT_TRUE(IsVideoLink("HTTP://WWW.YOUTUBE.COM/watch?v=abc", Domain));
    // The site's usual host forms and video paths.
    for (const char* link :
         {"http://youtube.com/watch?v=a-_9", "https://m.youtube.com/watch?feature=x&v=abc",
          "https://www.youtube.com:443/embed/abc", "http://www.youtube.com/v/abc/",
          "https://www.youtube.com/shorts/abc", "  https://www.youtube.com/watch?v=abc \r",
          // The links people paste: short links, live videos, the music host, a start time
          // or the list the video was played from.
          "https://youtu.be/abc", "https://youtu.be/abc?t=42&si=x",
          "https://www.youtube.com/live/abc", "https://music.youtube.com/watch?v=abc&list=RDabc",
          "https://www.youtube.com/watch?v=abc&t=1m2s&list=PLx&index=3"})
        EXPECT_TRUE(IsVideoLink(link, Domain)) << link;
    // Text that merely mentions the site, other hosts, other schemes, no video id.
    for (const char* text :
         {"see www.youtube.com, it is http", "www.youtube.com/watch?v=abc", "http://vimeo.com/123",
          "ftp://www.youtube.com/watch?v=abc", "file:///www.youtube.com/watch?v=abc",
          "http://www.youtube.com.evil.test/watch?v=abc",
          "http://www.youtube.com@evil.test/watch?v=abc", "http://evil.test/?www.youtube.com",
          "https://www.youtube.com/", "https://www.youtube.com/watch?v=",
          "https://www.youtube.com/watch?v=a<b", "https://www.youtube.com/embed/",
          "https://youtu.be/", "https://youtu.be.evil.test/abc", "https://www.youtube.com/live/"})
        EXPECT_FALSE(IsVideoLink(text, Domain)) << text;
    EXPECT_TRUE(IsVideoLink("http://127.0.0.1:8080/watch?v=a", "127.0.0.1:8080"));
    EXPECT_FALSE(IsVideoLink("http://127.0.0.1:8081/watch?v=a", "127.0.0.1:8080"));
    // Short links belong to the service's own domain only.
    EXPECT_FALSE(IsVideoLink("https://youtu.be/abc", "127.0.0.1:8080"));
}

TEST(VideoLinks, PastedTextSplitsAtLineBreaksAndKeepsQuotedRunsWhole) {
    EXPECT_EQ(SplitPastedText("a\r\nb\nc\rd"), (TLines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitPastedText("\r\n\n  first\r\n\r\n\r\nsecond\n\n"),
              (TLines{"  first", "second"})); // blanks are kept, empty lines give nothing
    EXPECT_EQ(SplitPastedText(""), TLines{});
    EXPECT_EQ(SplitPastedText("\r\n\r\n"), TLines{});
    // A quoted run holds its line breaks; the quotes stay; the other quote kind is text.
    EXPECT_EQ(SplitPastedText("x \"a\nb\" y\nz 'it\"s\r\nok' w\nlast"),
              (TLines{"x \"a\nb\" y", "z 'it\"s\r\nok' w", "last"}));
    // An open quote runs to the end of the text.
    EXPECT_EQ(SplitPastedText("one\n'two\nthree"), (TLines{"one", "'two\nthree"}));
    EXPECT_EQ(SplitPastedText(std::string("a\nb\0c\nd", 7)), (TLines{"a", "b"}));
}

TEST(VideoLinks, OnlyAnExactlyEqualListedLinkIsADuplicate) {
    const std::string link = "https://www.youtube.com/watch?v=Ab";
    const std::vector<std::string> listed = {"https://www.youtube.com/watch?v=ab", link};
    EXPECT_EQ(CheckNewLink(listed, link, Domain), TLinkVerdict::lvDuplicate);
    EXPECT_EQ(CheckNewLink({"https://www.youtube.com/watch?v=ab"}, link, Domain),
              TLinkVerdict::lvAdd);
    EXPECT_EQ(CheckNewLink({}, "hello", Domain), TLinkVerdict::lvNotALink);
    // Links of other sites only where the edition takes them; never a text that is no link.
    EXPECT_EQ(CheckNewLink({}, "https://vimeo.com/123", Domain), TLinkVerdict::lvNotALink);
    EXPECT_EQ(CheckNewLink({}, "https://vimeo.com/123", Domain, true), TLinkVerdict::lvAdd);
    for (const char* text : {"hello", "file:///etc/passwd", "https://", "https://a b/c"})
        EXPECT_EQ(CheckNewLink({}, text, Domain, true), TLinkVerdict::lvNotALink) << text;
    EXPECT_EQ(RefusedLinkMessage(TLinkVerdict::lvNotALink, "hello"),
              "hello\n\r\n\rThis is not a YouTube video link.");
    EXPECT_EQ(RefusedLinkMessage(TLinkVerdict::lvDuplicate, link),
              link + "\n\r\n\rThis video is already in the download list.");
}

TEST(VideoLinks, TitleComesFromTheTitleTagUndecoded) {
    EXPECT_EQ(ExtractVideoTitle("<head>\n<meta name=\"title\" content=\"Rock &amp; Roll\">\n"
                                "<meta name=\"keywords\" content=\"a\">"),
              "Rock &amp; Roll");
    // The tag may follow line breaks; bytes are kept as they are.
    EXPECT_EQ(ExtractVideoTitle("x\r\n\r\n<meta name=\"title\" content=\"caf\xC3\xA9 \xE9\">"),
              "caf\xC3\xA9 \xE9");
    EXPECT_EQ(ExtractVideoTitle("<meta name=\"Title\" content=\"Nope\">"), "");
    EXPECT_EQ(ExtractVideoTitle("<meta name=\"title\" content=\"\">"), "");
    EXPECT_EQ(ExtractVideoTitle(""), "");
}

TEST(VideoLinks, InfoAddressTakesTheIdOfTheFirstWatchLink) {
    const std::string page = "<link href=\"http://www.youtube.com/watch?v=XyZ_12-a\">\n"
                             "<a href=\"http://www.youtube.com/watch?v=other\">";
    EXPECT_EQ(MakeVideoInfoURL(page, Domain),
              "http://www.youtube.com/get_video_info?video_id=XyZ_12-a");
    // The lazy run reaches over line breaks to the first quote; what followed the id stays.
    EXPECT_EQ(MakeVideoInfoURL("www.youtube.com/watch?v=ab&feature=x\ny\"", Domain),
              "http://www.youtube.com/get_video_info?video_id=ab&feature=x\ny");
    EXPECT_EQ(MakeVideoInfoURL("no link here", Domain),
              "http://www.youtube.com/get_video_info?video_id=");
    // The domain is a pattern: its dots match any character.
    EXPECT_EQ(MakeVideoInfoURL("\"127x0.0.1:99/watch?v=id7\"", "127.0.0.1:99"),
              "http://127.0.0.1:99/get_video_info?video_id=127x0.0.1:99/watch?v=id7");
}

TEST(VideoLinks, TitlesBecomeValidUtf8) {
    EXPECT_EQ(TitleAsUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(TitleAsUtf8("caf\xE9!"), "caf\xC3\xA9!");                 // a Latin-1 byte
    EXPECT_EQ(TitleAsUtf8("\xE2\x82"), "\xC3\xA2\xC2\x82");             // a cut-off sequence
    EXPECT_EQ(TitleAsUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // a surrogate
}

TEST(VideoLinks, TheServiceDomainIsABrandingKeyWithADefault) {
    TIniFile ini;
    ini.LoadFromText("[SYSTEM]\r\nName=Ed\r\n");
    EXPECT_EQ(ReadBrandingConfig(ini, "/").VideoSiteDomain, DefaultVideoSiteDomain);
    ini.LoadFromText("[SYSTEM]\r\nName=Ed\r\nVideoSiteDomain=127.0.0.1:8080\r\n");
    EXPECT_EQ(ReadBrandingConfig(ini, "/").VideoSiteDomain, "127.0.0.1:8080");
    ini.LoadFromText("[SYSTEM]\r\nVideoSiteDomain= \r\n");
    EXPECT_EQ(ReadBrandingConfig(ini, "/").VideoSiteDomain, DefaultVideoSiteDomain);
    EXPECT_FALSE(ReadBrandingConfig(ini, "/").AnySite);
    for (const char* value : {"1", "True"}) {
        ini.LoadFromText(std::string("[SYSTEM]\r\nAnySite=") + value + "\r\n");
        EXPECT_TRUE(ReadBrandingConfig(ini, "/").AnySite) << value;
    }
}
