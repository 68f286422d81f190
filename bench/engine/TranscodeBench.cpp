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
// Goals: at most 5 % slower and at most 20 MB more peak memory than the tool.
#include "tests/fixtures/MediaFixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

using namespace cw;
namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

struct TMeasure {
    bool Ok = false;
    double Seconds = 0;
    double CpuSeconds = 0; // user + system time of the process
    double PeakMiB = 0;
};

// Runs a program with its output discarded and measures it.
TMeasure Measure(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    TMeasure m;
    const auto start = TClock::now();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return m;
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    m.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    m.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    m.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos)
            end = folders.size();
        if (::access((fs::path(folders.substr(at, end - at)) / name).c_str(), X_OK) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct TCase {
    const char* Name;
    const char* Format;
    const char* Preset;
    const char* Extension;
    std::vector<std::string> ToolArguments; // between the input and the output
};

} // namespace

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
    test::TFixtureParams params;
    params.Seconds = seconds;
    params.Width = 640;
    params.Height = 480;
    params.FrameRateNum = 25;
    params.FrameRateDen = 1;
    params.GopSize = 12;
    params.VideoBitRate = 2000000;
    params.SampleRate = 44100;
    params.Channels = 2;
    params.AudioBitRate = 128000;
    const std::string clip = (folder / "clip.avi").string();
    test::WriteFixture(test::fkAviMpeg4Mp3, clip, params);

    const std::vector<TCase> cases = {
        {"MPEG-4 1500k + MP3 192k, AVI",
         "AVI",
         "3",
         ".avi",
         {"-c:v", "mpeg4", "-vtag", "XVID", "-b:v", "1500k", "-c:a", "libmp3lame", "-b:a", "192k",
          "-ar", "44100", "-ac", "2"}},
        {"H.264 640x420 30 fps + AAC 128k, MP4",
         "MP4",
         "3",
         ".mp4",
         {"-c:v",
          "libx264",
          "-b:v",
          "640k",
          "-crf",
          "24",
          "-refs",
          "1",
          "-coder",
          "0",
          "-me_range",
          "16",
          "-subq",
          "5",
          "-partitions",
          "+parti4x4+parti8x8+partp8x8",
          "-g",
          "250",
          "-keyint_min",
          "25",
          "-level",
          "30",
          "-qmin",
          "10",
          "-qmax",
          "51",
          "-trellis",
          "2",
          "-sc_threshold",
          "40",
          "-i_qfactor",
          "0.71",
          "-bf",
          "0",
          "-x264-params",
          "8x8dct=0:weightp=0",
          "-deblock",
          "0:0",
          "-s",
          "640x420",
          "-r",
          "30",
          "-fps_mode",
          "cfr",
          "-c:a",
          "aac",
          "-b:a",
          "128k",
          "-ar",
          "44100",
          "-ac",
          "2"}},
    };

    std::printf("clip %.0f s 640x480 25 fps, MPEG-4 + MP3 stereo 44.1 kHz; %d run(s), median "
                "time, largest peak resident memory\n",
                seconds, runs);
    std::printf("%-40s %-8s %9s %9s %10s %10s\n", "case", "tool", "seconds", "cpu s", "peak MiB",
                "out KiB");
    int status = 0;
    for (const TCase& c : cases) {
        std::vector<double> jobTimes, toolTimes, jobCpu, toolCpu;
        double jobPeak = 0, toolPeak = 0;
        const std::string jobOut = (folder / (std::string("job") + c.Extension)).string();
        const std::string toolOut = (folder / (std::string("tool") + c.Extension)).string();
        std::vector<std::string> toolArgs = {"ffmpeg", "-nostdin", "-y",       "-threads", "1",
                                             "-i",     clip,       "-threads", "1"};
        toolArgs.insert(toolArgs.end(), c.ToolArguments.begin(), c.ToolArguments.end());
        toolArgs.push_back(toolOut);
        bool failed = false;
        auto runJob = [&] {
            TMeasure job = Measure({CW_RUNNER, c.Format, c.Preset, clip, jobOut});
            if (!job.Ok) {
                std::fprintf(stderr, "bench_transcode: the job failed for %s\n", c.Name);
                failed = true;
                return;
            }
            jobTimes.push_back(job.Seconds);
            jobCpu.push_back(job.CpuSeconds);
            jobPeak = std::max(jobPeak, job.PeakMiB);
        };
        auto runTool = [&] {
            if (!haveTool)
                return;
            TMeasure tool = Measure(toolArgs);
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
        if (toolTimes.empty())
            continue;
        std::printf("%-40s %-8s %9.2f %9.2f %10.1f %10.0f\n", "", "ffmpeg", Median(toolTimes),
                    Median(toolCpu), toolPeak, double(fs::file_size(toolOut, ec)) / 1024);
        const double timeRatio = Median(jobTimes) / Median(toolTimes);
        const double memoryMore = jobPeak - toolPeak;
        std::printf("goal: time <= 1.05 x ffmpeg: %.2f %s\n", timeRatio,
                    timeRatio <= 1.05 ? "met" : "MISSED");
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
