// The start-up steps that need no window: read the branding file, apply its values and
// defaults, fix the per-user data folder, set the default user settings and read the stored
// ones over them. The window and the command line both start this way.
#pragma once

#include "app/Branding.h"

#include <string>

namespace cw {

struct TGlobalVars;

struct TStartupState {
    std::string Title;       // the application title from the branding file
    TBrandingConfig Branding;
    bool FirstRun = false;   // no settings file existed; one was written with the defaults
    // What went wrong with the settings file (damaged and set aside, or not writable),
    // worded for the log; else empty.
    std::string SettingsError;
};

// Throws std::runtime_error naming the branding file when it is missing or unreadable;
// nothing in vars is changed then.
TStartupState PrepareApplication(TGlobalVars& vars, const std::string& exeFolder);

} // namespace cw
