// The info answer goes into the stream-link script as a string literal: the script sees the
// answer's characters exactly, whatever they are, and benign answers run as before. The
// script's echo fills the nine stream urls.
#include "download/StreamLinks.h"
#include "script/Script.h"
#include "script/StreamLinkScript.h"
#include "tests/support/FakeVideoService.h"

#include <gtest/gtest.h>

using namespace cw;
using cw::test::TFakeVideoService;

namespace {

struct TScriptRun {
    TJavaScript Script;
    std::shared_ptr<THostScriptlet> Host = std::make_shared<THostScriptlet>();
    std::vector<std::string> Echoes;
    std::vector<std::string> Errors;
    TScriptRun() {
        Host->OnEcho = [this](THostScriptlet&, const std::string& t) { Echoes.push_back(t); };
        Script.AddItem(Host);
        Script.OnError = [this](TCustomScript&, const TScriptError& e) {
            Errors.push_back(e.Description);
        };
    }
    void Run(std::vector<std::string> lines) {
        Script.Lines = std::move(lines);
        Script.Run();
    }
};

std::string MapAnswer(const std::string& descriptions) {
    return "status=ok&url_encoded_fmt_stream_map=" + TFakeVideoService::Escape(descriptions) +
           "&title=x";
}

} // namespace

TEST(StreamLinks, BenignAnswersGiveTheSameScriptText) {
    const std::string answer =
        MapAnswer("itag=22&url=" + TFakeVideoService::Escape("http://a/v?x=1&y=2") +
                  "&sig=AB.CD&type=video%2Fmp4") +
        "&note=\"double\"&caf\xC3\xA9";
    EXPECT_EQ(StreamScriptLines(answer), StreamLinkScriptLines(answer));
}

TEST(StreamLinks, TheScriptSeesQuotesBackslashesAndLineBreaksExactly) {
    // Raw characters inside the stream map (only "&" and "," of the map itself are encoded):
    // every one of them must reach the echoed address unchanged.
    const std::string odd = "http://h/a'b\\c\"d\ne\rf\xE2\x80\xA8g\xE2\x80\xA9h\ti";
    const std::string answer = "status=ok&url_encoded_fmt_stream_map=itag=18%26url=" + odd +
                               "%26sig=Z9%2Citag=5%26url=http://h/five%26sig=Q&end=1";
    TScriptRun run;
    run.Run(StreamScriptLines(answer));
    EXPECT_TRUE(run.Errors.empty()) << run.Errors.front();
    ASSERT_EQ(run.Echoes.size(), 1u);
    EXPECT_EQ(run.Echoes[0], "<18>[" + odd + "&signature=Z9]<br><5>[http://h/five&signature=Q]");
}

TEST(StreamLinks, AHostileAnswerCannotRunItsOwnCode) {
    // Written to close the string, echo a link of its author's choosing and comment out the
    // rest; as a string it is just an answer without a stream map.
    const std::string evil = "status=ok';Host.Echo('<18>[http://evil.example/x]');//\\";
    TScriptRun before;
    before.Run(StreamLinkScriptLines(evil)); // the answer inserted as it is: the attack works
    ASSERT_FALSE(before.Echoes.empty());
    EXPECT_EQ(before.Echoes[0], "<18>[http://evil.example/x]");

    TScriptRun after;
    after.Run(StreamScriptLines(evil));
    EXPECT_TRUE(after.Errors.empty());
    EXPECT_EQ(after.Echoes, std::vector<std::string>{""});

    // A stray byte that is not UTF-8 is one character of its own, not a broken script.
    TScriptRun stray;
    stray.Run(StreamScriptLines(MapAnswer("itag=5&url=http://h/\xFF&sig=s")));
    EXPECT_TRUE(stray.Errors.empty());
    EXPECT_EQ(stray.Echoes, std::vector<std::string>{"<5>[http://h/\xC3\xBF&signature=s]"});
}

TEST(StreamLinks, EchoFillsTheSlotsOfKnownItagsOnly) {
    TStreamURLs urls;
    urls[2] = "kept";
    ParseStreamList("", urls);
    EXPECT_EQ(urls[2], "kept");
    ParseStreamList("<22>[http://a&signature=x]<br><43>[http://b]<br><36>[http://c]<br>"
                    "<5>[http://d&signature=]<br><22>[http://e&signature=y]",
                    urls);
    EXPECT_EQ(urls[0], "http://d&signature=");
    EXPECT_EQ(urls[2], "kept");
    EXPECT_EQ(urls[4], "http://e&signature=y"); // a later 22 wins
    for (size_t i : {1u, 3u, 5u, 6u, 7u, 8u})
        EXPECT_EQ(urls[i], "") << i;
    EXPECT_THROW(ParseStreamList("<NaN>[http://x]", urls), std::invalid_argument);
}
