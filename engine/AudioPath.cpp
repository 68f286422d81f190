// The audio path of a job: audio stream settings, volume, resampling, synchronisation,
// re-framing through the FIFO, and silence for stretches without a source.
#include "engine/AudioPath.h"

#include "engine/JobContext.h"
#include "engine/JobHooks.h"
#include "engine/JobPipeline.h"
#include "engine/LegacyOptions.h"
#include "engine/OutputFiles.h"
#include "engine/Text.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace cw {

namespace {

AVSampleFormat CheckSampleFormat(const AVCodec* codec, AVSampleFormat format) {
    if (!codec || !codec->sample_fmts || codec->sample_fmts[0] == AV_SAMPLE_FMT_NONE)
        return format;
    for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        if (*p == format)
            return format;
    return codec->sample_fmts[0];
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

void TAudioPath::NewAudioStream(AVFormatContext* context, int outputIndex,
                                TTranscoderOptions& options) {
    const AVCodec* codec = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!options.AudioStreamCopy) {
        codec = Ctx.OutputFiles.ChooseEncoder(context, AVMEDIA_TYPE_AUDIO, options.AudioCodecName);
        id = codec
                 ? codec->id
                 : InstalledDefaultCodec(context->oformat, AVMEDIA_TYPE_AUDIO,
                                         ff::av_guess_codec(context->oformat, nullptr, context->url,
                                                            nullptr, AVMEDIA_TYPE_AUDIO));
    }
    TOutputStream& ost =
        Ctx.OutputFiles.AddOutputStream(context, outputIndex, AVMEDIA_TYPE_AUDIO, codec);
    AVCodecContext* enc = ost.Encoder.get();
    ost.FilterEntries = std::move(options.AudioBitstreamFilters);
    options.AudioBitstreamFilters.clear();
    if (options.AudioCodecTag)
        enc->codec_tag = options.AudioCodecTag;
    Ctx.OutputFiles.SetGlobalHeader(enc, context, false);

    ff::av_channel_layout_uninit(&enc->ch_layout);
    if (options.AudioChannelLayout &&
        std::popcount(options.AudioChannelLayout) == options.AudioChannels)
        ff::av_channel_layout_from_mask(&enc->ch_layout, options.AudioChannelLayout);
    else
        ff::av_channel_layout_default(&enc->ch_layout, options.AudioChannels);
    enc->sample_rate = options.AudioSampleRate;

    if (options.AudioStreamCopy) {
        ost.StreamCopy = true;
    } else {
        enc->codec_id = id;
        options.ApplyGenericOptions(enc, options.CodecTemplate(AVMEDIA_TYPE_AUDIO), codec,
                                    OptionMaskOutputAudio);
        if (options.AudioQScale > -99999) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * options.AudioQScale);
        }
        enc->sample_fmt = CheckSampleFormat(codec, options.AudioSampleFmt);
        if (codec && codec->supported_samplerates && codec->supported_samplerates[0]) {
            int best = codec->supported_samplerates[0];
            for (const int* r = codec->supported_samplerates; *r; ++r)
                if (std::abs(*r - options.AudioSampleRate) <
                    std::abs(best - options.AudioSampleRate))
                    best = *r;
            if (best != options.AudioSampleRate)
                LogV(llWarning,
                     FormatText("Requested sampling rate unsupported using closest supported (%d)",
                                best));
            enc->sample_rate = best;
        }
    }
    enc->time_base =
        AVRational{1, enc->sample_rate > 0 ? enc->sample_rate : options.AudioSampleRate};
    if (!options.AudioLanguage.empty())
        ff::av_dict_set(&ost.Stream->metadata, "language", options.AudioLanguage.c_str(), 0);
    options.ConsumeAudioStreamOptions();
}

void TAudioPath::SetUpAudio(TOutputStream& ost, const AVCodecContext* dec) {
    const AVCodecContext* enc = ost.Encoder.get();
    TAudioOutState& audio = ost.Audio;
    audio.Fifo.reset(
        ff::av_audio_fifo_alloc(enc->sample_fmt, std::max(enc->ch_layout.nb_channels, 1), 1024));
    if (!audio.Fifo)
        Fail("av_fifo_alloc fail");
    if (dec) {
        audio.Resample = dec->sample_rate != enc->sample_rate || Ctx.Options.AudioSyncMethod > 1;
        audio.InputFormat = dec->sample_fmt;
        audio.InputRate = dec->sample_rate;
        audio.InputChannels = dec->ch_layout.nb_channels;
    }
}

void TAudioPath::ApplyVolume(AVFrame* frame) {
    if (ff::av_frame_make_writable(frame) < 0)
        return;
    const int volume = Ctx.Options.AudioVolume;
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

void TAudioPath::BuildResampler(TOutputStream& ost, const AVFrame* frame) {
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

void TAudioPath::GrowAudioBuffer(TOutputStream& ost, int samples) {
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

void TAudioPath::WriteToFifo(TOutputStream& ost, uint8_t* const* planes, int samples) {
    if (samples <= 0)
        return;
    if (ff::av_audio_fifo_write(ost.Audio.Fifo.get(),
                                reinterpret_cast<void**>(const_cast<uint8_t**>(planes)),
                                samples) < samples)
        Fail("av_fifo_realloc2() failed");
}

void TAudioPath::DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame) {
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
    double wanted = static_cast<double>(Ctx.Pipe.OutPts(*ost.SyncSource) - Ctx.Options.StartTime) /
                        1e6 * outRate -
                    static_cast<double>(ost.SyncShift);
    // A step beyond the discontinuity threshold that the pictures of the same file do not
    // share is a broken timestamp: it is taken out of the timeline (as the pictures take out
    // theirs) rather than filled with silence or cut away. Silence for sync therefore never
    // covers more than the threshold.
    const double jumpSamples = Ctx.Options.DtsDeltaThreshold * outRate;
    const double step = wanted - static_cast<double>(ost.SyncOpts + queued);
    if (std::fabs(step) > jumpSamples) {
        if (!Ctx.Pipe.ClockAgrees(*ost.SyncSource, AVMEDIA_TYPE_VIDEO,
                                  Ctx.Pipe.OutPts(*ost.SyncSource) -
                                      Ctx.Pipe.ShiftMicroseconds(ost))) {
            const int64_t jump = std::llround(step);
            LogV(llWarning, FormatText("timestamp jump of %.1f s in the sound taken out",
                                       static_cast<double>(jump) / outRate));
            ost.SyncShift += jump;
            Ctx.Pipe.NoteShift(ost);
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
    if (Ctx.Options.AudioSyncMethod) {
        const double delta = t * outRate - static_cast<double>(ost.SyncOpts + queued);
        const double idelta = delta * inRate / outRate;
        if (std::fabs(delta) > 50) {
            if (ist.IsStart || std::fabs(delta) > Ctx.Options.AudioDriftThreshold * outRate) {
                if (idelta < 0) {
                    skip = static_cast<int>(
                        std::min<int64_t>(std::llround(-idelta), frame->nb_samples));
                    if (Ctx.Options.Verbose > 2)
                        LogV(llVerbose, FormatText("discarding %d audio samples", skip));
                } else {
                    silence = std::llround(delta);
                    if (Ctx.Options.Verbose > 2)
                        LogV(llVerbose, FormatText("adding %d audio samples of silence",
                                                   static_cast<int>(silence)));
                }
                ist.IsStart = false;
                if (skip >= frame->nb_samples)
                    return;
            } else if (Ctx.Options.AudioSyncMethod > 1 && audio.Resampler) {
                const int compensation = static_cast<int>(
                    std::clamp<int64_t>(std::llround(delta), -Ctx.Options.AudioSyncMethod,
                                        Ctx.Options.AudioSyncMethod));
                if (Ctx.Options.Verbose > 2)
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
        const int64_t capacity = (delay + count) * outRate / inRate + 16 +
                                 std::abs(Ctx.Options.AudioSyncMethod) + count / 16;
        if (capacity > INT_MAX / 8)
            Fail("Buffer sizes too large in do_audio_out");
        GrowAudioBuffer(ost, static_cast<int>(capacity));
        const int got =
            ff::swr_convert(audio.Resampler.get(), audio.Buffer.get(), audio.BufferSamples,
                            const_cast<const uint8_t**>(in), count);
        if (got < 0) {
            if (Ctx.Options.ExitOnError)
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

void TAudioPath::EncodeFifo(TOutputStream& ost, bool flushing) {
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
        Ctx.OutputFiles.EncodeFrame(ost, frame);
        audio.NextPts = pts + total;
        ost.SyncOpts += total;
    }
}

void TAudioPath::FlushAudio(TOutputStream& ost) {
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
}

void TAudioPath::FillSilence(TOutputStream& ost, int64_t until) {
    TAudioOutState& audio = ost.Audio;
    const AVCodecContext* enc = ost.Encoder.get();
    const int rate = enc->sample_rate;
    if (rate <= 0 || !audio.Fifo)
        return;
    const int64_t target =
        ff::av_rescale_q(until - Ctx.Options.StartTime, AV_TIME_BASE_Q, AVRational{1, rate});
    int64_t reached = ost.SyncOpts + ff::av_audio_fifo_size(audio.Fifo.get());
    // At most a second at a time: the FIFO and the buffer stay small however long the stretch.
    while (reached < target && !Ctx.StopRequested) {
        const int count = static_cast<int>(std::min<int64_t>(target - reached, rate));
        GrowAudioBuffer(ost, count);
        ff::av_samples_set_silence(audio.Buffer.get(), 0, count, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        WriteToFifo(ost, audio.Buffer.get(), count);
        EncodeFifo(ost, false);
        reached += count;
    }
}

} // namespace cw
