// The HTTP text rules: dates from the Last-Modified and Date headers, URL splitting and
// encoding, the realm of a challenge, and the progress figures from a server's sizes. The
// first byte picks the road; for the figures the input is read as four numbers.
#include "FuzzSupport.h"

#include "net/HttpUtils.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

using namespace cw;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

int64_t Take(const uint8_t*& data, size_t& size) {
    uint64_t value = 0;
    const size_t n = std::min<size_t>(size, 8);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return int64_t(value >> 1); // not negative
}

void Date(const std::string& text) {
    const TDateTime date = ParseHttpDate(text);
    // Years 0 to 9999 in days from 1899-12-30, with a day of slack for the zones.
    if (!std::isfinite(date) || date < -694000.0 || date > 2959000.0)
        Fail("a date outside the years a header can name");
}

void Url(const std::string& text) {
    TUrlParts parts;
    if (SplitUrl(text, parts)) {
        if (parts.Scheme.size() > 32 || parts.Host.size() > 256 || parts.UserName.size() > 128 ||
            parts.Password.size() > 128 || parts.Path.size() > 2048 ||
            parts.ExtraInfo.size() > 2048)
            Fail("a part of a split URL is longer than its limit");
    } else if (!parts.Host.empty() || !parts.Path.empty() || !parts.Scheme.empty()) {
        Fail("a URL that cannot be split left parts behind");
    }
    const std::string encoded = EncodeUrlExtra(text);
    for (unsigned char c : encoded)
        if (c < 0x20 || c >= 0x80 || c == ' ')
            Fail("an encoded URL part holds a character that needs encoding");
    (void)CompleteUrl(text);
    (void)RealmFromChallenge(text);
}

void Progress(const uint8_t* data, size_t size) {
    const int64_t contentLength = Take(data, size);
    const int64_t read = int64_t(uint64_t(Take(data, size)) % (uint64_t(contentLength) + 1));
    const int64_t resume = Take(data, size);
    const int64_t elapsed = Take(data, size) % (1000LL * 3600 * 24 * 365);
    const TProgressFigures f = ComputeProgress(read, contentLength, resume, elapsed);
    if (f.ElapsedTime != elapsed / 1000)
        Fail("elapsed seconds");
    if (f.EstimatedTimeLeft < 0 && read > 0 && contentLength >= read)
        Fail("a negative time left while bytes remain");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t mode = data[0] % 3;
    if (mode == 0)
        Date(fuzz::Text(data + 1, size - 1));
    else if (mode == 1)
        Url(fuzz::Text(data + 1, size - 1));
    else
        Progress(data + 1, size - 1);
    return 0;
}
