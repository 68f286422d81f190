// Probing speed: the decoder component opens small media files and reads the facts the input
// list shows, in files per second, beside the same work done by the ffprobe tool (format and
// streams of each file) when it is installed. The files are generated first (a mix of the
// fixture containers, one second each).
//
//   bench_probe [--files N] [--runs N]      (other arguments are ignored)
//
// Cases:
//   decoder, in process        one TFFDecoder, LoadFile + the three records + CloseFile per file
//   clipwright-cli, one call   `clipwright-cli probe --json` over all files in one process
//   clipwright-cli, per file   one process per file, as ffprobe must be run
//   ffprobe, per file          `ffprobe -v quiet -show_format -show_streams FILE`
#include "engine/FFDecoder.h"
#include "tests/fixtures/MediaFixtures.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

using namespace cw;
namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// Runs a program with its output discarded; true when it exits with 0.
bool Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos)
            end = folders.size();
        const fs::path candidate = fs::path(folders.substr(at, end - at)) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

// One pass of a case over all files; seconds, or a negative value when a probe failed.
using TCaseRun = double (*)(const std::vector<std::string>& files);

double InProcess(const std::vector<std::string>& files) {
    const auto start = TClock::now();
    TFFDecoder decoder;
    for (const auto& file : files) {
        if (!decoder.LoadFile(file))
            return -1;
        TFileStreamInfo info = decoder.GetFileStreamInfo();
        if (decoder.FirstVideoStream() >= 0)
            (void)decoder.GetVideoStreamInfo(decoder.FirstVideoStream());
        if (decoder.FirstAudioStream() >= 0)
            (void)decoder.GetAudioStreamInfo(decoder.FirstAudioStream());
        (void)info;
        decoder.CloseFile();
    }
    return SecondsSince(start);
}

double CliOneCall(const std::vector<std::string>& files) {
    std::vector<std::string> args = {CW_CLI, "probe", "--json"};
    args.insert(args.end(), files.begin(), files.end());
    const auto start = TClock::now();
    return Run(args) ? SecondsSince(start) : -1;
}

double CliPerFile(const std::vector<std::string>& files) {
    const auto start = TClock::now();
    for (const auto& file : files)
        if (!Run({CW_CLI, "probe", "--json", file}))
            return -1;
    return SecondsSince(start);
}

double FfprobePerFile(const std::vector<std::string>& files) {
    const auto start = TClock::now();
    for (const auto& file : files)
        if (!Run({"ffprobe", "-v", "quiet", "-show_format", "-show_streams", file}))
            return -1;
    return SecondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    int fileCount = 100;
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--files")
            fileCount = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
    }

    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "bench_probe: %s\n", error.c_str());
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("cw-bench-probe-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<test::TFixtureKind> kinds = {
        test::fkAviMpeg4Mp3, test::fkMp4H264Aac, test::fkMkvTwoAudio, test::fkMpegTs,
        test::fkWavPcm,      test::fkFlac,       test::fkMp3};
    std::vector<std::string> files;
    test::TFixtureParams params;
    params.Seconds = 1.0;
    for (int i = 0; i < fileCount; ++i) {
        const test::TFixtureKind kind = kinds[size_t(i) % kinds.size()];
        const std::string path =
            (dir / (std::to_string(i) + test::FixtureExtension(kind))).string();
        test::WriteFixture(kind, path, params);
        files.push_back(path);
    }

    struct TCase {
        const char* Name;
        TCaseRun Body;
        bool Available;
    };
    const bool ffprobe = HaveProgram("ffprobe");
    const std::vector<TCase> cases = {
        {"decoder, in process", &InProcess, true},
        {"clipwright-cli probe, one call", &CliOneCall, true},
        {"clipwright-cli probe, one process per file", &CliPerFile, true},
        {"ffprobe, one process per file", &FfprobePerFile, ffprobe},
    };
    std::vector<double> best(cases.size(), 0);
    bool allOk = true;
    for (size_t c = 0; c < cases.size(); ++c) {
        if (!cases[c].Available)
            continue;
        for (int run = 0; run < runs; ++run) {
            const double seconds = cases[c].Body(files);
            if (seconds < 0) {
                std::fprintf(stderr, "bench_probe: %s failed\n", cases[c].Name);
                allOk = false;
                break;
            }
            best[c] = best[c] == 0 ? seconds : std::min(best[c], seconds);
        }
    }
    fs::remove_all(dir);

    std::printf("probing %d small files (7 containers, 1 s each), best of %d run(s)\n", fileCount,
                runs);
    std::printf("%-45s %10s %10s\n", "case", "files/s", "x ffprobe");
    const double ffprobeRate = best[3] > 0 ? fileCount / best[3] : 0;
    for (size_t c = 0; c < cases.size(); ++c) {
        if (!cases[c].Available) {
            std::printf("%-45s %10s %10s\n", cases[c].Name, "-", "-");
            continue;
        }
        const double rate = best[c] > 0 ? fileCount / best[c] : 0;
        if (ffprobeRate > 0)
            std::printf("%-45s %10.1f %10.2f\n", cases[c].Name, rate, rate / ffprobeRate);
        else
            std::printf("%-45s %10.1f %10s\n", cases[c].Name, rate, "-");
    }
    if (!ffprobe)
        std::printf("ffprobe is not installed (Debian package ffmpeg): no comparison\n");
    return allOk ? 0 : 1;
}
