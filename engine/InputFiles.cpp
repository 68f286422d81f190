// The input side of a job: opening inputs, their streams and decoders, the input stream
// table of a run, the timestamps of every packet read, and decoding.
#include "engine/Transcoder.h"

#include "engine/CodecLock.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/OptionParsers.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"
#include "engine/ThreadId.h"
#include "engine/UnicodeIO.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace cw {

bool TInputFiles::OpenInput(const std::string& fileName) {
    if (static_cast<int>(Inputs.size()) >= Job.MaxFiles) {
        Job.OpenError = FormatText("max input files %d reached", Job.MaxFiles);
        return false;
    }
    const AVInputFormat* format = nullptr;
    if (!Job.FileFormat.empty()) {
        format = ff::av_find_input_format(Job.FileFormat.c_str());
        if (!format)
            throw FFmpegException(
                FormatText("Unknown input format: \"%s\"", Job.FileFormat.c_str()));
        Job.FileFormat.clear();
    }
    TInputContextPtr context(ff::avformat_alloc_context());
    if (!context)
        throw FFmpegException("avformat_alloc_context failed");

    // What raw and capture demuxers cannot find out themselves.
    AVDictionary* parameters = nullptr;
    ff::av_dict_set(&parameters, "sample_rate", std::to_string(Job.AudioSampleRate).c_str(), 0);
    ff::av_dict_set(&parameters, "channels", std::to_string(Job.AudioChannels).c_str(), 0);
    if (Job.FrameRate.num > 0 && Job.FrameRate.den > 0)
        ff::av_dict_set(&parameters, "framerate",
                        FormatText("%d/%d", Job.FrameRate.num, Job.FrameRate.den).c_str(), 0);
    if (Job.FrameWidth > 0 && Job.FrameHeight > 0)
        ff::av_dict_set(&parameters, "video_size",
                        FormatText("%dx%d", Job.FrameWidth, Job.FrameHeight).c_str(), 0);
    if (Job.FramePixFmt != AV_PIX_FMT_NONE && ff::av_get_pix_fmt_name(Job.FramePixFmt))
        ff::av_dict_set(&parameters, "pixel_format", ff::av_get_pix_fmt_name(Job.FramePixFmt), 0);
    if (Job.VideoChannel)
        ff::av_dict_set(&parameters, "channel", std::to_string(Job.VideoChannel).c_str(), 0);
    if (!Job.VideoStandard.empty())
        ff::av_dict_set(&parameters, "standard", Job.VideoStandard.c_str(), 0);
    Job.ApplyGenericOptions(context.get(), Job.FormatTemplate(), nullptr, OptionMaskInputContainer);

    const TInterruptCallback timeoutCheck =
        MakeInterruptCallback<&TCustomFFmpeg::TimeoutCheck>(&Job);
    const uint32_t thread = CurrentThreadId();
    bool registered = false;
    auto finish = [&](bool result) {
        Job.IoStart = Job.IoIdle;
        if (registered && InterruptRegistry())
            InterruptRegistry()->RemoveCallback(thread, timeoutCheck, &Job);
        registered = false;
        ff::av_dict_free(&parameters);
        if (!result) {
            context.reset();
            Job.ConsumeInputOptions();
        }
        return result;
    };

    try {
        const AVCodec* forced[3] = {
            Job.FindCodecByName(Job.VideoCodecName, AVMEDIA_TYPE_VIDEO, false),
            Job.FindCodecByName(Job.AudioCodecName, AVMEDIA_TYPE_AUDIO, false),
            Job.FindCodecByName(Job.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false),
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
        InterruptRegistry()->AddCallback(thread, timeoutCheck, &Job);
        registered = true;
    }
    Job.IoStart = ff::av_gettime();
    // On failure the context is freed and the pointer left null.
    AVFormatContext* opened = context.release();
    int result = OpenInputFile(&opened, ToLibraryFileName(fileName), format, &parameters);
    context.reset(opened);
    Job.IoStart = Job.IoIdle;
    if (result < 0) {
        Job.OpenError = ErrorText(fileName, result);
        return finish(false);
    }

    if (Job.ProgramID) {
        bool found = false;
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            AVProgram* program = context->programs[p];
            if (program->id != Job.ProgramID)
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
            Job.OpenError = "Specified program id not found";
            return finish(false);
        }
        Job.ProgramID = 0;
    }

    if (Job.OnBeforeFindStreamInfo) {
        // A handler that throws leaves nothing behind: the container is closed and the
        // interrupt entry of this thread removed before the error goes on.
        try {
            Job.OnBeforeFindStreamInfo(&Job, context.get());
        } catch (...) {
            finish(false);
            throw;
        }
    }

    Job.IoStart = ff::av_gettime();
    result = ff::avformat_find_stream_info(context.get(), nullptr);
    Job.IoStart = Job.IoIdle;
    if (result < 0 && Job.Verbose >= 0) {
        Job.OpenError = FormatText("%s: could not find codec parameters", fileName.c_str());
        Job.LogV(llVerbose, Job.OpenError);
        return finish(false);
    }

    int64_t ts = Job.StartTime;
    if (context->start_time != AV_NOPTS_VALUE)
        ts += context->start_time;
    if (Job.StartTime != 0) {
        Job.IoStart = ff::av_gettime();
        if (ff::av_seek_frame(context.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0 && Job.Verbose > 0)
            Job.LogV(llVerbose, FormatText("%s: could not seek to position %0.3f", fileName.c_str(),
                                           static_cast<double>(ts) / 1e6));
        Job.StartTime = 0;
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
        Job.ConsumeInputOptions();
        throw;
    }

    if (ready->duration != AV_NOPTS_VALUE && ready->duration > Job.TotalDuration)
        Job.TotalDuration = ready->duration;
    Job.LimitTotalToRecordingTime();
    input->TsOffset = Job.CopyTimestamps ? Job.InputTsOffset : Job.InputTsOffset - ts;
    const size_t index = Inputs.size();
    if (index < Job.InputTsScales.size())
        input->TsScale = Job.InputTsScales[index];
    Inputs.push_back(std::move(input));
    if (Job.Verbose >= 0)
        ff::av_dump_format(ready, static_cast<int>(index), fileName.c_str(), 0);
    Job.ConsumeInputOptions();
    return true;
}

void TInputFiles::OpenInputStreams(TInputFile& input) {
    AVFormatContext* context = input.Context.get();
    const int pictureStream = FirstRealVideoStream(context);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream* stream = context->streams[i];
        AVCodecParameters* par = stream->codecpar;
        const AVCodec* choice = nullptr;
        AVMediaType type = par->codec_type;
        switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            choice = Job.FindCodecByName(Job.VideoCodecName, type, false);
            break;
        case AVMEDIA_TYPE_AUDIO:
            choice = Job.FindCodecByName(Job.AudioCodecName, type, false);
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            choice = Job.FindCodecByName(Job.SubtitleCodecName, type, false);
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
            decoder->thread_count = Job.ThreadCount;
            if (type == AVMEDIA_TYPE_VIDEO)
                Job.ApplyGenericOptions(decoder.get(), Job.CodecTemplate(type), codec,
                                        OptionMaskInputVideo);
            else if (type == AVMEDIA_TYPE_AUDIO)
                Job.ApplyGenericOptions(decoder.get(), Job.CodecTemplate(type), codec,
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
            Job.FrameWidth = width;
            Job.FrameHeight = height;
            AVRational sar = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio
                                                             : par->sample_aspect_ratio;
            if (sar.num && sideways)
                sar = AVRational{sar.den, sar.num};
            if (sar.num && width && height)
                Job.FrameAspectRatio = static_cast<float>(av_q2d(sar) * width / height);
            else if (width && height)
                Job.FrameAspectRatio = static_cast<float>(width) / static_cast<float>(height);
            else
                Job.FrameAspectRatio = 4.0f / 3.0f;
            Job.FramePixFmt = static_cast<AVPixelFormat>(par->format);
            Job.FramePixFmtAsked = false;
            if (dec->lowres > 0) {
                Job.FrameWidth >>= dec->lowres;
                Job.FrameHeight >>= dec->lowres;
            }
            AVRational rate = stream->r_frame_rate;
            AVRational codecRate = dec->framerate;
            if (Job.Verbose >= 0 && rate.num && codecRate.num && av_cmp_q(rate, codecRate) != 0)
                Job.LogV(llInfo,
                         FormatText("Seems stream %d codec frame rate differs from container frame "
                                    "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                                    static_cast<int>(i), av_q2d(codecRate), codecRate.num,
                                    codecRate.den, av_q2d(rate), rate.num, rate.den));
            if (rate.num && rate.den)
                Job.FrameRate = rate;
        }
        if (type == AVMEDIA_TYPE_VIDEO) {
            if (Job.VideoDisable)
                stream->discard = AVDISCARD_ALL;
            else if (Job.VideoDiscard)
                stream->discard = static_cast<AVDiscard>(Job.VideoDiscard);
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            Job.AudioChannels = par->ch_layout.nb_channels;
            Job.AudioChannelLayout =
                par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
            Job.AudioSampleRate = par->sample_rate;
            Job.AudioSampleFmt = static_cast<AVSampleFormat>(par->format);
            if (decoder && decoder->lowres > 0)
                Job.AudioSampleRate >>= decoder->lowres;
            if (Job.AudioDisable)
                stream->discard = AVDISCARD_ALL;
        } else if (type == AVMEDIA_TYPE_SUBTITLE) {
            if (Job.SubtitleDisable)
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
    return index >= 0 && index < Job.InputCount() ? Inputs[index]->Context.get() : nullptr;
}

void TInputFiles::BuildInputTables() {
    const int64_t now = ff::av_gettime();
    for (size_t f = 0; f < Inputs.size(); ++f) {
        TInputFile& input = *Inputs[f];
        input.FirstStream = static_cast<int>(Job.InputStreams.size());
        input.StreamCount = static_cast<int>(input.Context->nb_streams);
        input.Eof = false;
        input.NoPacket = false;
        for (int s = 0; s < input.StreamCount; ++s) {
            auto ist = std::make_unique<TInputStream>();
            ist->FileIndex = static_cast<int>(f);
            ist->StreamIndex = s;
            ist->Stream = input.Context->streams[s];
            ist->Decoder = input.Decoders[s].get();
            if (Job.RateEmulation)
                ist->StartWallclock = now;
            Job.InputStreams.push_back(std::move(ist));
        }
    }
}

void TInputFiles::OpenDecoders() {
    for (auto& ist : Job.InputStreams) {
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
            Job.Fail(FormatText("%s cannot be used: no decoder is installed for its %s (%s, input "
                                "stream #%d.%d)",
                                fileName.c_str(), LowerText(typeName).c_str(), codecName,
                                ist->FileIndex, ist->StreamIndex));
        int result;
        {
            TCodecLock lock;
            result = ff::avcodec_open2(ist->Decoder, codec, nullptr);
        }
        if (result < 0)
            Job.Fail(
                FormatText("%s cannot be used: the decoder of its %s (%s, input stream #%d.%d) "
                           "refused to open",
                           fileName.c_str(), LowerText(typeName).c_str(), codecName, ist->FileIndex,
                           ist->StreamIndex));
        ist->DecoderOpen = true;
        std::lock_guard<std::mutex> guard(CodecListLock());
        Job.OpenedDecoders.push_back(ist.get());
    }
}

void TInputFiles::ProcessPacket(TInputFile& input, int fileIndex, AVPacket* packet) {
    if (Job.DoPacketDump)
        ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, Job.DoHexDump,
                             input.Context->streams[packet->stream_index]);
    if (packet->stream_index < 0 || packet->stream_index >= input.StreamCount)
        return;
    TInputStream& ist = *Job.InputStreams[input.FirstStream + packet->stream_index];
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
        (input.Context->iformat->flags & AVFMT_TS_DISCONT) && !Job.CopyTimestamps) {
        const int64_t dts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);
        const int64_t delta = dts - ist.NextPts;
        if (std::llabs(delta) > static_cast<int64_t>(Job.DtsDeltaThreshold * 1e6) ||
            dts + 1 < ist.Pts) {
            input.TsOffset -= delta;
            if (Job.Verbose > 2)
                Job.LogV(llVerbose, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                               static_cast<long long>(delta),
                                               static_cast<long long>(input.TsOffset)));
            const int64_t shift = ff::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
            packet->dts -= shift;
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= shift;
        }
    }

    if (Job.RecordingTime != INT64_MAX) {
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts != AV_NOPTS_VALUE &&
            ff::av_rescale_q(ts, tb, AV_TIME_BASE_Q) >= Job.StartTime + Job.RecordingTime) {
            ist.PastRecordingTime = true;
            return;
        }
    }

    if (DecodeAndOutput(ist, packet) < 0) {
        const std::string text =
            FormatText("Error while decoding stream #%d.%d (%s)", fileIndex, packet->stream_index,
                       MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
        if (Job.ExitOnError)
            Job.Fail(text);
        if (Job.Verbose >= 0)
            Job.LogV(llVerbose, text);
    }
    // Streams without a source keep pace with the ones that have one.
    if (Job.HasFillers && ist.NextPts != NoPtsValue) {
        if (Job.Pipe.Queueing())
            Job.Pipe.QueueFill(ist.NextPts);
        else
            Job.FillMissing(ist.NextPts);
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
            if (Job.StartTime == 0 || ist.Pts >= Job.StartTime)
                for (TOutputStream* ost : ist.Outputs)
                    if (ost->StreamCopy) {
                        if (Job.Pipe.Queueing())
                            Job.Pipe.QueueCopy(*ost, ist, packet);
                        else
                            Job.Copy.CopyPacket(*ost, ist, packet);
                    }
        }
    }
    if (!ist.NeedsDecoding || !ist.DecoderOpen)
        return 0;

    AVCodecContext* dec = ist.Decoder;
    if (par->codec_type == AVMEDIA_TYPE_SUBTITLE)
        return Job.SubtitlePath.DecodeSubtitles(ist, packet);

    int failed = 0;
    int result = ff::avcodec_send_packet(dec, packet);
    if (result < 0 && result != AVERROR_EOF && result != AVERROR(EAGAIN))
        failed = -1;
    AVFrame* frame = Job.DecodedFrame.get();
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
        Job.VideoPath.FilterVideo(ist, nullptr); // the pictures the graph still holds
    if (!packet && !Job.JoinSwitching)
        for (TOutputStream* ost : ist.Outputs)
            if (ost->NeedsEncoding)
                Job.OutputFiles.FlushEncoder(*ost);
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
        Job.Fail("invalid codec_type");
    }
    if (Job.Pipe.Queueing())
        Job.Pipe.QueueFrame(ist, frame);
    else
        Job.OutputDecoded(ist, frame);
}

void TCustomFFmpeg::OutputDecoded(TInputStream& ist, AVFrame* frame) {
    const AVMediaType type = ist.Decoder->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO) {
        Hooks.PrepareVideoInput(ist, frame);
    } else {
        Hooks.RunAudioHook(ist, frame);
        if (AudioVolume != 256)
            AudioPath.ApplyVolume(frame);
    }
    if (RateEmulation) {
        const int64_t elapsed = ff::av_gettime() - ist.StartWallclock;
        if (ist.Pts > elapsed + 1000)
            ff::av_usleep(static_cast<unsigned>(std::min<int64_t>(ist.Pts - elapsed, UINT_MAX)));
    }
    if (StartTime != 0 && OutPts(ist) < StartTime)
        return;
    if (type == AVMEDIA_TYPE_VIDEO) {
        if (ist.Video.FilterSource)
            VideoPath.FilterVideo(ist, frame);
        else
            VideoPath.OutputVideo(ist, frame);
        return;
    }
    for (TOutputStream* ost : ist.Outputs)
        if (ost->NeedsEncoding)
            AudioPath.DoAudioOut(*ost, ist, frame);
}

void TInputFiles::CloseInputs() {
    for (auto& input : Inputs) {
        input->Decoders.clear();
        input->Context.reset();
    }
    Inputs.clear();
}

} // namespace cw
