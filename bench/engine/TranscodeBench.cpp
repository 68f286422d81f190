// Conversion speed and memory: one transcoding job converting a 60 s 640x480 25 fps clip with
// stereo 44.1 kHz audio, beside the ffmpeg tool doing the same conversion with one thread, in
// the same run. Each conversion runs in a process of its own (transcode_runner for the job),
// so wall time and peak resident memory are the process's own.
//
//   bench_transcode [--runs N] [--seconds S] [--keep]   (other arguments are ignored)
// --keep leaves the clip and the outputs in the temporary folder it names.
//
// Cases (catalogue presets, the ffmpeg arguments set to the same encoder settings; for H.264
// the settings string the encoder writes into both outputs is the same):
//   AVI 3   MPEG-4 (XVID tag) 1500 kbit/s + MP3 192 kbit/s in AVI
//   MP4 3   H.264 with the device option block, 640x420, 30 fps + AAC 128 kbit/s in MP4
// The job runs as it does in the program (reading and decoding on a thread of their own) and
// with the serial loop (shown beside it).
// Goals: at most 5 % slower and at most 20 MB more peak memory than the tool.
#include "bench/BenchSupport.h"
#include "tests/fixtures/MediaFixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace cw;
using namespace cw::bench;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
    int runs = 3;
    double seconds = 60;
    bool keep = false;
    for (int i = 1; i < argc; ++i)
        keep = keep || std::string(argv[i]) == "--keep";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::string(argv[i]) == "--seconds")
            seconds = std::max(1.0, std::atof(argv[++i]));
    }
    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "bench_transcode: %s\n", error.c_str());
        return 1;
    }
    const bool haveTool = HaveProgram("ffmpeg");
    if (!haveTool)
        std::fprintf(stderr, "bench_transcode: the ffmpeg tool is missing (Debian package "
                             "ffmpeg); only the job is measured\n");

    char pattern[] = "/tmp/cw-bench-transcode-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("bench_transcode: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    const test::TFixtureParams params = BenchClipParams(seconds);
    const std::string clip = (folder / "clip.avi").string();
    test::WriteFixture(test::fkAviMpeg4Mp3, clip, params);

    const std::vector<TPresetCase>& cases = MatchedPresets();

    std::printf("clip %.0f s 640x480 25 fps, MPEG-4 + MP3 stereo 44.1 kHz; %d run(s), median "
                "time, largest peak resident memory\n",
                seconds, runs);
    std::printf("%-40s %-8s %9s %9s %10s %10s\n", "case", "tool", "seconds", "cpu s", "peak MiB",
                "out KiB");
    int status = 0;
    for (const TPresetCase& c : cases) {
        TSide job, serial, tool;
        const std::string jobOut = (folder / (std::string("job") + c.Extension)).string();
        const std::string toolOut = (folder / (std::string("tool") + c.Extension)).string();
        std::vector<std::string> toolArgs = {"ffmpeg", "-nostdin", "-y",       "-threads", "1",
                                             "-i",     clip,       "-threads", "1"};
        toolArgs.insert(toolArgs.end(), c.ToolArguments.begin(), c.ToolArguments.end());
        toolArgs.push_back(toolOut);
        bool failed = false;
        auto runJob = [&] {
            for (bool serialLoop : {false, true}) {
                std::vector<std::string> args = {CW_RUNNER, c.Format, c.Preset, clip, jobOut};
                if (serialLoop)
                    args.push_back("serial");
                const TMeasure m = RunMeasured(args);
                if (!m.Ok) {
                    std::fprintf(stderr, "bench_transcode: the %sjob failed for %s\n",
                                 serialLoop ? "serial " : "", c.Name);
                    failed = true;
                    return;
                }
                (serialLoop ? serial : job).Add(m);
            }
        };
        auto runTool = [&] {
            if (!haveTool)
                return;
            const TMeasure m = RunMeasured(toolArgs);
            if (!m.Ok) {
                std::fprintf(stderr, "bench_transcode: ffmpeg failed for %s\n", c.Name);
                failed = true;
                return;
            }
            tool.Add(m);
        };
        // The two take turns at going first, so that neither always meets a cold cache.
        for (int r = 0; r < runs && !failed; ++r) {
            if (r % 2 == 0) {
                runJob();
                runTool();
            } else {
                runTool();
                runJob();
            }
        }
        if (failed)
            status = 1;
        if (job.Times.empty())
            continue;
        std::error_code ec;
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f %10.0f\n", c.Name, "job", Median(job.Times),
                    Median(job.Cpu), job.PeakMiB, double(fs::file_size(jobOut, ec)) / 1024);
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f\n", "", "serial", Median(serial.Times),
                    Median(serial.Cpu), serial.PeakMiB);
        if (tool.Times.empty())
            continue;
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f %10.0f\n", "", "ffmpeg", Median(tool.Times),
                    Median(tool.Cpu), tool.PeakMiB, double(fs::file_size(toolOut, ec)) / 1024);
        const double timeRatio = Median(job.Times) / Median(tool.Times);
        const double memoryMore = job.PeakMiB - tool.PeakMiB;
        std::printf("goal: time <= 1.05 x ffmpeg: %.2f %s (serial loop %.2f x)\n", timeRatio,
                    timeRatio <= 1.05 ? "met" : "MISSED",
                    Median(serial.Times) / Median(tool.Times));
        std::printf("      processor time beside ffmpeg (less sensitive to other load): %.2f\n",
                    Median(job.Cpu) / Median(tool.Cpu));
        std::printf("goal: peak memory <= ffmpeg + 20 MB: %+.1f MiB %s\n", memoryMore,
                    memoryMore <= 20 ? "met" : "MISSED");
    }
    std::error_code ec;
    if (keep)
        std::printf("files kept in %s\n", folder.c_str());
    else
        fs::remove_all(folder, ec);
    return status;
}
