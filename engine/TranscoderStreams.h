// The stream records every part of a transcoding job works on: one entry per input stream
// and per output stream with the state the decode-and-output steps need (timestamps, sync
// positions, the video and audio paths' state, bitstream filters).
//
// Output streams are built when the job opens its outputs; the input stream table and the
// pairing of output streams with input streams are built at the start of a run and freed at
// its end. The records of the opened files are in InputFiles.h and OutputFiles.h.
#pragma once

#include "engine/AudioPath.h"
#include "engine/EncoderOptions.h"
#include "engine/FFApi.h"
#include "engine/JobPipeline.h"
#include "engine/Owners.h"
#include "engine/TranscoderOptions.h"
#include "engine/VideoPath.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cw {

struct TOutputStream;

// One stream of an input, during a run.
struct TInputStream {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* Stream = nullptr;
    AVCodecContext* Decoder = nullptr; // owned by the input file's Decoders
    bool NeedsDecoding = false;
    bool DecoderOpen = false;
    bool Unused = true; // no output stream takes it as its source; its packets are dropped
    int64_t NextPts = NoPtsValue; // µs
    int64_t Pts = 0;              // µs, the timestamp of what was decoded last
    bool IsStart = true;          // until its first audio sync
    bool PastRecordingTime = false;
    bool Flushed = false;
    int64_t StartWallclock = 0; // "re": wall-clock time at the start of the run
    int64_t DecodedFrames = 0;
    int Quality = 0;     // quality of the last decoded picture ("sameq")
    uint64_t PtsVersion = 0; // counts the input side's writes of Pts
    // The clock as the output side sees it while the read loop runs on an input thread.
    TClockEntry View;
    TVideoInState Video; // the video filter graph of a picture stream
    // The output streams it feeds, in output order.
    std::vector<TOutputStream*> Outputs;
};

// One stream of an output. Created with its library stream when the output is opened.
struct TOutputStream {
    int FileIndex = 0;
    int Index = 0;
    AVStream* Stream = nullptr;
    // The encoder context: the stream's settings from the option state. For stream copy it
    // only carries the type, tag and aspect ratio that the copy set-up reads.
    TCodecContextPtr Encoder;
    const AVCodec* EncoderChoice = nullptr; // picked by name when the stream was created
    bool StreamCopy = false;
    bool Cover = false; // a copied cover picture: fed by the input's cover, not its video
    // A stream of a whole-file copy: fed by this stream of the (only) input; -1 otherwise.
    int CopyOf = -1;
    std::vector<TBitstreamFilterEntry> FilterEntries; // "vbsf", "absf", "sbsf"

    // Run state.
    // Null while no input stream feeds it: an input of a join without this kind, or a stream
    // the muxer demands that no input has (Filler). Such stretches get black pictures or
    // silence.
    TInputStream* Source = nullptr;
    TInputStream* SyncSource = nullptr;
    // Joining: the stream of every input that feeds this output stream in turn, by input
    // index (null for an input without this kind); empty outside join mode.
    std::vector<TInputStream*> JoinSources;
    bool Filler = false; // made only of silence or black pictures: no input has its kind
    bool NeedsEncoding = false;
    bool EncoderOpen = false;
    bool EncoderFlushed = false;
    bool Report = false;     // counts in the progress report
    int64_t FrameNumber = 0; // frames written
    int64_t SyncOpts = 0;    // encoder time base for video, samples for audio
    // Timestamp jumps taken out of the source's timeline so far, in the unit of SyncOpts.
    int64_t SyncShift = 0;
    int64_t EndTime = 0; // µs: the end of the last packet written
    double Quality = -1; // quantiser of the last coded picture; -1 none
    std::vector<TBitstreamFilterPtr> Filters;
    // Forced key frames: times in the encoder's time base, and the next one due.
    std::vector<int64_t> ForcedKeyFrames;
    size_t NextForcedKeyFrame = 0;
    // Encoded pictures, and the squared errors per plane of the last one and of all so far
    // (when the encoder computes them).
    int64_t EncodedFrames = 0;
    int PictureType = 0; // AVPictureType of the last one
    int ErrorPlanes = 0;
    uint64_t LastError[3] = {0, 0, 0};
    uint64_t TotalError[3] = {0, 0, 0};
    TVideoOutState Video;
    TAudioOutState Audio;

    AVMediaType Type() const { return Encoder ? Encoder->codec_type : AVMEDIA_TYPE_UNKNOWN; }
    // The position reached, in seconds.
    double Seconds() const { return static_cast<double>(EndTime) / 1e6; }
};

} // namespace cw
