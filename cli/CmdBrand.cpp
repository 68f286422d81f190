// clipwright-cli brand scramble|unscramble IN OUT: turns a readable branding INI into the
// stored form beside the executable, and back.
#include "app/Branding.h"
#include "app/IniFile.h"
#include "cli/Commands.h"

#include <cstdio>

namespace cw::cli {
namespace {

int RunBrand(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::printf("usage: clipwright-cli brand scramble|unscramble IN OUT\n\n"
                    "Complements every byte of every line of IN and writes the result to OUT.\n"
                    "scramble turns a readable branding INI into lamecore.dll; unscramble\n"
                    "turns it back.\n");
        return 0;
    }
    if (args.size() != 3 || (args[0] != "scramble" && args[0] != "unscramble")) {
        std::fprintf(stderr, "usage: clipwright-cli brand scramble|unscramble IN OUT\n");
        return 2;
    }
    try {
        // The operation is its own inverse; both directions are the same pass.
        WriteFileAtomically(args[2], ScrambleText(ReadFileText(args[1])));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}

TCliRegistrar Registrar({"brand", "scramble or unscramble a branding file", &RunBrand});

} // namespace
} // namespace cw::cli
