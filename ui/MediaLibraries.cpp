#include "ui/MediaLibraries.h"

#include "engine/FFEncoder.h"

namespace cw {

bool MediaLibrariesLoaded(const TFFEncoder& encoder) {
    return encoder.LibrariesLoaded();
}

bool LoadMediaLibraries(TFFEncoder& encoder, const std::string& folder, std::string& error) {
    if (encoder.LoadLibraries(folder))
        return true;
    error = encoder.LastErrMsg();
    return false;
}

} // namespace cw
