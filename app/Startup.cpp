#include "app/Startup.h"

#include "app/GlobalVars.h"
#include "app/Settings.h"
#include "app/Utils.h"

#include <stdexcept>

namespace cw {

TStartupState PrepareApplication(TGlobalVars& vars, const std::string& exeFolder) {
    const std::string folder = AddTrailingBackslash(exeFolder);
    TStartupState state;
    TIniFile branding = LoadBrandingFile(folder + BrandingFileName);
    state.Branding = ReadBrandingConfig(branding, folder);
    state.Title = state.Branding.Name;

    ApplyBrandingToGlobals(state.Branding, vars);
    vars.DataDir = PrepareDataDir(state.Title, ShellFolder("AppData"));
    SetDefaultUserSettings(vars, ShellFolder("Personal"));
    try {
        state.FirstRun = !LoadSettings(vars);
    } catch (const std::runtime_error& e) {
        // The first-run write failed (the data folder is not writable): run on with the
        // defaults and let the caller tell the user.
        state.FirstRun = true;
        state.SettingsError = e.what();
    }
    return state;
}

} // namespace cw
