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
        std::vector<double> jobTimes, toolTimes, jobCpu, toolCpu, serialTimes, serialCpu;
        double jobPeak = 0, toolPeak = 0, serialPeak = 0;
        const std::string jobOut = (folder / (std::string("job") + c.Extension)).string();
        const std::string toolOut = (folder / (std::string("tool") + c.Extension)).string();
        std::vector<std::string> toolArgs = {"ffmpeg", "-nostdin", "-y",       "-threads", "1",
                                             "-i",     clip,       "-threads", "1"};
        toolArgs.insert(toolArgs.end(), c.ToolArguments.begin(), c.ToolArguments.end());
        toolArgs.push_back(toolOut);
        bool failed = false;
        auto runJob = [&] {
            TMeasure job = RunMeasured({CW_RUNNER, c.Format, c.Preset, clip, jobOut});
            if (!job.Ok) {
                std::fprintf(stderr, "bench_transcode: the job failed for %s\n", c.Name);
                failed = true;
                return;
            }
            jobTimes.push_back(job.Seconds);
            jobCpu.push_back(job.CpuSeconds);
            jobPeak = std::max(jobPeak, job.PeakMiB);
            TMeasure serial = RunMeasured({CW_RUNNER, c.Format, c.Preset, clip, jobOut, "serial"});
            if (!serial.Ok) {
                std::fprintf(stderr, "bench_transcode: the serial job failed for %s\n", c.Name);
                failed = true;
                return;
            }
            serialTimes.push_back(serial.Seconds);
            serialCpu.push_back(serial.CpuSeconds);
            serialPeak = std::max(serialPeak, serial.PeakMiB);
        };
        auto runTool = [&] {
            if (!haveTool)
                return;
            TMeasure tool = RunMeasured(toolArgs);
            if (!tool.Ok) {
                std::fprintf(stderr, "bench_transcode: ffmpeg failed for %s\n", c.Name);
                failed = true;
                return;
            }
            toolTimes.push_back(tool.Seconds);
            toolCpu.push_back(tool.CpuSeconds);
            toolPeak = std::max(toolPeak, tool.PeakMiB);
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
        if (jobTimes.empty())
            continue;
        std::error_code ec;
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f %10.0f\n", c.Name, "job", Median(jobTimes),
                    Median(jobCpu), jobPeak, double(fs::file_size(jobOut, ec)) / 1024);
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f\n", "", "serial", Median(serialTimes),
                    Median(serialCpu), serialPeak);
        if (toolTimes.empty())
            continue;
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f %10.0f\n", "", "ffmpeg", Median(toolTimes),
                    Median(toolCpu), toolPeak, double(fs::file_size(toolOut, ec)) / 1024);
        const double timeRatio = Median(jobTimes) / Median(toolTimes);
        const double memoryMore = jobPeak - toolPeak;
        std::printf("goal: time <= 1.05 x ffmpeg: %.2f %s (serial loop %.2f x)\n", timeRatio,
                    timeRatio <= 1.05 ? "met" : "MISSED", Median(serialTimes) / Median(toolTimes));
        std::printf("      processor time beside ffmpeg (less sensitive to other load): %.2f\n",
                    Median(jobCpu) / Median(toolCpu));
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
