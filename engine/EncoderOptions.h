// The option records the application hands to the encoder: one TInputOptions per input file
// and one TOutputOptions (with its TStreamInfo metadata) per output file. The member
// initialisers are the defaults, so a value-initialised record is an initialised one; the
// Init routines reset a record that has been used before. Fields keep the declared order the
// encoder documents; "unused" fields exist in the record but nothing reads them.
#pragma once

#include <cstdint>
#include <string>

namespace cw {

// The media libraries' marker for a missing time value (their AV_NOPTS_VALUE).
constexpr int64_t NoPtsValue = INT64_MIN;

// Target profile kinds of TOutputOptions::TargetType and norms of TargetNorm.
enum TTargetType : int32_t { ttNone = 0, ttVCD = 1, ttSVCD = 2, ttDVD = 3 };
enum TTargetNorm : int32_t { tnAuto = 0, tnPAL = 1, tnNTSC = 2 };

struct TInputOptions {
    std::string FileName;           // UTF-8; empty: the FileName argument of the call is used
    std::string FileFormat;         // forced input format ("f"); empty: probed
    int64_t StartTime = NoPtsValue; // microseconds ("ss" before the input)
    int32_t ProgramID = -1;         // program to read ("programid"); -1 none
    std::string ExtOptions;         // option string: key=value lines
    int32_t Unused1 = 0;
    int32_t Unused2 = 0;

    bool operator==(const TInputOptions&) const = default;
};

// Metadata written into the output container.
struct TStreamInfo {
    // Local date-time in days since 30 December 1899; -1.0 none, 0 the time of the call.
    double Timestamp = -1.0;
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;

    bool operator==(const TStreamInfo&) const = default;
};

struct TOutputOptions {
    std::string FileName; // UTF-8
    std::string UnusedText;
    std::string FileFormat; // forced muxer ("f"); empty: from the file extension
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;
    float MuxPreload = -1.0f;
    std::string AudioCodec;
    std::string AudioPreset;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1; // Hz
    int32_t AudioBitrate = -1;    // bits per second
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    std::string VideoPreset;
    bool DisableVideo = false;
    std::string FrameRate;        // "25", "30000/1001"
    std::string FrameSize;        // "640x480"
    std::string FrameAspectRatio; // "16:9", "4:3"
    int32_t GOPSize = -1;
    int32_t VideoBitrate = -1; // bits per second
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufSize = -1; // bits
    int32_t VideoSync = -1;
    std::string VideoTag; // fourcc
    std::string VideoFilters;
    std::string VideoLanguage;
    std::string SubtitleCodec;
    std::string SubtitlePreset;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool InputSync = false;
    bool CopyTimestamps = false;
    int64_t StartTime = NoPtsValue;     // microseconds
    int64_t RecordingTime = NoPtsValue; // microseconds
    TStreamInfo Metadata;
    int32_t TargetType = ttNone;
    int32_t TargetNorm = tnAuto;
    int32_t TargetDefaultNorm = tnPAL; // 1 pal, any other value ntsc
    bool AudioHook = false;
    bool VideoInputHook = false;
    bool VideoOutputHook = false;
    int32_t HookBitsPixel = 24;
    bool Join = false;
    std::string ExtOptions; // option string: key=value lines
    int32_t Unused1 = 0;
    int32_t Unused2 = 0;

    bool operator==(const TOutputOptions&) const = default;
};

inline void InitStreamInfo(TStreamInfo& info) {
    info = TStreamInfo{};
}
inline void InitInputOptions(TInputOptions& options) {
    options = TInputOptions{};
}
inline void InitOutputOptions(TOutputOptions& options) {
    options = TOutputOptions{};
}

} // namespace cw
