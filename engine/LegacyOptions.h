// The compatibility table between the option vocabulary the presets and option strings were
// written for and the libraries installed today, kept in one place:
// - encoder names that are no longer installed, with the installed encoder that stands in;
// - containers whose default codec has no encoder, with a short preference list;
// - library options that were removed or renamed, with their current form (applied by the
//   generic option setter before it looks a name up, so "Unrecognized option" stays the answer
//   for a name unknown in every form);
// - encoder defaults of the older generation that today's encoder wrappers fill differently,
//   restored when a job leaves them unset.
// Every row is data; the functions below only read the rows.
#pragma once

#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/avutil.h>
}

struct AVOutputFormat;

namespace cw {

struct TOptionPair {
    std::string Name;
    std::string Value;
    bool operator==(const TOptionPair&) const = default;
};

// An option renamed since the older generation; the value is unchanged.
struct TRenamedOption {
    const char* OldName;
    const char* NewName;
};

// A word of a flag option ("flags", "flags2") that became an option of its own: "+word"
// (or the word without a sign) sets NewName to SetValue, "-word" sets it to ClearValue.
struct TFlagWord {
    const char* Option;
    const char* Word;
    const char* NewName;
    const char* SetValue;
    const char* ClearValue;
};

// A word of the old partition flags and today's name for the partition.
struct TPartitionWord {
    const char* Word;
    const char* Name;
};

// An encoder name no longer installed and the installed encoder that takes its place.
struct TEncoderStandIn {
    const char* Name;
    const char* StandIn;
};

// Codecs tried, in order, when a container's default codec of a media type has no encoder.
struct TDefaultCodecPreference {
    AVMediaType Type;
    const char* Codecs[4];
};

// A default of the older generation for one encoder. Restored on that encoder unless the job
// recorded the option (or its alias, another name that sets the same thing).
struct TLegacyEncoderDefault {
    const char* Encoder;
    const char* Option;
    const char* Value;
    const char* Alias; // or null
};

std::span<const TRenamedOption> RenamedOptions();
std::span<const TFlagWord> LegacyFlagWords();
std::span<const TPartitionWord> LegacyPartitionWords();
std::span<const TEncoderStandIn> EncoderStandIns();
std::span<const TDefaultCodecPreference> DefaultCodecPreferences();
std::span<const TLegacyEncoderDefault> LegacyEncoderDefaults();

// What the translation of the two deblocking halves remembers between the lines of one job:
// today's encoder takes them as one value "alpha:beta".
struct TLegacyOptionState {
    std::string DeblockAlpha = "0";
    std::string DeblockBeta = "0";
};

// Rewrites a library option of the older generation into today's form. False when name and
// value need no rewriting; true with the options to set in their place, in order.
bool TranslateLegacyOption(const std::string& name, const std::string& value,
                           TLegacyOptionState& state, std::vector<TOptionPair>& replacement);

// The encoder name to look up for a name a job was given: the name itself when an encoder of
// that name is installed (or no stand-in is known), otherwise its stand-in, logged once per
// name at llInfo. Needs libavcodec bound.
std::string InstalledEncoderName(const std::string& name);

// The codec to use for a container's default codec of a media type: the default itself when an
// encoder exists for it, otherwise the first codec of the preference list that the muxer
// accepts and that has an encoder (logged once per container and type at llInfo), otherwise
// the default unchanged. Needs libavcodec and libavformat bound.
AVCodecID InstalledDefaultCodec(const AVOutputFormat* format, AVMediaType type,
                                AVCodecID defaultId);

} // namespace cw
