// clipwright-cli download against the fake video service: status lines, the summary, the
// saved files and the exit codes.
#include "engine/FFApi.h"
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"
#include "tests/support/CommandRun.h"
#include "tests/support/FakeVideoService.h"
#include "tests/support/TempDir.h"
#include "tests/support/TempHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace cw::test;
using cw::test::TFixtureParams;
namespace fs = std::filesystem;

namespace {

using TRun = TCommandRun;

class DownloadCommandTest : public ::testing::Test {
protected:
    // Runs the command in the test's home (the settings go there).
    TRun Download(const std::string& arguments) {
        return RunCommand(std::string(CLI_PATH) + " download " + arguments + " 2>/dev/null");
    }
    std::string Link(const std::string& id) { return "'" + Service.WatchUrl(id) + "'"; }
    std::string Site() { return " --site " + Service.Domain() + " --out '" + Out() + "' "; }
    std::string Out() { return (Dir / "videos").string(); }

    TFakeVideoService Service;
    TTempHome Home;
    TTempDir Temp{"cw-cli-dl"};
    fs::path Dir{Temp.Path};
};

TFakeVideo Video(const std::string& id, const std::string& title, std::vector<int> itags) {
    TFakeVideo v;
    v.Id = id;
    v.Title = title;
    for (int itag : itags) {
        TFakeStream s;
        s.Itag = itag;
        s.Body = id + " in itag " + std::to_string(itag);
        v.Streams.push_back(s);
    }
    return v;
}

} // namespace

TEST_F(DownloadCommandTest, SavesWhatItCanAndSummarises) {
    Service.AddVideo(Video("a", "Clip: one", {5, 22, 18}));
    TFakeVideo none = Video("b", "Nothing", {});
    none.StreamMap = false;
    Service.AddVideo(none);

    // The built-in route alone: the video without streams goes through every quality.
    const TRun run = Download(Site() + "--resolver-mode builtin --order 1,2,3,0,4,5,6,7 " +
                              Link("a") + " " + Link("b"));
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_NE(run.Out.find("[1/2] Finish. Clip: one\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("[2/2] [HQ34] failed, try next: [HQ37]\n"), std::string::npos);
    EXPECT_NE(run.Out.find("[2/2] Failed. Nothing\n"), std::string::npos);
    const std::string saved = Out() + "/Clip_ one.mp4";
    EXPECT_NE(run.Out.find("Total files: 2\nSuccessed: 1\nFailed: 1\n" + saved + "\n"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(ReadFile(saved), "a in itag 18");
    EXPECT_EQ(Service.StreamRequestOrder("a"), std::vector<int>{18});

    // The same run for a script: nothing but JSON lines, agreeing with the texts above.
    const std::string jsonOut = Out() + "-json";
    const TRun json =
        Download("--json --resolver-mode=builtin --site " + Service.Domain() + " --out '" +
                 jsonOut + "' --order 1,2,3,0,4,5,6,7 " + Link("a") + " " + Link("b"));
    EXPECT_EQ(json.ExitCode, 1) << json.Out;
    std::map<std::string, std::vector<QJsonObject>> events;
    std::istringstream lines(json.Out);
    for (std::string line; std::getline(lines, line);) {
        QJsonParseError error{};
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        events[object["Event"].toString().toStdString()].push_back(object);
    }
    ASSERT_FALSE(events["progress"].empty()) << json.Out;
    // Exact byte counts: the stream's body is the 12 bytes saved below.
    const qint64 body = qint64(std::string("a in itag 18").size());
    qint64 most = 0;
    for (const QJsonObject& p : events["progress"]) {
        most = std::max(most, p["Bytes"].toInteger());
        if (p["Total"].isDouble()) {
            EXPECT_EQ(p["Total"].toInteger(), body) << json.Out;
        }
    }
    EXPECT_EQ(most, body) << json.Out;
    for (const QJsonObject& p : events["progress"]) {
        EXPECT_EQ(p["Index"].toInt(-1), 0) << json.Out;
        EXPECT_EQ(p["File"].toString(), "Clip: one");
        EXPECT_GE(p["Percent"].toInt(-1), 0);
        EXPECT_LE(p["Percent"].toInt(101), 100);
        EXPECT_GE(p["Bytes"].toInteger(-1), 0);
        // The fake service states every length.
        if (p["Percent"].toInt() > 0) {
            ASSERT_TRUE(p["Total"].isDouble()) << json.Out;
            EXPECT_LE(p["Bytes"].toInteger(), p["Total"].toInteger());
            EXPECT_GE(p["RemainingSeconds"].toInt(-1), 0);
        }
        EXPECT_GE(p["Speed"].toDouble(-1), 0);
        EXPECT_GE(p["ElapsedSeconds"].toInt(-1), 0);
    }
    ASSERT_EQ(events["file"].size(), 2u) << json.Out;
    const QJsonObject& done = events["file"][0];
    const QJsonObject& failed = events["file"][1];
    EXPECT_EQ(done["Status"].toString(), "Finish.");
    EXPECT_EQ(done["Saved"].toString().toStdString(), jsonOut + "/Clip_ one.mp4");
    EXPECT_EQ(ReadFile(jsonOut + "/Clip_ one.mp4"), "a in itag 18");
    EXPECT_EQ(failed["Index"].toInt(), 1);
    EXPECT_EQ(failed["File"].toString(), "Nothing");
    EXPECT_EQ(failed["Status"].toString(), "Failed.");
    EXPECT_FALSE(failed["Error"].toString().isEmpty());
    ASSERT_EQ(events["summary"].size(), 1u);
    const QJsonObject& summary = events["summary"][0];
    EXPECT_EQ(summary["Total"].toInt(), 2);
    EXPECT_EQ(summary["Succeeded"].toInt(), 1);
    EXPECT_EQ(summary["Failed"].toInt(), 1);
    EXPECT_EQ(summary["Files"].toArray(), QJsonArray{done["Saved"]});
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(DownloadCommandTest, AnEndlessWatchPageFailsItsLinkInBoundedMemory) {
    TFakeVideo endless = Video("e", "Endless", {18});
    endless.EndlessPage = true;
    Service.AddVideo(endless);
    Service.AddVideo(Video("a", "After", {18}));
    const TRun run = Download(Site() + Link("e") + " " + Link("a"));
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_NE(run.Out.find("[1/2] Failed."), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("larger than 8.00 MiB"), std::string::npos) << run.Out;
    EXPECT_EQ(ReadFile(Out() + "/After.mp4"), "a in itag 18");
    // The largest child this test process waited for stayed small.
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "KiB";
}

TEST_F(DownloadCommandTest, OrderAndNoPreferChooseTheStream) {
    Service.AddVideo(Video("a", "Song", {5, 22, 18}));
    TRun run = Download(Site() + "--order=3,1,2,0,4,5,6,7 " + Link("a"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(ReadFile(Out() + "/Song.mp4"), "a in itag 22");

    run = Download(Site() + "--no-prefer " + Link("a"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(ReadFile(Out() + "/Song.flv"), "a in itag 5");
    EXPECT_EQ(Service.StreamRequestOrder("a"), (std::vector<int>{22, 5}));
}

TEST_F(DownloadCommandTest, BadArgumentsExitWithTwoAndFetchNothing) {
    const std::vector<std::string> bad = {"",
                                          "--order 1,2,3 x",
                                          "--order 1,1,2,3,4,5,6,7 x",
                                          "--order 1,2,3,0,4,5,6,8 x",
                                          "--no-prefer --order 1,2,3,0,4,5,6,7 x",
                                          "--out",
                                          "--bogus x",
                                          "--site"};
    for (const std::string& args : bad)
        EXPECT_EQ(Download(args).ExitCode, 2) << args;
    EXPECT_TRUE(Service.Server().Requests().empty());
    EXPECT_EQ(Download("--help").ExitCode, 0);
}

namespace {

// Packets per stream kind of a media file, read with the libraries.
std::map<AVMediaType, int64_t> PacketCounts(const std::string& path) {
    std::map<AVMediaType, int64_t> counts;
    cw::TFFDecoder decoder;
    if (!decoder.LoadFile(path))
        return counts;
    AVFormatContext* context = decoder.Context();
    AVPacket* packet = cw::ff::av_packet_alloc();
    while (cw::ff::av_read_frame(context, packet) >= 0) {
        ++counts[context->streams[packet->stream_index]->codecpar->codec_type];
        cw::ff::av_packet_unref(packet);
    }
    cw::ff::av_packet_free(&packet);
    return counts;
}

std::string MediaPlaylist(const std::string& segment, double seconds) {
    return "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + std::to_string(int(seconds) + 1) +
           "\n#EXT-X-PLAYLIST-TYPE:VOD\n#EXTINF:" + std::to_string(seconds) + ",\n" + segment +
           "\n#EXT-X-ENDLIST\n";
}

} // namespace

// Debian's yt-dlp as the resolver, reading pages this test serves on 127.0.0.1 with its
// generic extractor: a plain <video> file, an HLS master playlist whose variant takes its
// sound from a separate rendition group, and a DASH manifest of the on-demand profile with one
// file per picture or sound representation (reported as separate picture-only and sound-only
// formats, as the service's own answers are).
TEST_F(DownloadCommandTest, RealResolverSavesOnePlayableFilePerLoopbackPage) {
    if (std::system("yt-dlp --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "yt-dlp is not installed";
    std::string error;
    ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    const std::string media = (Dir / "media").string() + "/";
    fs::create_directories(media);
    TFixtureParams params;
    params.Seconds = 2;
    const TFixture clip = WriteFixture(fkMp4H264Aac, media + "clip.mp4", params);
    SplitFixture(clip, media + "v.mp4", media + "a.m4a");
    SplitFixture(clip, media + "v.ts", media + "a.ts");

    std::map<std::string, std::pair<std::string, std::string>> files = {
        {"/plain.html",
         {"<!DOCTYPE html><html><head><title>Plain clip</title></head><body>"
          "<video controls src=\"clip.mp4\"></video></body></html>",
          "text/html"}},
        {"/hls.html",
         {"<!DOCTYPE html><html><head><title>HLS clip</title></head><body><video controls>"
          "<source src=\"hls/master.m3u8\" type=\"application/x-mpegURL\"></video></body></html>",
          "text/html"}},
        {"/hls/master.m3u8",
         {"#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"English\",DEFAULT=YES,"
          "AUTOSELECT=YES,URI=\"audio.m3u8\"\n#EXT-X-STREAM-INF:BANDWIDTH=300000,"
          "RESOLUTION=160x120,AUDIO=\"aud\"\nvideo.m3u8\n",
          "application/vnd.apple.mpegurl"}},
        {"/hls/video.m3u8", {MediaPlaylist("v.ts", 2.0), "application/vnd.apple.mpegurl"}},
        {"/hls/audio.m3u8", {MediaPlaylist("a.ts", 2.0), "application/vnd.apple.mpegurl"}},
        {"/dash.html",
         {"<!DOCTYPE html><html><head><title>DASH clip</title></head><body><video controls>"
          "<source src=\"dash/manifest.mpd\" type=\"application/dash+xml\"></video></body></html>",
          "text/html"}},
        {"/dash/manifest.mpd",
         {R"(<?xml version="1.0" encoding="utf-8"?>
<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" profiles="urn:mpeg:dash:profile:isoff-on-demand:2011"
     type="static" mediaPresentationDuration="PT2.0S" minBufferTime="PT2.0S">
 <Period id="0">
  <AdaptationSet mimeType="video/mp4" contentType="video">
   <Representation id="v120" codecs="avc1.64000c" bandwidth="200000" width="160" height="120">
    <BaseURL>v.mp4</BaseURL>
   </Representation>
  </AdaptationSet>
  <AdaptationSet mimeType="audio/mp4" contentType="audio">
   <Representation id="a1" codecs="mp4a.40.2" bandwidth="70000" audioSamplingRate="48000">
    <BaseURL>a.m4a</BaseURL>
   </Representation>
  </AdaptationSet>
 </Period>
</MPD>
)",
          "application/dash+xml"}},
    };
    for (const auto& [path, name] : std::map<std::string, std::string>{{"/clip.mp4", "clip.mp4"},
                                                                       {"/hls/v.ts", "v.ts"},
                                                                       {"/hls/a.ts", "a.ts"},
                                                                       {"/dash/v.mp4", "v.mp4"},
                                                                       {"/dash/a.m4a", "a.m4a"}})
        files[path] = {ReadFile(media + name), "application/octet-stream"};
    TTestHttpServer pages([&files](httplib::Server& server, TTestHttpServer&) {
        for (const auto& [path, file] : files)
            server.Get(path, [file = file](const httplib::Request&, httplib::Response& res) {
                res.set_content(file.first, file.second);
            });
    });

    const TRun run =
        Download("--json --any-site --out '" + Out() + "' '" + pages.Url("/plain.html") + "' '" +
                 pages.Url("/hls.html") + "' '" + pages.Url("/dash.html") + "'");
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    std::vector<QJsonObject> saved;
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (object["Event"].toString() == "file")
            saved.push_back(object);
    }
    ASSERT_EQ(saved.size(), 3u) << run.Out;
    const auto source = PacketCounts(media + "clip.mp4");
    ASSERT_GT(source.at(AVMEDIA_TYPE_VIDEO), 0);
    ASSERT_GT(source.at(AVMEDIA_TYPE_AUDIO), 0);
    for (const QJsonObject& file : saved) {
        const std::string path = file["Saved"].toString().toStdString();
        SCOPED_TRACE(file["File"].toString().toStdString() + " " + path);
        EXPECT_EQ(file["Status"].toString(), "Finish.") << file["Error"].toString().toStdString();
        EXPECT_EQ(file["Quality"].toString(), "120p MP4 (H.264 + AAC)");
        EXPECT_EQ(fs::path(path).extension(), ".mp4");
        // The source's streams, every packet copied, and its length.
        cw::TFFDecoder decoder;
        ASSERT_TRUE(decoder.LoadFile(path)) << decoder.LastErrMsg();
        EXPECT_NEAR(double(decoder.GetFileStreamInfo().Duration) / 1e6, clip.Seconds, 0.15);
        decoder.CloseFile();
        const auto counts = PacketCounts(path);
        EXPECT_EQ(counts, source);
    }
    // Nothing but the three files in the download folder.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(Out()))
        ++entries;
    EXPECT_EQ(entries, 3);
}

// A link the built-in route cannot serve, with a resolver that fails or is not there: the reason
// is the link's line and the Error of its JSON file record.
TEST_F(DownloadCommandTest, AResolverFailureIsTheLinksLineAndItsFileRecordsError) {
    TFakeVideo video = Video("abc", "Today", {});
    video.StreamMap = false;
    Service.AddVideo(video);
    const std::string script = (Dir / "stand-in").string();
    std::ofstream(script) << "#!/bin/sh\n[ \"$1\" = --version ] && echo 2023.03.04 && exit 0\n"
                          << "echo \"ERROR: [youtube] abc: Sign in to confirm you're not a bot\" "
                             ">&2\nexit 1\n";
    fs::permissions(script, fs::perms::owner_all);
    const struct {
        std::string Program;
        std::string Reason;
    } cases[] = {
        {script, "yt-dlp 2023.03.04: ERROR: [youtube] abc: Sign in to confirm you're not a bot"},
        {(Dir / "missing").string(),
         "Links of this service need yt-dlp: install the yt-dlp package, or a newer yt-dlp."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Program);
        const std::string resolver = "--resolver '" + c.Program + "' ";
        const TRun plain = Download(Site() + resolver + Link("abc"));
        EXPECT_EQ(plain.ExitCode, 1) << plain.Out;
        EXPECT_NE(plain.Out.find(c.Reason), std::string::npos) << plain.Out;
        const TRun json = Download("--json" + Site() + resolver + Link("abc"));
        EXPECT_EQ(json.ExitCode, 1) << json.Out;
        int records = 0;
        std::istringstream lines(json.Out);
        for (std::string line; std::getline(lines, line);) {
            const QJsonObject object =
                QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
            if (object["Event"].toString() != "file")
                continue;
            ++records;
            EXPECT_EQ(object["Status"].toString(), "Failed.");
            EXPECT_EQ(object["Error"].toString().toStdString(), c.Reason);
        }
        EXPECT_EQ(records, 1) << json.Out;
        EXPECT_FALSE(fs::exists(Out()) && !fs::is_empty(Out()));
    }
}
