// Stream-link resolution helpers: the stream-link script with the service's answer written
// into it as a string literal, and the reading of the script's echo into the nine stream
// slots.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

using TStreamURLs = std::array<std::string, 9>;

// The text as the inside of a single-quoted script string: backslashes, quotes, line
// breaks (CR, LF, U+2028, U+2029) and other control characters are escaped, and a byte that
// is not part of valid UTF-8 becomes the Latin-1 character of that byte. The script thus sees
// exactly the characters of the text; a text without any of these is left as it is.
std::string ScriptStringContent(std::string_view text);

// The stream-link script, one entry per line, with the answer in place of the placeholder.
std::vector<std::string> StreamScriptLines(std::string_view answer);

// Reads "<itag>[address]" entries joined by "<br>" and stores the address of every known
// itag in its slot (a later entry overwrites an earlier one); unknown itags are ignored and
// an empty text changes nothing. Throws std::invalid_argument when an itag is not a whole
// number.
void ParseStreamList(const std::string& text, TStreamURLs& urls);

} // namespace cw
