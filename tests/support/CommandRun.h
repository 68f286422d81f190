// Runs a program through the shell, as a user types it, for the command-line tests: what it
// writes to standard output and its exit code.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace cw::test {

struct TCommandRun {
    // -1 when the program did not end by itself (a signal) or could not be started.
    int ExitCode = -1;
    std::string Out;
};

// The command line goes to /bin/sh as it stands: redirections of standard error included.
inline TCommandRun RunCommand(const std::string& commandLine) {
    TCommandRun run;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        run.Out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// One argument for the shell, taken literally whatever characters it holds.
inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace cw::test
