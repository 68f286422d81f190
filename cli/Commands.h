// Command registry of clipwright-cli. Each command file defines a static TCliRegistrar;
// main() finds the command by its first argument.
#pragma once

#include <memory>
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

// While it lives, the conversion run and the download queue hold the login manager's sleep
// lock for their runs, as in the window, and give it back at every ending; without a login
// manager they log once that the computer may sleep. Made before the run's controller, so
// that it outlives every lock taken through it.
class TRunSleepLock {
public:
    TRunSleepLock();
    ~TRunSleepLock();
    TRunSleepLock(const TRunSleepLock&) = delete;
    TRunSleepLock& operator=(const TRunSleepLock&) = delete;

private:
    struct TParts;
    std::unique_ptr<TParts> Parts;
};

} // namespace cw::cli
