#include "net/HttpUtils.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <vector>

namespace cw {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX becomes its byte; a "%" not followed by two hexadecimal digits is kept.
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

std::string LowerText(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimText(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ParseLength(const std::string& text, int64_t& value) {
    const std::string t = TrimText(text);
    if (!AllDigits(t))
        return false;
    try {
        value = std::stoll(t);
    } catch (...) {
        return false;
    }
    return true;
}

std::string CompleteUrl(const std::string& url) {
    return url.find("://") == std::string::npos ? "http://" + url : url;
}

bool IsWebAddress(const std::string& url) {
    const std::string full = CompleteUrl(url);
    const std::string scheme = LowerText(full.substr(0, full.find("://")));
    return scheme == "http" || scheme == "https";
}

bool SplitUrl(const std::string& url, TUrlParts& parts) {
    parts = {};
    TUrlParts p;
    const size_t sep = url.find("://");
    if (sep == std::string::npos || sep == 0)
        return false;
    p.Scheme = url.substr(0, sep);
    for (unsigned char c : p.Scheme)
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;

    const size_t authStart = sep + 3;
    size_t authEnd = url.find_first_of("/?#", authStart);
    if (authEnd == std::string::npos)
        authEnd = url.size();
    const std::string authority = url.substr(authStart, authEnd - authStart);
    std::string hostPort = authority;
    if (size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const size_t colon = userInfo.find(':');
        p.UserName = DecodeEscapes(userInfo.substr(0, colon));
        if (colon != std::string::npos)
            p.Password = DecodeEscapes(userInfo.substr(colon + 1));
    }

    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const size_t close = hostPort.find(']');
        if (close == std::string::npos)
            return false;
        p.Host = hostPort.substr(1, close - 1);
        const std::string rest = hostPort.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
        }
    } else {
        const size_t colon = hostPort.rfind(':');
        p.Host = DecodeEscapes(hostPort.substr(0, colon));
        if (colon != std::string::npos)
            portText = hostPort.substr(colon + 1);
    }
    if (!portText.empty()) {
        if (!AllDigits(portText) || portText.size() > 5)
            return false;
        p.Port = std::stoi(portText);
        if (p.Port < 1 || p.Port > 65535)
            return false;
    } else {
        const std::string scheme = LowerText(p.Scheme);
        p.Port = scheme == "http" ? 80 : scheme == "https" ? 443 : 0;
    }

    const size_t pathEnd = url.find_first_of("?#", authEnd);
    p.Path = DecodeEscapes(url.substr(authEnd, pathEnd - authEnd));
    if (pathEnd != std::string::npos)
        p.ExtraInfo = DecodeEscapes(url.substr(pathEnd));

    if (p.Scheme.size() > 32 || p.Host.size() > 256 || p.UserName.size() > 128 ||
        p.Password.size() > 128 || p.Path.size() > 2048 || p.ExtraInfo.size() > 2048)
        return false;
    parts = std::move(p);
    return true;
}

std::string EncodeUrlExtra(const std::string& text) {
    static const char* const Hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool escape = c < 0x20 || c >= 0x80 || c == ' ' || c == '#' || c == '%' || c == '*' ||
                            c == '+' || c == '<' || c == '>';
        if (escape) {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

TDateTime ParseHttpDate(const std::string& text) {
    // Split into words at spaces.
    std::vector<std::string> words;
    {
        std::string word;
        for (char c : text + " ") {
            if (c == ' ' || c == '\t') {
                if (!word.empty())
                    words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
    }
    static const std::array<const char*, 7> WeekDays = {"mon", "tue", "wed", "thu",
                                                        "fri", "sat", "sun"};
    static const std::array<const char*, 12> Months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                       "jul", "aug", "sep", "oct", "nov", "dec"};
    auto startsWithName = [](const std::string& word, const char* name) {
        return word.size() >= 3 && LowerText(word.substr(0, 3)) == name;
    };
    if (!words.empty() && std::any_of(WeekDays.begin(), WeekDays.end(), [&](const char* d) {
            return startsWithName(words.front(), d);
        }))
        words.erase(words.begin());

    // A trailing zone +hhmm or -hhmm.
    int zoneMinutes = 0;
    if (!words.empty()) {
        const std::string& last = words.back();
        if (last.size() > 4 && (last[0] == '+' || last[0] == '-')) {
            const std::string digits = last.substr(1);
            if (digits.size() != 4 || !AllDigits(digits))
                return 0;
            zoneMinutes = std::stoi(digits.substr(0, 2)) * 60 + std::stoi(digits.substr(2, 2));
            if (last[0] == '-')
                zoneMinutes = -zoneMinutes;
            words.pop_back();
        }
    }

    // The date parts may also be joined by "-".
    std::vector<std::string> tokens;
    for (const auto& w : words) {
        std::string part;
        for (char c : w + "-") {
            if (c == '-') {
                if (!part.empty())
                    tokens.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
    }

    int month = 0, hour = 0, minute = 0, second = 0;
    std::vector<int> numbers;
    for (const auto& t : tokens) {
        if (t.find(':') != std::string::npos) {
            std::vector<std::string> fields;
            std::string f;
            for (char c : t + ":") {
                if (c == ':') {
                    fields.push_back(f);
                    f.clear();
                } else {
                    f += c;
                }
            }
            if (fields.size() < 2 || fields.size() > 3 ||
                !std::all_of(fields.begin(), fields.end(), AllDigits) ||
                std::any_of(fields.begin(), fields.end(),
                            [](const std::string& s) { return s.size() > 2; }))
                return 0;
            hour = std::stoi(fields[0]);
            minute = std::stoi(fields[1]);
            second = fields.size() == 3 ? std::stoi(fields[2]) : 0;
            if (hour > 23 || minute > 59 || second > 59)
                return 0;
        } else if (AllDigits(t)) {
            if (t.size() > 4)
                return 0;
            numbers.push_back(std::stoi(t));
        } else if (std::all_of(t.begin(), t.end(),
                               [](unsigned char c) { return std::isalpha(c) || c == ','; })) {
            for (size_t m = 0; m < Months.size(); ++m)
                if (startsWithName(t, Months[m]) && month == 0)
                    month = int(m) + 1;
            // Other words (GMT, UTC) carry nothing.
        } else {
            return 0;
        }
    }
    if (month == 0 || numbers.size() != 2)
        return 0;
    int day = numbers[0], year = numbers[1];
    if (year < 100)
        year += year < 80 ? 2000 : 1900;

    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                             std::chrono::day{unsigned(day)}};
    if (!ymd.ok())
        return 0;
    const double daysSince1970 = double(sys_days(ymd).time_since_epoch().count());
    double utc = daysSince1970 + 25569.0 + (hour * 3600 + minute * 60 + second) / 86400.0;
    utc -= zoneMinutes / 1440.0;

    // To local time with the offset in effect now.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return utc + double(local.tm_gmtoff) / 86400.0;
}

int64_t RoundHalfEven(double value) {
    // Values beyond the 64-bit range (a server may announce any size) saturate; NaN is 0.
    constexpr double Limit = 9223372036854775808.0; // 2^63
    if (std::isnan(value))
        return 0;
    if (value >= Limit)
        return std::numeric_limits<int64_t>::max();
    if (value < -Limit)
        return std::numeric_limits<int64_t>::min();
    const double floorValue = std::floor(value);
    const double diff = value - floorValue;
    auto result = int64_t(floorValue);
    if (diff > 0.5 || (diff == 0.5 && (result % 2 != 0)))
        ++result;
    return result;
}

std::string RealmFromChallenge(const std::string& header) {
    const size_t pos = header.find("=\"");
    if (pos == std::string::npos)
        return {};
    std::string realm = header.substr(pos + 2);
    if (!realm.empty())
        realm.pop_back();
    return realm;
}

TProgressFigures ComputeProgress(int64_t bytesRead, int64_t contentLength, int64_t resumeOffset,
                                 int64_t elapsedMs) {
    TProgressFigures f;
    // Sums in floating point: a announced length near the 64-bit limit must not overflow.
    const double divisor = double(contentLength) + double(resumeOffset);
    if (divisor > 0) {
        const int64_t percent =
            RoundHalfEven((double(bytesRead) + double(resumeOffset)) * 100.0 / divisor);
        f.PercentsDone = uint8_t(std::clamp<int64_t>(percent, 0, 255));
    }
    f.ElapsedTime = elapsedMs / 1000;
    const double estimate =
        bytesRead > 0 ? double(contentLength) / double(bytesRead) * double(f.ElapsedTime) : 0.0;
    const int64_t estimated = RoundHalfEven(estimate);
    f.EstimatedTimeLeft =
        estimated == std::numeric_limits<int64_t>::max() ? estimated : estimated - f.ElapsedTime;
    f.TransferRate = float(double(bytesRead) / 1024.0);
    if (f.ElapsedTime != 0)
        f.TransferRate = float(double(bytesRead) / 1024.0 / double(f.ElapsedTime));
    return f;
}

} // namespace cw
