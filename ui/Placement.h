// Window positions kept in the settings file, applied to and read from Qt windows.
#pragma once

#include "app/Settings.h"

#include <string>

class QWidget;

namespace cw {

struct TGlobalVars;

TWindowPlacement PlacementOf(const QWidget& window);
// Reads the section's placement (the window's geometry as defaults), pulls it onto the
// window's screen, moves the window there and sets its maximised state.
void RestoreWindowPlacement(QWidget& window, const std::string& section, const TGlobalVars& vars);
// Throws std::runtime_error naming the file when the settings file cannot be written.
void SaveWindowPlacement(const QWidget& window, const std::string& section,
                         const TGlobalVars& vars);

} // namespace cw
