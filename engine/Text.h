// printf-style formatting into std::string, used for the engine's worded messages.
#pragma once

#include <cstdarg>
#include <string>

namespace cw {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);

} // namespace cw
