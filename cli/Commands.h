// Command registry of clipwright-cli. Each command file defines a static TCliRegistrar;
// main() finds the command by its first argument.
#pragma once

#include <string>
#include <vector>

namespace cw::cli {

// Run gets the arguments after the command name. Exit codes: 0 success, 1 failure,
// 2 bad arguments.
struct TCliCommand {
    std::string Name;
    std::string Summary;
    int (*Run)(const std::vector<std::string>& args);
};

std::vector<TCliCommand>& Commands();

struct TCliRegistrar {
    explicit TCliRegistrar(TCliCommand command);
};

// True when the argument list asks for help.
bool WantsHelp(const std::vector<std::string>& args);

// Set by SIGINT/SIGTERM; long-running commands poll it to stop cleanly.
bool StopRequested();

} // namespace cw::cli
