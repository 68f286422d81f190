// The error the engine raises internally. Components catch it at their boundary and turn it
// into a result value and an error text.
#pragma once

#include <stdexcept>
#include <string>

namespace cw {

class FFmpegException : public std::runtime_error {
public:
    explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

} // namespace cw
