// Stream copy in a job: copied streams (the cover picture among them), their set-up from the
// source, and the bitstream filters on the way to the muxer.
#include "engine/StreamCopy.h"

#include "engine/FFUtils.h"
#include "engine/InputFiles.h"
#include "engine/JobContext.h"
#include "engine/JobHooks.h"
#include "engine/JobPipeline.h"
#include "engine/OptionParsers.h"
#include "engine/OutputFiles.h"
#include "engine/StreamFacts.h"
#include "engine/Text.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

#include <algorithm>
#include <climits>
#include <string_view>

namespace cw {

void TStreamCopy::NewCoverStream(AVFormatContext* context, int outputIndex) {
    // The picture is copied as it is; stream mapping pairs it with the input's cover.
    TOutputStream& ost =
        Ctx.OutputFiles.AddOutputStream(context, outputIndex, AVMEDIA_TYPE_VIDEO, nullptr);
    ost.StreamCopy = true;
    ost.Cover = true;
}

namespace {

// The container's name as the format list shows it.
std::string ContainerLabel(const AVOutputFormat* format) {
    static const std::pair<const char*, const char*> Labels[] = {
        {"mp4", "MP4"}, {"mov", "MOV"}, {"matroska", "MKV"}, {"webm", "WebM"}, {"ipod", "M4A"},
    };
    for (const auto& [muxer, label] : Labels)
        if (std::string_view(format->name) == muxer)
            return label;
    return UpperText(format->name);
}

bool IsMatroska(const AVOutputFormat* format) {
    return std::string_view(format->name) == "matroska" || std::string_view(format->name) == "webm";
}

// What the stream holds, for a worded message: "PCM sound", "VP8 video", "ASS subtitles".
std::string StreamLabel(const AVCodecParameters* par) {
    const bool pcm =
        par->codec_id >= AV_CODEC_ID_PCM_S16LE && par->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
    const std::string codec = pcm ? "PCM" : UpperText(ff::avcodec_get_name(par->codec_id));
    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        return codec + " sound";
    case AVMEDIA_TYPE_SUBTITLE:
        return codec + " subtitles";
    default:
        return codec + " video";
    }
}

// The muxer's own answer; a muxer that gives none is left to refuse the stream itself.
bool MuxerCarries(const AVOutputFormat* format, AVCodecID codec) {
    return ff::avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) != 0;
}

} // namespace

bool TStreamCopy::NewCopiedStreams(AVFormatContext* context, int outputIndex) {
    const AVFormatContext* ic = Ctx.InputFiles.Inputs[0]->Context.get();
    const AVOutputFormat* format = context->oformat;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* in = ic->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if (in->discard == AVDISCARD_ALL ||
            (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO &&
             type != AVMEDIA_TYPE_SUBTITLE))
            continue;
        const bool cover = type == AVMEDIA_TYPE_VIDEO && IsCoverPicture(in);
        // Matroska keeps a cover as an attached file (see SetUpStreamCopy).
        if (!(cover && IsMatroska(format)) && !MuxerCarries(format, in->codecpar->codec_id)) {
            const std::string what = StreamLabel(in->codecpar);
            if (type == AVMEDIA_TYPE_SUBTITLE || cover) {
                LogV(llInfo, FormatText("%s cannot carry this file's %s: stream #0.%u left out",
                                        ContainerLabel(format).c_str(), what.c_str(), i));
                continue;
            }
            Ctx.OpenError = FormatText("%s cannot carry this file's %s",
                                       ContainerLabel(format).c_str(), what.c_str());
            if (std::string_view(format->name) != "matroska")
                Ctx.OpenError += ": choose MKV - Copy Streams";
            return false;
        }
        TOutputStream& ost = Ctx.OutputFiles.AddOutputStream(context, outputIndex, type, nullptr);
        ost.StreamCopy = true;
        ost.Cover = cover;
        ost.CopyOf = static_cast<int>(i);
    }
    return true;
}

void TStreamCopy::SetUpStreamCopy(TOutputStream& ost) {
    const AVStream* in = ost.Source->Stream;
    const AVCodecParameters* inPar = in->codecpar;
    AVStream* out = ost.Stream;
    const AVOutputFormat* format = Ctx.OutputFiles.Outputs[ost.FileIndex]->Context->oformat;
    if (inPar->extradata_size > INT_MAX - 8 || inPar->extradata_size < 0)
        Fail("icodec.extradata_size is invalid (too large)");

    const AVMediaType type = inPar->codec_type;
    switch (type) {
    case AVMEDIA_TYPE_AUDIO:
        if (Ctx.Options.AudioVolume != 256)
            Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
        if (Ctx.Options.AudioHook)
            Fail("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (ost.Cover)
            break; // a cover picture goes into the file as it is, beside the sound
        if (Ctx.Options.VideoInputHook || Ctx.Options.VideoOutputHook)
            Fail("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
        if (!Ctx.Options.FrameHooks.Empty())
            Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (Ctx.Hooks.PreviewFlags())
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
    if (!Ctx.Options.CopyTimeBase) {
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
    // What the stream says beside its packets: the display matrix (the pictures are not
    // turned, so the turn must travel with them), HDR mastering and light levels, and the
    // like. The Matroska muxer has no place for the display matrix.
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& side = in->side_data[i];
        if (uint8_t* data = ff::av_stream_new_side_data(out, side.type, side.size))
            std::copy_n(side.data, side.size, data);
    }
    // Matroska keeps a cover as an attached file, which readers show as the cover again.
    if (ost.Cover && IsMatroska(format) && in->attached_pic.size > 0) {
        AVCodecParameters* par = out->codecpar;
        const bool png = inPar->codec_id == AV_CODEC_ID_PNG;
        ff::av_freep(&par->extradata);
        par->extradata = static_cast<uint8_t*>(
            ff::av_mallocz(size_t(in->attached_pic.size) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            Fail("av_mallocz fail");
        std::copy_n(in->attached_pic.data, in->attached_pic.size, par->extradata);
        par->extradata_size = in->attached_pic.size;
        par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        ff::av_dict_set(&out->metadata, "filename", png ? "cover.png" : "cover.jpg", 0);
        ff::av_dict_set(&out->metadata, "mimetype", png ? "image/png" : "image/jpeg", 0);
    }
    if (type == AVMEDIA_TYPE_VIDEO && !ost.Cover && IsMatroska(format) && DisplayTurn(in) != ptNone)
        LogV(llInfo, FormatText("%s cannot store the turn of stream #%d.%d: its pictures are "
                                "copied as they are stored, the turn is lost",
                                ContainerLabel(format).c_str(), ost.Source->FileIndex,
                                ost.Source->StreamIndex));
    ost.NeedsEncoding = false;
}

void TStreamCopy::InitBitstreamFilters(TOutputStream& ost) {
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

void TStreamCopy::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket* packet) {
    if (ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT)
        return; // written with the header
    if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) &&
        !Ctx.Options.CopyInitialNonKeyframes)
        return;
    AVPacket* out = Ctx.Tables.EncodedPacket.get();
    if (ff::av_packet_ref(out, packet) < 0)
        Fail("av_mallocz fail");
    const AVRational inTb = ist.Stream->time_base;
    const AVRational outTb = ost.Stream->time_base;
    const int64_t start = ff::av_rescale_q(Ctx.Options.StartTime, AV_TIME_BASE_Q, outTb);
    out->pts = packet->pts != AV_NOPTS_VALUE ? ff::av_rescale_q(packet->pts, inTb, outTb) - start
                                             : AV_NOPTS_VALUE;
    out->dts = (packet->dts == AV_NOPTS_VALUE
                    ? ff::av_rescale_q(Ctx.Pipe.OutPts(ist), AV_TIME_BASE_Q, outTb)
                    : ff::av_rescale_q(packet->dts, inTb, outTb)) -
               start;
    out->duration = ff::av_rescale_q(packet->duration, inTb, outTb);
    if (ost.Type() == AVMEDIA_TYPE_AUDIO)
        Ctx.Counters.AudioBytes += packet->size;
    else if (ost.Type() == AVMEDIA_TYPE_VIDEO)
        Ctx.Counters.VideoBytes += packet->size;
    ++ost.FrameNumber;
    WritePacket(ost, out);
}

void TStreamCopy::WritePacket(TOutputStream& ost, AVPacket* packet) {
    packet->stream_index = ost.Stream->index;
    if (ost.Filters.empty())
        Ctx.OutputFiles.MuxPacket(ost, packet);
    else
        FilterAndWrite(ost, 0, packet);
}

void TStreamCopy::FilterAndWrite(TOutputStream& ost, size_t filterIndex, AVPacket* packet) {
    if (filterIndex == ost.Filters.size()) {
        if (packet)
            Ctx.OutputFiles.MuxPacket(ost, packet);
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
        if (Ctx.Options.ExitOnError)
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

} // namespace cw
