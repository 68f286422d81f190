// The download queue over the external resolver: a stand-in resolver program (a script that
// prints an answer in yt-dlp's form) names picture-only and sound-only formats on a loopback
// media server; the queue fetches them with the answer's headers in chunks, resumes a dropped
// connection, joins the parts by stream copy and leaves nothing else behind. Failures of the
// resolver fail the link with their words.
#include "DownloadTestSupport.h"

#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"

#include <set>

using namespace cw;
using namespace cw::test;

namespace {

// Files served under /media/NAME with single ranges answered; a name in CutOnce has its first
// answer dropped half-way.
class TMediaServer {
public:
    TMediaServer() {
        Http = std::make_unique<TTestHttpServer>([this](httplib::Server& server, TTestHttpServer&) {
            server.Get(R"(/media/([^/]+))", [this](const httplib::Request& req,
                                                   httplib::Response& res) { Serve(req, res); });
        });
    }
    std::string Url(const std::string& name) const { return Http->Url("/media/" + name); }

    std::map<std::string, std::string> Files;
    std::set<std::string> CutOnce;
    std::unique_ptr<TTestHttpServer> Http;

private:
    void Serve(const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1];
        std::string body;
        bool cut = false;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (!Files.count(name)) {
                res.status = 404;
                return;
            }
            body = Files[name];
            cut = CutOnce.erase(name) > 0;
        }
        const_cast<httplib::Request&>(req).ranges.clear();
        size_t first = 0, last = body.size() - 1;
        const std::string range = req.get_header_value("Range");
        if (range.rfind("bytes=", 0) == 0) {
            first = std::stoull(range.substr(6));
            const std::string end = range.substr(range.find('-') + 1);
            if (!end.empty())
                last = std::min<size_t>(std::stoull(end), body.size() - 1);
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                std::to_string(last) + "/" +
                                                std::to_string(body.size()));
        }
        const std::string piece = body.substr(first, last - first + 1);
        const size_t send = cut ? piece.size() / 2 : piece.size();
        res.set_content_provider(piece.size(), "application/octet-stream",
                                 [piece, send](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= send)
                                         return false; // drops the connection
                                     return sink.write(piece.data() + offset,
                                                       std::min<size_t>(send - offset, 4096));
                                 });
    }
    std::mutex Lock;
};

// Packets per stream kind of a media file, read with the libraries.
std::map<AVMediaType, int64_t> PacketCounts(const std::string& path) {
    std::map<AVMediaType, int64_t> counts;
    TFFDecoder decoder;
    if (!decoder.LoadFile(path))
        return counts;
    AVFormatContext* context = decoder.Context();
    AVPacket* packet = ff::av_packet_alloc();
    while (ff::av_read_frame(context, packet) >= 0) {
        ++counts[context->streams[packet->stream_index]->codecpar->codec_type];
        ff::av_packet_unref(packet);
    }
    ff::av_packet_free(&packet);
    return counts;
}

class ResolvedQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
        TFixtureParams params;
        params.Seconds = 2;
        const TFixture clip = WriteFixture(fkMp4H264Aac, Work.Path + "clip.mp4", params);
        SplitFixture(clip, Work.Path + "v.mp4", Work.Path + "a.m4a");
        Media.Files["v.mp4"] = ReadFile(Work.Path + "v.mp4");
        Media.Files["a.m4a"] = ReadFile(Work.Path + "a.m4a");
        Script = Work.Path + "yt-dlp-stand-in";
        Rig.Queue->Resolver.Program = Script;
        Rig.Queue->ResolverMode = TResolverMode::rmAuto;
        // Today's service: the watch page is there, the info answer has no streams.
        TFakeVideo video;
        video.Id = "abc";
        video.Title = "Old title";
        video.StreamMap = false;
        Rig.Service.AddVideo(video);
    }

    // The stand-in prints its version, then runs body for the question (which it logs).
    void WriteResolver(const std::string& body) {
        std::ofstream(Script) << "#!/bin/sh\necho \"$*\" >> '" << Log() << "'\n"
                              << "[ \"$1\" = --version ] && echo 2023.03.04 && exit 0\n"
                              << body << "\n";
        std::filesystem::permissions(Script, std::filesystem::perms::owner_all);
    }
    void AnswerWith(const std::string& json) {
        std::ofstream(Work.Path + "answer.json") << json;
        WriteResolver("cat '" + Work.Path + "answer.json'");
    }
    std::string Log() const { return Work.Path + "resolver.log"; }
    std::string Format(const std::string& id, const std::string& name, const std::string& codecs,
                       const std::string& extra = "") {
        return R"({"format_id": ")" + id + R"(", "url": ")" + Media.Url(name) +
               R"(", "protocol": "http", )" + codecs + extra + "}";
    }

    // The media server outlives the queue, so that the queue's kept connections are closed by
    // the time the server stops (it keeps idle connections open for the whole test).
    TMediaServer Media;
    TQueueRig Rig;
    TTempDir Work{"cwdl"};
    std::string Script;
};

} // namespace

TEST_F(ResolvedQueueTest, JoinsPictureAndSoundFetchedInChunksWithTheAnswersHeaders) {
    const std::string options = R"(, "http_headers": {"User-Agent": "StandIn/1", "X-Clip-Token":
        "t0k"}, "downloader_options": {"http_chunk_size": 16384})";
    AnswerWith(
        R"({"id": "abc", "title": "Loop: clip", "formats": [)" +
        Format("v", "v.mp4", R"("ext": "mp4", "vcodec": "avc1.64000c", "acodec": "none",
                      "height": 120)",
               options) +
        "," +
        Format("a", "a.m4a", R"("ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2")", options) +
        "]}");
    Media.CutOnce = {"v.mp4"};

    ASSERT_TRUE(Rig.Run(Rig.Links({"abc"})));
    ASSERT_EQ(Rig.Vars.URLSucceeded, 1) << ::testing::PrintToString(Rig.Host.Reasons[0]);
    // One file under the answer's title; the parts are gone.
    EXPECT_EQ(Rig.Folder.Names(), std::vector<std::string>{"Loop_ clip.mp4"});
    const std::string saved = Rig.Folder.Path + "Loop_ clip.mp4";
    EXPECT_EQ(Rig.Vars.DownloadedFiles, std::vector<std::string>{saved});
    EXPECT_EQ(Rig.Host.Last[0].Quality, "120p MP4 (H.264 + AAC)");
    // Stream copy: every packet of both parts, and nothing else.
    const auto picture = PacketCounts(Work.Path + "v.mp4");
    const auto sound = PacketCounts(Work.Path + "a.m4a");
    const auto joined = PacketCounts(saved);
    ASSERT_GT(picture.at(AVMEDIA_TYPE_VIDEO), 0);
    EXPECT_EQ(joined.at(AVMEDIA_TYPE_VIDEO), picture.at(AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(joined.at(AVMEDIA_TYPE_AUDIO), sound.at(AVMEDIA_TYPE_AUDIO));

    // Every request carried the answer's headers and asked for at most one chunk; the
    // dropped answer was resumed.
    int media = 0;
    for (const TRecordedRequest& r : Media.Http->Requests()) {
        if (r.Path.rfind("/media/", 0) != 0)
            continue;
        ++media;
        EXPECT_EQ(r.Header("X-Clip-Token"), "t0k");
        EXPECT_EQ(r.Header("User-Agent"), "StandIn/1");
        const std::string range = r.Header("Range");
        ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
        const uint64_t first = std::stoull(range.substr(6));
        const uint64_t last = std::stoull(range.substr(range.find('-') + 1));
        EXPECT_LE(last - first + 1, 16384u) << range;
    }
    const size_t whole = Media.Files["v.mp4"].size() + Media.Files["a.m4a"].size();
    EXPECT_GE(media, int(whole / 16384) + 2); // the chunks, and the resumed one
    EXPECT_TRUE(Media.CutOnce.empty());

    // The resolver was asked once, as an argument vector, after its version.
    EXPECT_EQ(ReadFile(Log()), "--version\n--dump-single-json --no-playlist --no-warnings -- " +
                                   Rig.Service.WatchUrl("abc") + "\n");
}

TEST_F(ResolvedQueueTest, TheQualityPreferenceFallsThroughToWhatTheAnswerOffers) {
    // Only a 120p picture: 360p and 720p MP4 attempts take it at or below their height; with
    // a 144p 3GP first, that one takes it.
    AnswerWith(R"({"id": "abc", "title": "Pref", "formats": [)" +
               Format("v", "v.mp4", R"("ext": "mp4", "vcodec": "avc1", "acodec": "none",
                      "height": 120)") +
               "," +
               Format("a", "a.m4a", R"("ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2")") +
               "]}");
    Rig.Vars.PreferYouTubeQuality = true;
    ASSERT_TRUE(Rig.Run(Rig.Links({"abc"})));
    EXPECT_EQ(Rig.Vars.URLSucceeded, 1);
    EXPECT_EQ(Rig.Vars.QualityAttempt, 1);
    EXPECT_EQ(Rig.Folder.Names(), std::vector<std::string>{"Pref.mp4"});
    // The answer of the link is kept for all its attempts: the resolver ran once.
    const std::string log = ReadFile(Log());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

TEST_F(ResolvedQueueTest, WithTheBuiltinRouteAloneTheResolverNeverStarts) {
    AnswerWith(R"({"id": "abc", "formats": [)" +
               Format("v", "v.mp4", R"("ext": "mp4", "vcodec": "avc1", "acodec": "mp4a")") + "]}");
    Rig.Queue->ResolverMode = TResolverMode::rmBuiltin;
    ASSERT_TRUE(Rig.Run(Rig.Links({"abc"})));
    EXPECT_EQ(Rig.Vars.URLSucceeded, 0);
    EXPECT_EQ(Rig.Queue->Resolver.Starts(), 0);
    EXPECT_FALSE(std::filesystem::exists(Log()));
    EXPECT_TRUE(Rig.Folder.Names().empty());
}

TEST_F(ResolvedQueueTest, ResolverFailuresFailTheLinkWithTheirWordsAndLeaveNoFile) {
    const struct {
        const char* Name;
        std::string Body; // the stand-in's answer to the question; empty: not installed
        std::string Reason;
    } cases[] = {
        {"local file",
         R"(echo '{"id": "abc", "formats": [{"url": "file:///etc/hostname", "protocol": "http"}]}')",
         "yt-dlp 2023.03.04: the answer's format 1 has an address that is not http or https: "
         "file:///etc/hostname"},
        {"answer over the cap", "while :; do echo '{\"padding\": \"padding padding\"}'; done",
         "yt-dlp 2023.03.04: the answer is larger than 4096 bytes; it was stopped."},
        {"hang", "sleep 30", "yt-dlp 2023.03.04: no answer within 0.5 s; it was stopped."},
        {"non-zero exit",
         "echo \"ERROR: [youtube] abc: Sign in to confirm you're not a bot\" >&2; exit 1",
         "yt-dlp 2023.03.04: ERROR: [youtube] abc: Sign in to confirm you're not a bot"},
        {"not an object", "echo '[]'", "yt-dlp 2023.03.04: the answer is not a JSON object."},
        {"the part's server fails",
         R"(echo '{"id": "abc", "formats": [{"url": ")" + Media.Url("gone.mp4") +
             R"(", "protocol": "http", "ext": "mp4"}]}')",
         "The server answered with status 404."},
        {"not installed", "", ResolverMissingText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TQueueRig rig;
        rig.Service.AddVideo({"abc", "T", true, true, false, {}, "", false});
        rig.Queue->ResolverMode = TResolverMode::rmExternal;
        rig.Queue->Resolver.Program = c.Body.empty() ? Work.Path + "missing" : Script;
        rig.Queue->Resolver.TimeLimit = std::chrono::milliseconds(500);
        rig.Queue->Resolver.OutputCap = 4096;
        WriteResolver(c.Body);
        ASSERT_TRUE(rig.Run(rig.Links({"abc"})));
        EXPECT_EQ(rig.Vars.URLSucceeded, 0);
        ASSERT_FALSE(rig.Host.Reasons[0].empty());
        EXPECT_EQ(rig.Host.Reasons[0].back(), c.Reason);
        EXPECT_EQ(rig.Host.Statuses[0].back(), "Failed.");
        EXPECT_TRUE(rig.Folder.Names().empty()) << ::testing::PrintToString(rig.Folder.Names());
        // With the external route alone, the service's pages are not asked for.
        EXPECT_EQ(rig.Service.Server().RequestCount("/watch"), 0);
    }
}
