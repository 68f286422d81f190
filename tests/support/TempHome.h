// The home folder of every test suite: while the object lives, HOME names a fresh temporary
// folder (and the per-user configuration folder lies in it), so that no test reads or writes
// the settings of the account that runs it. The variables come back as they were afterwards.
#pragma once

#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cw::test {

class TTempHome {
public:
    enum TOption {
        Standard = 0,
        // XDG_CONFIG_HOME is unset, as on an account that never set it: the per-user
        // configuration folder is the fallback ~/.config.
        NoConfigVariable = 1,
        // No ~/Documents folder.
        NoDocuments = 2,
    };
    // HOME is the fresh folder, with an empty ~/.config (XDG_CONFIG_HOME names it) and an
    // empty ~/Documents, unless the options say otherwise.
    explicit TTempHome(int options = Standard) {
        Set("HOME", Folder.Path);
        std::filesystem::create_directories(ConfigFolder());
        if (options & NoConfigVariable)
            Set("XDG_CONFIG_HOME", std::nullopt);
        else
            Set("XDG_CONFIG_HOME", ConfigFolder().substr(0, ConfigFolder().size() - 1));
        if (!(options & NoDocuments))
            std::filesystem::create_directories(Folder.Path + "Documents");
    }
    ~TTempHome() {
        for (auto it = Saved.rbegin(); it != Saved.rend(); ++it)
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                       : ::unsetenv(it->first.c_str());
    }
    TTempHome(const TTempHome&) = delete;
    TTempHome& operator=(const TTempHome&) = delete;

    // Sets (or, without a value, unsets) a variable of the environment until the object goes.
    void Set(const std::string& name, const std::optional<std::string>& value) {
        bool known = false;
        for (const auto& saved : Saved)
            known = known || saved.first == name;
        if (!known) {
            const char* now = ::getenv(name.c_str());
            Saved.emplace_back(name, now ? std::optional<std::string>(now) : std::nullopt);
        }
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

    // The per-user configuration folder, with a trailing '/'.
    std::string ConfigFolder() const { return Folder.Path + ".config/"; }

    TTempDir Folder{"cw-home"};

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

} // namespace cw::test
