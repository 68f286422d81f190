// Damaged copies of media files: cut short, bits flipped, and container fields rewritten to
// claim sizes, lengths and rates far from what the file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cw::test {

using TBytes = std::vector<uint8_t>;

TBytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const TBytes& bytes);

// The first count bytes.
TBytes Truncated(const TBytes& bytes, size_t count);
// Cut points spread over the whole file: the first header bytes, then fractions of the size.
std::vector<size_t> TruncationPoints(size_t size);
// flips bits chosen by a generator seeded with seed, all inside [from, to).
TBytes BitsFlipped(const TBytes& bytes, uint32_t seed, int flips, size_t from, size_t to);

// Position of the first four-character tag at or after from; npos when there is none.
size_t FindTag(const TBytes& bytes, const char* tag, size_t from = 0);
void PutLE32(TBytes& bytes, size_t at, uint32_t value);
void PutLE16(TBytes& bytes, size_t at, uint16_t value);
void PutBE32(TBytes& bytes, size_t at, uint32_t value);

// A named damaged file: what it claims and the bytes that claim it. Empty bytes when the
// file lacks the fields (the caller skips it then).
struct TDamage {
    std::string Name;
    TBytes Bytes;
};
// WAV: RIFF and data sizes of gigabytes; a format chunk of zero channels, rate and block size.
std::vector<TDamage> WavDamages(const TBytes& wav);
// AVI: main header and stream header claiming billions of frames and gigabyte buffers, a
// stream of rate 0/0, and a picture of 30000 x 30000 in the stream format.
std::vector<TDamage> AviDamages(const TBytes& avi);
// MP4: a media box claiming gigabytes, a movie of time scale 0, a movie lasting centuries,
// and a sample-size table claiming a billion entries.
std::vector<TDamage> Mp4Damages(const TBytes& mp4);

} // namespace cw::test
