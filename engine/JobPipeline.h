// The pipelined read loop of a transcoding job. An input thread reads the packets, fixes
// their timestamps and decodes them, as the serial loop does; what the serial loop then does
// with each result (hooks, volume, filters, sync, encoding, stream copy, fill, the report)
// becomes a step in a short queue that the job's own thread carries out in the same order.
// Each step carries the input streams' clocks as they stood at that point of the serial
// loop, so the output side sees what it would have seen there and writes the same packets.
// The sound's steps (resampling, sync, encoding) run ahead on an audio lane of their own;
// the packets they make are held and written when the job's thread reaches their step, so the
// muxer still gets every packet in the serial order.
#pragma once

#include "engine/Owners.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cw {

class TInputFiles;
class TJobHooks;
class TOutputFiles;
class TRunSteps;
class TStreamCopy;
class TTranscoderOptions;
struct TInputStream;
struct TOutputStream;
struct TRunTables;

// What the input side last set of an input stream's clock. PtsVersion counts the input
// side's writes of Pts: the output side writes Pts too (the filter graph's picture times),
// and a step only replaces that when the input side has written since.
struct TClockEntry {
    int64_t Pts = 0;
    int64_t NextPts = 0;
    int64_t DecodedFrames = 0;
    int Quality = 0;
    uint64_t PtsVersion = 0;
};

// What the pipeline reads and shares: the option record and the job's switches that decide
// whether it suits the run, the inputs it reads, the outputs and the stream copy that its
// steps end in, the hooks (the audio hook keeps the sound on the job's thread), the job's
// steps it carries out, the run tables, the stop request and the report interval.
struct TJobPipelineContext {
    const TTranscoderOptions& Options;
    TInputFiles& InputFiles;
    TOutputFiles& OutputFiles;
    TStreamCopy& Copy;
    const TJobHooks& Hooks;
    TRunSteps& Steps;
    TRunTables& Tables;
    const std::atomic<bool>& StopRequested;
    const bool& SerialLoop;
    const bool& JoinMode;
    const int64_t& ProgressIntervalUs;
};

class TJobPipeline {
public:
    // Steps waiting at most: a few pictures, so memory stays flat.
    static constexpr size_t QueueLength = 16;
    // Steps the job's thread takes in ahead of the one it carries out, so that the audio lane
    // can work ahead on the sound among them.
    static constexpr size_t LookAhead = 32;

    explicit TJobPipeline(const TJobPipelineContext& context) : Ctx(context) {}
    ~TJobPipeline();
    TJobPipeline(const TJobPipeline&) = delete;
    TJobPipeline& operator=(const TJobPipeline&) = delete;

    // Whether the job's run gives the serial loop's result on the pipeline: one input read
    // to its end, no frame or size limit, no timestamp repair that would read what the
    // output side wrote, no subtitles decoded, no rate emulation.
    bool Suits() const;

    // Runs the read loop on the input thread and carries out its steps on this thread until
    // the input has ended or a stop was asked for. An error of either side stops both and is
    // raised here, after the steps that came before it.
    void Run();

    // True on the input thread while the pipeline runs: results are queued, not carried out.
    bool Queueing() const;
    void QueueFrame(TInputStream& ist, const AVFrame* frame);
    void QueueCopy(TOutputStream& ost, TInputStream& ist, const AVPacket* packet);
    void QueueFill(int64_t until);
    void QueueReport(int fileIndex);

    // -- the clocks as the output side sees them ---------------------------------------
    // An input stream's clock: the stream's own in the serial loop, the view of the step
    // carried out while the input side runs on its own thread, the lane's on the audio lane.
    void SetOutPts(TInputStream& ist, int64_t pts) const;
    int64_t OutPts(const TInputStream& ist) const;
    int64_t OutNextPts(const TInputStream& ist) const;
    int64_t OutDecodedFrames(const TInputStream& ist) const;
    int OutQuality(const TInputStream& ist) const;
    // Timestamp jumps: what the output stream took out so far, in µs; and whether a stream
    // of the other kind in the same input is at that time (within the discontinuity
    // threshold, its own jumps taken out), which makes a gap real rather than a jump.
    int64_t ShiftMicroseconds(const TOutputStream& ost) const;
    bool ClockAgrees(const TInputStream& ist, AVMediaType kind, int64_t time) const;

    // -- the audio lane ---------------------------------------------------------------
    // On the audio lane: the clocks of its step (for another stream, once the job's thread
    // has carried out everything before the step). Null on any other thread.
    const TClockEntry* LaneClock(const TInputStream& ist) const;
    // On the audio lane, a packet for the muxer is held for its step (true); elsewhere false.
    bool Capture(TOutputStream& ost, const AVPacket* packet);
    // The packet the encoders of this thread fill.
    AVPacket* ScratchPacket();
    // An output stream's timestamp jumps taken out so far (in its SyncOpts unit), as the
    // serial loop would have them at the step the job's thread carries out.
    int64_t ShiftOf(const TOutputStream& ost) const;
    // Called on the audio lane when a stream's jumps changed.
    void NoteShift(const TOutputStream& ost);

private:
    enum class EKind { Frame, Copy, Fill, Report, End };
    struct TStep {
        EKind Kind = EKind::End;
        TInputStream* Input = nullptr;
        TOutputStream* Output = nullptr;
        TFramePtr Frame;
        TPacketPtr Packet;
        int64_t Until = 0;
        int FileIndex = -1;
        std::vector<TClockEntry> Clocks;
    };
    // A step taken in by the job's thread, with what the audio lane made of it.
    struct TPending {
        TStep Step;
        uint64_t Index = 0;
        bool Laned = false; // carried out on the audio lane
        bool Done = false;
        std::exception_ptr Error;
        std::vector<std::pair<TOutputStream*, TPacketPtr>> Packets; // held for the muxer
        bool Synced = false; // the job's thread has reached it (lane clocks merged)
        std::vector<TClockEntry> Merged;
    };

    void InputLoop();
    // The input thread's interrupt check: a stop breaks off its reads only.
    bool InputStopCheck(void* opaque);
    bool Wanted() const;
    void Push(TStep step);
    enum class EPop { None, Step, End };
    EPop Pop(TStep& step, bool wait);
    void ApplyClocks(const TStep& step);
    void Carry(TStep& step);
    void Abort();
    bool LaneSuits() const;
    bool ForLane(const TStep& step) const;
    void LaneLoop();
    void StopLane();
    size_t StreamIndex(const TInputStream& ist) const;

    const TClockEntry& OutClock(const TInputStream& ist) const;

    const TJobPipelineContext Ctx;
    bool Pipelined = false; // the pipeline runs: the output side reads the views
    std::thread Input;
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TStep> Steps;
    bool Aborted = false; // the output side has stopped taking steps
    std::exception_ptr InputError;
    std::atomic<bool> InputReading{false}; // the input thread is in a demuxer read
    std::vector<uint64_t> Applied;         // the PtsVersion of every input stream's view

    // The audio lane: its thread, the steps given to it, and how far the job's thread is.
    bool LaneOn = false;
    std::thread Lane;
    mutable std::mutex LaneLock;
    mutable std::condition_variable LaneChanged;
    std::deque<TPending*> LaneSteps;
    bool LaneStopping = false;
    uint64_t Executed = 0; // steps before this index are carried out by the job's thread
    uint64_t Current = 0;  // the index of the step the job's thread carries out
    TPacketPtr LanePacket;
    std::vector<const TOutputStream*> LaneOutputs; // output streams fed on the lane
    // Changes of those streams' jumps: (step index, value after it).
    std::vector<std::vector<std::pair<uint64_t, int64_t>>> ShiftHistory;
};

} // namespace cw
