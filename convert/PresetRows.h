// The shape of the preset table (convert/Catalogue.cpp): one row per preset with its list
// text and the values it sets on the output options, and the values of a whole format.
// Shared by the table and by the mapping that applies it (PresetMapping.cpp).
#pragma once

#include "engine/EncoderOptions.h"

#include <cstdint>

namespace cw {

// An empty cell: the row leaves that field at its initial value, so the engine's default
// applies. No row sets a real value of 0.
struct TNil {
    constexpr operator const char*() const { return nullptr; }
    constexpr operator int32_t() const { return 0; }
};
inline constexpr TNil Nil{};

// The column "video extras": fourcc tag, engine preset name or option lines.
struct TVideoExtras {
    const char* Tag = nullptr;
    const char* Preset = nullptr;
    const char* Options = nullptr;
};

// The column "other": forced muxer, display aspect, rate limits and target profile,
// combined with |.
struct TOther {
    const char* FileFormat = nullptr;
    const char* Aspect = nullptr;
    int32_t RateLimit = 0; // minimum and maximum video rate, equal where set
    int32_t BufSize = 0;
    int32_t TargetType = ttNone;
    int32_t TargetNorm = tnAuto;
};

constexpr TOther operator|(TOther a, const TOther& b) {
    if (b.FileFormat)
        a.FileFormat = b.FileFormat;
    if (b.Aspect)
        a.Aspect = b.Aspect;
    if (b.RateLimit)
        a.RateLimit = b.RateLimit;
    if (b.BufSize)
        a.BufSize = b.BufSize;
    if (b.TargetType)
        a.TargetType = b.TargetType;
    if (b.TargetNorm)
        a.TargetNorm = b.TargetNorm;
    return a;
}

// The lossless WMA preset keeps the source's audio bit rate.
inline constexpr int32_t SourceBitrate = -2;

// One preset: its text in the list, then what it sets. Bit rates in bits per second, rates
// in Hz.
struct TPresetRow {
    const char* Text;
    const char* VideoCodec;
    TVideoExtras Extras;
    const char* FrameSize;
    const char* FrameRate;
    int32_t VideoBitrate;
    const char* AudioCodec;
    int32_t AudioChannels;
    int32_t AudioSampleRate;
    int32_t AudioBitrate; // SourceBitrate: the source's own
    TOther Other;
};

// Values of a whole format, applied before its preset row.
struct TFormatValues {
    const char* VideoCodec = nullptr;
    const char* AudioCodec = nullptr;
    const char* FileFormat = nullptr;
    const char* ExtOptions = nullptr;
};

} // namespace cw
