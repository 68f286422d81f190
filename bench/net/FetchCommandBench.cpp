// clipwright-cli fetch --out FILE beside curl -o FILE, both fetching the same large body from
// the test server (127.0.0.1) and both showing their progress on a terminal (a pseudo
// terminal on stderr). Each fetch runs in a child process of its own, so that its time and
// peak memory (ru_maxrss) are its own; the server stays in this process. Every FILE is checked
// against the body the server sent.
//
//   bench_fetch [--size MB] [--runs N]
#include "tests/support/TestHttpServer.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using cw::test::TTestHttpServer;
namespace fs = std::filesystem;

namespace {

struct TMeasure {
    double Seconds = 0;
    long PeakKb = 0;
    bool Ok = false;
};

// Runs the command with stdout on /dev/null and stderr on a pseudo terminal whose output is
// read and dropped, as a terminal would show it.
TMeasure RunOnTerminal(const std::vector<std::string>& args) {
    int master = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return {};
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    std::thread reader([master] {
        char buffer[4096];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    });
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    TMeasure m;
    m.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.PeakKb = usage.ru_maxrss;
    m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    ::close(master);
    reader.join();
    return m;
}

// True when the file holds exactly the server's body of that size.
bool SameAsBody(const std::string& path, uint64_t size) {
    std::ifstream in(path, std::ios::binary);
    constexpr uint64_t Chunk = 1 << 20;
    std::string got(Chunk, '\0');
    for (uint64_t offset = 0; offset < size; offset += Chunk) {
        const uint64_t n = std::min(Chunk, size - offset);
        if (!in.read(got.data(), std::streamsize(n)))
            return false;
        if (got.compare(0, n, TTestHttpServer::PatternBody(offset, n)) != 0)
            return false;
    }
    return in.peek() == std::char_traits<char>::eof() && fs::file_size(path) == size;
}

} // namespace

int main(int argc, char** argv) {
    int64_t sizeMb = 300;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size") == 0)
            sizeMb = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    const uint64_t size = uint64_t(sizeMb) << 20;
    TTestHttpServer server;
    const std::string url = server.Url("/body?size=" + std::to_string(size));
    const fs::path dir =
        fs::temp_directory_path() / ("cw-bench-fetch-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "body.bin").string();

    struct TCase {
        const char* Name;
        std::vector<std::string> Command;
    };
    const TCase cases[] = {
        {"curl -o FILE", {"curl", "-o", file, url}},
        {"clipwright-cli fetch --out FILE", {CW_CLI, "fetch", url, "--out", file}},
    };
    std::printf("bench_fetch: %lld MiB from %s, best of %d, progress on a terminal\n",
                static_cast<long long>(sizeMb), server.BaseUrl().c_str(), runs);
    double best[2] = {1e100, 1e100};
    long peak[2] = {0, 0};
    bool ok = true;
    for (int run = 0; run < runs; ++run)
        for (int c = 0; c < 2; ++c) {
            fs::remove(file);
            const TMeasure m = RunOnTerminal(cases[c].Command);
            const bool same = m.Ok && SameAsBody(file, size);
            if (!same) {
                std::fprintf(stderr, "bench_fetch: %s failed or wrote another file\n",
                             cases[c].Name);
                ok = false;
            }
            best[c] = std::min(best[c], m.Seconds);
            peak[c] = std::max(peak[c], m.PeakKb);
        }
    fs::remove_all(dir);
    for (int c = 0; c < 2; ++c)
        std::printf("  %-34s %7.2f s  %8.1f MiB/s  peak %6.1f MiB\n", cases[c].Name, best[c],
                    double(sizeMb) / best[c], double(peak[c]) / 1024.0);
    const double ratio = best[0] / best[1];
    std::printf("  throughput %.2f x curl (aim: at least 0.90) %s\n", ratio,
                ratio >= 0.9 ? "met" : "MISSED");
    std::printf("  peak memory %.1f MiB (aim: under 64 MiB) %s\n", double(peak[1]) / 1024.0,
                peak[1] < 64 * 1024 ? "met" : "MISSED");
    return ok ? 0 : 1;
}
