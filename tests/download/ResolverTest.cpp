// The external resolver's answers as read into formats, the program runner's limits, and the
// choice of formats for each quality code.
#include "download/Resolver.h"
#include "download/FormatChoice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

using namespace cw;
using cw::test::TTempDir;

namespace {

std::string Answer(const std::string& formats) {
    return R"({"id": "abc", "title": "A clip", "duration": 12.5, "formats": [)" + formats + "]}";
}

} // namespace

TEST(ResolverAnswer, ReadsTheFieldsOfEachFormat) {
    TResolvedVideo video;
    std::string reason;
    ASSERT_TRUE(ParseResolverAnswer(
        Answer(R"({"format_id": "137", "url": "https://h.example/v", "protocol": "https",
                   "ext": "mp4", "vcodec": "avc1.640028", "acodec": "none", "width": 1920,
                   "height": 1080, "fps": 30, "tbr": 4000.5, "filesize": null,
                   "filesize_approx": 123456, "http_headers": {"User-Agent": "UA", "X-A": "1"},
                   "downloader_options": {"http_chunk_size": 10485760}},
                  {"format_id": "0", "url": "http://h.example/plain.mp4", "vcodec": null})"),
        video, reason))
        << reason;
    EXPECT_EQ(video.Id, "abc");
    EXPECT_EQ(video.Title, "A clip");
    EXPECT_DOUBLE_EQ(video.Duration, 12.5);
    ASSERT_EQ(video.Formats.size(), 2u);
    const TResolvedFormat& f = video.Formats[0];
    EXPECT_EQ(f.FormatId, "137");
    EXPECT_EQ(f.Height, 1080);
    EXPECT_EQ(f.Width, 1920);
    EXPECT_EQ(f.FileSize, 123456);
    EXPECT_EQ(f.ChunkSize, 10485760);
    EXPECT_FALSE(f.HasSound());
    EXPECT_TRUE(f.HasPicture());
    EXPECT_EQ(f.Headers, (std::vector<std::pair<std::string, std::string>>{{"User-Agent", "UA"},
                                                                           {"X-A", "1"}}));
    // What a field does not say stays unknown; the protocol follows the address's scheme.
    const TResolvedFormat& plain = video.Formats[1];
    EXPECT_EQ(plain.Protocol, "http");
    EXPECT_EQ(plain.Height, 0);
    EXPECT_TRUE(plain.VCodec.empty());
    EXPECT_TRUE(plain.HasSound() && plain.HasPicture());
    EXPECT_EQ(plain.FileSize, -1);
}

TEST(ResolverAnswer, RefusesAnswersThatAreNotWhatTheyShouldBe) {
    const struct {
        const char* Name;
        std::string Json;
        const char* Reason;
    } cases[] = {
        {"not JSON", "Traceback (most recent call last):", "the answer is not a JSON object."},
        {"a list", "[1, 2]", "the answer is not a JSON object."},
        {"no id", R"({"title": "t", "formats": [{"url": "http://a/b"}]})",
         "the answer names no video id."},
        {"no formats", R"({"id": "x", "formats": []})", "the answer names no format."},
        {"formats not a list", R"({"id": "x", "formats": {"a": 1}})",
         "the answer's formats are not a list."},
        {"height as text", Answer(R"({"url": "http://a/b", "height": "720"})"),
         "the answer's format 1's height is not a number of zero or more."},
        {"negative size", Answer(R"({"url": "http://a/b", "filesize": -5})"),
         "the answer's format 1's filesize is not a number of zero or more."},
        {"header with a line break",
         Answer(R"({"url": "http://a/b", "http_headers": {"X": "a\r\nHost: evil"}})"),
         "the answer's format 1's http_headers is not an object of header lines."},
        {"local file", Answer(R"({"url": "http://a/b"}, {"url": "file:///etc/passwd",
                                 "protocol": "https"})"),
         "the answer's format 2 has an address that is not http or https: file:///etc/passwd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TResolvedVideo video;
        std::string reason;
        EXPECT_FALSE(ParseResolverAnswer(c.Json, video, reason));
        EXPECT_EQ(reason, c.Reason);
    }
    // One format given at the top, as answers for a single file are.
    TResolvedVideo video;
    std::string reason;
    ASSERT_TRUE(ParseResolverAnswer(R"({"id": "x", "url": "https://a/b.webm", "ext": "webm"})",
                                    video, reason))
        << reason;
    ASSERT_EQ(video.Formats.size(), 1u);
    EXPECT_EQ(video.Formats[0].Protocol, "https");
    EXPECT_EQ(video.Title, "x");
}

TEST(ResolverProgram, LimitsAndFailuresAreWorded) {
    const TTempDir folder("cw-res");
    const std::string dir = folder.Path.substr(0, folder.Path.size() - 1);
    const std::string script = dir + "/resolver";
    const std::string childPid = dir + "/child.pid";
    auto write = [&](const std::string& body) {
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    };
    const std::chrono::milliseconds limit(400);

    // A hang: the whole group goes, what it started included.
    write("sleep 30 & echo $! > '" + childPid + "'\nsleep 30");
    TProcessResult r = RunProgram({script}, limit, 1024);
    EXPECT_TRUE(r.Started && r.TimedOut);
    EXPECT_EQ(ResolverFailureText("2023.03.04", r, limit),
              "yt-dlp 2023.03.04: no answer within 0.4 s; it was stopped.");
    pid_t child = 0;
    std::ifstream(childPid) >> child;
    ASSERT_GT(child, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = ::kill(child, 0) != 0 && errno == ESRCH;
        if (!gone)
            ::usleep(10000);
    }
    EXPECT_TRUE(gone) << "the resolver's child outlived it";

    // An answer over the cap is cut there and the program stopped.
    write("while :; do echo '{\"id\": \"padding padding padding padding\"}'; done");
    r = RunProgram({script}, std::chrono::milliseconds(5000), 4096);
    EXPECT_TRUE(r.OverCap);
    EXPECT_EQ(r.Output.size(), 4096u);
    EXPECT_EQ(ResolverFailureText("1", r, limit),
              "yt-dlp 1: the answer is larger than 32 MiB; it was stopped.");
    EXPECT_EQ(ResolverFailureText("1", r, limit, 4096),
              "yt-dlp 1: the answer is larger than 4096 bytes; it was stopped.");

    // A failure: its last ERROR line, with its version.
    write("echo 'WARNING: x' >&2\necho \"ERROR: [youtube] abc: Sign in to confirm you're not a "
          "bot\" >&2\necho 'see the docs' >&2\nexit 1");
    r = RunProgram({script, "--dump-single-json", "--", "a b;c"}, limit * 10, 1024);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(ResolverFailureText("2023.03.04", r, limit),
              "yt-dlp 2023.03.04: ERROR: [youtube] abc: Sign in to confirm you're not a bot");
    write("exit 3");
    r = RunProgram({script}, limit * 10, 1024);
    EXPECT_EQ(ResolverFailureText("", r, limit), "yt-dlp: it ended with exit code 3.");

    // Arguments reach the program one by one, never through a shell.
    write("for a in \"$@\"; do echo \"[$a]\"; done");
    r = RunProgram({script, "--", "x; touch '" + dir + "/owned'", "$(id)"}, limit * 10, 1024);
    EXPECT_EQ(r.Output, "[--]\n[x; touch '" + dir + "/owned']\n[$(id)]\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/owned"));

    // Not installed.
    r = RunProgram({dir + "/missing"}, limit, 1024);
    EXPECT_FALSE(r.Started);
    EXPECT_EQ(r.StartError, ENOENT);
    EXPECT_EQ(ResolverFailureText("", r, limit), ResolverMissingText);
}

TEST(FormatChoice, EachCodeTakesItsHeightAndContainer) {
    // Formats as the service offers them today: one progressive 360p MP4, picture-only H.264
    // and VP9 of several heights, and AAC and Opus sound.
    std::string reason;
    TResolvedVideo video;
    ASSERT_TRUE(ParseResolverAnswer(Answer(R"(
        {"format_id": "18", "url": "https://s/18", "protocol": "https", "ext": "mp4",
         "vcodec": "avc1.42001E", "acodec": "mp4a.40.2", "height": 360},
        {"format_id": "137", "url": "https://s/137", "protocol": "https", "ext": "mp4",
         "vcodec": "avc1.640028", "acodec": "none", "height": 1080},
        {"format_id": "136", "url": "https://s/136", "protocol": "https", "ext": "mp4",
         "vcodec": "avc1.4d401f", "acodec": "none", "height": 720},
        {"format_id": "135", "url": "https://s/135", "protocol": "https", "ext": "mp4",
         "vcodec": "avc1.4d401e", "acodec": "none", "height": 480},
        {"format_id": "160", "url": "https://s/160", "protocol": "https", "ext": "mp4",
         "vcodec": "avc1.4d400c", "acodec": "none", "height": 144},
        {"format_id": "248", "url": "https://s/248", "protocol": "https", "ext": "webm",
         "vcodec": "vp9", "acodec": "none", "height": 1080},
        {"format_id": "244", "url": "https://s/244", "protocol": "https", "ext": "webm",
         "vcodec": "vp9", "acodec": "none", "height": 480},
        {"format_id": "242", "url": "https://s/242", "protocol": "https", "ext": "webm",
         "vcodec": "vp9", "acodec": "none", "height": 240},
        {"format_id": "sb0", "url": "https://s/sb", "protocol": "mhtml", "ext": "mhtml",
         "vcodec": "none", "acodec": "none", "height": 90},
        {"format_id": "live", "protocol": "https", "vcodec": "vp9", "acodec": "none",
         "height": 720},
        {"format_id": "140", "url": "https://s/140", "protocol": "https", "ext": "m4a",
         "vcodec": "none", "acodec": "mp4a.40.2", "tbr": 129},
        {"format_id": "139", "url": "https://s/139", "protocol": "https", "ext": "m4a",
         "vcodec": "none", "acodec": "mp4a.40.5", "tbr": 48},
        {"format_id": "251", "url": "https://s/251", "protocol": "https", "ext": "webm",
         "vcodec": "none", "acodec": "opus", "tbr": 160})"),
                                    video, reason))
        << reason;
    auto id = [&](int index) {
        return index < 0 ? std::string("-") : video.Formats[size_t(index)].FormatId;
    };
    const struct {
        int Code;
        const char* Picture;
        const char* Sound;
    } table[] = {
        {7, "137", "140"},  // [HQ37] 1080p MP4: H.264 picture, AAC sound
        {3, "136", "140"},  // [HQ22] 720p MP4
        {2, "244", "251"},  // [HQ35] 480p: VP9 with Opus
        {1, "18", "-"},     // [HQ18] 360p MP4: the progressive format
        {6, "18", "-"},     // [HQ34] 360p, any container: the progressive one too
        {0, "242", "251"},  // [HQ6] 240p
        {-1, "242", "251"}, // the default quality, 240p
        {4, "160", "140"},  // [HQ13] 144p 3GP: H.264 and AAC
        {5, "160", "140"},  // [HQ17]
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Code);
        TFormatChoice choice;
        ASSERT_TRUE(ChooseFormats(video, row.Code, false, choice));
        EXPECT_EQ(id(choice.Picture), row.Picture);
        EXPECT_EQ(id(choice.Sound), row.Sound);
    }
    EXPECT_STREQ(JoinContainerFor("h264", "aac").Extension, ".mp4");
    EXPECT_STREQ(JoinContainerFor("vp9", "opus").Muxer, "webm");
    EXPECT_STREQ(JoinContainerFor("h264", "opus").Muxer, "matroska");
    EXPECT_EQ(SavedDescription(1080, ".mp4", "h264", "aac"), "1080p MP4 (H.264 + AAC)");
    EXPECT_EQ(SavedDescription(0, ".webm", "vp9", ""), "WEBM (VP9)");

    // Nothing at or below 144p for an MP4 target without H.264: the attempt fails.
    TResolvedVideo tall;
    ASSERT_TRUE(ParseResolverAnswer(Answer(R"(
        {"url": "https://s/1", "protocol": "https", "vcodec": "avc1", "acodec": "none", "height": 720},
        {"url": "https://s/2", "protocol": "https", "vcodec": "none", "acodec": "mp4a.40.2"},
        {"url": "https://s/3", "protocol": "https", "ext": "mp4"})"),
                                    tall, reason));
    TFormatChoice choice;
    EXPECT_FALSE(ChooseFormats(tall, 4, false, choice));
    EXPECT_TRUE(ChooseFormats(tall, 3, false, choice));
    EXPECT_EQ(choice.Picture, 0);
    EXPECT_EQ(choice.Sound, 1);
    // A format of unknown height serves a code no format of known height serves, when the
    // queue still allows it.
    ASSERT_TRUE(ChooseFormats(tall, 4, true, choice));
    EXPECT_EQ(choice.Picture, 2);
    EXPECT_FALSE(choice.Joined());
}
