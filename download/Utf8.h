// UTF-8 checks shared by the title and script-text handling of the downloader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cw {

// Length of the valid UTF-8 sequence that starts at s[i], or 0 when the byte there does not
// start one (a stray continuation byte, a cut-off, overlong or surrogate form, a value past
// U+10FFFF).
inline size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80           ? 1
                       : (c >> 5) == 0x6  ? 2
                       : (c >> 4) == 0xE  ? 3
                       : (c >> 3) == 0x1E ? 4
                                          : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace cw
