// clipwright-cli fetch URL [--out FILE]: one transfer with the HTTP transfer component. With
// FILE the answer is written to FILE.part as it arrives and renamed to FILE when the transfer
// succeeded; any other ending removes the part. Without FILE it is kept in memory. Progress goes
// to stderr; the outcome events go to stdout by name, one per line.
#include "base/MainThread.h"
#include "cli/Commands.h"
#include "net/WinHTTP.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace cw::cli {
namespace {

const char* const Usage = "usage: clipwright-cli fetch URL [--out FILE] [--status]\n";

void PrintHelp() {
    std::printf("%s\n"
                "Fetches URL with the program's HTTP transfer component. Progress is shown on\n"
                "stderr; then the outcome events are printed on stdout by name, one per line:\n"
                "  OnDone, OnDoneInterrupted, OnConnLost, OnHTTPError CODE, OnHostUnreachable,\n"
                "  OnOutputFileError, OnAnyError, OnAborted.\n"
                "A URL without \"://\" is fetched as http://URL.\n\n"
                "  --out FILE  write the answer to FILE.part as it arrives and rename it to FILE\n"
                "              after OnDone (never a partial FILE; the part goes on failure)\n"
                "  --status    show the steps of the transfer on stderr (\"Resolving name\",\n"
                "              \"Connecting to server\", ...)\n\n"
                "Why a transfer failed is shown on stderr after OnAnyError.\n"
                "Exit code 0 only after OnDone (and FILE written), 1 otherwise, 2 for bad\n"
                "arguments. Ctrl+C aborts the transfer (OnAborted).\n",
                Usage);
}

void Event(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Puts the finished part file under its final name, so that path never holds a partial
// answer. Like the download queue's files (and curl's), the data is left to the system's
// write-back: waiting for the disk would cost a third of the transfer time on a fast link.
bool FinishPart(const std::string& part, const std::string& path, std::string& error) {
    if (::rename(part.c_str(), path.c_str()) == 0)
        return true;
    error = std::strerror(errno);
    return false;
}

// Progress on stderr: one updated line on a terminal, otherwise a line a second.
class TProgressPrinter {
public:
    TProgressPrinter() : Terminal(::isatty(STDERR_FILENO) != 0) {}

    void Show(int64_t dataSize, int64_t bytesRead, int percents, float rate) {
        const auto now = std::chrono::steady_clock::now();
        const auto gap = Terminal ? std::chrono::milliseconds(100) : std::chrono::seconds(1);
        if (Shown && now - Last < gap && (dataSize == 0 || bytesRead < dataSize))
            return;
        Last = now;
        Shown = true;
        char line[160];
        if (dataSize > 0)
            std::snprintf(line, sizeof line, "%lld of %lld bytes (%d%%), %.1f KB/s",
                          static_cast<long long>(bytesRead), static_cast<long long>(dataSize),
                          percents, double(rate));
        else
            std::snprintf(line, sizeof line, "%lld bytes, %.1f KB/s",
                          static_cast<long long>(bytesRead), double(rate));
        if (Terminal) {
            std::fprintf(stderr, "\r%s\033[K", line);
            Open = true;
        } else {
            std::fprintf(stderr, "%s\n", line);
        }
        std::fflush(stderr);
    }
    // Ends an updated line before other output.
    void Finish() {
        if (Open)
            std::fprintf(stderr, "\n");
        Open = false;
    }

private:
    bool Terminal;
    bool Shown = false;
    bool Open = false;
    std::chrono::steady_clock::time_point Last;
};

int RunFetch(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        PrintHelp();
        return 0;
    }
    std::string url, out;
    bool haveOut = false, status = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--out") {
            if (i + 1 >= args.size() || haveOut) {
                std::fprintf(stderr, "fetch: --out needs one FILE\n%s", Usage);
                return 2;
            }
            out = args[++i];
            haveOut = true;
        } else if (a.rfind("--out=", 0) == 0 && !haveOut) {
            out = a.substr(6);
            haveOut = true;
        } else if (a == "--status") {
            status = true;
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "fetch: unknown option %s\n%s", a.c_str(), Usage);
            return 2;
        } else if (url.empty()) {
            url = a;
        } else {
            std::fprintf(stderr, "fetch: one URL only\n%s", Usage);
            return 2;
        }
    }
    if (url.empty() || (haveOut && out.empty())) {
        std::fprintf(stderr, "%s", Usage);
        return 2;
    }

    TWinHTTP http;
    http.URL = url;
    const std::string part = haveOut ? out + ".part" : std::string();
    http.OutputFileName = part;
    TProgressPrinter progress;
    int rc = 1;
    http.OnProgress = [&](TCustomWinHTTP*, const std::string&, int64_t dataSize, int64_t bytesRead,
                          int64_t, int64_t, uint8_t percents, float rate,
                          TStream*) { progress.Show(dataSize, bytesRead, percents, rate); };
    http.OnRedirected = [](TCustomWinHTTP*, const std::string& newUrl) {
        std::fprintf(stderr, "redirected to %s\n", newUrl.c_str());
    };
    http.OnDone = [&](TCustomWinHTTP*, const std::string& contentType, int64_t fileSize,
                      TStream* stream) {
        progress.Finish();
        Event("OnDone");
        std::fprintf(stderr, "received %lld bytes%s%s\n", static_cast<long long>(fileSize),
                     contentType.empty() ? "" : ", ", contentType.c_str());
        rc = 0;
        if (!haveOut)
            return;
        std::string error = "cannot create " + part;
        // A file output is closed before OnDone and comes without a stream; an answer kept
        // in memory instead means the part file could not be created.
        if (stream || !FinishPart(part, out, error)) {
            std::fprintf(stderr, "fetch: cannot write %s: %s\n", out.c_str(), error.c_str());
            rc = 1;
        }
    };
    http.OnDoneInterrupted = [&](TCustomWinHTTP*) { Event("OnDoneInterrupted"); };
    http.OnConnLost = [&](TCustomWinHTTP*, const std::string&, int64_t fileSize, int64_t bytesRead,
                          TStream*) {
        progress.Finish();
        Event("OnConnLost");
        std::fprintf(stderr, "connection lost after %lld of %lld bytes\n",
                     static_cast<long long>(bytesRead), static_cast<long long>(fileSize));
    };
    http.OnHTTPError = [&](TCustomWinHTTP*, int code, TStream*) {
        progress.Finish();
        Event("OnHTTPError " + std::to_string(code));
    };
    http.OnHostUnreachable = [&](TCustomWinHTTP*) { Event("OnHostUnreachable"); };
    http.OnOutputFileError = [&](TCustomWinHTTP*) { Event("OnOutputFileError"); };
    http.OnAnyError = [&](TCustomWinHTTP* sender) {
        progress.Finish();
        Event("OnAnyError");
        if (!sender->ErrorText().empty())
            std::fprintf(stderr, "%s\n", sender->ErrorText().c_str());
    };
    if (status)
        http.OnStatus = [](TCustomWinHTTP*, int, const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
        };
    http.OnAborted = [&](TCustomWinHTTP*) {
        progress.Finish();
        Event("OnAborted");
    };

    if (!http.Read()) {
        std::fprintf(stderr, "fetch: the transfer could not be started\n");
        return 1;
    }
    const auto idle = [&] { return !http.Busy() && !http.IsRunning(); };
    WaitServing([&] { return idle() || StopRequested(); });
    if (!idle()) {
        // Ctrl+C: the transfer stops at its next check; a stuck one is cut off.
        http.Abort(false, false);
        if (!WaitServing(idle, std::chrono::seconds(5)))
            http.Abort(false, true);
        WaitServing(idle, std::chrono::seconds(5));
    }
    // Whatever ended the transfer short, no part stays behind.
    if (haveOut && rc != 0)
        ::unlink(part.c_str());
    return rc;
}

TCliRegistrar Registrar({"fetch", "fetch a URL with the HTTP transfer component", &RunFetch});

} // namespace
} // namespace cw::cli
