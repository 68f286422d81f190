// The input side of a job: opening inputs, their streams and decoders, the input stream
// table of a run, the timestamps of every packet read, and decoding.
#include "engine/InputFiles.h"

#include "engine/CodecLock.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/JobPipeline.h"
#include "engine/OptionParsers.h"
#include "engine/OutputFiles.h"
#include "engine/StreamCopy.h"
#include "engine/StreamFacts.h"
#include "engine/SubtitlePath.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"
#include "engine/UnicodeIO.h"
#include "engine/VideoPath.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace cw {

bool TInputFiles::OpenInput(const std::string& fileName, TTranscoderOptions& options) {
    if (static_cast<int>(Inputs.size()) >= Ctx.MaxFiles) {
        Ctx.OpenError = FormatText("max input files %d reached", Ctx.MaxFiles);
        return false;
    }
    const AVInputFormat* format = nullptr;
    if (!options.FileFormat.empty()) {
        format = ff::av_find_input_format(options.FileFormat.c_str());
        if (!format)
            throw FFmpegException(
                FormatText("Unknown input format: \"%s\"", options.FileFormat.c_str()));
        options.FileFormat.clear();
    }
    TInputContextPtr context(ff::avformat_alloc_context());
    if (!context)
        throw FFmpegException("avformat_alloc_context failed");

    // What raw and capture demuxers cannot find out themselves.
    TDictionaryPtr parameters;
    SetDictionaryEntry(parameters, "sample_rate", std::to_string(options.AudioSampleRate).c_str());
    SetDictionaryEntry(parameters, "channels", std::to_string(options.AudioChannels).c_str());
    if (options.FrameRate.num > 0 && options.FrameRate.den > 0)
        SetDictionaryEntry(
            parameters, "framerate",
            FormatText("%d/%d", options.FrameRate.num, options.FrameRate.den).c_str());
    if (options.FrameWidth > 0 && options.FrameHeight > 0)
        SetDictionaryEntry(parameters, "video_size",
                           FormatText("%dx%d", options.FrameWidth, options.FrameHeight).c_str());
    if (options.FramePixFmt != AV_PIX_FMT_NONE && ff::av_get_pix_fmt_name(options.FramePixFmt))
        SetDictionaryEntry(parameters, "pixel_format",
                           ff::av_get_pix_fmt_name(options.FramePixFmt));
    if (options.VideoChannel)
        SetDictionaryEntry(parameters, "channel", std::to_string(options.VideoChannel).c_str());
    if (!options.VideoStandard.empty())
        SetDictionaryEntry(parameters, "standard", options.VideoStandard.c_str());
    options.ApplyGenericOptions(context.get(), options.FormatTemplate(), nullptr,
                                OptionMaskInputContainer);

    const TInterruptCallback timeoutCheck = Ctx.Timeout.Check;
    const uint32_t thread = CurrentThreadId();
    bool registered = false;
    auto finish = [&](bool result) {
        Ctx.Timeout.Start = TOpenTimeout::Idle;
        if (registered && InterruptRegistry())
            InterruptRegistry()->RemoveCallback(thread, timeoutCheck, Ctx.Timeout.Opaque);
        registered = false;
        parameters.reset();
        if (!result) {
            context.reset();
            options.ConsumeInputOptions();
        }
        return result;
    };

    try {
        const AVCodec* forced[3] = {
            FindCodecByName(options, options.VideoCodecName, AVMEDIA_TYPE_VIDEO, false,
                            Ctx.OpenError),
            FindCodecByName(options, options.AudioCodecName, AVMEDIA_TYPE_AUDIO, false,
                            Ctx.OpenError),
            FindCodecByName(options, options.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false,
                            Ctx.OpenError),
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
        InterruptRegistry()->AddCallback(thread, timeoutCheck, Ctx.Timeout.Opaque);
        registered = true;
    }
    Ctx.Timeout.Start = ff::av_gettime();
    // On failure the context is freed and the pointer left null; the dictionary comes back
    // with only the entries no demuxer took.
    AVFormatContext* opened = context.release();
    AVDictionary* unused = parameters.release();
    int result = OpenInputFile(&opened, ToLibraryFileName(fileName), format, &unused);
    context.reset(opened);
    parameters.reset(unused);
    Ctx.Timeout.Start = TOpenTimeout::Idle;
    if (result < 0) {
        Ctx.OpenError = ErrorText(fileName, result);
        return finish(false);
    }

    if (options.ProgramID) {
        bool found = false;
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            AVProgram* program = context->programs[p];
            if (program->id != options.ProgramID)
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
            Ctx.OpenError = "Specified program id not found";
            return finish(false);
        }
        options.ProgramID = 0;
    }

    if (Ctx.OnBeforeFindStreamInfo) {
        // A handler that throws leaves nothing behind: the container is closed and the
        // interrupt entry of this thread removed before the error goes on.
        try {
            Ctx.OnBeforeFindStreamInfo(Ctx.Sender, context.get());
        } catch (...) {
            finish(false);
            throw;
        }
    }

    Ctx.Timeout.Start = ff::av_gettime();
    result = ff::avformat_find_stream_info(context.get(), nullptr);
    Ctx.Timeout.Start = TOpenTimeout::Idle;
    if (result < 0 && options.Verbose >= 0) {
        Ctx.OpenError = FormatText("%s: could not find codec parameters", fileName.c_str());
        LogV(llVerbose, Ctx.OpenError);
        return finish(false);
    }

    int64_t ts = options.StartTime;
    if (context->start_time != AV_NOPTS_VALUE)
        ts += context->start_time;
    if (options.StartTime != 0) {
        Ctx.Timeout.Start = ff::av_gettime();
        if (ff::av_seek_frame(context.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
            options.Verbose > 0)
            LogV(llVerbose, FormatText("%s: could not seek to position %0.3f", fileName.c_str(),
                                       static_cast<double>(ts) / 1e6));
        options.StartTime = 0;
    }
    finish(true);

    auto input = std::make_unique<TInputFile>();
    AVFormatContext* ready = context.get();
    input->Context = std::move(context);
    input->FileName = fileName;
    try {
        OpenInputStreams(*input, options);
    } catch (...) {
        input.reset();
        options.ConsumeInputOptions();
        throw;
    }

    if (ready->duration != AV_NOPTS_VALUE && ready->duration > options.TotalDuration)
        options.TotalDuration = ready->duration;
    options.LimitTotalToRecordingTime();
    input->TsOffset = options.CopyTimestamps ? options.InputTsOffset : options.InputTsOffset - ts;
    const size_t index = Inputs.size();
    if (index < options.InputTsScales.size())
        input->TsScale = options.InputTsScales[index];
    Inputs.push_back(std::move(input));
    if (options.Verbose >= 0)
        ff::av_dump_format(ready, static_cast<int>(index), fileName.c_str(), 0);
    options.ConsumeInputOptions();
    return true;
}

void TInputFiles::OpenInputStreams(TInputFile& input, TTranscoderOptions& options) {
    AVFormatContext* context = input.Context.get();
    const int pictureStream = FirstRealVideoStream(context);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        AVCodecParameters* par = stream->codecpar;
        const AVCodec* choice = nullptr;
        AVMediaType type = par->codec_type;
        switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            choice = FindCodecByName(options, options.VideoCodecName, type, false, Ctx.OpenError);
            break;
        case AVMEDIA_TYPE_AUDIO:
            choice = FindCodecByName(options, options.AudioCodecName, type, false, Ctx.OpenError);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            choice =
                FindCodecByName(options, options.SubtitleCodecName, type, false, Ctx.OpenError);
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
            decoder->thread_count = options.ThreadCount;
            if (type == AVMEDIA_TYPE_VIDEO)
                options.ApplyGenericOptions(decoder.get(), options.CodecTemplate(type), codec,
                                            OptionMaskInputVideo);
            else if (type == AVMEDIA_TYPE_AUDIO)
                options.ApplyGenericOptions(decoder.get(), options.CodecTemplate(type), codec,
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
            options.FrameWidth = width;
            options.FrameHeight = height;
            AVRational sar = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio
                                                             : par->sample_aspect_ratio;
            if (sar.num && sideways)
                sar = AVRational{sar.den, sar.num};
            if (sar.num && width && height)
                options.FrameAspectRatio = static_cast<float>(av_q2d(sar) * width / height);
            else if (width && height)
                options.FrameAspectRatio = static_cast<float>(width) / static_cast<float>(height);
            else
                options.FrameAspectRatio = 4.0f / 3.0f;
            options.FramePixFmt = static_cast<AVPixelFormat>(par->format);
            options.FramePixFmtAsked = false;
            if (dec->lowres > 0) {
                options.FrameWidth >>= dec->lowres;
                options.FrameHeight >>= dec->lowres;
            }
            AVRational rate = stream->r_frame_rate;
            AVRational codecRate = dec->framerate;
            if (options.Verbose >= 0 && rate.num && codecRate.num && av_cmp_q(rate, codecRate) != 0)
                LogV(llInfo,
                     FormatText("Seems stream %d codec frame rate differs from container frame "
                                "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                                static_cast<int>(i), av_q2d(codecRate), codecRate.num,
                                codecRate.den, av_q2d(rate), rate.num, rate.den));
            if (rate.num && rate.den)
                options.FrameRate = rate;
        }
        if (type == AVMEDIA_TYPE_VIDEO) {
            if (options.VideoDisable)
                stream->discard = AVDISCARD_ALL;
            else if (options.VideoDiscard)
                stream->discard = static_cast<AVDiscard>(options.VideoDiscard);
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            options.AudioChannels = par->ch_layout.nb_channels;
            options.AudioChannelLayout =
                par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
            options.AudioSampleRate = par->sample_rate;
            options.AudioSampleFmt = static_cast<AVSampleFormat>(par->format);
            if (decoder && decoder->lowres > 0)
                options.AudioSampleRate >>= decoder->lowres;
            if (options.AudioDisable)
                stream->discard = AVDISCARD_ALL;
        } else if (type == AVMEDIA_TYPE_SUBTITLE) {
            if (options.SubtitleDisable)
                stream->discard = AVDISCARD_ALL;
        }
        input.Decoders.push_back(std::move(decoder));
    }
}

std::vector<AVRational> TInputFiles::InputVideoFrameRates() const {
    std::vector<AVRational> rates;
    for (const auto& input : Inputs)
        for (unsigned i = 0; i < input->Context->nb_streams; ++i) {
            const AVStream* stream = input->Context->streams[i];
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                rates.push_back(stream->r_frame_rate);
        }
    return rates;
}

AVFormatContext* TInputFiles::InputContext(int index) const {
    return index >= 0 && index < Count() ? Inputs[index]->Context.get() : nullptr;
}

void TInputFiles::BuildInputTables() {
    const int64_t now = ff::av_gettime();
    for (size_t f = 0; f < Inputs.size(); ++f) {
        TInputFile& input = *Inputs[f];
        input.FirstStream = static_cast<int>(Ctx.Tables.InputStreams.size());
        input.StreamCount = static_cast<int>(input.Context->nb_streams);
        input.Eof = false;
        input.NoPacket = false;
        for (int s = 0; s < input.StreamCount; ++s) {
            auto ist = std::make_unique<TInputStream>();
            ist->FileIndex = static_cast<int>(f);
            ist->StreamIndex = s;
            ist->Stream = input.Context->streams[s];
            ist->Decoder = input.Decoders[s].get();
            if (Ctx.Options.RateEmulation)
                ist->StartWallclock = now;
            Ctx.Tables.InputStreams.push_back(std::move(ist));
        }
    }
}

void TInputFiles::OpenDecoders() {
    for (auto& ist : Ctx.Tables.InputStreams) {
        if (!ist->NeedsDecoding)
            continue;
        const std::string typeName = MediaTypeName(ist->Stream->codecpar->codec_type);
        const AVCodec* codec = Inputs[ist->FileIndex]->DecoderChoice[ist->StreamIndex];
        if (!codec)
            codec = ff::avcodec_find_decoder(ist->Stream->codecpar->codec_id);
        // The user sees which file cannot be used and why, not stream numbers.
        const std::string fileName =
            std::filesystem::path(Inputs[ist->FileIndex]->FileName).filename().string();
        const char* codecName = ff::avcodec_get_name(ist->Stream->codecpar->codec_id);
        if (!codec || !ist->Decoder)
            Fail(FormatText("%s cannot be used: no decoder is installed for its %s (%s, input "
                            "stream #%d.%d)",
                            fileName.c_str(), LowerText(typeName).c_str(), codecName,
                            ist->FileIndex, ist->StreamIndex));
        int result;
        {
            TCodecLock lock;
            result = ff::avcodec_open2(ist->Decoder, codec, nullptr);
        }
        if (result < 0)
            Fail(FormatText("%s cannot be used: the decoder of its %s (%s, input stream #%d.%d) "
                            "refused to open",
                            fileName.c_str(), LowerText(typeName).c_str(), codecName,
                            ist->FileIndex, ist->StreamIndex));
        ist->DecoderOpen = true;
        std::lock_guard<std::mutex> guard(CodecListLock());
        Ctx.Tables.OpenedDecoders.push_back(ist.get());
    }
}

void TInputFiles::ProcessPacket(TInputFile& input, int fileIndex, AVPacket* packet) {
    if (Ctx.Options.DoPacketDump)
        ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, Ctx.Options.DoHexDump,
                             input.Context->streams[packet->stream_index]);
    if (packet->stream_index < 0 || packet->stream_index >= input.StreamCount)
        return;
    TInputStream& ist = *Ctx.Tables.InputStreams[input.FirstStream + packet->stream_index];
    if (ist.Unused)
        return;
    const AVRational tb = ist.Stream->time_base;
    const int64_t offset = ff::av_rescale_q(input.TsOffset, AV_TIME_BASE_Q, tb);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += offset;
    if (packet->stream_index < static_cast<int>(input.TsScale.size())) {
        const double scale = input.TsScale[packet->stream_index];
        if (scale != 0) {
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts = std::llround(static_cast<double>(packet->dts) * scale);
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts = std::llround(static_cast<double>(packet->pts) * scale);
        }
    }

    if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != NoPtsValue &&
        (input.Context->iformat->flags & AVFMT_TS_DISCONT) && !Ctx.Options.CopyTimestamps) {
        const int64_t dts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);
        const int64_t delta = dts - ist.NextPts;
        if (std::llabs(delta) > static_cast<int64_t>(Ctx.Options.DtsDeltaThreshold * 1e6) ||
            dts + 1 < ist.Pts) {
            input.TsOffset -= delta;
            if (Ctx.Options.Verbose > 2)
                LogV(llVerbose, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                           static_cast<long long>(delta),
                                           static_cast<long long>(input.TsOffset)));
            const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
            packet->dts -= shift;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
        }
    }

    if (Ctx.Options.RecordingTime != INT64_MAX) {
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE && ff::av_rescale_q(ts, tb, AV_TIME_BASE_Q) >=
                                        Ctx.Options.StartTime + Ctx.Options.RecordingTime) {
            ist.PastRecordingTime = true;
            return;
        }
    }

    if (DecodeAndOutput(ist, packet) < 0) {
        const std::string text =
            FormatText("Error while decoding stream #%d.%d (%s)", fileIndex, packet->stream_index,
                       MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
        if (Ctx.Options.ExitOnError)
            Fail(text);
        if (Ctx.Options.Verbose >= 0)
            LogV(llVerbose, text);
    }
    // Streams without a source keep pace with the ones that have one.
    if (Ctx.Tables.HasFillers && ist.NextPts != NoPtsValue) {
        if (Ctx.Pipe.Queueing())
            Ctx.Pipe.QueueFill(ist.NextPts);
        else
            Ctx.Steps.FillMissing(ist.NextPts);
    }
}

int TInputFiles::DecodeAndOutput(TInputStream& ist, const AVPacket* packet) {
    const AVRational tb = ist.Stream->time_base;
    const AVCodecParameters* par = ist.Stream->codecpar;
    if (ist.NextPts == NoPtsValue)
        ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE) {
        ist.NextPts = ist.Pts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);
        ++ist.PtsVersion;
    }

    // Streams copied from this input stream take the packet as it is.
    if (packet) {
        bool copies = false;
        for (TOutputStream* ost : ist.Outputs)
            copies = copies || ost->StreamCopy;
        if (copies || !ist.NeedsDecoding) {
            int64_t duration = 0;
            if (packet->duration > 0)
                duration = ff::av_rescale_q(packet->duration, tb, AV_TIME_BASE_Q);
            else if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 &&
                     par->frame_size > 0)
                duration = int64_t(AV_TIME_BASE) * par->frame_size / par->sample_rate;
            else if (par->codec_type == AVMEDIA_TYPE_VIDEO && ist.Stream->avg_frame_rate.num)
                duration = std::llround(1e6 / av_q2d(ist.Stream->avg_frame_rate));
            if (!ist.NeedsDecoding) {
                ist.Pts = ist.NextPts;
                ++ist.PtsVersion;
                ist.NextPts += duration;
            }
            if (Ctx.Options.StartTime == 0 || ist.Pts >= Ctx.Options.StartTime)
                for (TOutputStream* ost : ist.Outputs)
                    if (ost->StreamCopy) {
                        if (Ctx.Pipe.Queueing())
                            Ctx.Pipe.QueueCopy(*ost, ist, packet);
                        else
                            Ctx.Copy.CopyPacket(*ost, ist, packet);
                    }
        }
    }
    if (!ist.NeedsDecoding || !ist.DecoderOpen)
        return 0;

    AVCodecContext* dec = ist.Decoder;
    if (par->codec_type == AVMEDIA_TYPE_SUBTITLE)
        return Ctx.SubtitlePath.DecodeSubtitles(ist, packet);

    int failed = 0;
    int result = ff::avcodec_send_packet(dec, packet);
    if (result < 0 && result != AVERROR_EOF && result != AVERROR(EAGAIN))
        failed = -1;
    AVFrame* frame = Ctx.Tables.DecodedFrame.get();
    for (;;) {
        result = ff::avcodec_receive_frame(dec, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0) {
            failed = -1;
            if (packet)
                break;
            continue; // a flush goes on until the decoder has given everything
        }
        OutputFrame(ist, frame);
        ff::av_frame_unref(frame);
    }
    if (!packet && ist.Video.FilterSource && !ist.Flushed)
        Ctx.VideoPath.FilterVideo(ist, nullptr); // the pictures the graph still holds
    if (!packet && !Ctx.Tables.JoinSwitching)
        for (TOutputStream* ost : ist.Outputs)
            if (ost->NeedsEncoding)
                Ctx.OutputFiles.FlushEncoder(*ost);
    return failed;
}

void TInputFiles::OutputFrame(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.Stream->time_base;
    const AVCodecContext* dec = ist.Decoder;
    const int64_t ts = frame->best_effort_timestamp;
    ist.Pts = ts != AV_NOPTS_VALUE ? ff::av_rescale_q(ts, tb, AV_TIME_BASE_Q) : ist.NextPts;
    ++ist.PtsVersion;
    const AVMediaType type = dec->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
        int64_t duration = 0;
        if (frame->pkt_duration > 0)
            duration = ff::av_rescale_q(frame->pkt_duration, tb, AV_TIME_BASE_Q);
        else if (dec->framerate.num && dec->framerate.den)
            duration = std::llround(1e6 * (1 + frame->repeat_pict * 0.5) / av_q2d(dec->framerate));
        else if (ist.Stream->avg_frame_rate.num)
            duration = std::llround(1e6 / av_q2d(ist.Stream->avg_frame_rate));
        ist.NextPts = ist.Pts + duration;
        ++ist.DecodedFrames;
        ist.Quality = frame->quality;
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        if (frame->sample_rate > 0)
            ist.NextPts = ist.Pts + int64_t(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
    } else {
        Fail("invalid codec_type");
    }
    if (Ctx.Pipe.Queueing())
        Ctx.Pipe.QueueFrame(ist, frame);
    else
        Ctx.Steps.OutputDecoded(ist, frame);
}

void TInputFiles::CloseInputs() {
    for (auto& input : Inputs) {
        input->Decoders.clear();
        input->Context.reset();
    }
    Inputs.clear();
}

} // namespace cw
