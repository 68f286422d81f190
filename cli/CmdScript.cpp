// clipwright-cli script FILE: runs a script text in the script host with the item "Host".
// Host.Echo and Host.Alert print their text on stdout; a script error is printed the way the
// window words it. Ctrl+C stops a script that runs too long.
#include "cli/Commands.h"
#include "script/Script.h"

#include <QCoreApplication>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace cw::cli {
namespace {

const char* const Usage = "usage: clipwright-cli script FILE\n";

bool ReadScript(const std::string& path, std::string& text) {
    std::ostringstream buffer;
    if (path == "-") {
        buffer << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return false;
        buffer << in.rdbuf();
        if (in.bad())
            return false;
    }
    text = buffer.str();
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int RunScript(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::printf("%s\n"
                    "Runs the script text in FILE (\"-\" reads standard input) with the object\n"
                    "\"Host\": Host.Echo(text) and Host.Alert(text) print text on standard\n"
                    "output. A script error prints \"Error: Line number N, description\" on\n"
                    "standard error. Ctrl+C stops a running script.\n\n"
                    "Exit code: 0 when the script ran to its end, 1 after a script error, a\n"
                    "stop or an unreadable file, 2 for bad arguments.\n",
                    Usage);
        return 0;
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "%s", Usage);
        return 2;
    }
    std::string text;
    if (!ReadScript(args[0], text)) {
        std::fprintf(stderr, "error: cannot read %s\n", args[0].c_str());
        return 1;
    }

    // The script engine needs an application object; the command line has none of its own.
    int argc = 1;
    char name[] = "clipwright-cli";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    auto print = [](THostScriptlet&, const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    auto host = std::make_shared<THostScriptlet>();
    host->OnEcho = print;
    host->OnAlert = print;

    TJavaScript script;
    script.AddItem(host);
    bool failed = false, stopped = false;
    script.OnError = [&failed](TCustomScript&, const TScriptError& error) {
        failed = true;
        std::fprintf(stderr, "Error: Line number %d, %s\n", error.Line + 1,
                     error.Description.c_str());
    };
    script.OnQueryContinue = [&stopped](TCustomScript&, bool& allow) {
        if (StopRequested()) {
            allow = false;
            stopped = true;
        }
    };
    script.Lines = SplitLines(text);
    script.Run();
    script.Close();
    if (stopped)
        std::fprintf(stderr, "Script stopped.\n");
    return failed || stopped ? 1 : 0;
}

TCliRegistrar Registrar({"script", "run a script text with the Host object", &RunScript});

} // namespace
} // namespace cw::cli
