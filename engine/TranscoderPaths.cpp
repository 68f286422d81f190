// The decode-and-output step of a run: every packet read is decoded (or taken as it is for
// stream copy) and handed to the output streams its input stream feeds, where audio is
// resampled and re-framed to the encoder's frame size, video is synchronised by dropping or
// duplicating pictures and scaled, subtitles are re-timed, and the encoded packets go through
// the stream's bitstream filters to the muxer. Also the set-up of each output stream at the
// start of a run and the flushing at its end.
#include "engine/Transcoder.h"

#include "engine/FFUtils.h"
#include "engine/FFmpegException.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

namespace cw {

namespace {

// The one subtitle encoding buffer of the process, and the lock that serialises its use.
constexpr int SubtitleBufferSize = 1048576;
std::mutex& SubtitleLock() {
    static std::mutex lock;
    return lock;
}
uint8_t* SubtitleBuffer() {
    static std::vector<uint8_t> buffer(SubtitleBufferSize);
    return buffer.data();
}

const char* SampleFormatName(int format) {
    const char* name = ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(format));
    return name ? name : "none";
}

// Multiplies every sample by volume / 256, limited to the format's range.
template <class T>
void ScaleIntegers(T* samples, size_t count, int volume, int64_t low, int64_t high, int64_t bias) {
    for (size_t i = 0; i < count; ++i) {
        int64_t value = (static_cast<int64_t>(samples[i]) - bias) * volume;
        value = (value + 128) >> 8; // rounds like (sample * vol + 128) / 256
        samples[i] = static_cast<T>(std::clamp(value, low, high) + bias);
    }
}
template <class T> void ScaleFloats(T* samples, size_t count, int volume) {
    const T factor = static_cast<T>(volume) / 256;
    for (size_t i = 0; i < count; ++i)
        samples[i] = std::clamp(samples[i] * factor, static_cast<T>(-1), static_cast<T>(1));
}

} // namespace

// -- set-up of an output stream ------------------------------------------------------------

void TCustomFFmpeg::SetUpOutputStream(TOutputStream& ost) {
    if (ost.StreamCopy)
        SetUpStreamCopy(ost);
    else
        SetUpEncoding(ost);
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStream& ost) {
    const AVStream* in = ost.Source->Stream;
    const AVCodecParameters* inPar = in->codecpar;
    AVStream* out = ost.Stream;
    const AVOutputFormat* format = Outputs[ost.FileIndex]->Context->oformat;
    if (inPar->extradata_size > INT_MAX - 8 || inPar->extradata_size < 0)
        Fail("icodec.extradata_size is invalid (too large)");

    const AVMediaType type = inPar->codec_type;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        if (AudioVolume != 256)
            Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
        if (AudioHook)
            Fail("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (ost.Cover)
            break; // a cover picture goes into the file as it is, beside the sound
        if (VideoInputHook || VideoOutputHook)
            Fail("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
        if (!FrameHooks.Empty())
            Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlags())
            Fail("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        Fail("invalid codec_type of output stream");
    }

    const uint32_t requestedTag = ost.Encoder->codec_tag;
    if (ff::avcodec_parameters_copy(out->codecpar, inPar) < 0)
        Fail("av_mallocz fail");
    uint32_t tag = requestedTag;
    if (!tag) {
        const AVCodecTag* const* tags = format->codec_tag;
        if (!tags || ff::av_codec_get_id(tags, inPar->codec_tag) == inPar->codec_id ||
            !ff::av_codec_get_tag(tags, inPar->codec_id))
            tag = inPar->codec_tag;
    }
    out->codecpar->codec_tag = tag;

    // The time base: the frame period when the container's is finer than a millisecond and
    // coarser than that period would be useless (one tick per frame keeps frame-counting
    // muxers such as AVI right).
    AVRational timeBase = in->time_base;
    if (!CopyTimeBase) {
        AVRational period{0, 1};
        if (type == AVMEDIA_TYPE_VIDEO) {
            AVRational rate = in->r_frame_rate.num ? in->r_frame_rate : in->avg_frame_rate;
            if (rate.num && rate.den)
                period = AVRational{rate.den, rate.num};
        } else if (type == AVMEDIA_TYPE_AUDIO && inPar->sample_rate > 0) {
            period = AVRational{1, inPar->sample_rate};
        }
        if (period.num && av_q2d(period) > av_q2d(in->time_base) &&
            av_q2d(in->time_base) < 1.0 / 1000) {
            ff::av_reduce(&timeBase.num, &timeBase.den, period.num, period.den, INT_MAX);
        }
    }
    out->time_base = timeBase;
    out->avg_frame_rate = in->avg_frame_rate;
    if (type == AVMEDIA_TYPE_AUDIO) {
        if ((inPar->block_align == 1 && inPar->codec_id == AV_CODEC_ID_MP3) ||
            inPar->codec_id == AV_CODEC_ID_AC3)
            out->codecpar->block_align = 0;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
        out->sample_aspect_ratio = in->sample_aspect_ratio;
    }
    ost.NeedsEncoding = false;
}

void TCustomFFmpeg::SetUpEncoding(TOutputStream& ost) {
    // The stream that sets the stream up: its source, or (a join whose first input lacks this
    // kind) the first input that has one; none for a stream made of silence only.
    TInputStream* source = ost.Source;
    for (TInputStream* joined : ost.JoinSources)
        if (!source)
            source = joined;
    AVCodecContext* enc = ost.Encoder.get();
    const AVCodecContext* dec = source ? source->Decoder : nullptr;
    if (source && !dec)
        Fail(FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                        static_cast<int>(source->Stream->codecpar->codec_id), source->FileIndex,
                        source->StreamIndex,
                        MediaTypeName(source->Stream->codecpar->codec_type).c_str()));
    switch (enc->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
        TAudioOutState& audio = ost.Audio;
        audio.Fifo.reset(ff::av_audio_fifo_alloc(enc->sample_fmt,
                                                 std::max(enc->ch_layout.nb_channels, 1), 1024));
        if (!audio.Fifo)
            Fail("av_fifo_alloc fail");
        if (dec) {
            audio.Resample = dec->sample_rate != enc->sample_rate || AudioSyncMethod > 1;
            audio.InputFormat = dec->sample_fmt;
            audio.InputRate = dec->sample_rate;
            audio.InputChannels = dec->ch_layout.nb_channels;
        }
        break;
    }
    case AVMEDIA_TYPE_VIDEO: {
        if (!dec)
            Fail("No input stream gives pictures for the video output stream");
        if (dec->pix_fmt == AV_PIX_FMT_NONE)
            Fail("Video pixel format is unknown, stream cannot be encoded");
        TVideoOutState& video = ost.Video;
        // With a filter graph the graph converts the pictures to the encoder's size and
        // format; without one the scaler does.
        // Pictures stored on their side are turned upright in the graph.
        bool turned = DisplayTurn(source->Stream) != ptNone;
        for (const TInputStream* joined : ost.JoinSources)
            turned = turned || (joined && DisplayTurn(joined->Stream) != ptNone);
        const bool filtered = !VideoFilters.empty() || DoDeinterlace || turned;
        if (filtered) {
            BuildVideoFilters(*source, ost);
            for (TInputStream* joined : ost.JoinSources)
                if (joined && joined != source && joined->Decoder)
                    BuildVideoFilters(*joined, ost);
        }
        video.Resample = !filtered && (dec->width != enc->width || dec->height != enc->height ||
                                       dec->pix_fmt != enc->pix_fmt);
        if (video.Resample) {
            video.Picture.reset(ff::av_frame_alloc());
            if (!video.Picture)
                Fail("Cannot allocate temp picture, check pix fmt");
            video.Picture->format = enc->pix_fmt;
            video.Picture->width = enc->width;
            video.Picture->height = enc->height;
            if (ff::av_frame_get_buffer(video.Picture.get(), 0) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
            video.Scaler.reset(ff::sws_getContext(dec->width, dec->height, dec->pix_fmt, enc->width,
                                                  enc->height, enc->pix_fmt, SwsFlags(), nullptr,
                                                  nullptr, nullptr));
            if (!video.Scaler)
                Fail("Cannot get resampling context");
            video.SourceWidth = dec->width;
            video.SourceHeight = dec->height;
            video.SourceFormat = dec->pix_fmt;
            enc->bits_per_raw_sample = 0;
        }
        break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        Fail("invalid codec_type of output stream");
    }
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        const auto at = std::find(OutputStreams.begin(), OutputStreams.end(), &ost);
        OpenPassLog(ost, static_cast<int>(at - OutputStreams.begin()));
    }
    if (source)
        source->NeedsDecoding = true;
    for (TInputStream* joined : ost.JoinSources)
        if (joined)
            joined->NeedsDecoding = true;
    ost.NeedsEncoding = true;
}

void TCustomFFmpeg::InitBitstreamFilters(TOutputStream& ost) {
    AVStream* stream = ost.Stream;
    for (const TBitstreamFilterEntry& entry : ost.FilterEntries) {
        AVBSFContext* context = nullptr;
        if (!entry.Filter || ff::av_bsf_alloc(entry.Filter, &context) < 0)
            Fail(FormatText("Unknown bitstream filter %s", entry.Name.c_str()));
        TBitstreamFilterPtr filter(context);
        const AVCodecParameters* in =
            ost.Filters.empty() ? stream->codecpar : ost.Filters.back()->par_out;
        if (ff::avcodec_parameters_copy(context->par_in, in) < 0)
            Fail("av_mallocz fail");
        context->time_base_in = stream->time_base;
        if (!entry.Arguments.empty() && context->priv_data &&
            ff::av_set_options_string(context->priv_data, entry.Arguments.c_str(), "=", ":") < 0)
            Fail(FormatText("Invalid arguments for bitstream filter %s: %s", entry.Name.c_str(),
                            entry.Arguments.c_str()));
        if (int result = ff::av_bsf_init(context); result < 0)
            Fail(ErrorText(entry.Name, result));
        ost.Filters.push_back(std::move(filter));
    }
    if (!ost.Filters.empty())
        ff::avcodec_parameters_copy(stream->codecpar, ost.Filters.back()->par_out);
}

// -- decode and output ---------------------------------------------------------------------

int TCustomFFmpeg::DecodeAndOutput(TInputStream& ist, const AVPacket* packet) {
    const AVRational tb = ist.Stream->time_base;
    const AVCodecParameters* par = ist.Stream->codecpar;
    if (ist.NextPts == NoPtsValue)
        ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.NextPts = ist.Pts = ff::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);

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
                ist.NextPts += duration;
            }
            if (StartTime == 0 || ist.Pts >= StartTime)
                for (TOutputStream* ost : ist.Outputs)
                    if (ost->StreamCopy)
                        CopyPacket(*ost, ist, packet);
        }
    }
    if (!ist.NeedsDecoding || !ist.DecoderOpen)
        return 0;

    AVCodecContext* dec = ist.Decoder;
    if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        if (!packet && !(dec->codec->capabilities & AV_CODEC_CAP_DELAY))
            return 0;
        TPacketPtr empty;
        if (!packet) {
            empty.reset(ff::av_packet_alloc());
            if (!empty)
                return -1;
        }
        int failed = 0;
        for (;;) {
            AVSubtitle subtitle{};
            int got = 0;
            int result = ff::avcodec_decode_subtitle2(
                dec, &subtitle, &got, packet ? const_cast<AVPacket*>(packet) : empty.get());
            if (result < 0) {
                failed = -1;
                break;
            }
            if (!got)
                break;
            if (StartTime == 0 || ist.Pts >= StartTime)
                for (TOutputStream* ost : ist.Outputs)
                    if (ost->NeedsEncoding) {
                        try {
                            DoSubtitleOut(*ost, ist, subtitle);
                        } catch (...) {
                            ff::avsubtitle_free(&subtitle);
                            throw;
                        }
                    }
            ff::avsubtitle_free(&subtitle);
            if (packet)
                break;
        }
        return failed;
    }

    int failed = 0;
    int result = ff::avcodec_send_packet(dec, packet);
    if (result < 0 && result != AVERROR_EOF && result != AVERROR(EAGAIN))
        failed = -1;
    AVFrame* frame = DecodedFrame.get();
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
    if (!packet && ist.FilterSource && !ist.Flushed)
        FilterVideo(ist, nullptr); // the pictures the graph still holds
    if (!packet && !JoinSwitching)
        for (TOutputStream* ost : ist.Outputs)
            if (ost->NeedsEncoding)
                FlushEncoder(*ost);
    return failed;
}

void TCustomFFmpeg::OutputFrame(TInputStream& ist, AVFrame* frame) {
    const AVRational tb = ist.Stream->time_base;
    const AVCodecContext* dec = ist.Decoder;
    const int64_t ts = frame->best_effort_timestamp;
    ist.Pts = ts != AV_NOPTS_VALUE ? ff::av_rescale_q(ts, tb, AV_TIME_BASE_Q) : ist.NextPts;
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
        PrepareVideoInput(ist, frame);
    } else if (type == AVMEDIA_TYPE_AUDIO) {
        if (frame->sample_rate > 0)
            ist.NextPts = ist.Pts + int64_t(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
        RunAudioHook(ist, frame);
        if (AudioVolume != 256)
            ApplyVolume(frame);
    } else {
        Fail("invalid codec_type");
    }

    if (RateEmulation) {
        const int64_t elapsed = ff::av_gettime() - ist.StartWallclock;
        if (ist.Pts > elapsed + 1000)
            ff::av_usleep(static_cast<unsigned>(std::min<int64_t>(ist.Pts - elapsed, UINT_MAX)));
    }
    if (StartTime != 0 && ist.Pts < StartTime)
        return;
    if (type == AVMEDIA_TYPE_VIDEO) {
        if (ist.FilterSource)
            FilterVideo(ist, frame);
        else
            OutputVideo(ist, frame);
        return;
    }
    for (TOutputStream* ost : ist.Outputs)
        if (ost->NeedsEncoding)
            DoAudioOut(*ost, ist, frame);
}

void TCustomFFmpeg::OutputVideo(TInputStream& ist, AVFrame* frame) {
    for (TOutputStream* ost : ist.Outputs)
        if (ost->NeedsEncoding)
            DoVideoOut(*ost, ist, frame);
}

void TCustomFFmpeg::FilterVideo(TInputStream& ist, AVFrame* frame) {
    if (frame && !frame->sample_aspect_ratio.num)
        frame->sample_aspect_ratio = ist.Decoder->sample_aspect_ratio;
    if (frame)
        frame->pts = frame->best_effort_timestamp;
    if (ff::av_buffersrc_add_frame_flags(ist.FilterSource, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0) {
        LogV(llError, "Error feeding the video filters");
        return;
    }
    if (!ist.Filtered) {
        ist.Filtered.reset(ff::av_frame_alloc());
        if (!ist.Filtered)
            Fail("av_mallocz fail");
    }
    AVFrame* out = ist.Filtered.get();
    // Filters may change the time base (a deinterlacer halves it).
    const AVRational tb = ist.FilterSink->inputs[0]->time_base;
    while (ff::av_buffersink_get_frame(ist.FilterSink, out) >= 0) {
        // The picture's time comes from the graph.
        if (out->pts != AV_NOPTS_VALUE)
            ist.Pts = ff::av_rescale_q(out->pts, tb, AV_TIME_BASE_Q);
        if (StartTime == 0 || ist.Pts >= StartTime)
            OutputVideo(ist, out);
        ff::av_frame_unref(out);
    }
}

void TCustomFFmpeg::BuildVideoFilters(TInputStream& ist, TOutputStream& ost) {
    if (ist.FilterGraph)
        return;
    const AVCodecContext* dec = ist.Decoder;
    AVCodecContext* enc = ost.Encoder.get();
    auto failed = [&](int code) {
        ist.FilterGraph.reset();
        ist.FilterSource = ist.FilterSink = nullptr;
        if (code < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            ff::av_strerror(code, text, sizeof text);
            Fail(std::string("Error opening filters: ") + text);
        }
        Fail("Error opening filters!");
    };
    ist.FilterGraph.reset(ff::avfilter_graph_alloc());
    AVFilterGraph* graph = ist.FilterGraph.get();
    if (!graph)
        failed(0);
    AVRational sar = dec->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    const AVRational tb = ist.Stream->time_base;
    AVFilterContext* last = nullptr;
    int result = ff::avfilter_graph_create_filter(
        &last, ff::avfilter_get_by_name("buffer"), "src",
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", dec->width,
                   dec->height, static_cast<int>(dec->pix_fmt), tb.num, tb.den, sar.num, sar.den)
            .c_str(),
        nullptr, graph);
    if (result < 0)
        failed(result);
    ist.FilterSource = last;
    auto append = [&](const char* filterName, const char* name, const std::string& args) {
        AVFilterContext* filter = nullptr;
        int code = ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name(filterName),
                                                    name, args.c_str(), nullptr, graph);
        if (code >= 0)
            code = ff::avfilter_link(last, 0, filter, 0);
        if (code < 0)
            failed(code);
        last = filter;
    };
    if (DoDeinterlace)
        append("yadif", "deinterlace", "mode=send_frame:deint=all");
    // The picture as it is shown: the display matrix's turn ("transpose=clock", "hflip,vflip").
    const TPictureTurn turn = DisplayTurn(ist.Stream);
    int shownWidth = dec->width, shownHeight = dec->height;
    if (turn != ptNone) {
        std::string chain = TurnFilters(turn);
        int step = 0;
        for (size_t at = 0; at <= chain.size();) {
            size_t end = chain.find(',', at);
            if (end == std::string::npos)
                end = chain.size();
            const std::string item = chain.substr(at, end - at);
            const size_t eq = item.find('=');
            const std::string filterName = item.substr(0, eq);
            const std::string args = eq == std::string::npos ? "" : item.substr(eq + 1);
            append(filterName.c_str(), ("turn" + std::to_string(step++)).c_str(), args);
            at = end + 1;
        }
        if (TurnSwapsSides(turn))
            std::swap(shownWidth, shownHeight);
    }
    if (enc->width > 0 && enc->height > 0 &&
        (shownWidth != enc->width || shownHeight != enc->height))
        append("scale", "scale",
               FormatText("%d:%d:flags=0x%X", enc->width, enc->height,
                          static_cast<unsigned>(SwsFlags())));
    AVFilterContext* format = nullptr;
    const char* pixelFormat = ff::av_get_pix_fmt_name(enc->pix_fmt);
    result = ff::avfilter_graph_create_filter(
        &format, ff::avfilter_get_by_name("format"), "format",
        (std::string("pix_fmts=") + (pixelFormat ? pixelFormat : "yuv420p")).c_str(), nullptr,
        graph);
    if (result < 0)
        failed(result);
    if (!VideoFilters.empty()) {
        TFilterInOutPtr outputs(ff::avfilter_inout_alloc());
        TFilterInOutPtr inputs(ff::avfilter_inout_alloc());
        if (!outputs || !inputs)
            failed(AVERROR(ENOMEM));
        outputs->name = ff::av_strdup("in");
        outputs->filter_ctx = last;
        outputs->pad_idx = 0;
        inputs->name = ff::av_strdup("out");
        inputs->filter_ctx = format;
        inputs->pad_idx = 0;
        // The parser takes the ends and hands back those it did not link.
        AVFilterInOut* openInputs = inputs.release();
        AVFilterInOut* openOutputs = outputs.release();
        result = ff::avfilter_graph_parse_ptr(graph, VideoFilters.c_str(), &openInputs,
                                              &openOutputs, nullptr);
        inputs.reset(openInputs);
        outputs.reset(openOutputs);
        if (result < 0)
            failed(result);
    } else if ((result = ff::avfilter_link(last, 0, format, 0)) < 0) {
        failed(result);
    }
    AVFilterContext* sink = nullptr;
    result = ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph);
    if (result >= 0)
        result = ff::avfilter_link(format, 0, sink, 0);
    if (result >= 0)
        result = ff::avfilter_graph_config(graph, nullptr);
    if (result < 0)
        failed(result);
    ist.FilterSink = sink;
    // The encoder takes the size the graph gives (a crop or a pad changes it).
    if (&ist == ost.Source) {
        enc->width = sink->inputs[0]->w;
        enc->height = sink->inputs[0]->h;
    }
}

void TCustomFFmpeg::ApplyVolume(AVFrame* frame) {
    if (ff::av_frame_make_writable(frame) < 0)
        return;
    const int volume = AudioVolume;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = ff::av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const size_t count =
        static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        uint8_t* data = frame->extended_data[p];
        switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            ScaleIntegers(data, count, volume, -128, 127, 128);
            break;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            ScaleIntegers(reinterpret_cast<int16_t*>(data), count, volume, -32768, 32767, 0);
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            ScaleIntegers(reinterpret_cast<int32_t*>(data), count, volume, INT32_MIN, INT32_MAX, 0);
            break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            ScaleFloats(reinterpret_cast<float*>(data), count, volume);
            break;
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            ScaleFloats(reinterpret_cast<double*>(data), count, volume);
            break;
        default:
            break;
        }
    }
}

void TCustomFFmpeg::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* packet) {
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && !CopyInitialNonKeyframes)
        return;
    AVPacket* out = EncodedPacket.get();
    if (ff::av_packet_ref(out, packet) < 0)
        Fail("av_mallocz fail");
    const AVRational inTb = ist.Stream->time_base;
    const AVRational outTb = ost.Stream->time_base;
    const int64_t start = ff::av_rescale_q(StartTime, AV_TIME_BASE_Q, outTb);
    out->pts = packet->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->pts, inTb, outTb) - start
                                             : AV_NOPTS_VALUE;
    out->dts = (packet->dts == AV_NOPTS_VALUE ? ff::av_rescale_q(ist.Pts, AV_TIME_BASE_Q, outTb)
                                              : ff::av_rescale_q(packet->dts, inTb, outTb)) -
               start;
    out->duration = ff::av_rescale_q(packet->duration, inTb, outTb);
    if (ost.Type() == AVMEDIA_TYPE_AUDIO)
        AudioBytes += packet->size;
    else if (ost.Type() == AVMEDIA_TYPE_VIDEO)
        VideoBytes += packet->size;
    ++ost.FrameNumber;
    WritePacket(ost, out);
}

// -- video ---------------------------------------------------------------------------------

void TCustomFFmpeg::DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* decoded) {
    AVCodecContext* enc = ost.Encoder.get();
    int64_t copies = 1;
    // The picture's place in frames, less the timestamp jumps taken out before.
    const double syncIpts =
        static_cast<double>(ost.SyncSource->Pts - StartTime) / 1e6 / av_q2d(enc->time_base) -
        static_cast<double>(ost.SyncShift);
    if (VideoSyncMethod != 0) {
        double vdelta = syncIpts - static_cast<double>(ost.SyncOpts);
        const double jumpFrames = DtsDeltaThreshold / av_q2d(enc->time_base);
        if (std::fabs(vdelta) > jumpFrames) {
            if (!ClockAgrees(*ost.SyncSource, AVMEDIA_TYPE_AUDIO,
                             ost.SyncSource->Pts - ShiftMicroseconds(ost))) {
                // A gap (or a step back) beyond the discontinuity threshold that the sound of
                // the same file does not share is a broken timestamp, not pictures that went
                // missing: filling it would turn a damaged second into hours of copies. It is
                // taken out of the timeline, so that the pictures after it are synchronised
                // as before; the sound does the same with its own jump.
                const int64_t jump = std::llround(vdelta);
                LogV(llWarning, FormatText("timestamp jump of %.1f s in the pictures taken out",
                                           static_cast<double>(jump) * av_q2d(enc->time_base)));
                ost.SyncShift += jump;
                vdelta -= static_cast<double>(jump);
            } else if (ost.FrameNumber == 0 && vdelta > 0) {
                // Pictures that start late beside the sound keep their place.
                ost.SyncOpts = std::llround(syncIpts);
                vdelta = 0;
            }
            // Otherwise a still picture was held while the sound went on: a real gap.
        }
        const bool variable =
            VideoSyncMethod == 2 ||
            (VideoSyncMethod == -1 &&
             (Outputs[ost.FileIndex]->Context->oformat->flags & AVFMT_VARIABLE_FPS));
        if (vdelta < -1.1) {
            copies = 0;
        } else if (variable) {
            if (vdelta <= -0.6)
                copies = 0;
            else if (vdelta > 0.6)
                ost.SyncOpts += std::llround(vdelta);
        } else if (vdelta > 1.1) {
            copies = std::llround(vdelta);
        }
        if (copies == 0) {
            ++DropFrames;
            ReportDupDrop = true;
            if (Verbose > 2)
                LogV(llVerbose, "*** drop!");
        } else if (copies > 1) {
            DupFrames += copies - 1;
            ReportDupDrop = true;
            if (Verbose > 2)
                LogV(llVerbose, FormatText("*** %d dup!", static_cast<int>(copies - 1)));
        }
    } else {
        ost.SyncOpts = std::llround(syncIpts);
    }
    copies = std::min<int64_t>(copies, MaxVideoFrames - ost.FrameNumber);
    if (copies <= 0)
        return;

    AVFrame* picture = decoded;
    TVideoOutState& video = ost.Video;
    if (decoded->width != enc->width || decoded->height != enc->height ||
        decoded->format != enc->pix_fmt) {
        if (!video.Scaler || decoded->width != video.SourceWidth ||
            decoded->height != video.SourceHeight || decoded->format != video.SourceFormat) {
            if (video.Scaler) {
                const char* name =
                    ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(decoded->format));
                LogV(llQuiet, FormatText("Input Stream #%d.%d frame size changed to %dx%d, %s",
                                         ist.FileIndex, ist.StreamIndex, decoded->width,
                                         decoded->height, name ? name : "none"));
            }
            video.Scaler.reset(ff::sws_getCachedContext(
                video.Scaler.release(), decoded->width, decoded->height,
                static_cast<AVPixelFormat>(decoded->format), enc->width, enc->height, enc->pix_fmt,
                SwsFlags(), nullptr, nullptr, nullptr));
            if (!video.Scaler)
                Fail("Cannot get resampling context");
            video.SourceWidth = decoded->width;
            video.SourceHeight = decoded->height;
            video.SourceFormat = static_cast<AVPixelFormat>(decoded->format);
            video.Resample = true;
        }
        if (!video.Picture) {
            video.Picture.reset(ff::av_frame_alloc());
            if (!video.Picture)
                Fail("Cannot allocate temp picture, check pix fmt");
            video.Picture->format = enc->pix_fmt;
            video.Picture->width = enc->width;
            video.Picture->height = enc->height;
            if (ff::av_frame_get_buffer(video.Picture.get(), 0) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
        }
        // The encoder may still hold the previous picture.
        if (ff::av_frame_make_writable(video.Picture.get()) < 0)
            Fail("Cannot allocate temp picture, check pix fmt");
        ff::sws_scale(video.Scaler.get(), decoded->data, decoded->linesize, 0, decoded->height,
                      video.Picture->data, video.Picture->linesize);
        video.Picture->interlaced_frame = decoded->interlaced_frame;
        video.Picture->top_field_first = decoded->top_field_first;
        picture = video.Picture.get();
    }

    for (int64_t i = 0; i < copies; ++i) {
        if (StopRequested)
            break; // a stop is not kept waiting by a long run of repeated pictures
        const int64_t frameNumber = ost.FrameNumber + 1;
        const int64_t pts = ff::av_rescale_q(ost.SyncOpts, enc->time_base, AV_TIME_BASE_Q);
        bool converted = false;
        if (VideoOutputHook && OnVideoOutputHook) {
            // The hook paints into the picture: it must not share its memory with the
            // decoder's reference pictures or with a picture the encoder still holds.
            if (ff::av_frame_make_writable(picture) < 0)
                LogV(llError, "hook buf malloc error.");
            else if (!RunVideoHook(OnVideoOutputHook, OutputHookConverter, picture, frameNumber,
                                   pts, converted))
                VideoOutputHook = false;
        }
        Preview(picture, frameNumber, pts, converted);
        picture->pts = ost.SyncOpts;
        picture->pict_type = AV_PICTURE_TYPE_NONE;
        if (ost.NextForcedKeyFrame < ost.ForcedKeyFrames.size() &&
            ost.SyncOpts >= ost.ForcedKeyFrames[ost.NextForcedKeyFrame]) {
            picture->pict_type = AV_PICTURE_TYPE_I;
            // Times already passed (several within one picture) are used up together.
            while (ost.NextForcedKeyFrame < ost.ForcedKeyFrames.size() &&
                   ost.SyncOpts >= ost.ForcedKeyFrames[ost.NextForcedKeyFrame])
                ++ost.NextForcedKeyFrame;
        }
        picture->quality = SameQuality ? ist.Quality : enc->global_quality;
        if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
            picture->top_field_first =
                TopFieldFirst == -1 ? decoded->top_field_first : TopFieldFirst;
        EncodeFrame(ost, picture);
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

// -- audio ---------------------------------------------------------------------------------

void TCustomFFmpeg::BuildResampler(TOutputStream& ost, const AVFrame* frame) {
    AVCodecContext* enc = ost.Encoder.get();
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        ff::av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else
        ff::av_channel_layout_copy(&inLayout, &frame->ch_layout);
    SwrContext* resampler = nullptr;
    int result = ff::swr_alloc_set_opts2(
        &resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    ff::av_channel_layout_uninit(&inLayout);
    ost.Audio.Resampler.reset(resampler);
    if (result >= 0 && resampler) {
        ff::av_opt_set_int(resampler, "filter_size", 16, 0);
        ff::av_opt_set_int(resampler, "phase_shift", 10, 0);
        ff::av_opt_set_int(resampler, "linear_interp", 0, 0);
        ff::av_opt_set(resampler, "cutoff", "0.8", 0);
        result = ff::swr_init(resampler);
    }
    if (result < 0 || !resampler) {
        ost.Audio.Resampler.reset();
        Fail(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                        frame->ch_layout.nb_channels, frame->sample_rate,
                        enc->ch_layout.nb_channels, enc->sample_rate));
    }
}

void TCustomFFmpeg::GrowAudioBuffer(TOutputStream& ost, int samples) {
    TAudioOutState& audio = ost.Audio;
    if (samples <= audio.BufferSamples)
        return;
    const AVCodecContext* enc = ost.Encoder.get();
    audio.Buffer.reset();
    audio.BufferSamples = 0;
    const int channels = enc->ch_layout.nb_channels;
    const int planes = ff::av_sample_fmt_is_planar(enc->sample_fmt) ? channels : 1;
    TSamplesPtr buffer(static_cast<uint8_t**>(ff::av_mallocz(sizeof(uint8_t*) * planes)));
    if (!buffer)
        Fail("Out of memory in do_audio_out");
    const int capacity = samples + samples / 2;
    if (ff::av_samples_alloc(buffer.get(), nullptr, channels, capacity, enc->sample_fmt, 0) < 0)
        Fail("Out of memory in do_audio_out");
    audio.Buffer = std::move(buffer);
    audio.BufferSamples = capacity;
}

void TCustomFFmpeg::WriteToFifo(TOutputStream& ost, uint8_t* const* planes, int samples) {
    if (samples <= 0)
        return;
    if (ff::av_audio_fifo_write(ost.Audio.Fifo.get(),
                                reinterpret_cast<void**>(const_cast<uint8_t**>(planes)),
                                samples) < samples)
        Fail("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame) {
    TAudioOutState& audio = ost.Audio;
    AVCodecContext* enc = ost.Encoder.get();
    const auto inFormat = static_cast<AVSampleFormat>(frame->format);
    const int inRate = frame->sample_rate;
    const int inChannels = frame->ch_layout.nb_channels;
    if (inRate <= 0 || inChannels <= 0 || frame->nb_samples <= 0)
        return;
    if (inFormat != audio.InputFormat || inRate != audio.InputRate ||
        inChannels != audio.InputChannels) {
        LogV(llInfo, FormatText("Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to "
                                "rate:%d fmt:%s ch:%d",
                                ist.FileIndex, ist.StreamIndex, audio.InputRate,
                                SampleFormatName(audio.InputFormat), audio.InputChannels, inRate,
                                SampleFormatName(inFormat), inChannels));
        audio.Resampler.reset();
        audio.InputFormat = inFormat;
        audio.InputRate = inRate;
        audio.InputChannels = inChannels;
    }
    const bool convert = audio.Resample || inRate != enc->sample_rate ||
                         inFormat != enc->sample_fmt || inChannels != enc->ch_layout.nb_channels;
    if (convert && !audio.Resampler)
        BuildResampler(ost, frame);

    const int outRate = enc->sample_rate;
    const int64_t queued = ff::av_audio_fifo_size(audio.Fifo.get());
    // The samples' place in output samples, less the timestamp jumps taken out before.
    double wanted = static_cast<double>(ost.SyncSource->Pts - StartTime) / 1e6 * outRate -
                    static_cast<double>(ost.SyncShift);
    // A step beyond the discontinuity threshold that the pictures of the same file do not
    // share is a broken timestamp: it is taken out of the timeline (as the pictures take out
    // theirs) rather than filled with silence or cut away. Silence for sync therefore never
    // covers more than the threshold.
    const double jumpSamples = DtsDeltaThreshold * outRate;
    const double step = wanted - static_cast<double>(ost.SyncOpts + queued);
    if (std::fabs(step) > jumpSamples) {
        if (!ClockAgrees(*ost.SyncSource, AVMEDIA_TYPE_VIDEO,
                         ost.SyncSource->Pts - ShiftMicroseconds(ost))) {
            const int64_t jump = std::llround(step);
            LogV(llWarning, FormatText("timestamp jump of %.1f s in the sound taken out",
                                       static_cast<double>(jump) / outRate));
            ost.SyncShift += jump;
            wanted -= static_cast<double>(jump);
        } else if (step > 0) {
            // Sound that starts late, or a real pause the pictures share: the samples keep
            // their place, with a gap rather than a long stretch of silence.
            ost.SyncOpts = std::llround(wanted) - queued;
            ist.IsStart = false;
        }
    }
    const double t = wanted / outRate;
    int skip = 0;
    int64_t silence = 0;
    if (AudioSyncMethod) {
        const double delta = t * outRate - static_cast<double>(ost.SyncOpts + queued);
        const double idelta = delta * inRate / outRate;
        if (std::fabs(delta) > 50) {
            if (ist.IsStart || std::fabs(delta) > AudioDriftThreshold * outRate) {
                if (idelta < 0) {
                    skip = static_cast<int>(
                        std::min<int64_t>(std::llround(-idelta), frame->nb_samples));
                    if (Verbose > 2)
                        LogV(llVerbose, FormatText("discarding %d audio samples", skip));
                } else {
                    silence = std::llround(delta);
                    if (Verbose > 2)
                        LogV(llVerbose, FormatText("adding %d audio samples of silence",
                                                   static_cast<int>(silence)));
                }
                ist.IsStart = false;
                if (skip >= frame->nb_samples)
                    return;
            } else if (AudioSyncMethod > 1 && audio.Resampler) {
                const int compensation = static_cast<int>(
                    std::clamp<int64_t>(std::llround(delta), -AudioSyncMethod, AudioSyncMethod));
                if (Verbose > 2)
                    LogV(llVerbose, FormatText("compensating audio timestamp drift:%f "
                                               "compensation:%d in:%d",
                                               delta, compensation, outRate));
                ff::swr_set_compensation(audio.Resampler.get(), compensation, outRate);
            }
        }
    } else {
        ost.SyncOpts = std::llround(t * outRate) - queued;
    }

    const int channels = enc->ch_layout.nb_channels;
    // The gap is within the jump threshold here; it is written a second at a time, so the
    // buffer and the FIFO stay small even for a threshold of hours.
    while (silence > 0) {
        const int count = static_cast<int>(std::min<int64_t>(silence, outRate));
        GrowAudioBuffer(ost, count);
        ff::av_samples_set_silence(audio.Buffer.get(), 0, count, channels, enc->sample_fmt);
        WriteToFifo(ost, audio.Buffer.get(), count);
        EncodeFifo(ost, false);
        silence -= count;
    }

    // The block from its first kept sample on.
    const int count = frame->nb_samples - skip;
    const int bytesPerSample = ff::av_get_bytes_per_sample(inFormat);
    const bool planar = ff::av_sample_fmt_is_planar(inFormat);
    uint8_t* fixed[AV_NUM_DATA_POINTERS];
    std::vector<uint8_t*> many;
    uint8_t** in = fixed;
    const int planes = planar ? inChannels : 1;
    if (planes > AV_NUM_DATA_POINTERS) {
        many.resize(static_cast<size_t>(planes));
        in = many.data();
    }
    const size_t offset =
        static_cast<size_t>(skip) * static_cast<size_t>(bytesPerSample * (planar ? 1 : inChannels));
    for (int p = 0; p < planes; ++p)
        in[p] = frame->extended_data[p] + offset;

    if (audio.Resampler) {
        const int64_t delay = ff::swr_get_delay(audio.Resampler.get(), inRate);
        const int64_t capacity =
            (delay + count) * outRate / inRate + 16 + std::abs(AudioSyncMethod) + count / 16;
        if (capacity > INT_MAX / 8)
            Fail("Buffer sizes too large in do_audio_out");
        GrowAudioBuffer(ost, static_cast<int>(capacity));
        const int got = ff::swr_convert(audio.Resampler.get(), audio.Buffer.get(), audio.BufferSamples,
                                        const_cast<const uint8_t**>(in), count);
        if (got < 0) {
            if (ExitOnError)
                Fail("av_audio_convert() failed");
            LogV(llError, "av_audio_convert() failed");
            return;
        }
        WriteToFifo(ost, audio.Buffer.get(), got);
    } else {
        WriteToFifo(ost, in, count);
    }
    EncodeFifo(ost, false);
}

void TCustomFFmpeg::EncodeFifo(TOutputStream& ost, bool flushing) {
    TAudioOutState& audio = ost.Audio;
    AVCodecContext* enc = ost.Encoder.get();
    const int capabilities = enc->codec ? enc->codec->capabilities : 0;
    const bool variable = enc->frame_size <= 1 || (capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const bool shortLast = variable || (capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
    for (;;) {
        const int queued = ff::av_audio_fifo_size(audio.Fifo.get());
        int samples = 0;
        int padding = 0;
        if (variable) {
            samples = queued;
        } else if (queued >= enc->frame_size) {
            samples = enc->frame_size;
        } else if (flushing && queued > 0) {
            samples = queued;
            padding = shortLast ? 0 : enc->frame_size - queued;
        }
        if (samples <= 0)
            break;
        const int total = samples + padding;

        AVFrame* frame = audio.Frame.get();
        if (total > audio.FrameCapacity) {
            ff::av_frame_unref(frame);
            frame->format = enc->sample_fmt;
            frame->sample_rate = enc->sample_rate;
            ff::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
            frame->nb_samples = total;
            if (ff::av_frame_get_buffer(frame, 0) < 0)
                Fail("Out of memory in do_audio_out");
            audio.FrameCapacity = total;
        } else {
            frame->nb_samples = audio.FrameCapacity;
            if (ff::av_frame_make_writable(frame) < 0)
                Fail("Out of memory in do_audio_out");
        }
        frame->nb_samples = total;
        ff::av_audio_fifo_read(audio.Fifo.get(), reinterpret_cast<void**>(frame->extended_data),
                               samples);
        if (padding)
            ff::av_samples_set_silence(frame->extended_data, samples, padding,
                                       enc->ch_layout.nb_channels, enc->sample_fmt);
        int64_t pts = ost.SyncOpts;
        if (audio.NextPts != NoPtsValue && pts < audio.NextPts)
            pts = audio.NextPts;
        frame->pts = pts;
        EncodeFrame(ost, frame);
        audio.NextPts = pts + total;
        ost.SyncOpts += total;
    }
}

// -- timestamp jumps -----------------------------------------------------------------------

int64_t TCustomFFmpeg::ShiftMicroseconds(const TOutputStream& ost) const {
    const AVCodecContext* enc = ost.Encoder.get();
    if (!ost.SyncShift || !enc)
        return 0;
    if (ost.Type() == AVMEDIA_TYPE_AUDIO)
        return enc->sample_rate > 0 ? ost.SyncShift * AV_TIME_BASE / enc->sample_rate : 0;
    return ff::av_rescale_q(ost.SyncShift, enc->time_base, AV_TIME_BASE_Q);
}

bool TCustomFFmpeg::ClockAgrees(const TInputStream& ist, AVMediaType kind, int64_t time) const {
    const TInputFile& input = *Inputs[ist.FileIndex];
    for (int s = 0; s < input.StreamCount; ++s) {
        const TInputStream& other = *InputStreams[input.FirstStream + s];
        if (&other == &ist || other.Unused || other.NextPts == NoPtsValue ||
            other.Stream->codecpar->codec_type != kind)
            continue;
        // The other stream's time with the jumps its own output took out.
        const int64_t shift = other.Outputs.empty() ? 0 : ShiftMicroseconds(*other.Outputs[0]);
        if (std::llabs(other.Pts - shift - time) <= static_cast<int64_t>(DtsDeltaThreshold * 1e6))
            return true;
    }
    return false;
}

// -- stretches without a source ------------------------------------------------------------

void TCustomFFmpeg::FillMissing(int64_t until) {
    for (TOutputStream* ost : OutputStreams) {
        if (ost->Source || !ost->NeedsEncoding || !ost->EncoderOpen || ost->EncoderFlushed)
            continue;
        if (ost->Type() == AVMEDIA_TYPE_AUDIO)
            FillSilence(*ost, until);
        else if (ost->Type() == AVMEDIA_TYPE_VIDEO)
            FillBlack(*ost, until);
    }
}

void TCustomFFmpeg::FillSilence(TOutputStream& ost, int64_t until) {
    TAudioOutState& audio = ost.Audio;
    const AVCodecContext* enc = ost.Encoder.get();
    const int rate = enc->sample_rate;
    if (rate <= 0 || !audio.Fifo)
        return;
    const int64_t target = ff::av_rescale_q(until - StartTime, AV_TIME_BASE_Q, AVRational{1, rate});
    int64_t reached = ost.SyncOpts + ff::av_audio_fifo_size(audio.Fifo.get());
    // At most a second at a time: the FIFO and the buffer stay small however long the stretch.
    while (reached < target && !StopRequested) {
        const int count = static_cast<int>(std::min<int64_t>(target - reached, rate));
        GrowAudioBuffer(ost, count);
        ff::av_samples_set_silence(audio.Buffer.get(), 0, count, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        WriteToFifo(ost, audio.Buffer.get(), count);
        EncodeFifo(ost, false);
        reached += count;
    }
}

void TCustomFFmpeg::FillBlack(TOutputStream& ost, int64_t until) {
    AVCodecContext* enc = ost.Encoder.get();
    if (enc->width <= 0 || enc->height <= 0 || !enc->time_base.num)
        return;
    const int64_t target =
        std::llround(static_cast<double>(until - StartTime) / 1e6 / av_q2d(enc->time_base));
    TFramePtr& black = ost.Video.Black;
    while (ost.SyncOpts < target && ost.FrameNumber < MaxVideoFrames && !StopRequested) {
        if (!black) {
            black.reset(ff::av_frame_alloc());
            if (!black)
                Fail("av_mallocz fail");
            black->format = enc->pix_fmt;
            black->width = enc->width;
            black->height = enc->height;
            if (ff::av_frame_get_buffer(black.get(), 0) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
            ptrdiff_t linesizes[4] = {};
            for (int p = 0; p < 4; ++p)
                linesizes[p] = black->linesize[p];
            if (ff::av_image_fill_black(black->data, linesizes, enc->pix_fmt, enc->color_range,
                                        enc->width, enc->height) < 0)
                Fail("Cannot allocate temp picture, check pix fmt");
        }
        // The encoder may still hold the previous copy; a writable one keeps the black.
        if (ff::av_frame_make_writable(black.get()) < 0)
            Fail("Cannot allocate temp picture, check pix fmt");
        black->pts = ost.SyncOpts;
        black->pict_type = AV_PICTURE_TYPE_NONE;
        black->quality = enc->global_quality;
        EncodeFrame(ost, black.get());
        ++ost.SyncOpts;
        ++ost.FrameNumber;
    }
}

// -- subtitles -----------------------------------------------------------------------------

void TCustomFFmpeg::DoSubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle& subtitle) {
    AVCodecContext* enc = ost.Encoder.get();
    if (subtitle.pts == AV_NOPTS_VALUE && ist.Pts == NoPtsValue) {
        if (ExitOnError)
            Fail("Subtitle packets must have a pts");
        LogV(llError, "Subtitle packets must have a pts");
        return;
    }
    const int64_t base = (subtitle.pts != AV_NOPTS_VALUE ? subtitle.pts : ist.Pts) - StartTime;
    const int rounds = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
    std::lock_guard<std::mutex> guard(SubtitleLock());
    uint8_t* buffer = SubtitleBuffer();
    const uint32_t start = subtitle.start_display_time;
    for (int round = 0; round < rounds; ++round) {
        AVSubtitle copy = subtitle;
        copy.pts = base + int64_t(subtitle.start_display_time) * 1000;
        copy.end_display_time -= copy.start_display_time;
        copy.start_display_time = 0;
        if (round == 1)
            copy.num_rects = 0; // the second packet clears the screen
        const int size = ff::avcodec_encode_subtitle(enc, buffer, SubtitleBufferSize, &copy);
        if (size < 0)
            Fail("Subtitle encoding failed");
        AVPacket* packet = EncodedPacket.get();
        if (ff::av_new_packet(packet, size) < 0)
            Fail("av_mallocz fail");
        std::memcpy(packet->data, buffer, static_cast<size_t>(size));
        const AVRational tb = ost.Stream->time_base;
        packet->pts = ff::av_rescale_q(copy.pts, AV_TIME_BASE_Q, tb);
        packet->duration = ff::av_rescale_q(copy.end_display_time, AVRational{1, 1000}, tb);
        if (rounds == 2) {
            const int64_t shift = round == 0 ? start : subtitle.end_display_time;
            packet->pts += ff::av_rescale_q(90 * shift, AVRational{1, 90000}, tb);
        }
        packet->dts = packet->pts;
        WritePacket(ost, packet);
    }
}

// -- encoding and writing ------------------------------------------------------------------

void TCustomFFmpeg::EncodeFrame(TOutputStream& ost, AVFrame* frame) {
    AVCodecContext* enc = ost.Encoder.get();
    const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
    const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
    int result = ff::avcodec_send_frame(enc, frame);
    if (result < 0 && result != AVERROR_EOF)
        Fail(failure);
    AVPacket* packet = EncodedPacket.get();
    for (;;) {
        result = ff::avcodec_receive_packet(enc, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0)
            Fail(failure);
        if (video) {
            VideoBytes += packet->size;
            ++ost.EncodedFrames;
            size_t size = 0;
            // Quality, picture type and the squared error of each plane, as the encoder
            // reports them.
            if (const uint8_t* stats =
                    ff::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
                stats && size >= 4) {
                int32_t quality = 0;
                std::memcpy(&quality, stats, sizeof quality);
                ost.Quality = static_cast<double>(quality) / FF_QP2LAMBDA;
                if (size >= 5)
                    ost.PictureType = stats[4];
                const int planes = size >= 6 ? std::min<int>(stats[5], 3) : 0;
                for (int j = 0; j < planes && 8 + 8 * (j + 1) <= static_cast<int>(size); ++j) {
                    uint64_t error = 0;
                    std::memcpy(&error, stats + 8 + 8 * j, sizeof error);
                    ost.LastError[j] = error;
                    ost.TotalError[j] += error;
                    ost.ErrorPlanes = std::max(ost.ErrorPlanes, j + 1);
                }
            }
            if (packet->duration <= 0)
                packet->duration = 1;
            WritePassLog(ost);
            WriteVideoStats(ost, packet);
        } else {
            AudioBytes += packet->size;
        }
        ff::av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
        WritePacket(ost, packet);
    }
}

void TCustomFFmpeg::FlushEncoder(TOutputStream& ost) {
    if (!ost.NeedsEncoding || !ost.EncoderOpen || ost.EncoderFlushed)
        return;
    ost.EncoderFlushed = true;
    AVCodecContext* enc = ost.Encoder.get();
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
        TAudioOutState& audio = ost.Audio;
        if (audio.Resampler) {
            for (;;) {
                GrowAudioBuffer(ost, 4096);
                const int got = ff::swr_convert(audio.Resampler.get(), audio.Buffer.get(),
                                                audio.BufferSamples, nullptr, 0);
                if (got <= 0)
                    break;
                WriteToFifo(ost, audio.Buffer.get(), got);
            }
        }
        EncodeFifo(ost, true);
        EncodeFrame(ost, nullptr);
    } else if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        EncodeFrame(ost, nullptr);
    }
    if (!ost.Filters.empty())
        FilterAndWrite(ost, 0, nullptr);
}

void TCustomFFmpeg::WritePacket(TOutputStream& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    if (ost.Filters.empty())
        MuxPacket(ost, packet);
    else
        FilterAndWrite(ost, 0, packet);
}

void TCustomFFmpeg::FilterAndWrite(TOutputStream& ost, size_t filterIndex, AVPacket* packet) {
    if (filterIndex == ost.Filters.size()) {
        if (packet)
            MuxPacket(ost, packet);
        return;
    }
    AVBSFContext* filter = ost.Filters[filterIndex].get();
    auto failure = [&](int code) {
        const char* codec = ost.StreamCopy || !ost.Encoder || !ost.Encoder->codec
                                ? "copy"
                                : ost.Encoder->codec->name;
        std::string text = ErrorText(FormatText("%s failed for stream %d, codec %s",
                                                filter->filter->name, ost.Stream->index, codec),
                                     code);
        if (ExitOnError)
            Fail(text);
        LogV(llError, text);
    };
    int result = ff::av_bsf_send_packet(filter, packet);
    if (result < 0) {
        failure(result);
        FilterAndWrite(ost, filterIndex + 1, packet); // the packet goes on as it was
        return;
    }
    TPacketPtr filtered(ff::av_packet_alloc());
    if (!filtered)
        Fail("av_mallocz fail");
    for (;;) {
        result = ff::av_bsf_receive_packet(filter, filtered.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0) {
            failure(result);
            break;
        }
        FilterAndWrite(ost, filterIndex + 1, filtered.get());
        ff::av_packet_unref(filtered.get());
    }
    if (!packet)
        FilterAndWrite(ost, filterIndex + 1, nullptr);
}

void TCustomFFmpeg::MuxPacket(TOutputStream& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t end = ff::av_rescale_q(ts + std::max<int64_t>(packet->duration, 0),
                                             ost.Stream->time_base, AV_TIME_BASE_Q);
        ost.EndTime = std::max(ost.EndTime, end);
    }
    const int result = ff::av_interleaved_write_frame(Outputs[ost.FileIndex]->Context.get(), packet);
    if (result < 0)
        Fail(ErrorText("av_interleaved_write_frame()", result));
}

// -- hooks and preview ---------------------------------------------------------------------

void TCustomFFmpeg::PrepareVideoInput(TInputStream& ist, AVFrame* frame) {
    const bool inputHook = VideoInputHook && OnVideoInputHook;
    const bool frameHooks = UsingVhook && !FrameHooks.Empty();
    if (!inputHook && !frameHooks)
        return;
    // The hooks work on a picture of their own, not on the decoder's reference pictures.
    if (ff::av_frame_make_writable(frame) < 0) {
        LogV(llError, "hook buf malloc error.");
        return;
    }
    bool converted = false;
    if (inputHook && !RunVideoHook(OnVideoInputHook, InputHookConverter, frame, ist.DecodedFrames,
                                   ist.Pts, converted))
        VideoInputHook = false;
    if (frameHooks) {
        TPicture picture = PictureOf(frame);
        RunFrameHooks(FrameHooks, picture, frame->format, frame->width, frame->height, ist.Pts);
    }
}

bool TCustomFFmpeg::RunVideoHook(TJobVideoHookCallback& handler, TFormatConverter& converter,
                                 AVFrame* picture, int64_t frameNumber, int64_t pts,
                                 bool& converted) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    const int width = picture->width;
    const int height = picture->height;
    const TPicture planes = PictureOf(picture);
    if (!converter.ToRGB(planes, format, true, height, width)) {
        LogV(llError, converter.LastError());
        return false;
    }
    converted = true;
    TBitmap& bitmap = converter.Bitmap();
    const int bitsPixel = bitmap.BitsPixel();
    TJobHookFrame frame{&bitmap, frameNumber, pts, true, false};
    try {
        handler(this, frame);
    } catch (const std::exception& e) {
        LogV(llError, std::string("Error occurs VideoHook event: ") + e.what());
        frame.Update = false;
    } catch (...) {
        LogV(llError, "Error occurs VideoHook event: Unknown error");
        frame.Update = false;
    }
    // A bitmap of another shape cannot go back into the picture.
    if (frame.Update &&
        (bitmap.Width() != width || bitmap.Height() != height || bitmap.BitsPixel() != bitsPixel)) {
        LogV(llError, "Error occurs VideoHook event: the bitmap's size or depth was changed");
        frame.Update = false;
        converted = false;
    }
    if (frame.Update) {
        converter.BitmapToPicture();
        if (converter.WorkedOnCopy() && !converter.FromRGB(planes, format, height, width)) {
            LogV(llError, converter.LastError());
            frame.StopHook = true;
        }
    }
    return !frame.StopHook;
}

void TCustomFFmpeg::Preview(AVFrame* picture, int64_t frameNumber, int64_t pts, bool converted) {
    bool deliverBitmap = false;
    std::shared_ptr<TPreviewer> previewer;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        const int flags = PreviewFlagBits;
        if (!flags)
            return;
        const int64_t now = ff::av_gettime();
        if (!PreviewFlagsChanged && LastPreviewTime != INT64_MIN &&
            now - LastPreviewTime < PreviewIntervalUs)
            return;
        const bool changed = PreviewFlagsChanged;
        PreviewFlagsChanged = false;
        LastPreviewTime = now;
        int flag = 0;
        if ((flags & PreviewBitmapFlag) && OnPreviewBitmap) {
            deliverBitmap = true;
            flag = PreviewBitmapFlag;
        } else if (flags & PreviewWindowFlag) {
            flag = PreviewWindowFlag;
        } else {
            return;
        }
        if (!converted || changed) {
            TFormatConverter& converter = OutputHookConverter;
            if (!converter.ToRGB(PictureOf(picture), static_cast<AVPixelFormat>(picture->format),
                                 true, picture->height, picture->width)) {
                LogV(llError, converter.LastError());
                PreviewFlagBits &= ~flag;
                return;
            }
        }
        if (!deliverBitmap) {
            if (!Previewer)
                Previewer = CreatePreviewer();
            previewer = Previewer;
        }
    }
    // Delivered outside the lock: the owner may hand the picture to the main thread and wait,
    // while the main thread changes the flags.
    const TBitmap& bitmap = OutputHookConverter.Bitmap();
    if (deliverBitmap) {
        OnPreviewBitmap(this, bitmap, frameNumber, pts);
    } else if (!previewer->ShowFrame(bitmap, frameNumber, pts)) {
        std::lock_guard<std::mutex> guard(PreviewLock());
        PreviewFlagBits &= ~PreviewWindowFlag;
    }
}

void TCustomFFmpeg::RunAudioHook(TInputStream& ist, AVFrame* frame) {
    if (!AudioHook || !OnAudioHook || frame->nb_samples <= 0)
        return;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = ff::av_get_bytes_per_sample(format);
    if (channels <= 0 || bytes <= 0 || ff::av_frame_make_writable(frame) < 0)
        return;
    const size_t size = static_cast<size_t>(frame->nb_samples) * channels * bytes;
    // The handler sees the samples one after the other, channel by channel; planar samples
    // are interleaved for it and its changes are taken back.
    const bool planar = ff::av_sample_fmt_is_planar(format) && channels > 1;
    uint8_t* samples = frame->extended_data[0];
    if (planar) {
        AudioHookBuffer.resize(size);
        for (int n = 0; n < frame->nb_samples; ++n)
            for (int c = 0; c < channels; ++c)
                std::memcpy(&AudioHookBuffer[(static_cast<size_t>(n) * channels + c) * bytes],
                            frame->extended_data[c] + static_cast<size_t>(n) * bytes, bytes);
        samples = AudioHookBuffer.data();
    }
    try {
        OnAudioHook(this, ist.Pts, samples, static_cast<int>(size), frame->sample_rate, channels,
                    ff::av_get_packed_sample_fmt(format));
    } catch (const std::exception& e) {
        LogV(llError, std::string("Error occurs AudioHook event: ") + e.what());
        return;
    } catch (...) {
        LogV(llError, "Error occurs AudioHook event: Unknown error");
        return;
    }
    if (planar)
        for (int n = 0; n < frame->nb_samples; ++n)
            for (int c = 0; c < channels; ++c)
                std::memcpy(frame->extended_data[c] + static_cast<size_t>(n) * bytes,
                            &AudioHookBuffer[(static_cast<size_t>(n) * channels + c) * bytes],
                            bytes);
}

// -- two-pass log files and video statistics ----------------------------------------------

void TCustomFFmpeg::OpenPassLog(TOutputStream& ost, int index) {
    AVCodecContext* enc = ost.Encoder.get();
    const bool pass1 = enc->flags & AV_CODEC_FLAG_PASS1;
    const bool pass2 = enc->flags & AV_CODEC_FLAG_PASS2;
    if (!pass1 && !pass2)
        return;
    std::string name = (PassLogFileName.empty() ? std::string("ffmpeg2pass") : PassLogFileName) +
                       "-" + std::to_string(index) + ".log";
    if (name.size() > 1023)
        name.resize(1023);
    // Encoders that keep their statistics in a file of their own are pointed at the same one.
    if (enc->priv_data && ff::av_opt_find(enc->priv_data, "stats", nullptr, 0, 0))
        ff::av_opt_set(enc->priv_data, "stats", name.c_str(), 0);
    if (pass1) {
        ost.PassLog.reset(std::fopen(name.c_str(), "wb"));
        if (!ost.PassLog)
            Fail(FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    TFilePtr file(std::fopen(name.c_str(), "rb"));
    std::string text;
    if (file) {
        char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
            text.append(chunk, got);
        if (std::ferror(file.get()))
            file.reset();
    }
    // A log without statistics counts as unreadable: the encoder's rate control would fail on
    // it while opening.
    if (!file || text.find_first_not_of(" \t\r\n") == std::string::npos)
        Fail(FormatText("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                        name.c_str()));
    auto* stats = static_cast<char*>(ff::av_malloc(text.size() + 1));
    if (!stats)
        Fail(FormatText(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
            name.c_str()));
    std::memcpy(stats, text.c_str(), text.size() + 1);
    ff::av_freep(&enc->stats_in);
    enc->stats_in = stats;
}

void TCustomFFmpeg::WritePassLog(TOutputStream& ost) {
    const AVCodecContext* enc = ost.Encoder.get();
    if (ost.PassLog && enc->stats_out)
        std::fputs(enc->stats_out, ost.PassLog.get());
}

void TCustomFFmpeg::WriteVideoStats(TOutputStream& ost, const AVPacket* packet) {
    if (VStatsFileName.empty())
        return;
    if (!VStatsFile) {
        VStatsFile.reset(std::fopen(VStatsFileName.c_str(), "w"));
        if (!VStatsFile)
            Fail("fopen fail: " + VStatsFileName);
    }
    const AVCodecContext* enc = ost.Encoder.get();
    std::string line =
        FormatText("frame= %5d q= %2.1f ", static_cast<int>(ost.EncodedFrames), ost.Quality);
    if ((enc->flags & AV_CODEC_FLAG_PSNR) && ost.ErrorPlanes > 0) {
        const double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
        line += FormatText("PSNR= %6.2f ",
                           -10.0 * std::log10(static_cast<double>(ost.LastError[0]) / scale));
    }
    line += FormatText("f_size= %6d ", packet->size);
    // The packet still counts in the encoder's time base here.
    double time = packet->pts != AV_NOPTS_VALUE
                      ? static_cast<double>(packet->pts) * av_q2d(enc->time_base)
                      : 0.0;
    if (time < 0.01)
        time = 0.01;
    const double frameRate = 1.0 / av_q2d(enc->time_base);
    const double bitrate = packet->size * 8.0 * frameRate / 1000.0;
    const double average = static_cast<double>(VideoBytes) * 8.0 / time / 1000.0;
    line += FormatText("s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                       static_cast<double>(VideoBytes) / 1024, time, bitrate, average);
    const char type =
        ost.PictureType ? ff::av_get_picture_type_char(static_cast<AVPictureType>(ost.PictureType))
                        : '?';
    line += FormatText("type= %c\n", type);
    std::fputs(line.c_str(), VStatsFile.get());
}

} // namespace cw
