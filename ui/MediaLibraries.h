// The window's one door to the media engine's library binding, so that the encoder component
// can take the loader's place without the window changing.
#pragma once

#include <string>

namespace cw {

// True once the media libraries are bound in this process.
bool MediaLibrariesLoaded();
// Binds the media libraries from folder (names missing there are searched for by the system).
// False with the engine's worded reason in error when they cannot be bound.
bool LoadMediaLibraries(const std::string& folder, std::string& error);

} // namespace cw
