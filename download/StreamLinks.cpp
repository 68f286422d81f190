#include "download/StreamLinks.h"

#include "app/Utils.h"
#include "download/Quality.h"
#include "download/Utf8.h"
#include "script/StreamLinkScript.h"

#include <cstdio>
#include <stdexcept>

namespace cw {

namespace {

std::string HexEscape(const char* form, unsigned value) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, form, value);
    return buffer;
}

bool ParseWholeNumber(const std::string& text, int& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    v = negative ? -v : v;
    if (v > 2147483647LL)
        return false;
    value = int(v);
    return true;
}

} // namespace

std::string ScriptStringContent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t len = Utf8SequenceLength(text, i);
        if (len == 0) {
            out += HexEscape("\\x%02X", c); // a stray byte: its Latin-1 character
            ++i;
            continue;
        }
        if (len == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        } else if (c == '\\' || c == '\'') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            out += HexEscape("\\x%02X", c);
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

std::vector<std::string> StreamScriptLines(std::string_view answer) {
    return StreamLinkScriptLines(ScriptStringContent(answer));
}

void ParseStreamList(const std::string& text, TStreamURLs& urls) {
    for (const std::string& entry : SplitText(text, "<br>")) {
        const std::string itagText = TextBetween(entry, "<", ">");
        int itag = 0;
        if (!ParseWholeNumber(itagText, itag))
            throw std::invalid_argument("'" + itagText + "' is not a valid integer value");
        const int slot = StreamSlotOfItag(itag);
        if (slot >= 0)
            urls[size_t(slot)] = TextBetween(entry, "[", "]");
    }
}

} // namespace cw
