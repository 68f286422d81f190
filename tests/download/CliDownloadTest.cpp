// clipwright-cli download against the fake video service: status lines, the summary, the
// saved files and the exit codes.
#include "tests/support/FakeVideoService.h"

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
namespace fs = std::filesystem;

namespace {

struct TRun {
    int ExitCode;
    std::string Out;
};

class CliDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "cw-cli-dl-XXXXXX").string();
        Dir = mkdtemp(pattern.data());
        fs::create_directories(Dir / "home");
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Runs the command with a home of its own (the settings go there).
    TRun Download(const std::string& arguments) {
        const std::string home = (Dir / "home").string();
        const std::string command = "HOME='" + home + "' XDG_CONFIG_HOME='" + home + "/config' " +
                                    CLI_PATH + " download " + arguments + " 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buffer[256];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
    }
    std::string Link(const std::string& id) { return "'" + Service.WatchUrl(id) + "'"; }
    std::string Site() { return " --site " + Service.Domain() + " --out '" + Out() + "' "; }
    std::string Out() { return (Dir / "videos").string(); }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TFakeVideoService Service;
    fs::path Dir;
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

TEST_F(CliDownloadTest, SavesWhatItCanAndSummarises) {
    Service.AddVideo(Video("a", "Clip: one", {5, 22, 18}));
    TFakeVideo none = Video("b", "Nothing", {});
    none.StreamMap = false;
    Service.AddVideo(none);

    const TRun run = Download(Site() + "--order 1,2,3,0,4,5,6,7 " + Link("a") + " " + Link("b"));
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_NE(run.Out.find("[1/2] Finish. Clip: one\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("[2/2] [HQ34] failed, try next: [HQ37]\n"), std::string::npos);
    EXPECT_NE(run.Out.find("[2/2] Failed. Nothing\n"), std::string::npos);
    const std::string saved = Out() + "/Clip_ one.mp4";
    EXPECT_NE(run.Out.find("Total files: 2\nSuccessed: 1\nFailed: 1\n" + saved + "\n"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(Read(saved), "a in itag 18");
    EXPECT_EQ(Service.StreamRequestOrder("a"), std::vector<int>{18});

    // The same run for a script: nothing but JSON lines, agreeing with the texts above.
    const std::string jsonOut = Out() + "-json";
    const TRun json = Download("--json --site " + Service.Domain() + " --out '" + jsonOut +
                               "' --order 1,2,3,0,4,5,6,7 " + Link("a") + " " + Link("b"));
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
    EXPECT_EQ(Read(jsonOut + "/Clip_ one.mp4"), "a in itag 18");
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

TEST_F(CliDownloadTest, AnEndlessWatchPageFailsItsLinkInBoundedMemory) {
    TFakeVideo endless = Video("e", "Endless", {18});
    endless.EndlessPage = true;
    Service.AddVideo(endless);
    Service.AddVideo(Video("a", "After", {18}));
    const TRun run = Download(Site() + Link("e") + " " + Link("a"));
    EXPECT_EQ(run.ExitCode, 1) << run.Out;
    EXPECT_NE(run.Out.find("[1/2] Failed."), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("larger than 8.00 MiB"), std::string::npos) << run.Out;
    EXPECT_EQ(Read(Out() + "/After.mp4"), "a in itag 18");
    // The largest child this test process waited for stayed small.
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "KiB";
}

TEST_F(CliDownloadTest, OrderAndNoPreferChooseTheStream) {
    Service.AddVideo(Video("a", "Song", {5, 22, 18}));
    TRun run = Download(Site() + "--order=3,1,2,0,4,5,6,7 " + Link("a"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Read(Out() + "/Song.mp4"), "a in itag 22");

    run = Download(Site() + "--no-prefer " + Link("a"));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_EQ(Read(Out() + "/Song.flv"), "a in itag 5");
    EXPECT_EQ(Service.StreamRequestOrder("a"), (std::vector<int>{22, 5}));
}

TEST_F(CliDownloadTest, BadArgumentsExitWithTwoAndFetchNothing) {
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
