#include "app/Platform.h"
#include "base/MainThread.h"
#include "cli/Commands.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>

namespace cw::cli {

std::vector<TCliCommand>& Commands() {
    static std::vector<TCliCommand> commands;
    return commands;
}

TCliRegistrar::TCliRegistrar(TCliCommand command) { Commands().push_back(std::move(command)); }

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

namespace {
std::atomic<bool> Stop{false};
void OnSignal(int) { Stop = true; }

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: clipwright-cli COMMAND [ARGS...]\n\n"
                      "Clipwright's converter and downloader without the window.\n\n"
                      "Commands:\n");
    auto commands = Commands();
    std::sort(commands.begin(), commands.end(),
              [](const TCliCommand& a, const TCliCommand& b) { return a.Name < b.Name; });
    for (const auto& c : commands)
        std::fprintf(out, "  %-10s %s\n", c.Name.c_str(), c.Summary.c_str());
    std::fprintf(out, "\nclipwright-cli COMMAND --help describes a command.\n");
}
} // namespace

bool StopRequested() { return Stop.load(); }

} // namespace cw::cli

int main(int argc, char** argv) {
    using namespace cw::cli;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    // Running tasks, joins and transfers hold files side by side: room beyond the usual limit.
    cw::RaiseOpenFileLimit();

    cw::TQueueDispatcher dispatcher;
    cw::SetMainThreadDispatcher(&dispatcher);

    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& c : Commands()) {
        if (c.Name == name) {
            int rc;
            try {
                rc = c.Run(args);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "error: %s\n", e.what());
                rc = 1;
            }
            dispatcher.ServePendingCalls();
            cw::SetMainThreadDispatcher(nullptr);
            return rc;
        }
    }
    std::fprintf(stderr, "unknown command: %s\n\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
