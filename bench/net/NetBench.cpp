// Throughput and peak memory of the HTTP transfer component beside the curl tool, both
// fetching the same large body from the test server (127.0.0.1) in the same run. Every
// fetch runs in a child process of its own, so that its peak memory (ru_maxrss) is its own;
// the server stays in this process.
//
//   bench_net [--size MB] [--runs N]
#include "base/MainThread.h"
#include "net/WinHTTP.h"
#include "tests/support/TestHttpServer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

using namespace cw;
namespace fs = std::filesystem;

namespace {

struct TCase {
    std::string Name;
    bool Curl;   // the curl tool, else the component
    bool ToFile; // into a file, else memory (curl: discarded, or a file in memory)
    uint32_t Block = 4096;
    bool Progress = true; // an OnProgress handler, as the application has
    bool Shm = false;     // curl into a file under /dev/shm: the data lands in memory too
};

struct TMeasure {
    double Seconds;
    long PeakKb;
    bool Ok;
    double CpuSeconds = 0; // user and system time of the child
};

TMeasure Spawn(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return {0, 0, false};
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto cpu = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {seconds, usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0,
            cpu(usage.ru_utime) + cpu(usage.ru_stime)};
}

// The child: one transfer with the component, checked for size and content.
int ChildMain(const std::string& url, int64_t size, const std::string& file, uint32_t block,
              bool progress) {
    TQueueDispatcher dispatcher;
    SetMainThreadDispatcher(&dispatcher);
    bool ok = false;
    {
        TWinHTTP http;
        http.URL = url;
        http.OutputFileName = file;
        http.SetTransferBufferSize(block);
        long blocks = 0;
        if (progress)
            http.OnProgress = [&](TCustomWinHTTP*, const std::string&, int64_t, int64_t, int64_t,
                                  int64_t, uint8_t, float, TStream*) { ++blocks; };
        http.OnDone = [&](TCustomWinHTTP*, const std::string&, int64_t fileSize, TStream* s) {
            ok = fileSize == size;
            if (auto* memory = dynamic_cast<TMemoryStream*>(s)) {
                ok = ok && memory->Size() == size;
                for (int64_t at = 0; ok && at < size; at += 999983)
                    ok = memory->Memory()[at] == test::TTestHttpServer::PatternByte(uint64_t(at));
            }
        };
        if (!http.Read())
            return 1;
        WaitServing([&] { return !http.Busy() && !http.IsRunning(); });
        if (progress && blocks == 0)
            ok = false;
    }
    SetMainThreadDispatcher(nullptr);
    return ok ? 0 : 1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 6 && args[0] == "--child")
        return ChildMain(args[1], std::stoll(args[2]), args[3] == "-" ? "" : args[3],
                         uint32_t(std::stoul(args[4])), args[5] == "1");

    int64_t sizeMb = 200;
    int runs = 3;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--size")
            sizeMb = std::stoll(args[i + 1]);
        else if (args[i] == "--runs")
            runs = std::max(1, std::stoi(args[i + 1]));
    }
    const int64_t size = sizeMb * 1024 * 1024;

    if (!Spawn({"curl", "--version"}, true).Ok) {
        std::fprintf(stderr, "bench_net: the curl tool is missing (Debian package curl)\n");
        return 1;
    }
    test::TTestHttpServer server;
    const std::string url = server.Url("/body?size=" + std::to_string(size));
    const fs::path dir = fs::temp_directory_path() / ("cw-bench-net-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    // Ratios are to the first curl line of each group.
    const std::vector<TCase> cases = {
        {"curl -o /dev/null", true, false},
        {"curl -o /dev/shm/FILE (lands in memory)", true, false, 4096, true, true},
        {"component, memory, 4 KiB blocks, progress", false, false},
        {"component, memory, 4 KiB blocks, no progress handler", false, false, 4096, false},
        {"component, memory, 64 KiB blocks, progress", false, false, 65536},
        {"curl -o FILE", true, true},
        {"component, file, 4 KiB blocks, progress", false, true},
        {"component, file, 4 KiB blocks, no progress handler", false, true, 4096, false},
        {"component, file, 64 KiB blocks, progress", false, true, 65536},
    };
    constexpr size_t MemoryCase = 2, FileCase = 6; // the application's settings
    std::vector<std::vector<double>> times(cases.size()), cpus(cases.size()),
        untimedFree(cases.size());
    std::vector<long> peaks(cases.size(), 0);
    bool allOk = true;
    for (int run = 0; run < runs; ++run) {
        for (size_t c = 0; c < cases.size(); ++c) {
            const TCase& k = cases[c];
            const std::string file = k.Shm ? "/dev/shm/cw-bench-net-" + std::to_string(getpid())
                                           : (dir / "out.bin").string();
            std::vector<std::string> command;
            if (k.Curl)
                command = {"curl", "-sS", "-o", k.ToFile || k.Shm ? file : "/dev/null", url};
            else
                command = {self,
                           "--child",
                           url,
                           std::to_string(size),
                           k.ToFile ? file : "-",
                           std::to_string(k.Block),
                           k.Progress ? "1" : "0"};
            const TMeasure m = Spawn(command);
            if (!m.Ok || (k.ToFile && fs::file_size(file) != uintmax_t(size))) {
                std::fprintf(stderr, "bench_net: %s failed\n", k.Name.c_str());
                allOk = false;
            }
            // A file under /dev/shm keeps curl's data in memory after curl has gone; the
            // component lets go of its memory when its process ends, inside the timing. The
            // removal of the file is timed too, so that both let go of what they held.
            const auto removal = std::chrono::steady_clock::now();
            fs::remove(file);
            const double freeing =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - removal).count();
            times[c].push_back(m.Seconds + (k.Shm ? freeing : 0));
            untimedFree[c].push_back(m.Seconds);
            cpus[c].push_back(m.CpuSeconds);
            peaks[c] = std::max(peaks[c], m.PeakKb);
        }
    }
    fs::remove_all(dir);

    std::printf("body %lld MiB from %s, %d run(s), median time, peak resident memory\n",
                static_cast<long long>(sizeMb), server.BaseUrl().c_str(), runs);
    std::printf("%-55s %9s %8s %10s %8s\n", "case", "MiB/s", "x curl", "peak MiB", "cpu ms");
    const double mib = double(size) / (1024.0 * 1024.0);
    double curlMemory = 0, curlFile = 0;
    std::vector<double> rates(cases.size());
    for (size_t c = 0; c < cases.size(); ++c) {
        rates[c] = mib / Median(times[c]);
        if (cases[c].Curl && !cases[c].Shm)
            (cases[c].ToFile ? curlFile : curlMemory) = rates[c];
        const double baseline = cases[c].ToFile ? curlFile : curlMemory;
        std::printf("%-55s %9.1f %8.2f %10.1f %8.0f\n", cases[c].Name.c_str(), rates[c],
                    rates[c] / baseline, double(peaks[c]) / 1024.0, Median(cpus[c]) * 1000);
    }
    // The goals, for the application's settings (4 KiB blocks with a progress handler).
    // Memory output is held against curl writing into /dev/shm, where its data lands in
    // memory too; discarding the data (-o /dev/null) is shown beside it.
    const double memRatio = rates[MemoryCase] / rates[1];
    const double fileRatio = rates[FileCase] / curlFile;
    const double memPeak = double(peaks[MemoryCase]) / 1024.0;
    const double filePeak = double(peaks[FileCase]) / 1024.0;
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    std::printf("goal: memory output >= 0.9 x curl into /dev/shm (file removal timed): %.2f %s\n",
                memRatio, verdict(memRatio >= 0.9));
    std::printf("      beside curl into /dev/shm without the removal: %.2f x\n",
                rates[MemoryCase] / (mib / Median(untimedFree[1])));
    std::printf("      memory output beside curl -o /dev/null: %.2f x\n",
                rates[MemoryCase] / curlMemory);
    std::printf("goal: file output >= 0.9 x curl -o FILE: %.2f %s\n", fileRatio,
                verdict(fileRatio >= 0.9));
    std::printf("goal: memory output peak <= 1.1 x body (%.1f MiB): %.1f MiB %s\n", mib * 1.1,
                memPeak, verdict(memPeak <= mib * 1.1));
    std::printf("goal: file output peak < 32 MiB: %.1f MiB %s\n", filePeak, verdict(filePeak < 32));
    return allOk ? 0 : 1;
}
