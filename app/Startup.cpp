#include "app/Startup.h"

#include "app/GlobalVars.h"
#include "app/Settings.h"
#include "app/Utils.h"

#include <filesystem>
#include <stdexcept>

namespace cw {

TStartupState PrepareApplication(TGlobalVars& vars, const std::string& exeFolder) {
    const std::string folder = AddTrailingBackslash(exeFolder);
    TStartupState state;
    TIniFile branding = LoadBrandingFile(folder + BrandingFileName);
    state.Branding = ReadBrandingConfig(branding, folder);
    state.Title = state.Branding.Name;

    ApplyBrandingToGlobals(state.Branding, vars);
    // The application-data folder is taken to exist, as it always does on the system the
    // settings scheme comes from. A fresh account here may lack its config folder, and then
    // no setting could ever be saved: it is made (private to the user) before the data
    // folder is prepared in it.
    const std::string appData = ShellFolder("AppData");
    std::error_code ec;
    if (!std::filesystem::is_directory(appData, ec) &&
        std::filesystem::create_directories(appData, ec))
        std::filesystem::permissions(appData, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
    vars.DataDir = PrepareDataDir(state.Title, appData);
    SetDefaultUserSettings(vars, ShellFolder("Personal"));
    std::string damage;
    try {
        state.FirstRun = !LoadSettings(vars, &damage);
    } catch (const std::runtime_error& e) {
        // The first-run write failed (the data folder is not writable): run on with the
        // defaults and let the caller tell the user.
        state.FirstRun = true;
        state.SettingsError = e.what();
    }
    if (!damage.empty())
        state.SettingsError =
            state.SettingsError.empty() ? damage : damage + " " + state.SettingsError;
    return state;
}

} // namespace cw
