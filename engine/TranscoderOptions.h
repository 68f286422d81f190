// The option state a transcoding job holds: every option of the transcoder with its default, the
// dispatcher that sets them by name, the option-string parser, the built-in presets and target
// profiles, and the application of the encoder's input and output option records.
//
// Options follow the positional rule: an option changes this state, and the next input, output
// or stream that is opened consumes it. Opening belongs to a file layer, which derives from
// this class and implements the pure virtual operations at the end (the job's is TJobOptions,
// over its inputs and outputs); the record application calls them at the points where files
// and streams are opened.
#pragma once

#include "engine/EncoderOptions.h"
#include "engine/FFLogger.h"
#include "engine/FrameHook.h"
#include "engine/GenericOptions.h"
#include "engine/OptionParsers.h"
#include "engine/Owners.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

struct AVBitStreamFilter;

namespace cw {

// One bitstream filter waiting for the next stream of its kind: the library's filter and the
// text after "=" in the option value (the filter's arguments), if any.
struct TBitstreamFilterEntry {
    const AVBitStreamFilter* Filter = nullptr;
    std::string Name;
    std::string Arguments;
};

// A built-in preset: name and text of key=value lines, each ended by LF.
struct TOptionsPreset {
    const char* Name;
    const char* Text;
};

// Every option value of a job with its default; ResetOptions restores these.
struct TTranscoderOptionValues {
    // -- general options ---------------------------------------------------------------
    int Verbose = 1;            // "v"
    int ThreadCount = 1;        // "threads"
    bool ExitOnError = false;   // "xerror"
    bool DoPacketDump = false;  // "dump"
    bool DoHexDump = false;     // "hex"
    bool RateEmulation = false; // "re"
    bool LoopInput = false;     // "loop_input"
    int LoopOutput = -1;        // "loop_output"

    // -- file options ------------------------------------------------------------------
    std::string FileFormat;            // "f"
    int64_t StartTime = 0;             // "ss", µs
    int64_t RecordingTime = INT64_MAX; // "t", µs
    int64_t LimitFileSize = 0;         // "fs", bytes
    int64_t InputTsOffset = 0;         // "itsoffset", µs
    // "itsscale": per input (by input index) the scale of each stream; 0 = not scaled.
    std::vector<std::vector<double>> InputTsScales;
    int64_t RecordingTimestamp = 0;         // "timestamp", seconds since 1970
    std::vector<TStreamMap> StreamMaps;     // "map"
    std::vector<TMetadataMap> MetadataMaps; // "map_meta_data"
    std::vector<TChapterMap> ChapterMaps;   // "map_chapters"
    bool MetadataGlobalAutoCopy = true;
    bool MetadataStreamsAutoCopy = true;
    bool MetadataChaptersAutoCopy = true;
    int ProgramID = 0;                // "programid"
    bool Shortest = false;            // "shortest"
    bool CopyTimestamps = false;      // "copyts"
    bool CopyTimeBase = false;        // "copytb"
    double DtsDeltaThreshold = 10.0;  // "dts_delta_threshold", s
    int VideoSyncMethod = -1;         // "vsync"
    int AudioSyncMethod = 0;          // "async"
    double AudioDriftThreshold = 0.1; // "adrift_threshold", s
    int VideoGlobalHeader = 0;        // "vglobal"
    int CopyInitialNonKeyframes = 0;  // "copyinkf"
    bool InputSync = false;           // "isync"
    double MuxMaxDelay = 0.7;         // "muxdelay", s
    double MuxPreload = 0.5;          // "muxpreload", s
    int MaxDataFrames = INT_MAX;      // "dframes"

    // -- video options -----------------------------------------------------------------
    int MaxVideoFrames = INT_MAX; // "vframes"
    AVRational FrameRate{25, 0};  // "r"; denominator 0 = not set
    int FrameWidth = 0;           // "s"
    int FrameHeight = 0;
    float FrameAspectRatio = 0;                  // "aspect"; 0 = not set
    AVPixelFormat FramePixFmt = AV_PIX_FMT_NONE; // "pix_fmt"
    bool FramePixFmtAsked = false; // "pix_fmt" was given, not taken over from the input
    bool IntraOnly = false;                      // "intra"
    bool VideoDisable = false;                   // "vn"
    int VideoDiscard = 0;                        // "vdt"
    float VideoQScale = 0;                       // "qscale"; 0 = not set
    std::string VideoRcOverride;                 // "rc_override"
    std::string VideoCodecName;                  // "vcodec"
    bool VideoStreamCopy = false;                // "vcodec" = "copy"
    int MeThreshold = 0;                         // "me_threshold"
    bool SameQuality = false;                    // "sameq"
    int DoPass = 0;                              // "pass"
    std::string PassLogFileName;                 // "passlogfile"
    bool DoDeinterlace = false;                  // "deinterlace"
    bool DoPsnr = false;                         // "psnr"
    std::string VStatsFileName;                  // "vstats", "vstats_file"
    bool UsingVhook = false;
    std::string VideoFilters;                                 // "vfilters", "vf"
    std::optional<TQuantMatrix> IntraMatrix;                  // "intra_matrix"
    std::optional<TQuantMatrix> InterMatrix;                  // "inter_matrix"
    int TopFieldFirst = -1;                                   // "top"
    int IntraDcPrecision = 8;                                 // "dc"
    uint32_t VideoCodecTag = 0;                               // "vtag"
    std::string VideoLanguage;                                // "vlang"
    bool QpHistogram = false;                                 // "qphist"
    bool ForceFps = false;                                    // "force_fps"
    std::vector<int> StreamIdMap;                             // "streamid", by output stream index
    std::string ForcedKeyFrames;                              // "force_key_frames"
    int VideoChannel = 0;                                     // "vc"
    std::string VideoStandard;                                // "tvstd"
    std::vector<TBitstreamFilterEntry> VideoBitstreamFilters; // "vbsf"

    // -- audio options -----------------------------------------------------------------
    int MaxAudioFrames = INT_MAX;                             // "aframes"
    float AudioQScale = -99999.0f;                            // "aq"; -99999 = not set
    int AudioSampleRate = 44100;                              // "ar"
    int AudioChannels = 2;                                    // "ac"
    uint64_t AudioChannelLayout = 0;                          // written back by opening an input
    bool AudioDisable = false;                                // "an"
    std::string AudioCodecName;                               // "acodec"
    bool AudioStreamCopy = false;                             // "acodec" = "copy"
    uint32_t AudioCodecTag = 0;                               // "atag"
    int AudioVolume = 256;                                    // "vol"
    std::string AudioLanguage;                                // "alang"
    AVSampleFormat AudioSampleFmt = AV_SAMPLE_FMT_NONE;       // "sample_fmt"
    std::vector<TBitstreamFilterEntry> AudioBitstreamFilters; // "absf"

    // -- subtitle options --------------------------------------------------------------
    bool SubtitleDisable = false;                                // "sn"
    std::string SubtitleCodecName;                               // "scodec"
    bool SubtitleStreamCopy = false;                             // "scodec" = "copy"
    std::string SubtitleLanguage;                                // "slang"
    uint32_t SubtitleCodecTag = 0;                               // "stag"
    std::vector<TBitstreamFilterEntry> SubtitleBitstreamFilters; // "sbsf"
};

class TTranscoderOptions : public TTranscoderOptionValues {
public:
    // Allocates the generic option templates and sets every option to its default
    // (ResetOptions). The media libraries must be bound (FFmpegException otherwise).
    TTranscoderOptions();
    virtual ~TTranscoderOptions();
    TTranscoderOptions(const TTranscoderOptions&) = delete;
    TTranscoderOptions& operator=(const TTranscoderOptions&) = delete;

    // Every option back to its default: empty maps, tags, filters and hooks, new templates.
    void ResetOptions();
    // Frees the option state ResetOptions restores (values, tags, frame hooks, option
    // templates): for a job that has run or waits its turn; ResetOptions makes it usable
    // again.
    void ReleaseOptions();

    // Sets one option by name (exact, case-sensitive); names the transcoder does not know go to
    // SetGenericOption. Throws FFmpegException with the option's error text, and for a
    // rejected library option while StrictOptions is set with LastOptionError(); number
    // conversions throw std::invalid_argument. An error leaves earlier options as they are.
    void SetOption(const std::string& name, const std::string& value);

    // A library option: set on the templates and recorded (GenericOptions.h). False with
    // LastOptionError() set when it is rejected.
    bool SetGenericOption(const std::string& name, const std::string& value);
    // Copies the recorded library options into a codec or container context the job created;
    // optionTemplate is CodecTemplate(type) of the stream's media type or FormatTemplate(),
    // mask one of the OptionMask constants of GenericOptions.h.
    void ApplyGenericOptions(void* target, void* optionTemplate, const AVCodec* codec,
                             int mask) const;
    AVCodecContext* CodecTemplate(AVMediaType type) const { return Generic.CodecTemplate(type); }
    AVFormatContext* FormatTemplate() const { return Generic.FormatTemplate(); }
    SwsContext* ScalerTemplate() const { return Generic.ScalerTemplate(); }
    const TGenericOptions& GenericOptions() const { return Generic; }
    // The scaler flags ("sws_flags") the scaler template holds.
    int SwsFlags() const;
    // The text of the last library option this job rejected.
    const std::string& LastOptionError() const { return Generic.LastError(); }

    // Lines of key=value, separated by line breaks or "<CRLF>"; the key is lower-cased. Keys
    // handled by the record application (new streams, presets, filters) are skipped, codec
    // keys and "s" are set only withCodecKeys, empty lines are skipped.
    void ApplyOptionString(const std::string& text, bool withCodecKeys);

    // Presets: kind 'a', 'v', 's' (built-in by name, or codec name + "-" + value, else a file)
    // or 'f' (a file). An empty value does nothing.
    void ApplyPreset(char kind, const std::string& value);
    // Target profiles "vcd", "svcd", "dvd", "dv", "dv50"; norm "pal", "ntsc", "film" or
    // anything else for automatic; defaultNorm decides when the automatic choice cannot.
    void SetTarget(const std::string& type, const std::string& norm,
                   const std::string& defaultNorm);

    // Adds an input with its record (null: none): the record's option string, forced format,
    // start position and program, then OpenInput. The result is OpenInput's.
    bool OpenInputWithOptions(const std::string& fileName, const TInputOptions* options);
    // Adds an output with its record (null: OpenOutput(fileName, false) only): codecs,
    // presets, target profile, option string and record fields in their order, then
    // OpenOutput with the record's Join, then the further streams the option string asks for,
    // then SetupJoin when joining several inputs. The result is OpenOutput's (-1: failed).
    int OpenOutputWithOptions(const std::string& fileName, const TOutputOptions* options);

    // The file layer: open and register one input (false with OpenError set on failure);
    // create one output with its first streams (the number of outputs, or -1 with OpenError
    // set); add a stream of a media type to the last output (throws on failure); prepare join
    // mode; the number of inputs and outputs opened; the frame rates of the video streams of
    // the opened inputs, in order (for the automatic target norm).
    virtual bool OpenInput(const std::string& fileName) = 0;
    virtual int OpenOutput(const std::string& fileName, bool join) = 0;
    virtual void NewOutputStream(AVMediaType type) = 0;
    virtual void SetupJoin() = 0;
    virtual int InputCount() const = 0;
    virtual int OutputCount() const = 0;
    virtual std::vector<AVRational> InputVideoFrameRates() const = 0;

    // What opening consumes, for the file layer to call: an input (program, start position,
    // capture channel, the three codec names; the forced format is the opener's to clear once
    // it has found it), a video, audio or subtitle stream (its language, switch-off, codec
    // name and stream copy; for video also the forced key frames and the pixel format), and
    // an output (its tags, the stream ids and the forced key frames).
    void ConsumeInputOptions();
    void ConsumeVideoStreamOptions();
    void ConsumeAudioStreamOptions();
    void ConsumeSubtitleStreamOptions();
    void ConsumeOutputOptions();

    // -- job-level values --------------------------------------------------------------
    bool StrictOptions = true;
    // Expected length of the output for progress (µs, -1 unknown); "t" sets it.
    int64_t TotalDuration = -1;
    // Hook switches and bitmap depth handed over by the output record.
    bool AudioHook = false;
    bool VideoInputHook = false;
    bool VideoOutputHook = false;
    int HookBitsPixel = 24;
    // "vhook": the frame hooks of the job, in the order they were added.
    TFrameHookList FrameHooks;
    // "metadata": the tags of the next output (freed by ResetOptions, consumed by opening an
    // output).
    TDictionaryPtr MetadataTags;

    // The expected length for progress: what the inputs give, cut to the recording time
    // when that is shorter; the recording time alone when the inputs give none.
    void LimitTotalToRecordingTime();

protected:
    void Log(TLogLevel level, const std::string& text) const;

private:
    void SetRecordingTime(int64_t duration);
    void SetThreads(const std::string& value);
    void SetFrameRate(const std::string& value);
    void SetFrameSize(const std::string& value);
    void SetQScale(const std::string& value);
    void SetPass(const std::string& value);
    void SetBitrate(const std::string& name, const std::string& value);
    void SetCodec(AVMediaType type, const std::string& value);
    void SetTag(uint32_t& tag, const std::string& value);
    void AddBitstreamFilter(const std::string& name, const std::string& value);
    void AddFrameHookOption(const std::string& value);
    void AddMetadataTag(const std::string& key, const std::string& value);
    void SetMetadataOption(const std::string& value);
    void SetTimestampScale(const std::string& value);
    void SetStreamId(const std::string& name, const std::string& value);
    void SetVStats(const std::string& value);
    void SetMetadataMap(const std::string& value);
    void SetPixelFormat(const std::string& value);
    void SetSampleFormat(const std::string& value);
    void SetTargetOption(const std::string& value);
    void NewStreamOption(AVMediaType type);
    void ApplyOutputRecordFields(const TOutputOptions& options, bool recordAudioBitrate);
    void SetGenericQuietly(const std::string& name, const std::string& value);

    TGenericOptions Generic;
};

// The 36 built-in presets, and a preset by name ignoring letter case (null when none).
std::span<const TOptionsPreset> BuiltinPresets();
const TOptionsPreset* FindBuiltinPreset(const std::string& name);
// The audio codec a target profile ("vcd", "svcd", "dvd") sets; empty for the others.
std::string TargetAudioCodecName(const std::string& targetType);

} // namespace cw
