// clipwright-cli fetch against the test server: outcome lines, exit codes, and FILE written
// only after success.
#include "tests/support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using cw::test::TTestHttpServer;
namespace fs = std::filesystem;

namespace {

struct TRun {
    int ExitCode;
    std::string Out;
};

TRun Fetch(const std::string& arguments) {
    const std::string command = std::string(CLI_PATH) + " fetch " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class FetchCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() / ("cw-fetch-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::string Quoted(const std::string& url) { return "'" + url + "'"; }
    bool DirIsEmpty() { return fs::is_empty(Dir); }

    TTestHttpServer Server;
    fs::path Dir;
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

    // The transfer succeeded but FILE cannot be written.
    run = Fetch(Quoted(Server.Url("/body?size=10")) + " --out " + (Dir / "no" / "x").string());
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Out, "OnDone\n");

    EXPECT_EQ(Fetch("").ExitCode, 2);
    EXPECT_EQ(Fetch("a b").ExitCode, 2);
    EXPECT_EQ(Fetch("a --out").ExitCode, 2);
    EXPECT_EQ(Fetch("--help").ExitCode, 0);
}

} // namespace
