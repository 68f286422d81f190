// The subtitle path of a job: subtitle stream settings, decoding, re-timing and encoding.
#include "engine/SubtitlePath.h"

#include "engine/GenericOptions.h"
#include "engine/JobContext.h"
#include "engine/OutputFiles.h"
#include "engine/StreamCopy.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

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

} // namespace

void TSubtitlePath::NewSubtitleStream(AVFormatContext* context, int outputIndex,
                                      TTranscoderOptions& options) {
    const AVCodec* codec = nullptr;
    if (!options.SubtitleStreamCopy)
        codec = Ctx.OutputFiles.ChooseEncoder(context, AVMEDIA_TYPE_SUBTITLE,
                                              options.SubtitleCodecName);
    TOutputStream& ost =
        Ctx.OutputFiles.AddOutputStream(context, outputIndex, AVMEDIA_TYPE_SUBTITLE, codec);
    AVCodecContext* enc = ost.Encoder.get();
    ost.FilterEntries = std::move(options.SubtitleBitstreamFilters);
    options.SubtitleBitstreamFilters.clear();
    if (options.SubtitleCodecTag)
        enc->codec_tag = options.SubtitleCodecTag;
    Ctx.OutputFiles.SetGlobalHeader(enc, context, false);
    if (options.SubtitleStreamCopy) {
        ost.StreamCopy = true;
    } else {
        if (codec)
            enc->codec_id = codec->id;
        enc->time_base = AV_TIME_BASE_Q; // subtitle times are handed over in microseconds
        options.ApplyGenericOptions(enc, options.CodecTemplate(AVMEDIA_TYPE_SUBTITLE), codec,
                                    OptionMaskOutputSubtitle);
    }
    if (!options.SubtitleLanguage.empty())
        ff::av_dict_set(&ost.Stream->metadata, "language", options.SubtitleLanguage.c_str(), 0);
    options.ConsumeSubtitleStreamOptions();
}

int TSubtitlePath::DecodeSubtitles(TInputStream& ist, const AVPacket* packet) {
    AVCodecContext* dec = ist.Decoder;
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
        TSubtitle subtitle;
        int got = 0;
        int result = ff::avcodec_decode_subtitle2(
            dec, &subtitle.Value, &got, packet ? const_cast<AVPacket*>(packet) : empty.get());
        if (result < 0) {
            failed = -1;
            break;
        }
        if (!got)
            break;
        if (Ctx.Options.StartTime == 0 || ist.Pts >= Ctx.Options.StartTime)
            for (TOutputStream* ost : ist.Outputs)
                if (ost->NeedsEncoding)
                    DoSubtitleOut(*ost, ist, subtitle.Value);
        if (packet)
            break;
    }
    return failed;
}

void TSubtitlePath::DoSubtitleOut(TOutputStream& ost, TInputStream& ist, AVSubtitle& subtitle) {
    AVCodecContext* enc = ost.Encoder.get();
    if (subtitle.pts == AV_NOPTS_VALUE && ist.Pts == NoPtsValue) {
        if (Ctx.Options.ExitOnError)
            Fail("Subtitle packets must have a pts");
        LogV(llError, "Subtitle packets must have a pts");
        return;
    }
    const int64_t base =
        (subtitle.pts != AV_NOPTS_VALUE ? subtitle.pts : ist.Pts) - Ctx.Options.StartTime;
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
        AVPacket* packet = Ctx.Tables.EncodedPacket.get();
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
        Ctx.Copy.WritePacket(ost, packet);
    }
}

} // namespace cw
