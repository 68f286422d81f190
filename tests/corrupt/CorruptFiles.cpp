#include "CorruptFiles.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace cw::test {

TBytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return TBytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const TBytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

TBytes Truncated(const TBytes& bytes, size_t count) {
    return TBytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(count, bytes.size())));
}

std::vector<size_t> TruncationPoints(size_t size) {
    std::vector<size_t> points = {1, 4, 8, 12, 16, 36, 44, 100, 300};
    for (int eighth = 1; eighth < 8; ++eighth)
        points.push_back(size * size_t(eighth) / 8);
    points.push_back(size - 1);
    std::erase_if(points, [size](size_t p) { return p == 0 || p >= size; });
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

TBytes BitsFlipped(const TBytes& bytes, uint32_t seed, int flips, size_t from, size_t to) {
    TBytes out = bytes;
    to = std::min(to, out.size());
    if (from >= to)
        return out;
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> at(from, to - 1);
    std::uniform_int_distribution<int> bit(0, 7);
    for (int i = 0; i < flips; ++i)
        out[at(random)] ^= uint8_t(1u << bit(random));
    return out;
}

size_t FindTag(const TBytes& bytes, const char* tag, size_t from) {
    for (size_t i = from; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, tag, 4) == 0)
            return i;
    return std::string::npos;
}

void PutLE32(TBytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + size_t(i)) = uint8_t(value >> (8 * i));
}

void PutLE16(TBytes& bytes, size_t at, uint16_t value) {
    bytes.at(at) = uint8_t(value);
    bytes.at(at + 1) = uint8_t(value >> 8);
}

void PutBE32(TBytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + size_t(i)) = uint8_t(value >> (8 * (3 - i)));
}

namespace {

// A copy with the edit applied, or no bytes when the tag is missing.
template <class TEdit>
TDamage Edited(const std::string& name, const TBytes& bytes, const char* tag, TEdit edit) {
    const size_t at = FindTag(bytes, tag);
    if (at == std::string::npos)
        return {name, {}};
    TBytes copy = bytes;
    edit(copy, at);
    return {name, std::move(copy)};
}

} // namespace

std::vector<TDamage> WavDamages(const TBytes& wav) {
    return {
        Edited("wav-gigabyte-sizes", wav, "data",
               [](TBytes& b, size_t data) {
                   PutLE32(b, 4, 0xFFFFFFF0u);        // RIFF size
                   PutLE32(b, data + 4, 0xFFFFFF00u); // data size
               }),
        Edited("wav-zero-format", wav, "fmt ",
               [](TBytes& b, size_t fmt) {
                   PutLE16(b, fmt + 10, 0); // channels
                   PutLE32(b, fmt + 12, 0); // samples per second
                   PutLE32(b, fmt + 16, 0); // bytes per second
                   PutLE16(b, fmt + 20, 0); // block align
               }),
    };
}

std::vector<TDamage> AviDamages(const TBytes& avi) {
    return {
        Edited("avi-billions-of-frames", avi, "avih",
               [](TBytes& b, size_t avih) {
                   PutLE32(b, avih + 8 + 16, 0x7FFFFFFFu); // total frames
                   PutLE32(b, avih + 8 + 28, 0xFFFFFFF0u); // suggested buffer size
                   if (size_t strh = FindTag(b, "strh"); strh != std::string::npos) {
                       PutLE32(b, strh + 8 + 32, 0xFFFFFFF0u); // length
                       PutLE32(b, strh + 8 + 36, 0xFFFFFFF0u); // suggested buffer size
                   }
               }),
        Edited("avi-rate-zero", avi, "strh",
               [](TBytes& b, size_t strh) {
                   PutLE32(b, strh + 8 + 20, 0); // scale
                   PutLE32(b, strh + 8 + 24, 0); // rate
               }),
        Edited("avi-huge-picture", avi, "strf",
               [](TBytes& b, size_t strf) {
                   PutLE32(b, strf + 8 + 4, 30000); // width
                   PutLE32(b, strf + 8 + 8, 30000); // height
                   if (size_t avih = FindTag(b, "avih"); avih != std::string::npos) {
                       PutLE32(b, avih + 8 + 32, 30000);
                       PutLE32(b, avih + 8 + 36, 30000);
                   }
               }),
    };
}

std::vector<TDamage> Mp4Damages(const TBytes& mp4) {
    return {
        Edited("mp4-gigabyte-media-box", mp4, "mdat",
               [](TBytes& b, size_t mdat) { PutBE32(b, mdat - 4, 0xFFFFFFF0u); }),
        Edited("mp4-time-scale-zero", mp4, "mvhd",
               [](TBytes& b, size_t mvhd) { PutBE32(b, mvhd + 16, 0); }),
        Edited("mp4-centuries-long", mp4, "mvhd",
               [](TBytes& b, size_t mvhd) {
                   PutBE32(b, mvhd + 16, 1);           // one tick a second
                   PutBE32(b, mvhd + 20, 0xFFFFFFFFu); // 136 years
                   if (size_t mdhd = FindTag(b, "mdhd"); mdhd != std::string::npos)
                       PutBE32(b, mdhd + 20, 0xFFFFFFFFu);
               }),
        Edited("mp4-billion-sample-sizes", mp4, "stsz",
               [](TBytes& b, size_t stsz) { PutBE32(b, stsz + 12, 1000000000u); }),
    };
}

} // namespace cw::test
