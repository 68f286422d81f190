#include "ui/MediaLibraries.h"

#include "engine/FFLoader.h"

namespace cw {

// The engine's loader stands here until the encoder component's LoadLibraries and
// LibrariesLoaded take its place; both bind the same set of libraries.
bool MediaLibrariesLoaded() {
    return FFLoader().LibsLoaded(EncoderLibraries);
}

bool LoadMediaLibraries(const std::string& folder, std::string& error) {
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder);
    if (loader.LoadLibs(EncoderLibraries))
        return true;
    error = loader.LastErrorMessage();
    return false;
}

} // namespace cw
