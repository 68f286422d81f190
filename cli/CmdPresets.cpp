// clipwright-cli presets: every class, format, preset index and preset text of the output
// catalogue, one per line, tab-separated.
#include "cli/Commands.h"
#include "convert/Catalogue.h"

#include <cstdio>

namespace cw::cli {
namespace {

int RunPresets(const std::vector<std::string>& args) {
    if (WantsHelp(args)) {
        std::printf("usage: clipwright-cli presets\n\n"
                    "Lists the output catalogue: one line per preset with the class, the format,\n"
                    "the preset index and the preset text, separated by tabs. Class and format\n"
                    "names and the index are what `clipwright-cli convert` takes.\n");
        return 0;
    }
    if (!args.empty()) {
        std::fprintf(stderr, "usage: clipwright-cli presets\n");
        return 2;
    }
    for (const TPresetEntry& e : AllPresets())
        std::printf("%.*s\t%.*s\t%d\t%.*s\n", int(e.ClassName.size()), e.ClassName.data(),
                    int(e.FormatName.size()), e.FormatName.data(), e.Index, int(e.Text.size()),
                    e.Text.data());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

TCliRegistrar Registrar({"presets", "list the output classes, formats and presets", &RunPresets});

} // namespace
} // namespace cw::cli
