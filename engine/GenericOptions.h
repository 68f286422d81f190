// The generic option store of a transcoding job: every option name the transcoder does not
// handle itself is a library option. It is set on option templates (one codec context per
// media type, one container context, one scaler context), where the library checks the value,
// and recorded; each codec or container context the job creates later receives the recorded
// options whose flags fit it, including private options of its codec or muxer.
#pragma once

#include "engine/LegacyOptions.h"
#include "engine/Owners.h"

#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/opt.h>
}

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct SwsContext;

namespace cw {

// The flag masks the transcoder hands to ApplyGenericOptions for each kind of context.
constexpr int OptionMaskInputContainer = AV_OPT_FLAG_DECODING_PARAM;                        // 2
constexpr int OptionMaskInputVideo = AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM;  // 18
constexpr int OptionMaskInputAudio = AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM;  // 10
constexpr int OptionMaskOutputContainer = AV_OPT_FLAG_ENCODING_PARAM;                       // 1
constexpr int OptionMaskOutputVideo = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM; // 17
constexpr int OptionMaskOutputAudio = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM; // 9
constexpr int OptionMaskOutputSubtitle =
    AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM; // 33

// The scaler flags of a fresh scaler template (bicubic).
constexpr int DefaultSwsFlags = 4;

class TGenericOptions {
public:
    TGenericOptions();
    ~TGenericOptions();
    TGenericOptions(const TGenericOptions&) = delete;
    TGenericOptions& operator=(const TGenericOptions&) = delete;

    // New templates with library defaults; nothing recorded. Needs the libraries bound.
    void Reset();
    // Frees the templates and the record.
    void Clear();

    // Sets a library option on the templates and records it; false, with LastError() set,
    // when no template, codec or muxer knows the name or the value is rejected.
    bool Set(const std::string& name, const std::string& value);

    // Copies the recorded options into a library context (a codec or container context):
    // those the template holds, when their flags contain every bit of mask, with the
    // template's current value; the private ones, when the context's codec (given as codec)
    // or muxer knows them, with their recorded value. On an encoder, the older generation's
    // defaults of the compatibility table are put in first where the job recorded none.
    // A private option whose value the encoder's own option table refuses is logged and
    // remembered for EncoderOptionError.
    void Apply(void* target, void* optionTemplate, const AVCodec* codec, int mask) const;

    // Why an encoder's options are wrong, worded "Invalid value "V" for option "N"", or empty
    // when none is known to be. failed: the encoder context that avcodec_open2 refused (null
    // when it has not been opened yet: then only values refused by Apply count). A private
    // option whose value is checked only when the encoder opens (libx264's preset) is found by
    // opening probe encoders of the same size and format: one with no private options, then
    // one per recorded private option.
    std::string EncoderOptionError(const AVCodecContext* failed, const AVCodec* codec) const;

    // The codec template of a media type (video, audio, data, subtitle, attachment), or null.
    AVCodecContext* CodecTemplate(AVMediaType type) const;
    AVFormatContext* FormatTemplate() const { return Format.get(); }
    SwsContext* ScalerTemplate() const { return Scaler.get(); }

    // The recorded options in recording order: the option's own name with an empty value for
    // options held by a template, the given name and value for private ones.
    const std::vector<TOptionPair>& Recorded() const { return Record; }
    bool IsRecorded(const std::string& name) const;

    // The text of the last option this store rejected. Each job has its own store, so jobs
    // that set options on their own threads at once do not share it.
    const std::string& LastError() const { return LastErrorText; }
    void SetLastError(const std::string& text) { LastErrorText = text; }

private:
    bool SetCurrent(const std::string& name, const std::string& value);
    static bool KnownPrivateOption(const std::string& name);

    static constexpr int TypeCount = 5;
    TCodecContextPtr Codec[TypeCount];
    TOutputContextPtr Format; // a bare context (no file), freed as an output's is
    TScalerPtr Scaler;
    std::vector<TOptionPair> Record;
    TLegacyOptionState Legacy;
    std::string LastErrorText;
    // The first private encoder option whose value Apply could not set.
    mutable std::string RefusedText;
};

} // namespace cw
