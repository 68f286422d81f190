// Common base of the engine's components (logger, decoder, encoder): an About text and a
// Version text that a descendant may fill in. Both start empty.
#pragma once

#include <string>

namespace cw {

class TFFBaseComponent {
public:
    virtual ~TFFBaseComponent() = default;

    std::string About;
    std::string Version;
};

} // namespace cw
