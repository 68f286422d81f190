// Peak memory of the download queue while it downloads one large video (300 MiB by default)
// from the fake video service on 127.0.0.1: the whole road of the window's run (watch page,
// info answer, stream-link script, quality rule, stream, saving), in a child process of its
// own so that its peak resident memory (ru_maxrss) is its own. Beside it the curl tool fetches
// the same stream into a file. Goals: the stream at least 0.9 x curl's throughput (from the
// moment the stream is asked for until the file is saved), peak memory under 64 MiB.
//
//   bench_download [--size MB] [--runs N]
#include "app/GlobalVars.h"
#include "base/MainThread.h"
#include "download/DownloadQueue.h"
#include "script/Script.h"
#include "tests/support/FakeVideoService.h"

#include <QCoreApplication>

#include <spawn.h>
#include <sys/resource.h>
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

constexpr double GoalMiB = 64;
constexpr double GoalRatio = 0.9;
const char* const TimingFile = "stream-seconds";

// Counts the run's end; the steps go back through the main-thread queue.
class TBenchHost : public IDownloadView {
public:
    TDownloadQueue* Queue = nullptr;
    bool Ended = false;
    std::chrono::steady_clock::time_point StreamStart, StreamEnd;
    void PostStep(TDownloadStep step) override {
        PostToMainThread([this, step] { Queue->HandleStep(step); });
    }
    void ItemChanged(int, const TDownloadItem& item) override {
        // The stream is asked for right after this status; "Finish." follows the saving.
        const std::string& status = item.Status;
        if (status == "Analyzing finished, ready to download...")
            StreamStart = std::chrono::steady_clock::now();
        else if (status == "Finish.")
            StreamEnd = std::chrono::steady_clock::now();
    }
    void LabelsChanged(const TDownloadLabels&) override {}
    void RunEnded() override { Ended = true; }
    void ScriptError(const std::string& message) override {
        std::fprintf(stderr, "bench_download: %s\n", message.c_str());
    }
};

// The child: one link through the queue as the window runs it (preference on).
int ChildMain(int argc, char** argv, const std::string& domain, const std::string& link,
              const std::string& folder, int64_t size) {
    QCoreApplication app(argc, argv);
    TQueueDispatcher dispatcher;
    SetMainThreadDispatcher(&dispatcher);
    bool ok = false;
    {
        TGlobalVars vars;
        vars.OutputURLDir = folder;
        vars.PreferYouTubeQuality = true;
        vars.PreferYouTube1 = 1;
        vars.PreferYouTube2 = 2;
        vars.PreferYouTube3 = 3;
        vars.PreferYouTube4 = 0;
        vars.PreferYouTube5 = 4;
        vars.PreferYouTube6 = 5;
        vars.PreferYouTube7 = 6;
        vars.PreferYouTube18 = 7;
        TJavaScript script;
        auto hostItem = std::make_shared<THostScriptlet>();
        script.AddItem(hostItem);
        TBenchHost host;
        TDownloadQueue queue(vars, script, hostItem, host);
        host.Queue = &queue;
        queue.VideoSiteDomain = domain;
        queue.BuildQueue({link});
        queue.StartRun();
        WaitServing([&] { return host.Ended; });
        ok = vars.DownloadedFiles.size() == 1 &&
             fs::file_size(vars.DownloadedFiles[0]) == uintmax_t(size);
        if (FILE* f = std::fopen((folder + TimingFile).c_str(), "w")) {
            std::fprintf(f, "%.6f\n",
                         std::chrono::duration<double>(host.StreamEnd - host.StreamStart).count());
            std::fclose(f);
        }
        host.Queue = nullptr;
    }
    SetMainThreadDispatcher(nullptr);
    return ok ? 0 : 1;
}

struct TMeasure {
    double Seconds = 0;
    long PeakKb = 0;
    bool Ok = false;
};

TMeasure Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "--child")
        return ChildMain(argc, argv, args[1], args[2], args[3], std::stoll(args[4]));

    int64_t sizeMb = 300;
    int runs = 1;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size")
            sizeMb = std::stoll(args[i + 1]);
        else if (args[i] == "--runs")
            runs = std::max(1, std::stoi(args[i + 1]));
    }
    const int64_t size = sizeMb * 1024 * 1024;

    test::TFakeVideoService service;
    test::TFakeVideo video;
    video.Id = "big";
    video.Title = "Big video";
    test::TFakeStream stream;
    stream.Itag = 18;
    stream.GeneratedSize = uint64_t(size);
    video.Streams = {stream};
    service.AddVideo(video);

    const fs::path dir = fs::temp_directory_path() / ("cw-bench-dl-" + std::to_string(getpid()));
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string streamUrl = service.StreamUrl("big", 18) + "&signature=" + stream.Sig;
    bool ok = true;
    long peak = 0;
    std::vector<double> times, streamTimes, curlTimes;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    for (int run = 0; run < runs; ++run) {
        fs::create_directories(dir);
        const TMeasure c =
            Spawn({"/usr/bin/curl", "-sS", "-o", (dir / "curl.bin").string(), streamUrl});
        if (!c.Ok || fs::file_size(dir / "curl.bin") != uintmax_t(size)) {
            std::fprintf(stderr, "bench_download: curl failed (Debian package curl)\n");
            ok = false;
        }
        fs::remove(dir / "curl.bin");
        curlTimes.push_back(c.Seconds);

        const TMeasure m = Spawn({self, "--child", service.Domain(), service.WatchUrl("big"),
                                  dir.string() + "/", std::to_string(size)});
        double streamSeconds = 0;
        if (FILE* f = std::fopen((dir / TimingFile).c_str(), "r")) {
            if (std::fscanf(f, "%lf", &streamSeconds) != 1)
                streamSeconds = 0;
            std::fclose(f);
        }
        if (!m.Ok || streamSeconds <= 0) {
            std::fprintf(stderr, "bench_download: the download failed\n");
            ok = false;
        }
        times.push_back(m.Seconds);
        streamTimes.push_back(streamSeconds);
        peak = std::max(peak, m.PeakKb);
        fs::remove_all(dir);
    }
    const double seconds = median(times);
    const double streamSeconds = median(streamTimes);
    const double curlSeconds = median(curlTimes);
    const double peakMiB = double(peak) / 1024.0;
    const double ratio = streamSeconds > 0 ? curlSeconds / streamSeconds : 0;
    std::printf("download of %lld MiB through the queue, %d run(s): whole run %.2f s, stream "
                "%.2f s (%.1f MiB/s), peak resident memory %.1f MiB\n",
                static_cast<long long>(sizeMb), runs, seconds, streamSeconds,
                double(sizeMb) / streamSeconds, peakMiB);
    std::printf("curl -o FILE of the same stream: %.2f s (%.1f MiB/s)\n", curlSeconds,
                double(sizeMb) / curlSeconds);
    std::printf("goal: stream >= %.1f x curl -o FILE: %.2f %s\n", GoalRatio, ratio,
                ratio >= GoalRatio ? "met" : "MISSED");
    std::printf("goal: peak memory < %.0f MiB: %.1f MiB %s\n", GoalMiB, peakMiB,
                peakMiB < GoalMiB ? "met" : "MISSED");
    return ok ? 0 : 1;
}
