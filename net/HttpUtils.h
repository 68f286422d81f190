// Text rules of the HTTP transfer component: URL completion, splitting and encoding, HTTP
// dates, the authentication realm and the progress figures.
#pragma once

#include <cstdint>
#include <string>

namespace cw {

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

std::string LowerText(std::string s);
// Without leading and trailing spaces, tabs and line ends.
std::string TrimText(const std::string& s);
// A header's decimal length (spaces around it aside). False, leaving value, for anything else.
bool ParseLength(const std::string& text, int64_t& value);

// "http://" + url when url has no "://".
std::string CompleteUrl(const std::string& url);
// True when the completed url names the http or https scheme (letter case aside).
bool IsWebAddress(const std::string& url);

struct TUrlParts {
    std::string Scheme;
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
    std::string Path;
    std::string ExtraInfo; // query and fragment, with their leading "?" or "#"
};

// Splits url with its escape sequences decoded. Part limits: scheme 32, host 256, user name
// and password 128, path and extra information 2048 characters. A URL that cannot be split
// gives false and leaves every part empty.
bool SplitUrl(const std::string& url, TUrlParts& parts);

// Every character below 0x20 or from 0x80 up, and each of space # % * + < >, becomes "%" and
// two upper-case hexadecimal digits; all others are kept.
std::string EncodeUrlExtra(const std::string& text);

// An HTTP date (RFC 1123, RFC 850 or asctime form, and the like) as local time, converted
// with the system's current offset from UTC. 0 when it cannot be read.
TDateTime ParseHttpDate(const std::string& text);

// Nearest integer, halves to even.
int64_t RoundHalfEven(double value);

// The realm of a WWW-Authenticate value: the text after the first `="`, without its last
// character; empty when there is no `="`.
std::string RealmFromChallenge(const std::string& header);

struct TProgressFigures {
    uint8_t PercentsDone = 0;
    int64_t ElapsedTime = 0;       // whole seconds
    int64_t EstimatedTimeLeft = 0; // seconds
    float TransferRate = -1;       // KB/s
};

// The figures shown with each progress event. bytesRead and contentLength are this
// transfer's, without the resume offset.
TProgressFigures ComputeProgress(int64_t bytesRead, int64_t contentLength, int64_t resumeOffset,
                                 int64_t elapsedMs);

} // namespace cw
