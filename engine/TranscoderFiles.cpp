// Opening the inputs and outputs of a job, creating output streams from the option state, and
// pairing output streams with input streams at the start of a run.
#include "engine/Transcoder.h"

#include "engine/CodecLock.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/LegacyOptions.h"
#include "engine/OptionParsers.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"
#include "engine/UnicodeIO.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace cw {

namespace {

// Pixel formats an MJPEG or lossless-JPEG encoder is offered instead of its own list: the
// full-range formats, plus the limited-range ones when the job allows unofficial streams.
struct TJpegPixelFormats {
    AVCodecID Codec;
    bool Unofficial; // the list applies when the strictness is -1 or lower
    AVPixelFormat Formats[8];
};
constexpr TJpegPixelFormats JpegPixelFormats[] = {
    {AV_CODEC_ID_MJPEG,
     true,
     {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P,
      AV_PIX_FMT_NONE}},
    {AV_CODEC_ID_MJPEG, false, {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_NONE}},
    {AV_CODEC_ID_LJPEG,
     true,
     {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
      AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_BGRA, AV_PIX_FMT_NONE}},
};

// Muxers whose default video codec only carries a cover picture: a stream of pictures cannot
// be written into them, so they count as formats without a video codec.
constexpr const char* CoverPictureMuxers[] = {"mp3", "flac"};

// Muxers that refuse a file without one video and one audio stream: when no input has sound,
// such an output gets a silent track.
constexpr const char* BothKindsMuxers[] = {"psp"};

bool NeedsBothKinds(const AVOutputFormat* format) {
    for (const char* name : BothKindsMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

bool IsCoverPictureMuxer(const AVOutputFormat* format) {
    for (const char* name : CoverPictureMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

// The RM muxer writes packets of at most 64 KB; pictures are kept below that with room for
// the packet's own header, and pictures larger than this area are made smaller first.
constexpr int RmMaxPacketBytes = 60000;
constexpr int64_t RmMaxPictureArea = 1280 * 720;

// Audio containers that store a cover picture beside the sound.
constexpr const char* CoverArtMuxers[] = {"mp3", "flac", "ipod"};

bool CarriesCoverArt(const AVOutputFormat* format) {
    for (const char* name : CoverArtMuxers)
        if (std::string_view(format->name) == name)
            return true;
    return false;
}

// "video", "audio", ... for worded errors.
std::string LowerMediaTypeName(AVMediaType type) {
    return LowerText(MediaTypeName(type));
}

const char* CodecKind(bool encoder) {
    return encoder ? "encoder" : "decoder";
}

AVPixelFormat CheckPixelFormat(const AVCodec* codec, const AVCodecContext* context,
                               AVPixelFormat format) {
    if (!codec)
        return format;
    const AVPixelFormat* list = codec->pix_fmts;
    for (const TJpegPixelFormats& row : JpegPixelFormats)
        if (row.Codec == codec->id &&
            row.Unofficial == (context->strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL)) {
            list = row.Formats;
            break;
        }
    if (!list || list[0] == AV_PIX_FMT_NONE)
        return format;
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == format)
            return format;
    return list[0];
}

AVSampleFormat CheckSampleFormat(const AVCodec* codec, AVSampleFormat format) {
    if (!codec || !codec->sample_fmts || codec->sample_fmts[0] == AV_SAMPLE_FMT_NONE)
        return format;
    for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        if (*p == format)
            return format;
    return codec->sample_fmts[0];
}

// "creation_time" text of seconds since 1970 (UTC).
std::string CreationTimeText(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    return text;
}

// "rc_override": entries "start,end,q" separated by "/", the numbers separated by any
// single character. A positive q fixes the quantiser of those frames; zero or less scales
// their quality by -q / 100.
void SetRcOverride(AVCodecContext* enc, const std::string& text) {
    if (text.empty())
        return;
    std::vector<RcOverride> entries;
    const char* p = text.c_str();
    auto readInt = [&](int& value) {
        char* end = nullptr;
        const long number = std::strtol(p, &end, 10);
        if (end == p || number < INT_MIN || number > INT_MAX)
            throw FFmpegException("error parsing rc_override");
        value = static_cast<int>(number);
        p = end;
    };
    auto skipOne = [&] {
        if (!*p)
            throw FFmpegException("error parsing rc_override");
        ++p;
    };
    for (;;) {
        int start = 0, end = 0, q = 0;
        readInt(start);
        skipOne();
        readInt(end);
        skipOne();
        readInt(q);
        RcOverride entry{};
        entry.start_frame = start;
        entry.end_frame = end;
        if (q > 0) {
            // The rate control of this library generation reads the override in lambda units.
            entry.qscale = q > INT_MAX / FF_QP2LAMBDA ? INT_MAX : q * FF_QP2LAMBDA;
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-q) / 100.0f;
        }
        entries.push_back(entry);
        p = std::strchr(p, '/');
        if (!p)
            break;
        ++p;
    }
    auto* table = static_cast<RcOverride*>(ff::av_mallocz(sizeof(RcOverride) * entries.size()));
    if (!table)
        throw FFmpegException("error parsing rc_override");
    std::copy(entries.begin(), entries.end(), table);
    ff::av_freep(&enc->rc_override);
    enc->rc_override = table;
    enc->rc_override_count = static_cast<int>(entries.size());
}

} // namespace

// -- codec lookup ------------------------------------------------------------------------

const AVCodec* TCustomFFmpeg::FindCodecByName(const std::string& name, AVMediaType type,
                                              bool encoder) {
    if (name.empty())
        return nullptr;
    const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                   : ff::avcodec_find_decoder_by_name(name.c_str());
    std::string error;
    if (!codec) {
        error = FormatText("Unknown %s '%s'", CodecKind(encoder), name.c_str());
    } else if (codec->type != type) {
        error = FormatText("Invalid %s type '%s'", CodecKind(encoder), name.c_str());
    } else if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && CodecTemplate(type) &&
               CodecTemplate(type)->strict_std_compliance > FF_COMPLIANCE_EXPERIMENTAL) {
        error = FormatText("%s '%s' is experimental and might produce bad results.\r\n"
                           "Add '-strict experimental' if you want to use it.",
                           encoder ? "Encoder" : "Decoder", name.c_str());
        void* it = nullptr;
        while (const AVCodec* other = ff::av_codec_iterate(&it)) {
            bool sameSide =
                encoder ? ff::av_codec_is_encoder(other) != 0 : ff::av_codec_is_decoder(other) != 0;
            if (sameSide && other->id == codec->id &&
                !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL)) {
                error += "\r\n" + FormatText("Or use the non experimental %s '%s'.",
                                             CodecKind(encoder), other->name);
                break;
            }
        }
    }
    if (!error.empty()) {
        OpenError = error;
        throw FFmpegException(error);
    }
    return codec;
}

// -- inputs ------------------------------------------------------------------------------

bool TCustomFFmpeg::OpenInput(const std::string& fileName) {
    if (static_cast<int>(Inputs.size()) >= MaxFiles) {
        OpenError = FormatText("max input files %d reached", MaxFiles);
        return false;
    }
    const AVInputFormat* format = nullptr;
    if (!FileFormat.empty()) {
        format = ff::av_find_input_format(FileFormat.c_str());
        if (!format)
            throw FFmpegException(FormatText("Unknown input format: \"%s\"", FileFormat.c_str()));
        FileFormat.clear();
    }
    TInputContextPtr context(ff::avformat_alloc_context());
    if (!context)
        throw FFmpegException("avformat_alloc_context failed");

    // What raw and capture demuxers cannot find out themselves.
    AVDictionary* parameters = nullptr;
    ff::av_dict_set(&parameters, "sample_rate", std::to_string(AudioSampleRate).c_str(), 0);
    ff::av_dict_set(&parameters, "channels", std::to_string(AudioChannels).c_str(), 0);
    if (FrameRate.num > 0 && FrameRate.den > 0)
        ff::av_dict_set(&parameters, "framerate",
                        FormatText("%d/%d", FrameRate.num, FrameRate.den).c_str(), 0);
    if (FrameWidth > 0 && FrameHeight > 0)
        ff::av_dict_set(&parameters, "video_size",
                        FormatText("%dx%d", FrameWidth, FrameHeight).c_str(), 0);
    if (FramePixFmt != AV_PIX_FMT_NONE && ff::av_get_pix_fmt_name(FramePixFmt))
        ff::av_dict_set(&parameters, "pixel_format", ff::av_get_pix_fmt_name(FramePixFmt), 0);
    if (VideoChannel)
        ff::av_dict_set(&parameters, "channel", std::to_string(VideoChannel).c_str(), 0);
    if (!VideoStandard.empty())
        ff::av_dict_set(&parameters, "standard", VideoStandard.c_str(), 0);
    ApplyGenericOptions(context.get(), FormatTemplate(), nullptr, OptionMaskInputContainer);

    const TInterruptCallback timeoutCheck =
        MakeInterruptCallback<&TCustomFFmpeg::TimeoutCheck>(this);
    const uint32_t thread = CurrentThreadId();
    bool registered = false;
    auto finish = [&](bool result) {
        IoStart = IoIdle;
        if (registered && InterruptRegistry())
            InterruptRegistry()->RemoveCallback(thread, timeoutCheck, this);
        registered = false;
        ff::av_dict_free(&parameters);
        if (!result) {
            context.reset();
            ConsumeInputOptions();
        }
        return result;
    };

    try {
        const AVCodec* forced[3] = {
            FindCodecByName(VideoCodecName, AVMEDIA_TYPE_VIDEO, false),
            FindCodecByName(AudioCodecName, AVMEDIA_TYPE_AUDIO, false),
            FindCodecByName(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false),
        };
        if (forced[0])
            context->video_codec_id = forced[0]->id;
        if (forced[1])
            context->audio_codec_id = forced[1]->id;
        if (forced[2])
            context->subtitle_codec_id = forced[2]->id;
    } catch (const FFmpegException&) {
        return finish(false);
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;

    if (InterruptRegistry()) {
        InterruptRegistry()->AddCallback(thread, timeoutCheck, this);
        registered = true;
    }
    IoStart = ff::av_gettime();
    // On failure the context is freed and the pointer left null.
    AVFormatContext* opened = context.release();
    int result = OpenInputFile(&opened, ToLibraryFileName(fileName), format, &parameters);
    context.reset(opened);
    IoStart = IoIdle;
    if (result < 0) {
        OpenError = ErrorText(fileName, result);
        return finish(false);
    }

    if (ProgramID) {
        bool found = false;
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            AVProgram* program = context->programs[p];
            if (program->id != ProgramID)
                continue;
            found = true;
            for (unsigned s = 0; s < context->nb_streams; ++s) {
                bool inProgram = false;
                for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
                    inProgram = inProgram || program->stream_index[k] == s;
                if (!inProgram)
                    context->streams[s]->discard = AVDISCARD_ALL;
            }
        }
        if (!found) {
            OpenError = "Specified program id not found";
            return finish(false);
        }
        ProgramID = 0;
    }

    if (OnBeforeFindStreamInfo) {
        // A handler that throws leaves nothing behind: the container is closed and the
        // interrupt entry of this thread removed before the error goes on.
        try {
            OnBeforeFindStreamInfo(this, context.get());
        } catch (...) {
            finish(false);
            throw;
        }
    }

    IoStart = ff::av_gettime();
    result = ff::avformat_find_stream_info(context.get(), nullptr);
    IoStart = IoIdle;
    if (result < 0 && Verbose >= 0) {
        OpenError = FormatText("%s: could not find codec parameters", fileName.c_str());
        LogV(llVerbose, OpenError);
        return finish(false);
    }

    int64_t ts = StartTime;
    if (context->start_time != AV_NOPTS_VALUE)
        ts += context->start_time;
    if (StartTime != 0) {
        IoStart = ff::av_gettime();
        if (ff::av_seek_frame(context.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0 && Verbose > 0)
            LogV(llVerbose, FormatText("%s: could not seek to position %0.3f", fileName.c_str(),
                                       static_cast<double>(ts) / 1e6));
        StartTime = 0;
    }
    finish(true);

    auto input = std::make_unique<TInputFile>();
    AVFormatContext* ready = context.get();
    input->Context = std::move(context);
    input->FileName = fileName;
    try {
        OpenInputStreams(*input);
    } catch (...) {
        input.reset();
        ConsumeInputOptions();
        throw;
    }

    if (ready->duration != AV_NOPTS_VALUE && ready->duration > TotalDuration)
        TotalDuration = ready->duration;
    input->TsOffset = CopyTimestamps ? InputTsOffset : InputTsOffset - ts;
    const size_t index = Inputs.size();
    if (index < InputTsScales.size())
        input->TsScale = InputTsScales[index];
    Inputs.push_back(std::move(input));
    if (Verbose >= 0)
        ff::av_dump_format(ready, static_cast<int>(index), fileName.c_str(), 0);
    ConsumeInputOptions();
    return true;
}

void TCustomFFmpeg::OpenInputStreams(TInputFile& input) {
    AVFormatContext* context = input.Context.get();
    const int pictureStream = FirstRealVideoStream(context);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        AVCodecParameters* par = stream->codecpar;
        const AVCodec* choice = nullptr;
        AVMediaType type = par->codec_type;
        switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            choice = FindCodecByName(VideoCodecName, type, false);
            break;
        case AVMEDIA_TYPE_AUDIO:
            choice = FindCodecByName(AudioCodecName, type, false);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            choice = FindCodecByName(SubtitleCodecName, type, false);
            break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
            break;
        default:
            throw FFmpegException("invalid codec_type");
        }
        input.DecoderChoice.push_back(choice);

        if (type == AVMEDIA_TYPE_VIDEO && par->format < 0)
            par->format = 0;
        TCodecContextPtr decoder;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO ||
            type == AVMEDIA_TYPE_SUBTITLE) {
            const AVCodec* codec = choice ? choice : ff::avcodec_find_decoder(par->codec_id);
            decoder.reset(ff::avcodec_alloc_context3(codec));
            if (!decoder)
                throw FFmpegException("avcodec_alloc_context3 failed");
            if (ff::avcodec_parameters_to_context(decoder.get(), par) < 0)
                throw FFmpegException("avcodec_parameters_to_context failed");
            decoder->pkt_timebase = stream->time_base;
            decoder->thread_count = ThreadCount;
            if (type == AVMEDIA_TYPE_VIDEO)
                ApplyGenericOptions(decoder.get(), CodecTemplate(type), codec,
                                    OptionMaskInputVideo);
            else if (type == AVMEDIA_TYPE_AUDIO)
                ApplyGenericOptions(decoder.get(), CodecTemplate(type), codec,
                                    OptionMaskInputAudio);
        }

        // The picture facts of the option state come from the file's video: its first stream
        // that is not a cover picture.
        if (type == AVMEDIA_TYPE_VIDEO && static_cast<int>(i) == pictureStream) {
            AVCodecContext* dec = decoder.get();
            // "Original" is the picture as it is shown: a display matrix that turns it on its
            // side swaps width and height.
            const bool sideways = TurnSwapsSides(DisplayTurn(stream));
            const int width = sideways ? par->height : par->width;
            const int height = sideways ? par->width : par->height;
            FrameWidth = width;
            FrameHeight = height;
            AVRational sar = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio
                                                             : par->sample_aspect_ratio;
            if (sar.num && sideways)
                sar = AVRational{sar.den, sar.num};
            if (sar.num && width && height)
                FrameAspectRatio = static_cast<float>(av_q2d(sar) * width / height);
            else if (width && height)
                FrameAspectRatio = static_cast<float>(width) / static_cast<float>(height);
            else
                FrameAspectRatio = 4.0f / 3.0f;
            FramePixFmt = static_cast<AVPixelFormat>(par->format);
            if (dec->lowres > 0) {
                FrameWidth >>= dec->lowres;
                FrameHeight >>= dec->lowres;
            }
            AVRational rate = stream->r_frame_rate;
            AVRational codecRate = dec->framerate;
            if (Verbose >= 0 && rate.num && codecRate.num && av_cmp_q(rate, codecRate) != 0)
                LogV(llInfo,
                     FormatText("Seems stream %d codec frame rate differs from container frame "
                                "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                                static_cast<int>(i), av_q2d(codecRate), codecRate.num,
                                codecRate.den, av_q2d(rate), rate.num, rate.den));
            if (rate.num && rate.den)
                FrameRate = rate;
        }
        if (type == AVMEDIA_TYPE_VIDEO) {
            if (VideoDisable)
                stream->discard = AVDISCARD_ALL;
            else if (VideoDiscard)
                stream->discard = static_cast<AVDiscard>(VideoDiscard);
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            AudioChannels = par->ch_layout.nb_channels;
            AudioChannelLayout =
                par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
            AudioSampleRate = par->sample_rate;
            AudioSampleFmt = static_cast<AVSampleFormat>(par->format);
            if (decoder && decoder->lowres > 0)
                AudioSampleRate >>= decoder->lowres;
            if (AudioDisable)
                stream->discard = AVDISCARD_ALL;
        } else if (type == AVMEDIA_TYPE_SUBTITLE) {
            if (SubtitleDisable)
                stream->discard = AVDISCARD_ALL;
        }
        input.Decoders.push_back(std::move(decoder));
    }
}

std::vector<AVRational> TCustomFFmpeg::InputVideoFrameRates() const {
    std::vector<AVRational> rates;
    for (const auto& input : Inputs)
        for (unsigned i = 0; i < input->Context->nb_streams; ++i) {
            const AVStream* stream = input->Context->streams[i];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                rates.push_back(stream->r_frame_rate);
        }
    return rates;
}

AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
    return index >= 0 && index < InputCount() ? Inputs[index]->Context.get() : nullptr;
}

AVFormatContext* TCustomFFmpeg::OutputContext(int index) const {
    return index >= 0 && index < OutputCount() ? Outputs[index]->Context.get() : nullptr;
}

// -- outputs -----------------------------------------------------------------------------

bool TOutputFile::WritesFile() const {
    return Context && Context->oformat && !(Context->oformat->flags & AVFMT_NOFILE);
}

int TCustomFFmpeg::OpenOutput(const std::string& fileName, bool join) {
    if (JoinMode) {
        OpenError = "Cannot join more than one output file.";
        return -1;
    }
    if (static_cast<int>(Outputs.size()) >= MaxFiles) {
        OpenError = FormatText("max output files %d reached", MaxFiles);
        return -1;
    }
    const std::string libraryName = ToLibraryFileName(fileName);
    const AVOutputFormat* format = nullptr;
    if (!FileFormat.empty()) {
        format = ff::av_guess_format(FileFormat.c_str(), nullptr, nullptr);
        if (!format) {
            OpenError = FormatText("Requested output format '%s' is not a suitable output format",
                                   FileFormat.c_str());
            return -1;
        }
        FileFormat.clear();
    } else {
        format = ff::av_guess_format(nullptr, FromLibraryFileName(libraryName).c_str(), nullptr);
        if (!format) {
            OpenError =
                FormatText("Unable to find a suitable output format for '%s'", fileName.c_str());
            return -1;
        }
    }
    AVFormatContext* context = nullptr;
    if (ff::avformat_alloc_output_context2(&context, format, nullptr, libraryName.c_str()) < 0 ||
        !context)
        throw FFmpegException("avformat_alloc_context failed");
    // Owned here until the output entry takes it; the entry frees it when it is dropped.
    TOutputContextPtr owned(context);

    // Which kinds of stream: those the format or the options ask for, and that some input has.
    bool useVideo = (format->video_codec != AV_CODEC_ID_NONE && !IsCoverPictureMuxer(format)) ||
                    !VideoCodecName.empty() || VideoStreamCopy;
    bool useAudio =
        format->audio_codec != AV_CODEC_ID_NONE || !AudioCodecName.empty() || AudioStreamCopy;
    bool useSubtitle = format->subtitle_codec != AV_CODEC_ID_NONE || !SubtitleCodecName.empty() ||
                       SubtitleStreamCopy;
    const bool wantsAudio = useAudio && !AudioStreamCopy;
    if (!Inputs.empty()) {
        bool hasVideo = false, hasAudio = false, hasSubtitle = false;
        for (const auto& input : Inputs) {
            for (unsigned i = 0; i < input->Context->nb_streams; ++i) {
                switch (input->Context->streams[i]->codecpar->codec_type) {
                case AVMEDIA_TYPE_VIDEO:
                    if (!IsCoverPicture(input->Context->streams[i]))
                        hasVideo = true;
                    break;
                case AVMEDIA_TYPE_AUDIO:
                    hasAudio = true;
                    break;
                case AVMEDIA_TYPE_SUBTITLE:
                    hasSubtitle = true;
                    break;
                case AVMEDIA_TYPE_UNKNOWN:
                case AVMEDIA_TYPE_DATA:
                case AVMEDIA_TYPE_ATTACHMENT:
                    break;
                default:
                    OpenError =
                        "check_audio_video_sub_inputs fail: invalid codec_type of input file";
                    return -1;
                }
            }
            // A join takes every kind some input has: the inputs without it get black
            // pictures or silence for their stretch.
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    useVideo = useVideo && !VideoDisable;
    useAudio = useAudio && !AudioDisable;
    useSubtitle = useSubtitle && !SubtitleDisable;
    const bool fillAudio =
        !useAudio && wantsAudio && !AudioDisable && useVideo && NeedsBothKinds(format);
    useAudio = useAudio || fillAudio;

    auto output = std::make_unique<TOutputFile>();
    output->Context = std::move(owned);
    output->FileName = fileName;
    const int outputIndex = static_cast<int>(Outputs.size());
    Outputs.push_back(std::move(output));
    auto unregister = [&]() {
        Outputs.pop_back();
        return -1;
    };

    const struct {
        bool Use;
        void (TCustomFFmpeg::*Create)(AVFormatContext*, int);
        const char* Text;
    } kinds[] = {
        {useVideo, &TCustomFFmpeg::NewVideoStream, "new_video_stream fail: %s"},
        {useAudio, &TCustomFFmpeg::NewAudioStream, "new_audio_stream fail: %s"},
        {useSubtitle, &TCustomFFmpeg::NewSubtitleStream, "new_subtitle_stream fail: %s"},
    };
    for (const auto& kind : kinds) {
        if (!kind.Use)
            continue;
        try {
            (this->*kind.Create)(context, outputIndex);
        } catch (const std::exception& e) {
            OpenError = FormatText(kind.Text, e.what());
            return unregister();
        }
    }
    if (fillAudio) {
        for (auto& ost : Outputs[outputIndex]->Streams)
            if (ost->Type() == AVMEDIA_TYPE_AUDIO)
                ost->Filler = true;
        LogV(llInfo, FormatText("No input has sound: %s gets a silent audio track (its format "
                                "needs one)",
                                fileName.c_str()));
    }

    // An audio file keeps the cover of its (first) input where its container stores one, as
    // it keeps its tags. Joined outputs take none: the cover would belong to one input only.
    if (!useVideo && !VideoStreamCopy && !(join && Inputs.size() > 1) && CarriesCoverArt(format) &&
        !Inputs.empty()) {
        const int cover = FirstCoverPicture(Inputs[0]->Context.get());
        if (cover >= 0 && Inputs[0]->Context->streams[cover]->discard != AVDISCARD_ALL) {
            try {
                NewCoverStream(context, outputIndex);
            } catch (const std::exception& e) {
                OpenError = FormatText("new_video_stream fail: %s", e.what());
                return unregister();
            }
        }
    }

    if (RecordingTimestamp)
        ff::av_dict_set(&context->metadata, "creation_time",
                        CreationTimeText(RecordingTimestamp).c_str(), 0);
    if (MetadataTags)
        ff::av_dict_copy(&context->metadata, MetadataTags, 0);

    if ((format->flags & AVFMT_NEEDNUMBER) &&
        !ff::av_filename_number_test(FromLibraryFileName(libraryName).c_str())) {
        OpenError = ErrorText(fileName, AVERROR(EDOM));
        return unregister();
    }

    if (!(format->flags & AVFMT_NOFILE)) {
        const TInterruptCallback timeoutCheck =
            MakeInterruptCallback<&TCustomFFmpeg::TimeoutCheck>(this);
        const uint32_t thread = CurrentThreadId();
        if (InterruptRegistry())
            InterruptRegistry()->AddCallback(thread, timeoutCheck, this);
        IoStart = ff::av_gettime();
        int result = OpenOutputFile(context, libraryName, nullptr);
        IoStart = IoIdle;
        if (InterruptRegistry())
            InterruptRegistry()->RemoveCallback(thread, timeoutCheck, this);
        if (result < 0) {
            OpenError = ErrorText(fileName, result);
            return unregister();
        }
    }

    context->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
    if (context->priv_data) {
        if (ff::av_opt_find(context->priv_data, "preload", nullptr, 0, 0))
            ff::av_opt_set_int(context->priv_data, "preload",
                               static_cast<int64_t>(MuxPreload * 1000000), 0);
        if (ff::av_opt_find(context->priv_data, "loop", nullptr, 0, 0))
            ff::av_opt_set_int(context->priv_data, "loop", LoopOutput, 0);
    }
    context->flags |= AVFMT_FLAG_NONBLOCK;
    ApplyGenericOptions(context, FormatTemplate(), nullptr, OptionMaskOutputContainer);
    // The stream options given for this output are used up, also those of a kind it did not
    // get.
    ConsumeVideoStreamOptions();
    ConsumeAudioStreamOptions();
    ConsumeSubtitleStreamOptions();
    ConsumeOutputOptions();

    if (join && Inputs.size() > 1)
        JoinMode = true;
    return static_cast<int>(Outputs.size());
}

void TCustomFFmpeg::NewOutputStream(AVMediaType type) {
    if (Outputs.empty())
        throw FFmpegException("At least one output file must be specified");
    AVFormatContext* context = Outputs.back()->Context.get();
    const int index = static_cast<int>(Outputs.size()) - 1;
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        NewVideoStream(context, index);
        break;
    case AVMEDIA_TYPE_AUDIO:
        NewAudioStream(context, index);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        NewSubtitleStream(context, index);
        break;
    default:
        throw FFmpegException("invalid codec_type");
    }
}

void TCustomFFmpeg::SetupJoin() {
    // The output runs as long as all inputs together. The output streams keep one set of
    // encoders for the whole run; at the start of the run every output stream is paired with
    // one stream of each input (MapStreams), and the read loop moves from one input to the
    // next, shifting the timestamps of each by the end reached before it.
    int64_t sum = 0;
    for (const auto& input : Inputs)
        if (input->Context->duration != AV_NOPTS_VALUE && input->Context->duration > 0)
            sum += input->Context->duration;
    TotalDuration = sum > 0 ? sum : -1;
}

// -- output streams ----------------------------------------------------------------------

const AVCodec* TCustomFFmpeg::ChooseEncoder(AVFormatContext* context, AVMediaType type,
                                            const std::string& codecName) {
    if (!codecName.empty())
        return FindCodecByName(InstalledEncoderName(codecName), type, true);
    AVCodecID id = ff::av_guess_codec(context->oformat, nullptr, context->url, nullptr, type);
    id = InstalledDefaultCodec(context->oformat, type, id);
    return id == AV_CODEC_ID_NONE ? nullptr : ff::avcodec_find_encoder(id);
}

TOutputStream& TCustomFFmpeg::AddOutputStream(AVFormatContext* context, int outputIndex,
                                              AVMediaType type, const AVCodec* codec) {
    const int index = static_cast<int>(context->nb_streams);
    AVStream* stream = ff::avformat_new_stream(context, nullptr);
    if (!stream)
        throw FFmpegException("Could not alloc stream");
    if (index < static_cast<int>(StreamIdMap.size()) && StreamIdMap[index])
        stream->id = StreamIdMap[index];
    auto ost = std::make_unique<TOutputStream>();
    ost->FileIndex = outputIndex;
    ost->Index = index;
    ost->Stream = stream;
    ost->EncoderChoice = codec;
    ost->Encoder.reset(ff::avcodec_alloc_context3(codec));
    if (!ost->Encoder)
        throw FFmpegException("Could not alloc output stream");
    ost->Encoder->codec_type = type;
    ost->Encoder->thread_count = ThreadCount;
    TOutputStream& result = *ost;
    Outputs[outputIndex]->Streams.push_back(std::move(ost));
    return result;
}

void TCustomFFmpeg::SetGlobalHeader(AVCodecContext* encoder, AVFormatContext* context, bool video) {
    AVCodecContext* videoTemplate = CodecTemplate(AVMEDIA_TYPE_VIDEO);
    bool global = context->oformat->flags & AVFMT_GLOBALHEADER;
    if (video) {
        if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && global)) {
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (videoTemplate)
                videoTemplate->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (VideoGlobalHeader & 2) {
            encoder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
            if (videoTemplate)
                videoTemplate->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        }
    } else if (global) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
}

void TCustomFFmpeg::FitPictureSize(AVFormatContext* context, const AVCodec* codec,
                                   AVCodecContext* enc) {
    if (enc->width <= 0 || enc->height <= 0)
        return;
    const int askedWidth = enc->width, askedHeight = enc->height;
    int width = askedWidth, height = askedHeight;
    const bool rm = std::string_view(context->oformat->name) == "rm";
    // The RM muxer refuses packets over 64 KB. A big picture is made smaller (its key
    // pictures would not fit even at the coarsest quantiser), and the encoder's buffer keeps
    // every encoded picture below the limit.
    if (rm && static_cast<int64_t>(width) * height > RmMaxPictureArea) {
        const double scale = std::sqrt(static_cast<double>(RmMaxPictureArea) /
                                       (static_cast<double>(width) * height));
        width = std::max(1, static_cast<int>(width * scale));
        height = std::max(1, static_cast<int>(height * scale));
        LogV(llInfo, FormatText("The RM container holds pictures of at most 64 KB: picture size "
                                "%dx%d reduced to %dx%d",
                                askedWidth, askedHeight, width, height));
    }
    if (codec) {
        const int alignedFromWidth = width, alignedFromHeight = height;
        if (AlignPictureSize(codec->id, enc->pix_fmt, width, height))
            LogV(llInfo,
                 FormatText("Picture size %dx%d brought to %dx%d for the %s encoder",
                            alignedFromWidth, alignedFromHeight, width, height, codec->name));
    }
    if (rm) {
        const int limit = RmMaxPacketBytes * 8;
        if (enc->rc_buffer_size <= 0 || enc->rc_buffer_size > limit) {
            // The buffer may fill again within one picture's time: it bounds each picture,
            // not the rate.
            const double fps = enc->time_base.num > 0 ? 1.0 / av_q2d(enc->time_base) : 25.0;
            enc->rc_buffer_size = limit;
            enc->rc_max_rate =
                std::max<int64_t>(enc->rc_max_rate, static_cast<int64_t>(limit * fps));
            LogV(llInfo, FormatText("The RM container holds pictures of at most 64 KB: encoded "
                                    "pictures bounded to %d bytes",
                                    RmMaxPacketBytes));
        }
    }
    enc->width = width;
    enc->height = height;
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext* context, int outputIndex) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!VideoStreamCopy) {
        codec = ChooseEncoder(context, AVMEDIA_TYPE_VIDEO, VideoCodecName);
        id = codec ? codec->id
                   : ff::av_guess_codec(context->oformat, nullptr, context->url, nullptr,
                                        AVMEDIA_TYPE_VIDEO);
    }
    TOutputStream& ost = AddOutputStream(context, outputIndex, AVMEDIA_TYPE_VIDEO, codec);
    AVCodecContext* enc = ost.Encoder.get();
    AVStream* stream = ost.Stream;
    ost.FilterEntries = std::move(VideoBitstreamFilters);
    VideoBitstreamFilters.clear();
    if (VideoCodecTag)
        enc->codec_tag = VideoCodecTag;
    SetGlobalHeader(enc, context, true);

    // The pixel shape that shows a picture of that size at the option state's aspect ratio.
    auto aspectRatio = [&](const AVCodecContext* size) {
        const int width = size ? size->width : FrameWidth;
        const int height = size ? size->height : FrameHeight;
        double aspect = FrameAspectRatio;
        double value =
            width * height == 0 ? aspect * 3.0 / 4.0 : aspect * height / static_cast<double>(width);
        return ff::av_d2q(value, 255);
    };

    if (VideoStreamCopy) {
        ost.StreamCopy = true;
        enc->sample_aspect_ratio = stream->sample_aspect_ratio = aspectRatio(nullptr);
    } else {
        AVRational rate = (FrameRate.num > 0 && FrameRate.den > 0) ? FrameRate : AVRational{25, 1};
        enc->codec_id = id;
        ApplyGenericOptions(enc, CodecTemplate(AVMEDIA_TYPE_VIDEO), codec, OptionMaskOutputVideo);
        if (codec && codec->supported_framerates && !ForceFps)
            rate = codec->supported_framerates[ff::av_find_nearest_q_idx(
                rate, codec->supported_framerates)];
        enc->time_base = AVRational{rate.den, rate.num};
        enc->framerate = rate;
        enc->pix_fmt = CheckPixelFormat(codec, enc, FramePixFmt);
        enc->width = FrameWidth;
        enc->height = FrameHeight;
        FitPictureSize(context, codec, enc);
        enc->sample_aspect_ratio = stream->sample_aspect_ratio = aspectRatio(enc);
        if (IntraOnly)
            enc->gop_size = 0;
        if (VideoQScale != 0 || SameQuality) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * VideoQScale);
        }
        auto copyMatrix = [](const std::optional<TQuantMatrix>& matrix) -> uint16_t* {
            if (!matrix)
                return nullptr;
            auto* copy = static_cast<uint16_t*>(ff::av_malloc(sizeof(uint16_t) * 64));
            if (copy)
                std::copy(matrix->begin(), matrix->end(), copy);
            return copy;
        };
        enc->intra_matrix = copyMatrix(IntraMatrix);
        enc->inter_matrix = copyMatrix(InterMatrix);
        SetRcOverride(enc, VideoRcOverride);
        if (enc->rc_initial_buffer_occupancy == 0)
            enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
        enc->intra_dc_precision = IntraDcPrecision - 8;
        if (DoPsnr)
            enc->flags |= AV_CODEC_FLAG_PSNR;
        if (DoPass == 1)
            enc->flags |= AV_CODEC_FLAG_PASS1;
        else if (DoPass == 2)
            enc->flags |= AV_CODEC_FLAG_PASS2;
        if (!ForcedKeyFrames.empty()) {
            for (int64_t time : ParseForcedKeyFrames(ForcedKeyFrames))
                ost.ForcedKeyFrames.push_back(
                    ff::av_rescale_q(time, AV_TIME_BASE_Q, enc->time_base));
            std::sort(ost.ForcedKeyFrames.begin(), ost.ForcedKeyFrames.end());
        }
    }
    if (!VideoLanguage.empty())
        ff::av_dict_set(&stream->metadata, "language", VideoLanguage.c_str(), 0);
    ConsumeVideoStreamOptions();
}

void TCustomFFmpeg::NewCoverStream(AVFormatContext* context, int outputIndex) {
    // The picture is copied as it is; stream mapping pairs it with the input's cover.
    TOutputStream& ost = AddOutputStream(context, outputIndex, AVMEDIA_TYPE_VIDEO, nullptr);
    ost.StreamCopy = true;
    ost.Cover = true;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* context, int outputIndex) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!AudioStreamCopy) {
        codec = ChooseEncoder(context, AVMEDIA_TYPE_AUDIO, AudioCodecName);
        id = codec
                 ? codec->id
                 : InstalledDefaultCodec(context->oformat, AVMEDIA_TYPE_AUDIO,
                                         ff::av_guess_codec(context->oformat, nullptr, context->url,
                                                            nullptr, AVMEDIA_TYPE_AUDIO));
    }
    TOutputStream& ost = AddOutputStream(context, outputIndex, AVMEDIA_TYPE_AUDIO, codec);
    AVCodecContext* enc = ost.Encoder.get();
    ost.FilterEntries = std::move(AudioBitstreamFilters);
    AudioBitstreamFilters.clear();
    if (AudioCodecTag)
        enc->codec_tag = AudioCodecTag;
    SetGlobalHeader(enc, context, false);

    ff::av_channel_layout_uninit(&enc->ch_layout);
    if (AudioChannelLayout && std::popcount(AudioChannelLayout) == AudioChannels)
        ff::av_channel_layout_from_mask(&enc->ch_layout, AudioChannelLayout);
    else
        ff::av_channel_layout_default(&enc->ch_layout, AudioChannels);
    enc->sample_rate = AudioSampleRate;

    if (AudioStreamCopy) {
        ost.StreamCopy = true;
    } else {
        enc->codec_id = id;
        ApplyGenericOptions(enc, CodecTemplate(AVMEDIA_TYPE_AUDIO), codec, OptionMaskOutputAudio);
        if (AudioQScale > -99999) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * AudioQScale);
        }
        enc->sample_fmt = CheckSampleFormat(codec, AudioSampleFmt);
        if (codec && codec->supported_samplerates && codec->supported_samplerates[0]) {
            int best = codec->supported_samplerates[0];
            for (const int* r = codec->supported_samplerates; *r; ++r)
                if (std::abs(*r - AudioSampleRate) < std::abs(best - AudioSampleRate))
                    best = *r;
            if (best != AudioSampleRate)
                LogV(llWarning,
                     FormatText("Requested sampling rate unsupported using closest supported (%d)",
                                best));
            enc->sample_rate = best;
        }
    }
    enc->time_base = AVRational{1, enc->sample_rate > 0 ? enc->sample_rate : AudioSampleRate};
    if (!AudioLanguage.empty())
        ff::av_dict_set(&ost.Stream->metadata, "language", AudioLanguage.c_str(), 0);
    ConsumeAudioStreamOptions();
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* context, int outputIndex) {
    const AVCodec* codec = nullptr;
    if (!SubtitleStreamCopy)
        codec = ChooseEncoder(context, AVMEDIA_TYPE_SUBTITLE, SubtitleCodecName);
    TOutputStream& ost = AddOutputStream(context, outputIndex, AVMEDIA_TYPE_SUBTITLE, codec);
    AVCodecContext* enc = ost.Encoder.get();
    ost.FilterEntries = std::move(SubtitleBitstreamFilters);
    SubtitleBitstreamFilters.clear();
    if (SubtitleCodecTag)
        enc->codec_tag = SubtitleCodecTag;
    SetGlobalHeader(enc, context, false);
    if (SubtitleStreamCopy) {
        ost.StreamCopy = true;
    } else {
        if (codec)
            enc->codec_id = codec->id;
        enc->time_base = AV_TIME_BASE_Q; // subtitle times are handed over in microseconds
        ApplyGenericOptions(enc, CodecTemplate(AVMEDIA_TYPE_SUBTITLE), codec,
                            OptionMaskOutputSubtitle);
    }
    if (!SubtitleLanguage.empty())
        ff::av_dict_set(&ost.Stream->metadata, "language", SubtitleLanguage.c_str(), 0);
    ConsumeSubtitleStreamOptions();
}

// -- stream mapping ----------------------------------------------------------------------

void TCustomFFmpeg::MapStreams() {
    for (size_t f = 0; f < Outputs.size(); ++f) {
        const TOutputFile& output = *Outputs[f];
        if (output.Streams.empty() && !(output.Context->oformat->flags & AVFMT_NOSTREAMS)) {
            ff::av_dump_format(output.Context.get(), static_cast<int>(f), output.FileName.c_str(), 1);
            throw FFmpegException(
                FormatText("Output file #%d does not contain any stream", static_cast<int>(f)));
        }
        for (const auto& ost : output.Streams)
            OutputStreams.push_back(ost.get());
    }

    auto findStream = [&](int file, int stream) -> TInputStream* {
        if (file < 0 || file >= InputCount() || stream < 0 || stream >= Inputs[file]->StreamCount)
            return nullptr;
        return InputStreams[Inputs[file]->FirstStream + stream].get();
    };
    if (!StreamMaps.empty()) {
        if (StreamMaps.size() != OutputStreams.size())
            throw FFmpegException("Number of stream maps must match number of output streams");
        for (const TStreamMap& map : StreamMaps) {
            if (!findStream(map.FileIndex, map.StreamIndex))
                throw FFmpegException(FormatText("Could not find input stream #%d.%d",
                                                 map.FileIndex, map.StreamIndex));
            if (!findStream(map.SyncFileIndex, map.SyncStreamIndex))
                throw FFmpegException(FormatText("Could not find sync stream #%d.%d",
                                                 map.SyncFileIndex, map.SyncStreamIndex));
        }
    }

    auto inProgram = [&](const TInputStream& ist) {
        if (!ProgramID)
            return true;
        AVFormatContext* ic = Inputs[ist.FileIndex]->Context.get();
        for (unsigned p = 0; p < ic->nb_programs; ++p) {
            const AVProgram* program = ic->programs[p];
            if (program->id != ProgramID)
                continue;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
                if (static_cast<int>(program->stream_index[k]) == ist.StreamIndex)
                    return true;
        }
        return false;
    };

    // A cover picture only feeds a cover stream, and a cover stream only a cover picture.
    auto sameKind = [](const TOutputStream& ost, const TInputStream& ist) {
        return ist.Stream->codecpar->codec_type == ost.Type() &&
               (ost.Type() != AVMEDIA_TYPE_VIDEO || IsCoverPicture(ist.Stream) == ost.Cover);
    };
    // Among the unused streams of the same kind (of input `group` when joining): for video
    // the first one, the stream whose picture facts the option state took; otherwise the one
    // the probe liked best: the library's choice of the best stream of that kind when it is
    // a candidate, else the candidate with the most frames known.
    auto pickSource = [&](const TOutputStream& ost, int group) -> TInputStream* {
        const AVMediaType type = ost.Type();
        TInputStream* source = nullptr;
        std::vector<TInputStream*> candidates;
        for (const auto& ist : InputStreams)
            if (ist->Unused && ist->Stream->discard != AVDISCARD_ALL && sameKind(ost, *ist) &&
                inProgram(*ist) && (group < 0 || ist->FileIndex == group))
                candidates.push_back(ist.get());
        if (type == AVMEDIA_TYPE_VIDEO && !candidates.empty())
            return candidates.front();
        for (TInputStream* candidate : candidates) {
            AVFormatContext* ic = Inputs[candidate->FileIndex]->Context.get();
            int best = ff::av_find_best_stream(ic, type, -1, -1, nullptr, 0);
            if (best == candidate->StreamIndex) {
                source = candidate;
                break;
            }
        }
        if (!source)
            for (TInputStream* candidate : candidates)
                if (!source || candidate->Stream->nb_frames > source->Stream->nb_frames)
                    source = candidate;
        if (!source && !ProgramID && !JoinMode)
            for (const auto& ist : InputStreams)
                if (ist->Stream->discard != AVDISCARD_ALL && sameKind(ost, *ist))
                    source = ist.get();
        return source;
    };

    for (size_t i = 0; i < OutputStreams.size(); ++i) {
        TOutputStream& ost = *OutputStreams[i];
        const AVMediaType type = ost.Type();
        const TOutputFile& output = *Outputs[ost.FileIndex];
        TInputStream* source = nullptr;
        TInputStream* sync = nullptr;
        if (!StreamMaps.empty()) {
            const TStreamMap& map = StreamMaps[i];
            source = findStream(map.FileIndex, map.StreamIndex);
            sync = findStream(map.SyncFileIndex, map.SyncStreamIndex);
            if (source->Stream->codecpar->codec_type != type) {
                ff::av_dump_format(output.Context.get(), ost.FileIndex, output.FileName.c_str(), 1);
                throw FFmpegException(FormatText(
                    "Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.FileIndex,
                    map.StreamIndex, MediaTypeName(source->Stream->codecpar->codec_type).c_str(),
                    ost.FileIndex, ost.Index, MediaTypeName(type).c_str()));
            }
        } else {
            source = pickSource(ost, JoinMode ? 0 : -1);
            // A join's first input may lack the kind (later ones have it), and a stream the
            // muxer demands is made of silence: neither has a source here.
            if (!source && !JoinMode && !ost.Filler) {
                ff::av_dump_format(output.Context.get(), ost.FileIndex, output.FileName.c_str(), 1);
                throw FFmpegException(FormatText("No input has a %s stream for output stream "
                                                 "#%d.%d",
                                                 LowerMediaTypeName(type).c_str(), ost.FileIndex,
                                                 ost.Index));
            }
            sync = source;
        }
        ost.Source = source;
        ost.SyncSource = sync;
        ost.Report = !ost.Cover; // one picture says nothing of the progress
        if (source) {
            source->Unused = false;
            source->Outputs.push_back(&ost);
        }
    }
    // Joining: every further input feeds each output stream with its own stream of the same
    // kind, taken as for the first input; for an input without one the stream gets black
    // pictures or silence for that input's length.
    if (JoinMode)
        for (TOutputStream* ost : OutputStreams) {
            ost->JoinSources.assign(1, ost->Source);
            for (int k = 1; k < InputCount(); ++k) {
                TInputStream* source = pickSource(*ost, k);
                if (source) {
                    source->Unused = false;
                    source->Outputs.push_back(ost);
                }
                ost->JoinSources.push_back(source);
            }
        }
    HasFillers = false;
    for (TOutputStream* ost : OutputStreams) {
        const TInputStream* reference = ost->Source;
        for (const TInputStream* joined : ost->JoinSources)
            if (!reference)
                reference = joined;
        if (!reference && !ost->Filler) {
            const TOutputFile& output = *Outputs[ost->FileIndex];
            ff::av_dump_format(output.Context.get(), ost->FileIndex, output.FileName.c_str(), 1);
            throw FFmpegException(FormatText("None of the joined files has a %s stream for output "
                                             "stream #%d.%d",
                                             LowerMediaTypeName(ost->Type()).c_str(),
                                             ost->FileIndex, ost->Index));
        }
        if (ost->StreamCopy && reference != ost->Source)
            throw FFmpegException(
                FormatText("%s has no %s stream: a stream copied from the others cannot be filled",
                           Inputs[0]->FileName.c_str(), LowerMediaTypeName(ost->Type()).c_str()));
        if (ost->StreamCopy)
            for (size_t k = 0; k < ost->JoinSources.size(); ++k)
                if (!ost->JoinSources[k])
                    throw FFmpegException(FormatText(
                        "%s has no %s stream: a stream copied from the others cannot be filled",
                        Inputs[k]->FileName.c_str(), LowerMediaTypeName(ost->Type()).c_str()));
        HasFillers = HasFillers || !ost->Source ||
                     std::find(ost->JoinSources.begin(), ost->JoinSources.end(), nullptr) !=
                         ost->JoinSources.end();
        if (reference) {
            AVStream* out = ost->Stream;
            const AVStream* in = reference->Stream;
            if (MetadataStreamsAutoCopy)
                ff::av_dict_copy(&out->metadata, in->metadata, AV_DICT_DONT_OVERWRITE);
            out->disposition = in->disposition;
            if (ost->Cover)
                out->disposition |= AV_DISPOSITION_ATTACHED_PIC;
            // Pictures turned upright carry no turn of their own.
            if (!ost->StreamCopy && DisplayTurn(in) != ptNone)
                ff::av_dict_set(&out->metadata, "rotate", nullptr, 0);
            ost->Encoder->bits_per_raw_sample = in->codecpar->bits_per_raw_sample;
            ost->Encoder->chroma_sample_location = in->codecpar->chroma_location;
        }
        SetUpOutputStream(*ost);
    }
}

// -- metadata and chapters -----------------------------------------------------------------

void TCustomFFmpeg::ApplyMetadataMaps() {
    // The tag set one side of a map names; raises for an index outside its file.
    auto slot = [this](AVFormatContext* context, const TMetadataMapSide& side) -> AVDictionary** {
        auto invalid = [this](const char* kind, int index) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", kind, index);
            LogV(llError, text);
            Fail(text);
        };
        const int index = side.Index;
        switch (side.Type) {
        case 's':
            if (index < 0 || index >= static_cast<int>(context->nb_streams))
                invalid("stream", index);
            return &context->streams[index]->metadata;
        case 'c':
            if (index < 0 || index >= static_cast<int>(context->nb_chapters))
                invalid("chapter", index);
            return &context->chapters[index]->metadata;
        case 'p':
            if (index < 0 || index >= static_cast<int>(context->nb_programs))
                invalid("program", index);
            return &context->programs[index]->metadata;
        default:
            return &context->metadata;
        }
    };
    for (const TMetadataMap& map : MetadataMaps) {
        if (map.Output.FileIndex < 0 || map.Output.FileIndex >= OutputCount()) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", "output file",
                           map.Output.FileIndex);
            LogV(llError, text);
            Fail(text);
        }
        // A negative input only keeps the automatic copying away from the output.
        if (map.Input.FileIndex < 0)
            continue;
        if (map.Input.FileIndex >= InputCount()) {
            const std::string text =
                FormatText("Invalid %s index %d while processing metadata maps", "input file",
                           map.Input.FileIndex);
            LogV(llError, text);
            Fail(text);
        }
        AVDictionary** target = slot(Outputs[map.Output.FileIndex]->Context.get(), map.Output);
        AVDictionary** source = slot(Inputs[map.Input.FileIndex]->Context.get(), map.Input);
        ff::av_dict_copy(target, *source, AV_DICT_DONT_OVERWRITE);
    }
    if (MetadataGlobalAutoCopy && !Inputs.empty())
        for (auto& output : Outputs)
            ff::av_dict_copy(&output->Context->metadata, Inputs[0]->Context->metadata,
                             AV_DICT_DONT_OVERWRITE);

    for (const TChapterMap& map : ChapterMaps) {
        if (map.InputFile < 0 || map.InputFile >= InputCount()) {
            const std::string text =
                FormatText("Invalid input file index %d in chapter mapping.", map.InputFile);
            LogV(llError, text);
            Fail(text);
        }
        if (map.OutputFile < 0 || map.OutputFile >= OutputCount()) {
            const std::string text =
                FormatText("Invalid output file index %d in chapter mapping.", map.OutputFile);
            LogV(llError, text);
            Fail(text);
        }
        CopyChapters(map.InputFile, map.OutputFile);
    }
    if (ChapterMaps.empty())
        for (int i = 0; i < InputCount(); ++i) {
            if (!Inputs[i]->Context->nb_chapters)
                continue;
            for (int o = 0; o < OutputCount(); ++o)
                CopyChapters(i, o);
            break;
        }
}

void TCustomFFmpeg::CopyChapters(int inputIndex, int outputIndex) {
    const TInputFile& input = *Inputs[inputIndex];
    AVFormatContext* is = input.Context.get();
    AVFormatContext* os = Outputs[outputIndex]->Context.get();
    for (unsigned i = 0; i < is->nb_chapters; ++i) {
        const AVChapter* in = is->chapters[i];
        // The output starts at the start position of the input's own time line and lasts the
        // recording time.
        const int64_t offset =
            ff::av_rescale_q(StartTime - input.TsOffset, AV_TIME_BASE_Q, in->time_base);
        const int64_t limit = RecordingTime == INT64_MAX
                                  ? INT64_MAX
                                  : ff::av_rescale_q(RecordingTime, AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset)
            continue;
        if (limit != INT64_MAX && in->start > offset + limit)
            break;
        auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
        if (!out)
            Fail("av_mallocz fail");
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min(limit, in->end - offset);
        if (MetadataChaptersAutoCopy)
            ff::av_dict_copy(&out->metadata, in->metadata, 0);
        auto** chapters = static_cast<AVChapter**>(
            ff::av_realloc_array(os->chapters, os->nb_chapters + 1, sizeof(AVChapter*)));
        if (!chapters) {
            ff::av_dict_free(&out->metadata);
            ff::av_free(out);
            Fail("av_realloc fail");
        }
        os->chapters = chapters;
        os->chapters[os->nb_chapters++] = out;
    }
}

} // namespace cw
