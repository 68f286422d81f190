// What the benchmark programs share: running a program in a child process and measuring its
// wall time, processor time and peak resident memory (optionally sampling its memory while it
// runs), finding a program on the PATH, medians, and the two catalogue presets the conversion
// benchmarks put beside the ffmpeg tool with the tool's arguments set to the same encoder
// settings.
#pragma once

#include "tests/fixtures/MediaFixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace cw::bench {

using TClock = std::chrono::steady_clock;

inline double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// One look at a running process: resident memory now and its high-water mark so far.
struct TMemorySample {
    double Seconds = 0; // since the start
    double RssMiB = 0;  // VmRSS
    double HwmMiB = 0;  // VmHWM
};

struct TMeasure {
    bool Started = false;
    bool Ok = false; // exited with code 0
    int ExitCode = -1;
    double Seconds = 0;
    double CpuSeconds = 0; // user + system time of the process
    double PeakMiB = 0;    // largest resident set (ru_maxrss)
    std::vector<TMemorySample> Samples;
};

// The runs of one side of a comparison: wall and processor times, and the largest peak.
struct TSide {
    std::vector<double> Times, Cpu;
    double PeakMiB = 0;
    void Add(const TMeasure& m) {
        Times.push_back(m.Seconds);
        Cpu.push_back(m.CpuSeconds);
        PeakMiB = std::max(PeakMiB, m.PeakMiB);
    }
};

struct TRunOptions {
    std::string StdoutPath = "/dev/null";
    std::string StderrPath = "/dev/null";
    // When above zero, the memory of the process is read this often from /proc/<pid>/status.
    double SampleSeconds = 0;
    // Called after every sample, while the process runs.
    std::function<void(const TMemorySample&)> OnSample;
};

// Reads VmRSS and VmHWM of a process, in MiB. False when the process is gone.
inline bool ReadProcessMemory(pid_t pid, double& rssMiB, double& hwmMiB) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    if (!status)
        return false;
    bool haveRss = false, haveHwm = false;
    std::string line;
    while (std::getline(status, line)) {
        // "VmRSS:\t   12345 kB"
        auto valueOf = [&line] { return std::atof(line.c_str() + line.find(':') + 1) / 1024.0; };
        if (line.rfind("VmRSS:", 0) == 0) {
            rssMiB = valueOf();
            haveRss = true;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            hwmMiB = valueOf();
            haveHwm = true;
        }
    }
    return haveRss && haveHwm;
}

// Runs a program (found on the PATH when the name has no '/') with standard input from
// /dev/null and its output where the options say, waits for it and measures it.
inline TMeasure RunMeasured(const std::vector<std::string>& args, const TRunOptions& options = {}) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.StdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.StderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TMeasure m;
    const auto start = TClock::now();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return m;
    m.Started = true;
    int status = 0;
    struct rusage usage {};
    if (options.SampleSeconds <= 0) {
        ::wait4(pid, &status, 0, &usage);
    } else {
        // Polls for the end often, so that the wall time stays close; samples on schedule.
        // The first sample comes one interval in: before that the program is still loading.
        const auto interval = std::chrono::duration_cast<TClock::duration>(
            std::chrono::duration<double>(options.SampleSeconds));
        auto next = start + interval;
        for (;;) {
            const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
            if (done == pid || done < 0)
                break;
            const auto now = TClock::now();
            if (now >= next) {
                TMemorySample sample;
                sample.Seconds = SecondsSince(start);
                if (ReadProcessMemory(pid, sample.RssMiB, sample.HwmMiB)) {
                    m.Samples.push_back(sample);
                    if (options.OnSample)
                        options.OnSample(sample);
                }
                while (next <= now)
                    next += interval;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    m.Seconds = SecondsSince(start);
    m.PeakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    m.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.Ok = m.ExitCode == 0;
    return m;
}

inline bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos)
            end = folders.size();
        if (::access((std::filesystem::path(folders.substr(at, end - at)) / name).c_str(), X_OK) ==
            0)
            return true;
        at = end + 1;
    }
    return false;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The settings text the H.264 or the H.265 encoder writes into its stream ("cabac=0 ref=1
// ..."), empty when the file holds none. Two files made with the same settings carry the same
// text. It ends at the first byte that is not printable (x264 ends it with a zero byte).
inline std::string EncoderSettingsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* marker : {"x264 - core", "x265 (build"}) {
        const size_t at = data.find(marker);
        if (at == std::string::npos)
            continue;
        const size_t options = data.find("options: ", at);
        if (options == std::string::npos)
            return {};
        size_t end = options + 9;
        while (end < data.size() && data[end] >= 32 && data[end] < 127)
            ++end;
        return data.substr(options + 9, end - options - 9);
    }
    return {};
}

// The options in which two settings texts differ, in order ("frame-threads=2 / frame-threads=1,
// ..."), or empty.
inline std::string SettingDifferences(const std::string& a, const std::string& b) {
    auto split = [](const std::string& text) {
        std::vector<std::string> words;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find(' ', at);
            if (end == std::string::npos)
                end = text.size();
            if (end > at)
                words.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return words;
    };
    const auto wa = split(a), wb = split(b);
    std::string differences;
    for (size_t i = 0; i < std::max(wa.size(), wb.size()); ++i) {
        const std::string x = i < wa.size() ? wa[i] : "(none)";
        const std::string y = i < wb.size() ? wb[i] : "(none)";
        if (x != y)
            differences += (differences.empty() ? "" : ", ") + x + " / " + y;
    }
    return differences;
}

// A catalogue preset and the ffmpeg tool's arguments (between its input and its output) that
// give the same encoders with the same settings.
struct TPresetCase {
    const char* Name;
    const char* Class; // as clipwright-cli convert takes it
    const char* Format;
    const char* Preset;
    const char* Extension;
    std::vector<std::string> ToolArguments;
};

//   AVI 3   MPEG-4 (XVID tag) 1500 kbit/s + MP3 192 kbit/s in AVI
//   MP4 3   H.264 with the device option block, 640x420, 30 fps + AAC 128 kbit/s in MP4
// For H.264 the settings text the encoder writes into both outputs is the same (the
// benchmarks print it when it is not).
// The conversion benchmarks' clip: 640x480 at 25 fps, MPEG-4 at 2 Mbit/s with a key picture
// every 12, and stereo 44.1 kHz audio at 128 kbit/s.
inline test::TFixtureParams BenchClipParams(double seconds) {
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
    return params;
}

inline const std::vector<TPresetCase>& MatchedPresets() {
    static const std::vector<TPresetCase> cases = {
        {"MPEG-4 1500k + MP3 192k, AVI",
         "video",
         "AVI",
         "3",
         ".avi",
         {"-c:v", "mpeg4", "-vtag", "XVID", "-b:v", "1500k", "-c:a", "libmp3lame", "-b:a", "192k",
          "-ar", "44100", "-ac", "2"}},
        {"H.264 640x420 30 fps + AAC 128k, MP4",
         "video",
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
    return cases;
}

// Reads "--name value" from the arguments (other arguments are left to other readers).
inline double NumberArgument(int argc, char** argv, const std::string& name, double fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (name == argv[i])
            return std::atof(argv[i + 1]);
    return fallback;
}

inline bool FlagArgument(int argc, char** argv, const std::string& name) {
    for (int i = 1; i < argc; ++i)
        if (name == argv[i])
            return true;
    return false;
}

} // namespace cw::bench
