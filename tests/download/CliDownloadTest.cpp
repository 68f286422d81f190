// clipwright-cli download against the fake video service: status lines, the summary, the
// saved files and the exit codes.
#include "tests/support/FakeVideoService.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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
