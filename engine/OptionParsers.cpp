#include "engine/OptionParsers.h"

#include "engine/FFApi.h"
#include "engine/FFmpegException.h"
#include "engine/Text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace cw {

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Strict decimal: optional sign, at least one digit, nothing else.
bool ParseDecimal(const std::string& text, int64_t& result) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-')
            return false;
    }
    auto [end, error] = std::from_chars(first, last, result, 10);
    return error == std::errc() && end == last;
}

bool ParseHex(std::string_view digits, bool negative, int64_t& result) {
    if (digits.empty())
        return false;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (error != std::errc() || end != digits.data() + digits.size() ||
        value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return false;
    result = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return true;
}

// The longest prefix of text that reads as a decimal number, like strtod but independent of
// the process locale; 0 when there is none. end receives the first character not used.
double PrefixDouble(const char* text, const char** end) {
    const char* p = text;
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '+')
        ++p;
    double value = 0;
    const char* last = p;
    while (*last)
        ++last;
    auto [stop, error] = std::from_chars(p, last, value);
    if (error != std::errc()) {
        if (end)
            *end = text;
        return 0;
    }
    if (end)
        *end = stop;
    return value;
}

[[noreturn]] void ThrowInvalidInteger(const std::string& value) {
    throw std::invalid_argument(FormatText("'%s' is not a valid integer value", value.c_str()));
}

} // namespace

std::string TrimText(std::string_view text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::string LowerText(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string UpperText(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

int32_t OptionInt(const std::string& value) {
    int64_t result = 0;
    if (!ParseDecimal(value, result) || result < std::numeric_limits<int32_t>::min() ||
        result > std::numeric_limits<int32_t>::max())
        ThrowInvalidInteger(value);
    return static_cast<int32_t>(result);
}

int64_t OptionInt64(const std::string& value) {
    int64_t result = 0;
    if (!ParseDecimal(value, result))
        ThrowInvalidInteger(value);
    return result;
}

double OptionFloat(const std::string& value) {
    const char* end = nullptr;
    double result = PrefixDouble(value.c_str(), &end);
    bool whole = !value.empty() && !IsBlank(value.front()) && end == value.c_str() + value.size();
    if (!whole || !std::isfinite(result))
        throw std::invalid_argument(
            FormatText("'%s' is not a valid floating point value", value.c_str()));
    return result;
}

bool TryTextToInt(const std::string& value, int64_t& result) {
    if (ParseDecimal(value, result))
        return true;
    std::string_view text(value);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.size() > 1 && text.front() == '$')
        return ParseHex(text.substr(1), negative, result);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseHex(text.substr(2), negative, result);
    return false;
}

uint32_t ParseCodecTag(const std::string& value) {
    int64_t number = 0;
    if (TryTextToInt(value, number))
        return static_cast<uint32_t>(static_cast<uint64_t>(number) & 0xFFFFFFFFu);
    if (value.size() != 4)
        throw FFmpegException("tag parameter must be 4 chars or int value");
    return static_cast<uint32_t>(static_cast<unsigned char>(value[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(value[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(value[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(value[3])) << 24;
}

float ParseAspectRatio(const std::string& value) {
    double ratio = 0;
    size_t colon = value.find(':');
    if (colon != std::string::npos) {
        int64_t x = 0;
        int64_t y = 0;
        if (!ParseDecimal(value.substr(0, colon), x))
            x = 0;
        if (!ParseDecimal(value.substr(colon + 1), y))
            y = 0;
        ratio = y <= 0 ? 0.0 : static_cast<double>(x) / static_cast<double>(y);
    } else {
        try {
            ratio = OptionFloat(value);
        } catch (const std::invalid_argument&) {
            ratio = 0;
        }
    }
    auto result = static_cast<float>(ratio);
    if (result == 0.0f)
        throw FFmpegException("Incorrect aspect ratio specification.");
    return result;
}

TQuantMatrix ParseQuantMatrix(const std::string& value) {
    TQuantMatrix matrix{};
    const char* p = value.c_str();
    for (int i = 0;; ++i) {
        matrix[static_cast<size_t>(i)] =
            static_cast<uint16_t>(static_cast<int16_t>(std::strtol(p, nullptr, 10)));
        if (i == 63)
            break;
        p = std::strchr(p, ',');
        if (!p)
            throw FFmpegException(
                FormatText("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), i));
        ++p;
    }
    return matrix;
}

namespace {

int ReadInt(const char*& p) {
    char* end = nullptr;
    long number = std::strtol(p, &end, 0);
    p = end;
    if (number > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (number < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(number);
}

void SkipOne(const char*& p) {
    if (*p)
        ++p;
}

void ReadMetadataType(const char*& p, TMetadataMapSide& side) {
    side.Type = 'g';
    side.Index = 0;
    if (*p != ',')
        return;
    ++p;
    char letter = *p;
    switch (letter) {
    case 'g':
        ++p;
        break;
    case 's':
    case 'c':
    case 'p':
        ++p;
        side.Type = letter;
        side.Index = ReadInt(p);
        break;
    default:
        throw FFmpegException(
            FormatText("Invalid metadata type %s.", std::string(1, letter).c_str()));
    }
}

} // namespace

TStreamMap ParseStreamMap(const std::string& value) {
    TStreamMap map;
    const char* p = value.c_str();
    map.FileIndex = ReadInt(p);
    SkipOne(p);
    map.StreamIndex = ReadInt(p);
    if (*p) {
        ++p;
        map.SyncFileIndex = ReadInt(p);
        SkipOne(p);
        map.SyncStreamIndex = ReadInt(p);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    return map;
}

TMetadataMap ParseMetadataMap(const std::string& value) {
    TMetadataMap map;
    const char* p = value.c_str();
    map.Output.FileIndex = ReadInt(p);
    ReadMetadataType(p, map.Output);
    SkipOne(p);
    map.Input.FileIndex = ReadInt(p);
    ReadMetadataType(p, map.Input);
    return map;
}

TChapterMap ParseChapterMap(const std::string& value) {
    TChapterMap map;
    const char* p = value.c_str();
    map.OutputFile = ReadInt(p);
    SkipOne(p);
    map.InputFile = ReadInt(p);
    return map;
}

void ParseStreamId(const std::string& name, const std::string& value, int& index, int& id) {
    size_t colon = value.find(':');
    int64_t first = 0;
    int64_t second = 0;
    if (colon == std::string::npos || !ParseDecimal(value.substr(0, colon), first) ||
        !ParseDecimal(value.substr(colon + 1), second) || first < 0 || first >= MaxStreams ||
        second < std::numeric_limits<int>::min() || second > std::numeric_limits<int>::max())
        throw FFmpegException(
            FormatText("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                       value.c_str(), name.c_str()));
    index = static_cast<int>(first);
    id = static_cast<int>(second);
}

void ParseTimestampScale(const std::string& value, int& index, double& scale) {
    const char* p = value.c_str();
    char* end = nullptr;
    long number = std::strtol(p, &end, 0);
    p = end;
    if (number < 0 || number >= MaxStreams)
        throw FFmpegException(FormatText("stream index over MAX_STREAMS(%d)", MaxStreams));
    SkipOne(p);
    index = static_cast<int>(number);
    scale = PrefixDouble(p, nullptr);
}

namespace {

int64_t ParseTime(const char* kind, const std::string& name, const std::string& value,
                  int duration) {
    int64_t result = 0;
    if (ff::av_parse_time(&result, value.c_str(), duration) < 0 || result == INT64_MIN)
        throw FFmpegException(
            FormatText("Invalid %s specification for %s: %s", kind, name.c_str(), value.c_str()));
    return result;
}

} // namespace

int64_t ParseDuration(const std::string& name, const std::string& value) {
    return ParseTime("duration", name, value, 1);
}

int64_t ParseDate(const std::string& name, const std::string& value) {
    return ParseTime("date", name, value, 0);
}

std::vector<int64_t> ParseForcedKeyFrames(const std::string& value) {
    std::vector<int64_t> times;
    size_t start = 0;
    for (;;) {
        size_t comma = value.find(',', start);
        times.push_back(ParseDuration("force_key_frames", value.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return times;
}

std::vector<std::string> SplitOptionLines(const std::string& text) {
    std::string trimmed = TrimText(text);
    std::string normal;
    normal.reserve(trimmed.size());
    for (size_t i = 0; i < trimmed.size(); ++i) {
        char c = trimmed[i];
        if (c == '\r') {
            normal += '\n';
            if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n')
                ++i;
        } else if (c == '<' && trimmed.compare(i, 6, "<CRLF>") == 0) {
            normal += '\n';
            i += 5;
        } else {
            normal += c;
        }
    }
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t lf = normal.find('\n', start);
        lines.push_back(normal.substr(start, lf - start));
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return lines;
}

void SplitOptionLine(const std::string& line, std::string& key, std::string& value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
        key = LowerText(line);
        value.clear();
    } else {
        key = LowerText(line.substr(0, eq));
        value = line.substr(eq + 1);
    }
}

} // namespace cw
