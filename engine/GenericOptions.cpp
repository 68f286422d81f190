#include "engine/GenericOptions.h"

#include "engine/CodecLock.h"
#include "engine/FFApi.h"
#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/OptionParsers.h"
#include "engine/Text.h"

#include <cstring>

namespace cw {

namespace {

// The media flags a name is looked up with, per codec template, in template order.
constexpr int TypeMasks[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                              AV_OPT_FLAG_SUBTITLE_PARAM, 0};
constexpr AVMediaType TemplateTypes[5] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                          AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_ATTACHMENT};

const AVOption* FindOption(void* object, const char* name) {
    return object ? ff::av_opt_find(object, name, nullptr, 0, 0) : nullptr;
}

// A class known only by its description (a codec's or muxer's private options).
bool ClassKnows(const AVClass* const* optionClass, const std::string& name) {
    return *optionClass && ff::av_opt_find(const_cast<AVClass**>(optionClass), name.c_str(),
                                           nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

bool SetOn(void* object, const char* name, const char* value) {
    return FindOption(object, name) && ff::av_opt_set(object, name, value, 0) >= 0;
}

} // namespace

TGenericOptions::TGenericOptions() = default;
TGenericOptions::~TGenericOptions() = default;

void TGenericOptions::Reset() {
    Clear();
    for (int type = 0; type < TypeCount; ++type) {
        AVCodecContext* context = ff::avcodec_alloc_context3(nullptr);
        if (!context)
            throw FFmpegException("avcodec_alloc_context3 failed");
        context->codec_type = TemplateTypes[type];
        Codec[type].reset(context);
    }
    Format.reset(ff::avformat_alloc_context());
    if (!Format)
        throw FFmpegException("avformat_alloc_context failed");
    Scaler.reset(ff::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                    DefaultSwsFlags, nullptr, nullptr, nullptr));
}

void TGenericOptions::Clear() {
    for (auto& context : Codec)
        context.reset();
    Format.reset();
    Scaler.reset();
    Record.clear();
    Legacy = TLegacyOptionState{};
    RefusedText.clear();
}

AVCodecContext* TGenericOptions::CodecTemplate(AVMediaType type) const {
    for (int index = 0; index < TypeCount; ++index)
        if (TemplateTypes[index] == type)
            return Codec[index].get();
    return nullptr;
}

bool TGenericOptions::IsRecorded(const std::string& name) const {
    for (const TOptionPair& option : Record)
        if (option.Name == name)
            return true;
    return false;
}

bool TGenericOptions::KnownPrivateOption(const std::string& name) {
    void* iterator = nullptr;
    while (const AVCodec* codec = ff::av_codec_iterate(&iterator))
        if (ClassKnows(&codec->priv_class, name))
            return true;
    iterator = nullptr;
    while (const AVOutputFormat* format = ff::av_muxer_iterate(&iterator))
        if (ClassKnows(&format->priv_class, name))
            return true;
    return false;
}

bool TGenericOptions::Set(const std::string& name, const std::string& value) {
    if (TrimText(name).empty())
        return false;
    std::vector<TOptionPair> replacement;
    if (TranslateLegacyOption(name, value, Legacy, replacement)) {
        for (const TOptionPair& option : replacement)
            if (!SetCurrent(option.Name, option.Value))
                return false;
        return true;
    }
    return SetCurrent(name, value);
}

bool TGenericOptions::SetCurrent(const std::string& name, const std::string& value) {
    if (!Codec[0])
        throw FFmpegException("The option templates are not allocated");
    const char* optionName = name.c_str();
    const AVOption* found = nullptr;
    int result = 0;
    // The codec templates, each for the options of its media type (the data and attachment
    // templates take any codec option).
    for (int type = 0; type < TypeCount && result >= 0; ++type) {
        const AVOption* option =
            ff::av_opt_find(Codec[0].get(), optionName, nullptr, TypeMasks[type], 0);
        if (option) {
            result = ff::av_opt_set(Codec[type].get(), optionName, value.c_str(), 0);
            found = option;
        }
    }
    if (!found && (found = FindOption(Format.get(), optionName)))
        result = ff::av_opt_set(Format.get(), optionName, value.c_str(), 0);
    if (!found && (found = FindOption(Scaler.get(), optionName)))
        result = ff::av_opt_set(Scaler.get(), optionName, value.c_str(), 0);
    // "aXXX", "vXXX", "sXXX": option XXX of the audio, video or subtitle template.
    if (!found && name.size() > 1) {
        AVCodecContext* byLetter = name[0] == 'a'   ? CodecTemplate(AVMEDIA_TYPE_AUDIO)
                                   : name[0] == 'v' ? CodecTemplate(AVMEDIA_TYPE_VIDEO)
                                   : name[0] == 's' ? CodecTemplate(AVMEDIA_TYPE_SUBTITLE)
                                                    : nullptr;
        if (byLetter && (found = FindOption(byLetter, optionName + 1)))
            result = ff::av_opt_set(byLetter, optionName + 1, value.c_str(), 0);
    }
    if (found && result < 0) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
                   optionName);
        SetLastError(
            FormatText("Invalid value \"%s\" for option \"%s\"", value.c_str(), optionName));
        return false;
    }
    if (!found && !KnownPrivateOption(name)) {
        ff::av_log(nullptr, AV_LOG_ERROR, "Unrecognized option \"%s\"\n", optionName);
        SetLastError(FormatText("Unrecognized option \"%s\"", optionName));
        return false;
    }
    if (found)
        Record.push_back({found->name, {}});
    else
        Record.push_back({name, value});
    int64_t videoDebug = 0;
    int64_t formatDebug = 0;
    ff::av_opt_get_int(Codec[0].get(), "debug", 0, &videoDebug);
    ff::av_opt_get_int(Format.get(), "fdebug", 0, &formatDebug);
    if (videoDebug || formatDebug)
        TFFLogger::Instance().SetLogLevel(llDebug);
    return true;
}

void TGenericOptions::Apply(void* target, void* optionTemplate, const AVCodec* codec,
                            int mask) const {
    if (!target)
        return;
    const AVClass* targetClass = *static_cast<const AVClass**>(target);
    void* privateContext = nullptr;
    if (targetClass && std::strcmp(targetClass->class_name, "AVCodecContext") == 0) {
        if (codec && codec->priv_class)
            privateContext = static_cast<AVCodecContext*>(target)->priv_data;
    } else if (targetClass && std::strcmp(targetClass->class_name, "AVFormatContext") == 0) {
        auto* format = static_cast<AVFormatContext*>(target);
        if (format->oformat && format->oformat->priv_class)
            privateContext = format->priv_data;
    }

    // The older generation's encoder defaults, where the job set nothing of its own. A job
    // that names the encoder's own speed preset ("preset=medium") takes that preset's settings.
    if (codec && (mask & AV_OPT_FLAG_ENCODING_PARAM) && ff::av_codec_is_encoder(codec) &&
        !IsRecorded("preset")) {
        for (const TLegacyEncoderDefault& row : LegacyEncoderDefaults()) {
            if (std::strcmp(row.Encoder, codec->name) != 0 || IsRecorded(row.Option) ||
                (row.Alias && IsRecorded(row.Alias)))
                continue;
            if (!SetOn(target, row.Option, row.Value))
                SetOn(privateContext, row.Option, row.Value);
        }
    }

    for (const TOptionPair& option : Record) {
        const char* name = option.Name.c_str();
        uint8_t* text = nullptr;
        if (optionTemplate && ff::av_opt_get(optionTemplate, name, 0, &text) >= 0) {
            const AVOption* described = FindOption(optionTemplate, name);
            if (described && (described->flags & mask) == mask)
                ff::av_opt_set(target, name, reinterpret_cast<const char*>(text), 0);
            ff::av_free(text);
        } else if (privateContext && FindOption(privateContext, name) &&
                   ff::av_opt_set(privateContext, name, option.Value.c_str(), 0) < 0 && codec &&
                   ff::av_codec_is_encoder(codec) && RefusedText.empty()) {
            RefusedText = FormatText("Invalid value \"%s\" for option \"%s\"",
                                     option.Value.c_str(), name);
            ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", RefusedText.c_str());
        }
    }
}

namespace {

// A fresh encoder context of the failed one's codec, size, formats and rates, with the
// library's defaults for everything else; null when it cannot be made.
TCodecContextPtr ProbeEncoder(const AVCodecContext* failed, const AVCodec* codec) {
    TCodecContextPtr probe(ff::avcodec_alloc_context3(codec));
    if (!probe)
        return probe;
    probe->codec_type = failed->codec_type;
    probe->time_base = failed->time_base;
    probe->bit_rate = failed->bit_rate;
    probe->flags = failed->flags;
    if (failed->codec_type == AVMEDIA_TYPE_VIDEO) {
        probe->width = failed->width;
        probe->height = failed->height;
        probe->pix_fmt = failed->pix_fmt;
        probe->sample_aspect_ratio = failed->sample_aspect_ratio;
        probe->framerate = failed->framerate;
    } else if (failed->codec_type == AVMEDIA_TYPE_AUDIO) {
        probe->sample_fmt = failed->sample_fmt;
        probe->sample_rate = failed->sample_rate;
        if (ff::av_channel_layout_copy(&probe->ch_layout, &failed->ch_layout) < 0)
            probe.reset();
    }
    return probe;
}

bool ProbeOpens(TCodecContextPtr probe, const AVCodec* codec) {
    if (!probe)
        return false;
    TCodecLock lock;
    return ff::avcodec_open2(probe.get(), codec, nullptr) >= 0;
}

} // namespace

std::string TGenericOptions::EncoderOptionError(const AVCodecContext* failed,
                                                const AVCodec* codec) const {
    if (!RefusedText.empty() || !failed || !codec || !codec->priv_class)
        return RefusedText;
    std::vector<const TOptionPair*> privateOptions;
    for (const TOptionPair& option : Record)
        if (!option.Value.empty() && ClassKnows(&codec->priv_class, option.Name))
            privateOptions.push_back(&option);
    // Without the private options the encoder must open, or the fault is elsewhere.
    if (privateOptions.empty() || !ProbeOpens(ProbeEncoder(failed, codec), codec))
        return {};
    for (const TOptionPair* option : privateOptions) {
        TCodecContextPtr probe = ProbeEncoder(failed, codec);
        if (!probe || ff::av_opt_set(probe->priv_data, option->Name.c_str(),
                                     option->Value.c_str(), 0) < 0 ||
            !ProbeOpens(std::move(probe), codec))
            return FormatText("Invalid value \"%s\" for option \"%s\"", option->Value.c_str(),
                              option->Name.c_str());
    }
    return {};
}

} // namespace cw
