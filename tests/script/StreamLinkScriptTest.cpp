// The stream-link script run over video-info answers as the service sends them: a
// form-encoded text whose stream map is itself percent-encoded, each stream's address once
// more.
#include "script/StreamLinkScript.h"
#include "ScriptTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace cw;
using namespace cw::test;

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

struct TStream {
    std::string Itag, Url, Sig; // an empty Sig leaves "sig=" out
};

std::string Description(const TStream& s) {
    std::string d = "itag=" + s.Itag + "&url=" + Escape(s.Url);
    if (!s.Sig.empty())
        d += "&sig=" + s.Sig;
    return d + "&type=" + Escape("video/mp4; codecs=\"avc1.64001F, mp4a.40.2\"") + "&quality=hd";
}

std::string Answer(const std::vector<TStream>& streams) {
    std::string map;
    for (const TStream& s : streams)
        map += (map.empty() ? "" : ",") + Description(s);
    return "status=ok&account_playback_token=abc&url_encoded_fmt_stream_map=" + Escape(map) +
           "&title=Clip&length_seconds=12";
}

const std::string A = "http://r1.example.test/videoplayback?id=1&itag=22&sparams=a%2Cb";
const std::string B = "http://r2.example.test/videoplayback?id=1&itag=43";
const std::string C = "http://r3.example.test/videoplayback?id=1&itag=18";

} // namespace

TEST(StreamLinkScript, TemplateHasItsFiftyNineLinesAndOnePlaceholder) {
    EXPECT_EQ(StreamLinkScriptTemplate.front(), "function getYouTubeUrl(){");
    EXPECT_EQ(StreamLinkScriptTemplate[1], "  var rdata = '%get_video_info';");
    EXPECT_EQ(StreamLinkScriptTemplate[48], "\t  Host.Echo(dllinks);");
    EXPECT_EQ(StreamLinkScriptTemplate.back(), "getYouTubeUrl();");
    const auto lines = StreamLinkScriptLines("A&B%get_video_info");
    ASSERT_EQ(lines.size(), 59u);
    EXPECT_EQ(lines[1], "  var rdata = 'A&B%get_video_info';"); // inserted text is not rescanned
}

TEST(StreamLinkScript, EchoesKnownStreamsOnceAndSkipsWebm) {
    TRecordedHost host;
    host.Run(StreamLinkScriptLines(Answer({{"22", A, "x"}, {"43", B, "y"}, {"18", C, "z"}})));
    EXPECT_TRUE(host.Errors.empty());
    ASSERT_EQ(host.Echoes.size(), 1u);
    EXPECT_EQ(host.Echoes[0], "<22>[" + A + "&signature=x]<br><18>[" + C + "&signature=z]");
}

TEST(StreamLinkScript, AnswerWithoutStreamMapEchoesEmptyText) {
    TRecordedHost host;
    host.Run(StreamLinkScriptLines("status=fail&errorcode=150&reason=Not+available"));
    EXPECT_TRUE(host.Errors.empty());
    EXPECT_EQ(host.Echoes, std::vector<std::string>{""});
}

TEST(StreamLinkScript, MissingSignatureShiftsLaterPairingAndItagsOutsideTheSlotsStillEcho) {
    TRecordedHost host;
    host.Run(StreamLinkScriptLines(Answer({{"22", A, ""}, {"36", B, "y"}, {"18", C, "z"}})));
    EXPECT_TRUE(host.Errors.empty());
    ASSERT_EQ(host.Echoes.size(), 1u);
    EXPECT_EQ(host.Echoes[0], "<22>[" + A + "&signature=y]<br><36>[" + B +
                                  "&signature=z]<br><18>[" + C + "&signature=undefined]");
}

TEST(StreamLinkScript, QuoteInTheAnswerIsASyntaxErrorOnLineTwo) {
    TRecordedHost host;
    host.Run(StreamLinkScriptLines("title=It's"));
    EXPECT_TRUE(host.Echoes.empty());
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Line, 1);
}
