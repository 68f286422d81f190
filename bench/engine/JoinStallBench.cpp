// Processor time of a join while its network inputs stand still: two MPEG-TS clips served over
// HTTP on 127.0.0.1, joined by a transcoding job (transcode_runner --join, AVI 3) once with the
// server sending without a pause and once with the server holding each answer for S seconds
// half-way through its body. The difference of the two runs' processor times, over the time
// the server held back, is the share of a core the job spends waiting.
//
//   bench_join_stall [--runs N] [--stall S]   (other arguments are ignored)
// Goal: under 5 % of a core while the inputs stand still.
#include "bench/BenchSupport.h"
#include "tests/fixtures/MediaFixtures.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace cw;
using namespace cw::bench;
namespace fs = std::filesystem;

namespace {

// Serves the files by name ("/a.ts"), honouring "Range: bytes=N-"; while StallSeconds is set,
// every answer that passes the middle of its file stops there for that long first.
class TStallingServer {
public:
    std::map<std::string, std::string> Files;
    std::atomic<double> StallSeconds{0};

    bool Start() {
        Listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (Listener < 0 || ::bind(Listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(Listener, 16) != 0 ||
            ::getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        Port = ntohs(address.sin_port);
        Acceptor = std::thread([this] { Accept(); });
        return true;
    }

    void Stop() {
        ::shutdown(Listener, SHUT_RDWR);
        ::close(Listener);
        Acceptor.join();
        for (std::thread& connection : Connections)
            connection.join();
    }

    std::string Url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/" + name;
    }

private:
    void Accept() {
        for (;;) {
            const int socket = ::accept(Listener, nullptr, nullptr);
            if (socket < 0)
                return;
            Connections.emplace_back([this, socket] {
                Serve(socket);
                ::close(socket);
            });
        }
    }

    static bool SendAll(int socket, const char* data, size_t size) {
        while (size > 0) {
            const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            data += sent;
            size -= static_cast<size_t>(sent);
        }
        return true;
    }

    void Serve(int socket) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(socket, buffer, sizeof(buffer), 0);
            if (got <= 0)
                return;
            request.append(buffer, static_cast<size_t>(got));
        }
        const size_t pathStart = request.find(' ') + 2;
        const std::string name = request.substr(pathStart, request.find(' ', pathStart) - pathStart);
        const auto file = Files.find(name);
        if (file == Files.end()) {
            const std::string missing = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            SendAll(socket, missing.data(), missing.size());
            return;
        }
        const std::string& body = file->second;
        size_t from = 0;
        const size_t range = request.find("Range: bytes=");
        if (range != std::string::npos)
            from = std::min(body.size(), std::stoul(request.substr(range + 13)));
        std::string head = range != std::string::npos ? "HTTP/1.1 206 Partial Content\r\n"
                                                       : "HTTP/1.1 200 OK\r\n";
        head += "Content-Type: video/mp2t\r\nAccept-Ranges: bytes\r\nConnection: close\r\n";
        head += "Content-Length: " + std::to_string(body.size() - from) + "\r\n";
        if (range != std::string::npos)
            head += "Content-Range: bytes " + std::to_string(from) + "-" +
                    std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\n";
        head += "\r\n";
        if (!SendAll(socket, head.data(), head.size()))
            return;
        const size_t middle = body.size() / 2;
        const double stall = StallSeconds.load();
        if (stall > 0 && from < middle) {
            if (!SendAll(socket, body.data() + from, middle - from))
                return;
            std::this_thread::sleep_for(std::chrono::duration<double>(stall));
            from = middle;
        }
        SendAll(socket, body.data() + from, body.size() - from);
    }

    int Listener = -1;
    int Port = 0;
    std::thread Acceptor;
    std::vector<std::thread> Connections;
};

} // namespace

int main(int argc, char** argv) {
    const int runs = std::max(1, static_cast<int>(NumberArgument(argc, argv, "--runs", 3)));
    const double stall = std::max(1.0, NumberArgument(argc, argv, "--stall", 3));
    std::string error;
    if (!test::BindFixtureLibraries(&error)) {
        std::fprintf(stderr, "bench_join_stall: %s\n", error.c_str());
        return 1;
    }
    char pattern[] = "/tmp/cw-bench-join-stall-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("bench_join_stall: mkdtemp");
        return 1;
    }
    const fs::path folder = pattern;
    TStallingServer server;
    for (const char* name : {"a.ts", "b.ts"}) {
        const std::string path = (folder / name).string();
        test::WriteFixture(test::fkMpegTs, path, BenchClipParams(10));
        std::ifstream in(path, std::ios::binary);
        server.Files[name].assign(std::istreambuf_iterator<char>(in), {});
    }
    if (!server.Start()) {
        std::perror("bench_join_stall: listen");
        return 1;
    }
    const std::string out = (folder / "joined.avi").string();
    const std::vector<std::string> args = {CW_RUNNER, "--join",         "AVI",
                                           "3",       out,              server.Url("a.ts"),
                                           server.Url("b.ts")};
    std::vector<double> plainCpu, stalledCpu, plainWall, stalledWall;
    bool failed = false;
    for (int run = 0; run < runs && !failed; ++run) {
        for (const double held : {0.0, stall}) {
            server.StallSeconds = held;
            const TMeasure m = RunMeasured(args);
            if (!m.Ok) {
                std::fprintf(stderr, "bench_join_stall: the join failed (exit %d)\n", m.ExitCode);
                failed = true;
                break;
            }
            (held > 0 ? stalledCpu : plainCpu).push_back(m.CpuSeconds);
            (held > 0 ? stalledWall : plainWall).push_back(m.Seconds);
        }
    }
    server.Stop();
    fs::remove_all(folder);
    if (failed)
        return 1;
    const double waited = 2 * stall;
    const double share = (Median(stalledCpu) - Median(plainCpu)) / waited * 100;
    std::printf("join of two 10 s MPEG-TS inputs over HTTP to AVI 3, %d run(s), medians\n", runs);
    std::printf("%-34s %9s %9s\n", "case", "seconds", "cpu s");
    std::printf("%-34s %9.2f %9.2f\n", "sent without a pause", Median(plainWall),
                Median(plainCpu));
    std::printf("%-34s %9.2f %9.2f\n",
                ("held " + std::to_string(static_cast<int>(stall)) + " s in each input").c_str(),
                Median(stalledWall), Median(stalledCpu));
    std::printf("held back %.1f s in all (wall time grew by %.1f s): %.1f %% of a core while "
                "waiting, aim under 5 %%: %s\n",
                waited, Median(stalledWall) - Median(plainWall), share,
                share < 5 ? "met" : "MISSED");
    return 0;
}
