// The conversion run on generated files: tasks, log lines, counts, error lines, output names,
// the merge list, and the time figures.
#include "convert/ConversionRun.h"

#include "base/MainThread.h"
#include "convert/Catalogue.h"
#include "engine/FFLoader.h"
#include "tests/fixtures/MediaFixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace cw::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(RunTimes, EstimateOfTwoFilesAndClockText) {
    // Two files of 60 s: the first done, the second at 30 s after 45 s of work.
    const TRunProgress t = EstimateTimes(120'000'000, 60'000'000, 30'000'000, 45);
    EXPECT_EQ(FormatClock(t.EstimatedSeconds), "0:01:00");
    EXPECT_EQ(FormatClock(t.TimeLeftSeconds), "0:00:15");
    EXPECT_EQ(FormatClock(t.ElapsedSeconds), "0:00:45");
    EXPECT_EQ(FormatClock(25 * 3600), "1:00:00");
    EXPECT_EQ(FormatClock(-5), "0:00:00");
    // Forty-minute files: beyond 32 bits, and their product with the elapsed time beyond 64.
    const int64_t forty = 2'400'000'000;
    const TRunProgress big = EstimateTimes(2 * forty, forty, forty / 2, 3000);
    EXPECT_NEAR(big.EstimatedSeconds, 4000, 1e-6);
    EXPECT_EQ(FormatClock(big.TimeLeftSeconds), "0:16:40");
    EXPECT_EQ(DurationText(-1), "Duration is not preseted");
}

class THostRecorder : public TConversionHost {
public:
    void Log(const std::string& line) override { Lines.push_back(line); }
    void PlaySound(const std::string& path) override { Sound = path; }
    bool ShutdownCountdown() override {
        ++Countdowns;
        return false;
    }
    void RunFinished(const TRunSummary& summary) override {
        Summary = summary;
        ++Finished;
    }
    std::vector<std::string> Lines;
    std::string Sound;
    TRunSummary Summary;
    int Finished = 0;
    int Countdowns = 0;
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const auto& line : Lines)
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
};

class ConversionRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(BindFixtureLibraries(&error)) << error;
    }
    void SetUp() override {
        Previous = SetMainThreadDispatcher(&Dispatcher);
        Dir = fs::temp_directory_path() /
              ("cw-run-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir / "in");
        TFixtureParams params;
        params.Seconds = 1;
        Clip = WriteFixture(fkAviMpeg4Mp3, (Dir / "in" / "clip.avi").string(), params).Path;
        Tone = WriteFixture(fkWavPcm, (Dir / "in" / "clip.wav").string(), params).Path;
        Undecodable = WriteFixture(fkMkvNoDecoder, (Dir / "in" / "odd.mkv").string(), params).Path;
        std::ofstream(Dir / "in" / "junk.avi") << "not a media file";
        Out = (Dir / "out").string();
        fs::create_directories(Out);
    }
    void TearDown() override {
        SetMainThreadDispatcher(Previous);
        fs::remove_all(Dir);
    }
    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    fs::path Dir;
    std::string Clip, Tone, Undecodable, Out;
};

TEST_F(ConversionRunTest, GoodAndFailingFilesCountedWithTheirLines) {
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
    run.OutputFolder = Out;
    run.PlayASoundWhenFinished = true;
    run.SoundFolder = "sounds/";
    // Two inputs that differ only in extension, one that does not exist, one that is no media,
    // one whose only stream cannot be decoded (and so has no audio for an MP3 output).
    run.Start({{Clip},
               {(Dir / "in" / "missing.avi").string()},
               {Tone},
               {(Dir / "in" / "junk.avi").string()},
               {Undecodable}});
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Finished, 1);
    EXPECT_EQ(host.Count("File load error: "), 2);
    const int added = host.Count("File has been added to convert list.");
    // Every listed file counts, the refused ones as failed with a line naming them.
    EXPECT_EQ(host.Summary.TotalFiles, 5);
    ASSERT_GE(added, 2);
    EXPECT_EQ(host.Summary.SucceededFiles, 2);
    EXPECT_EQ(host.Summary.FailedFiles(), 3);
    EXPECT_EQ(host.Sound, "sounds/fail.wav");
    ASSERT_EQ(host.Summary.ErrorList.size(), 3u);
    EXPECT_EQ(host.Summary.ErrorList[0].rfind("File (missing.avi): File load error: ", 0), 0u)
        << host.Summary.ErrorList[0];
    EXPECT_EQ(host.Summary.ErrorList[1].rfind("File (junk.avi): File load error: ", 0), 0u)
        << host.Summary.ErrorList[1];
    // The file without audio is taken (its output opens: streams are matched when the run
    // starts) and fails when its task runs.
    EXPECT_EQ(added, 3);
    EXPECT_EQ(host.Count("Cannot do convert, error: ") + host.Count("Adding file error: "), 0);
    EXPECT_EQ(host.Summary.ErrorList[2].rfind("File (2): ", 0), 0u) << host.Summary.ErrorList[2];
    ASSERT_EQ(run.Items().size(), 3u);
    EXPECT_EQ(run.Items()[2].Status, "Failed.");
    EXPECT_EQ(run.Items()[0].Status, "Finish.");
    EXPECT_EQ(run.Items()[0].Progress, "100%");
    EXPECT_EQ(run.Items()[0].Name, "clip.avi");
    EXPECT_EQ(run.Items()[0].PathCell, (Dir / "in").string());
    EXPECT_EQ(run.Items()[0].OutputPath, Out + "/clip.mp3");
    EXPECT_EQ(run.Items()[1].OutputPath, Out + "/clip(1).mp3");
    EXPECT_TRUE(fs::exists(Out + "/clip.mp3"));
    EXPECT_TRUE(fs::exists(Out + "/clip(1).mp3"));
    EXPECT_FALSE(fs::exists(Out + "/odd.mp3")); // nothing without media is left behind
    EXPECT_EQ(run.DoneDuration(),
              run.AllFilesDuration() - (added == 3 ? run.Items()[2].Duration : 0));
    EXPECT_FALSE(encoder.Working());
    EXPECT_EQ(encoder.TasksCount(), 0);

    // A second run on the same component names around the files the first one wrote.
    host.Finished = 0;
    run.Start({{Clip}});
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Summary.SucceededFiles, 1);
    EXPECT_TRUE(fs::exists(Out + "/clip(2).mp3"));
}

TEST_F(ConversionRunTest, RefusedFilesEndTheRunAtOnceAsFailuresWithoutAShutdown) {
    struct TCase {
        const char* Name;
        bool Merge;
        std::vector<std::string> Inputs;
        std::string Folder;
        int Total;
        std::string FirstLine;
    };
    const std::string junk = (Dir / "in" / "junk.avi").string();
    const std::vector<TCase> cases{
        {"unreadable input", false, {junk}, Out, 1, "File (junk.avi): File load error: "},
        {"folder not writable",
         false,
         {Tone},
         "/proc",
         1,
         "File (clip.wav): Cannot do convert, error: "},
        // One unusable file keeps the whole join from running.
        {"join with a bad file",
         true,
         {Tone, junk, Tone},
         Out,
         1,
         "File (junk.avi): Adding file error: "},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFFEncoder encoder;
        THostRecorder host;
        TConversionRun run(encoder, host);
        run.Merge = c.Merge;
        run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
        run.OutputFolder = c.Folder;
        run.PlayASoundWhenFinished = true;
        run.ShutDownWhenFinished = true;
        run.SoundFolder = "sounds/";
        std::vector<TRunInput> inputs;
        for (const std::string& path : c.Inputs)
            inputs.push_back({path});
        run.Start(inputs);
        EXPECT_EQ(host.Finished, 1);
        EXPECT_FALSE(run.Running());
        EXPECT_EQ(host.Summary.TotalFiles, c.Total);
        EXPECT_EQ(host.Summary.SucceededFiles, 0);
        ASSERT_FALSE(host.Summary.ErrorList.empty());
        EXPECT_EQ(host.Summary.ErrorList[0].rfind(c.FirstLine, 0), 0u) << host.Summary.ErrorList[0];
        EXPECT_EQ(host.Sound, "sounds/fail.wav");
        EXPECT_EQ(host.Countdowns, 1); // a run that ends by itself still offers it
        EXPECT_EQ(encoder.TasksCount(), 0);
        EXPECT_TRUE(fs::is_empty(Out)) << "a refused run leaves no file";
    }

    // A cancelled run never offers the countdown.
    TFixtureParams longer;
    longer.Seconds = 20;
    const std::string slow =
        WriteFixture(fkWavPcm, (Dir / "in" / "slow.wav").string(), longer).Path;
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocAudio, FindFormatByName(ocAudio, "MP3")->Index, 0};
    run.OutputFolder = Out;
    run.ShutDownWhenFinished = true;
    run.Start({{slow}});
    run.Cancel();
    ASSERT_TRUE(WaitServing([&] { return host.Finished > 0; }, 60s));
    EXPECT_EQ(host.Summary.FailedFiles(), 1);
    EXPECT_EQ(host.Countdowns, 0);
}

TEST_F(ConversionRunTest, MergeListShowsSizeAspectAndTheOneOutput) {
    TFFEncoder encoder;
    THostRecorder host;
    TConversionRun run(encoder, host);
    run.Selection = {ocVideo, FindFormatByName(ocVideo, "AVI")->Index, 0};
    run.OutputFolder = Out;
    std::ofstream(Out + "/Output_Merge.avi") << "taken";
    run.BuildMergeTask({{Clip, 1'000'000, 160, 120, 4.0 / 3},
                        {(Dir / "in" / "missing.avi").string(), 0, 0, 0, 0},
                        {Clip, 1'000'000, 160, 120, 4.0 / 3}});
    EXPECT_EQ(host.Count("Adding file error: "), 1);
    ASSERT_EQ(run.Items().size(), 2u);
    EXPECT_EQ(run.Items()[0].Status, "160x120");
    EXPECT_EQ(run.Items()[0].Progress, "1.33333");
    EXPECT_EQ(run.Items()[0].DurationText, "00:00:01.000");
    EXPECT_EQ(run.Items()[1].PathCell, Out + "/Output_Merge(1).avi");
    EXPECT_EQ(run.AllFilesDuration(), 2'000'000);
    // The joining output: one task with both inputs and the join flag on its output.
    EXPECT_EQ(host.Count("Cannot do convert, error: "), 0);
    ASSERT_EQ(encoder.TasksCount(), 1);
    EXPECT_EQ(encoder.Task(0)->InputCount(), 2);
    ASSERT_NE(encoder.Task(0)->OutputOptions(0), nullptr);
    EXPECT_TRUE(encoder.Task(0)->OutputOptions(0)->Join);
    encoder.ClearTasks();
}

} // namespace
} // namespace cw::test
