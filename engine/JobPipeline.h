// The pipelined read loop of a transcoding job. An input thread reads the packets, fixes
// their timestamps and decodes them, as the serial loop does; what the serial loop then does
// with each result (hooks, volume, filters, sync, encoding, stream copy, fill, the report)
// becomes a step in a short queue that the job's own thread carries out in the same order.
// Each step carries the input streams' clocks as they stood at that point of the serial
// loop, so the output side sees what it would have seen there and writes the same packets.
#pragma once

#include "engine/Owners.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cw {

class TCustomFFmpeg;
struct TInputStream;
struct TOutputStream;

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

class TJobPipeline {
public:
    // Steps waiting at most: a few pictures, so memory stays flat.
    static constexpr size_t QueueLength = 8;

    explicit TJobPipeline(TCustomFFmpeg& job) : Job(job) {}
    ~TJobPipeline();
    TJobPipeline(const TJobPipeline&) = delete;
    TJobPipeline& operator=(const TJobPipeline&) = delete;

    // Whether the job's run gives the serial loop's result on the pipeline: one input read
    // to its end, no frame or size limit, no timestamp repair that would read what the
    // output side wrote, no subtitles decoded, no rate emulation.
    static bool Suits(const TCustomFFmpeg& job);

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

    void InputLoop();
    bool Wanted() const;
    void Push(TStep step);
    bool Pop(TStep& step);
    void Carry(TStep& step);
    void Abort();

    TCustomFFmpeg& Job;
    std::thread Input;
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TStep> Steps;
    bool Aborted = false; // the output side has stopped taking steps
    std::exception_ptr InputError;
    std::vector<uint64_t> Applied; // the PtsVersion of every input stream's view
};

} // namespace cw
