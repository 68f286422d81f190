// clipwright-cli fetch against the test server: outcome lines, exit codes, the answer streamed
// to FILE.part and FILE made only after success.
#include "tests/support/CommandRun.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

using cw::test::TTempDir;
using cw::test::TTestHttpServer;
namespace fs = std::filesystem;

namespace {

using TRun = cw::test::TCommandRun;

TRun Fetch(const std::string& arguments) {
    return cw::test::RunCommand(std::string(CLI_PATH) + " fetch " + arguments + " 2>/dev/null");
}

class FetchCommandTest : public ::testing::Test {
protected:
    std::string Quoted(const std::string& url) { return "'" + url + "'"; }
    bool DirIsEmpty() { return fs::is_empty(Dir); }

    TTestHttpServer Server;
    TTempDir Temp{"cw-fetch"};
    fs::path Dir{Temp.Path};
};

TEST_F(FetchCommandTest, SuccessWritesTheFile) {
    const fs::path out = Dir / "page.bin";
    const TRun run = Fetch(Quoted(Server.Url("/body?size=100000")) + " --out " + out.string());
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Out, "OnDone\n");
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              TTestHttpServer::PatternBody(0, 100000));
}

TEST_F(FetchCommandTest, FailuresPrintTheirEventsAndLeaveNoFile) {
    const std::string out = " --out " + (Dir / "x.bin").string();
    TRun run = Fetch(Quoted(Server.Url("/status/404?body=gone")) + out);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "OnHTTPError 404\nOnAnyError\n");
    run = Fetch(Quoted(Server.Url("/cut?size=100000&send=5000")) + out);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "OnConnLost\nOnAnyError\n");
    run = Fetch(Quoted(TTestHttpServer::ClosedPortUrl()) + out);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "OnHostUnreachable\nOnAnyError\n");
    EXPECT_TRUE(DirIsEmpty()); // no file, no temporary left behind

    // The answer came but FILE cannot be made: the part file beside it cannot be created.
    run = Fetch(Quoted(Server.Url("/body?size=10")) + " --out " + (Dir / "no" / "x").string());
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "OnAnyError\nOnOutputFileError\n");

    // The data goes to FILE.part as it comes; Ctrl+C in the middle leaves neither file.
    const fs::path file = Dir / "stalled.bin", part = Dir / "stalled.bin.part";
    const std::string url = Server.Url("/stall?send=200000&size=1000000");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execl(CLI_PATH, CLI_PATH, "fetch", url.c_str(), "--out", file.c_str(), nullptr);
        ::_exit(127);
    }
    const auto partSize = [&] {
        std::error_code ec;
        const auto size = fs::file_size(part, ec);
        return ec ? 0 : size;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Written in whole transfer blocks: all but the last incomplete one are on the disk.
    while (partSize() < 131072 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(partSize(), 131072u) << "the part does not grow with the data";
    EXPECT_FALSE(fs::exists(file));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(DirIsEmpty());

    EXPECT_EQ(Fetch("").ExitCode, 2);
    EXPECT_EQ(Fetch("a b").ExitCode, 2);
    EXPECT_EQ(Fetch("a --out").ExitCode, 2);
    EXPECT_EQ(Fetch("--help").ExitCode, 0);
}

} // namespace
