// What the parts of a transcoding job share, each part naming in its own context which of
// these it takes: the run tables of one run (the stream tables, the packets and frames in
// use, the opened codecs), the run's counters, the coordinator's steps that the read loop
// hands its results to, and the small services every part uses (worded errors, log lines,
// codecs by name).
#pragma once

#include "engine/FFApi.h"
#include "engine/FFLogger.h"
#include "engine/FFmpegException.h"
#include "engine/Interrupt.h"
#include "engine/Owners.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cw {

class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;

// The tables of one run: built at its start, emptied at its end.
struct TRunTables {
    std::vector<std::unique_ptr<TInputStream>> InputStreams;
    std::vector<TOutputStream*> OutputStreams;
    TPacketPtr Packet;                // the packet read
    TPacketPtr EncodedPacket;         // packets coming out of encoders and filters
    TFramePtr DecodedFrame;           // what the decoders give
    bool HasFillers = false;          // some output stream has no source for a stretch
    bool JoinSwitching = false;       // joining: decoders are flushed, the encoders keep running
    bool StopCheckRegistered = false; // the job's thread has its stop check registered
    int64_t LastReportTime = 0;       // wall clock of the last progress report
    // Opened codecs, guarded by the process-wide codec list lock (CodecListLock()).
    std::vector<TOutputStream*> OpenedEncoders;
    std::vector<TInputStream*> OpenedDecoders;
};

// The figures of a run that the report shows.
struct TRunCounters {
    int64_t VideoBytes = 0;
    int64_t AudioBytes = 0;
    int64_t ExtraBytes = 0; // global headers
    int64_t DupFrames = 0;
    int64_t DropFrames = 0;
    bool ReportDupDrop = false; // frames were duplicated or dropped since the line was logged
};

// The time limit of the blocking calls made while a file is opened: the check an opener
// registers for its thread (with its opaque pointer), and the wall-clock start of the call in
// progress (0: cancelled, Idle: none).
struct TOpenTimeout {
    static constexpr int64_t Idle = INT64_MAX;
    TInterruptCallback Check;
    void* Opaque = nullptr;
    std::atomic<int64_t>& Start;
};

// What the job does with the results of the read loop: the parts that read and decode hand
// them on through these.
class TRunSteps {
public:
    // A decoded frame after the input side's bookkeeping: the hooks, the volume, then the
    // filters or the output streams.
    virtual void OutputDecoded(TInputStream& ist, AVFrame* frame) = 0;
    // Streams without a source brought up to the time `until` (µs).
    virtual void FillMissing(int64_t until) = 0;
    // A progress report (fileIndex: the input being read, -1 at the end).
    virtual void Report(bool last, int fileIndex) = 0;

protected:
    ~TRunSteps() = default;
};

// The process-wide lock around every job's opened-codec lists.
std::mutex& CodecListLock();

// Ends the step in progress with a worded error.
[[noreturn]] inline void Fail(const std::string& text) {
    throw FFmpegException(text);
}

// A line of the engine's log.
inline void LogV(TLogLevel level, const std::string& text) {
    TFFLogger::Instance().Log(level, text);
}

// A codec by name for a media type (null for an empty name). An unknown name, one of another
// media type, or an experimental codec the options do not allow sets openError and raises.
const AVCodec* FindCodecByName(const TTranscoderOptions& options, const std::string& name,
                               AVMediaType type, bool encoder, std::string& openError);

} // namespace cw
