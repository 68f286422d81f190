// Runs the real clipwright-cli and checks the listing it prints.
#include "convert/Catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct TRun {
    int ExitCode = -1;
    std::string Out;
};

TRun RunCli(const std::string& args) {
    TRun run;
    const std::string command = std::string(CW_CLI) + " " + args + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

TEST(PresetsCommand, ListsEveryPresetTabSeparated) {
    const TRun run = RunCli("presets");
    ASSERT_EQ(run.ExitCode, 0);
    std::string expected;
    for (const auto& e : cw::AllPresets())
        expected += std::string(e.ClassName) + "\t" + std::string(e.FormatName) + "\t" +
                    std::to_string(e.Index) + "\t" + std::string(e.Text) + "\n";
    EXPECT_EQ(run.Out, expected);
    EXPECT_NE(run.Out.find("Device\tiPod\t1\tiPod Touch High Quality (H264, 30 fps, 480x320, "
                           "2500 kbps; AAC - 160 kbps) \n"),
              std::string::npos);
    EXPECT_NE(run.Out.find("Video\tRM\t3\tRM - Low Quality  - (256 kbps, Original)\n"),
              std::string::npos);
}

TEST(PresetsCommand, HelpAndBadArguments) {
    const TRun help = RunCli("presets --help");
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("usage: clipwright-cli presets"), std::string::npos);
    const TRun bad = RunCli("presets AVI");
    EXPECT_EQ(bad.ExitCode, 2);
    EXPECT_EQ(bad.Out, "");
}
