// The value parsers of the transcoder's options: number conversions, codec tags, aspect
// ratios, quantisation matrices, maps, stream ids, timestamp scales, durations and dates, and
// the splitting of option strings into key=value lines. Parsers that reject a value throw
// FFmpegException with the transcoder's worded text; the plain number conversions throw
// std::invalid_argument, the ordinary conversion error of the engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// Leading and trailing characters up to and including the blank are removed.
std::string TrimText(std::string_view text);
std::string LowerText(std::string_view text);
std::string UpperText(std::string_view text);

// A boolean option is true for any value but the exact text "0".
inline bool OptionBool(const std::string& value) {
    return value != "0";
}
// Decimal integers, with an optional sign and nothing else; anything else throws
// std::invalid_argument "'%s' is not a valid integer value".
int32_t OptionInt(const std::string& value);
int64_t OptionInt64(const std::string& value);
// A decimal number with "." as separator, whatever the process locale; anything else throws
// std::invalid_argument "'%s' is not a valid floating point value".
double OptionFloat(const std::string& value);
// Like OptionInt, but also "$1F" and "0x1F" hexadecimal; false when the whole text is no
// integer.
bool TryTextToInt(const std::string& value, int64_t& result);

// "vtag", "atag", "stag": an integer (its low 32 bits) or four characters, the first in the
// lowest byte. Throws "tag parameter must be 4 chars or int value".
uint32_t ParseCodecTag(const std::string& value);

// "aspect": "x:y" or a decimal number. Throws "Incorrect aspect ratio specification." for a
// result of 0.
float ParseAspectRatio(const std::string& value);

// "intra_matrix", "inter_matrix": 64 coefficients separated by ",". Throws
// "Syntax error in matrix "%s" at coeff %d".
using TQuantMatrix = std::array<uint16_t, 64>;
TQuantMatrix ParseQuantMatrix(const std::string& value);

struct TStreamMap {
    int FileIndex = 0;
    int StreamIndex = 0;
    int SyncFileIndex = 0;
    int SyncStreamIndex = 0;
    bool operator==(const TStreamMap&) const = default;
};
// "map": file.stream[:syncfile.syncstream], any single separator characters.
TStreamMap ParseStreamMap(const std::string& value);

// One side of a metadata map: file index, type letter ('g' global, 's' stream, 'c' chapter,
// 'p' program) and the stream, chapter or program index.
struct TMetadataMapSide {
    int FileIndex = 0;
    char Type = 'g';
    int Index = 0;
    bool operator==(const TMetadataMapSide&) const = default;
};
struct TMetadataMap {
    TMetadataMapSide Output;
    TMetadataMapSide Input;
    bool operator==(const TMetadataMap&) const = default;
};
// "map_meta_data": output[,type[index]] separator input[,type[index]]. Throws
// "Invalid metadata type %s." for a type letter other than g, s, c, p.
TMetadataMap ParseMetadataMap(const std::string& value);

struct TChapterMap {
    int OutputFile = 0;
    int InputFile = 0;
    bool operator==(const TChapterMap&) const = default;
};
// "map_chapters": output separator input.
TChapterMap ParseChapterMap(const std::string& value);

// The most streams the transcoder handles per file: the limit of "itsscale" and "streamid".
constexpr int MaxStreams = 20;

// "streamid": "index:value". Throws "Invalid value "%s" for option "%s", required syntax is
// "index:value"" (also for an index outside 0 .. MaxStreams - 1).
void ParseStreamId(const std::string& name, const std::string& value, int& index, int& id);

// "itsscale": stream index, one separator character, scale. Throws
// "stream index over MAX_STREAMS(%d)" for an index outside 0 .. MaxStreams - 1.
void ParseTimestampScale(const std::string& value, int& index, double& scale);

// Durations ("ss", "t", "itsoffset", "force_key_frames") in microseconds and dates
// ("timestamp") in microseconds since 1970, read by the library. Throw
// "Invalid %s specification for %s: %s" ("duration" or "date", option name, value).
int64_t ParseDuration(const std::string& name, const std::string& value);
int64_t ParseDate(const std::string& name, const std::string& value);
// The times of "force_key_frames", separated by ",", in microseconds.
std::vector<int64_t> ParseForcedKeyFrames(const std::string& value);

// An option string as lines: trimmed, line breaks made LF, every "<CRLF>" a line break.
std::vector<std::string> SplitOptionLines(const std::string& text);
// A line's key (the text before the first "=", lower-cased; the whole line when there is
// none) and value (the text after it).
void SplitOptionLine(const std::string& line, std::string& key, std::string& value);

} // namespace cw
