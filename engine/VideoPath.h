// The video path of a transcoding job: the video output streams' encoder settings, and,
// during a run, the filter graph (deinterlacing, turning, the "vf" filters, scaling) or the
// scaler, synchronisation by dropping and duplicating pictures, black pictures for stretches
// without a source, forced key frames, the two-pass log files and the video statistics file.
#pragma once

#include "engine/Owners.h"

#include <atomic>

#include <string>

namespace cw {

class TJobHooks;
class TJobPipeline;
class TOutputFiles;
class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;
struct TRunCounters;

// The video filter graph ("vf", "deinterlace", turning) of a picture stream of an input:
// decoded pictures go into FilterSource, the pictures for the encoders come out of FilterSink.
struct TVideoInState {
    TFilterGraphPtr FilterGraph;
    AVFilterContext* FilterSource = nullptr;
    AVFilterContext* FilterSink = nullptr;
    TFramePtr Filtered;
};

// Scaling state of a video output stream, and its two-pass log.
struct TVideoOutState {
    bool Resample = false; // the source picture needs converting to the encoder's
    TScalerPtr Scaler;
    TFramePtr Picture; // the converted picture handed to the encoder
    int SourceWidth = 0;
    int SourceHeight = 0;
    AVPixelFormat SourceFormat = AV_PIX_FMT_NONE;
    TFramePtr Black;  // the black picture of stretches without a source picture
    TFilePtr PassLog; // two-pass: the log file written in pass 1
    // The pixel format was asked for by the options (not taken over from the input): a deep
    // format asked for keeps an HDR source's range.
    bool PixelFormatAsked = false;
    // An HDR source brought to the standard range of 8-bit pictures in the filter graph.
    bool ToneMapped = false;
};

// What the video path reads and shares: the option record, the outputs (encoder choice, new
// streams, encoding), the hooks every picture about to be encoded goes through, the input
// clocks and timestamp jumps as the output side sees them, the run's counters and the job's
// stop request.
struct TVideoPathContext {
    const TTranscoderOptions& Options;
    TOutputFiles& OutputFiles;
    TJobHooks& Hooks;
    const TJobPipeline& Pipe;
    TRunCounters& Counters;
    const std::atomic<bool>& StopRequested;
};

// The frame threads x265 is given on a machine of this many cores for pictures this high, or
// 0 for x265's own choice. x265 codes one frame at a time below four cores and spreads each
// frame's rows of 64-pixel blocks over the cores; a picture of ten rows or fewer (640 lines)
// leaves about a fifth of two cores idle that way, and a second frame coded beside the first
// fills it (the output grows by well under 1 %). Higher pictures keep the cores busy with
// rows alone, and a second frame would only cost processor time.
int X265FrameThreads(unsigned cores, int height);

class TVideoPath {
public:
    explicit TVideoPath(const TVideoPathContext& context) : Ctx(context) {}

    // Adds a video stream to an opened output from the options, which the stream consumes
    // (raises FFmpegException on failure).
    void NewVideoStream(AVFormatContext* context, int outputIndex, TTranscoderOptions& options);
    // The encoder's picture size brought to what the encoder and the container accept.
    void FitPictureSize(AVFormatContext* context, const AVCodec* codec, AVCodecContext* enc);

    // -- a run ------------------------------------------------------------------------
    // The encoding set-up of a video output stream fed by source (decoder dec; both null
    // when no input gives pictures, which fails).
    void SetUpVideo(TOutputStream& ost, TInputStream* source, const AVCodecContext* dec);
    // The video filter graph of a source picture stream: deinterlacing, scaling to the
    // encoder's size, the "vf" filters and the encoder's pixel format. Sets the encoder's
    // size from what the graph gives.
    void BuildVideoFilters(TInputStream& ist, TOutputStream& ost);
    // libvpx-vp9: tile columns for the picture's width unless the options set them.
    void SetTileColumns(TOutputStream& ost);
    // libx265 with the codecs threaded as they like: the frame threads X265FrameThreads
    // gives, unless the options' x265 parameters name them.
    void SetFrameThreads(TOutputStream& ost);
    // HDR sources: tone mapping for an 8-bit output, or the HDR description kept for a deep
    // one. SDR sources are left as they are.
    void SetUpDynamicRange(TOutputStream& ost, const TInputStream& source,
                           const AVCodecContext* dec);
    // Hands a decoded picture (null: the end) to the graph and every picture it gives to the
    // output streams.
    void FilterVideo(TInputStream& ist, AVFrame* frame);
    void OutputVideo(TInputStream& ist, AVFrame* frame);
    void DoVideoOut(TOutputStream& ost, TInputStream& ist, AVFrame* picture);
    // Black pictures at the encoder's size up to the time `until` (µs).
    void FillBlack(TOutputStream& ost, int64_t until);
    // A picture packet out of the encoder: the byte counter, the encoder's quality, picture
    // type and squared errors, the two-pass log and the statistics line.
    void TakeEncodedPicture(TOutputStream& ost, AVPacket* packet);
    // Two-pass log files and the video statistics file.
    void OpenPassLog(TOutputStream& ost, int index);
    void WritePassLog(TOutputStream& ost);
    void WriteVideoStats(TOutputStream& ost, const AVPacket* packet);
    // Closes the statistics file at the end of a run.
    void CloseVideoStats() { VStatsFile.reset(); }

private:
    // The converted picture at the encoder's size and pixel format.
    void AllocatePicture(TVideoOutState& video, const AVCodecContext* enc);
    const TVideoPathContext Ctx;
    TFilePtr VStatsFile;
};

} // namespace cw
