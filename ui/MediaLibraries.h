// The window's one door to the media engine's library binding: the encoder component binds
// the libraries, so the window asks it.
#pragma once

#include <string>

namespace cw {

class TFFEncoder;

// True once the media libraries are bound in this process.
bool MediaLibrariesLoaded(const TFFEncoder& encoder);
// Binds the media libraries from folder (names missing there are searched for by the system).
// False with the engine's worded reason in error when they cannot be bound.
bool LoadMediaLibraries(TFFEncoder& encoder, const std::string& folder, std::string& error);

} // namespace cw
