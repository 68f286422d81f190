// The audio path of a transcoding job: the audio output streams' encoder settings, and,
// during a run, the volume, resampling and sample-format conversion, synchronisation with the
// sync stream (silence inserted, samples discarded, drift compensated), re-framing through a
// FIFO to the encoder's frame size, and silence for stretches without a source.
#pragma once

#include "engine/EncoderOptions.h"
#include "engine/Owners.h"

#include <atomic>

namespace cw {

class TJobPipeline;
class TOutputFiles;
class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;

// Resampling and re-framing state of an audio output stream.
struct TAudioOutState {
    TResamplerPtr Resampler;
    bool Resample = false; // "async" above 1 keeps a resampler for drift compensation
    AVSampleFormat InputFormat = AV_SAMPLE_FMT_NONE;
    int InputRate = 0;
    int InputChannels = 0;
    TAudioFifoPtr Fifo;    // samples in the encoder's format waiting for a whole frame
    TFramePtr Frame;       // one encoder frame
    int FrameCapacity = 0; // samples Frame holds
    TSamplesPtr Buffer;    // converted samples, grown as needed
    int BufferSamples = 0;
    int64_t NextPts = NoPtsValue; // end of the last frame sent, in samples
};

// What the audio path reads and shares: the option record, the outputs (encoder choice, new
// streams, encoding), the input clocks and timestamp jumps as the output side sees them, and
// the job's stop request.
struct TAudioPathContext {
    const TTranscoderOptions& Options;
    TOutputFiles& OutputFiles;
    TJobPipeline& Pipe;
    const std::atomic<bool>& StopRequested;
};

class TAudioPath {
public:
    explicit TAudioPath(const TAudioPathContext& context) : Ctx(context) {}

    // Adds an audio stream to an opened output from the options, which the stream consumes
    // (raises FFmpegException on failure).
    void NewAudioStream(AVFormatContext* context, int outputIndex, TTranscoderOptions& options);

    // -- a run ------------------------------------------------------------------------
    // The encoding set-up of an audio output stream (dec: the source's decoder, or null for
    // a stream of silence only).
    void SetUpAudio(TOutputStream& ost, const AVCodecContext* dec);
    void ApplyVolume(AVFrame* frame);
    void DoAudioOut(TOutputStream& ost, TInputStream& ist, AVFrame* frame);
    // Silence up to the time `until` (µs).
    void FillSilence(TOutputStream& ost, int64_t until);
    // What the resampler and the FIFO still hold, at the end of the stream.
    void FlushAudio(TOutputStream& ost);

private:
    void BuildResampler(TOutputStream& ost, const AVFrame* frame);
    void GrowAudioBuffer(TOutputStream& ost, int samples);
    void WriteToFifo(TOutputStream& ost, uint8_t* const* planes, int samples);
    void EncodeFifo(TOutputStream& ost, bool flushing);

    const TAudioPathContext Ctx;
};

} // namespace cw
