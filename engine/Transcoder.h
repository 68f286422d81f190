// A transcoding job, TCustomFFmpeg: its inputs are opened and its outputs set up (with their
// streams) from the option state, then one run reads packets from the inputs, decodes them,
// re-frames, resamples, scales and encodes them (or copies them as they are) into the output
// streams and writes the outputs, reporting progress and watching for a stop request.
//
// The life of a job: create, set options and open files on the caller's thread, Start once
// (on that thread or on a worker thread), receive progress callbacks while it runs and exactly
// one termination notice, then destroy it. A stopped run still finishes its outputs, so the
// partial files play.
//
// The job is a coordinator of owned parts, each with its own state and file: TInputFiles
// (InputFiles.h), TOutputFiles (OutputFiles.h), TVideoPath, TAudioPath, TSubtitlePath,
// TStreamCopy and TJobHooks. The coordinator keeps the option state, the run's life cycle,
// its tables, the read loop, joining, the report (JobReport.cpp) and the clean-up.
#pragma once

#include "engine/AudioPath.h"
#include "engine/FFLogger.h"
#include "engine/FFUtils.h"
#include "engine/InputFiles.h"
#include "engine/JobHooks.h"
#include "engine/JobPipeline.h"
#include "engine/OutputFiles.h"
#include "engine/StreamCopy.h"
#include "engine/SubtitlePath.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"
#include "engine/VideoPath.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cw {

class TCustomFFmpeg;

// A manual-reset event.
class TJobEvent {
public:
    explicit TJobEvent(bool signalled) : State(signalled) {}
    void Set();
    void Reset();
    bool IsSet() const;
    // True when signalled within the timeout (negative: no limit).
    bool Wait(int timeoutMs) const;

private:
    mutable std::mutex Lock;
    mutable std::condition_variable Changed;
    bool State;
};

// Priorities of the worker thread, in the order of the platform's thread priorities.
enum TConvertPriority { cpIdle, cpLowest, cpLower, cpNormal, cpHigher, cpHighest, cpTimeCritical };

// The worker thread of a threaded run. Start creates it suspended; Resume starts it. It runs
// the job's run body, signals the job's DoneEvent, and frees itself.
class TConvertThread {
public:
    TConvertThread(const TConvertThread&) = delete;
    TConvertThread& operator=(const TConvertThread&) = delete;
    // Starts the thread; later calls do nothing.
    void Resume();
    bool Suspended() const { return !Started; }

private:
    friend class TCustomFFmpeg;
    TConvertThread(TCustomFFmpeg* job, TConvertPriority priority);
    ~TConvertThread() = default;
    void Body();

    TCustomFFmpeg* Job;
    TConvertPriority Priority;
    std::atomic<bool> Started{false};
};

// What a progress report carries.
struct TJobProgress {
    int FileIndex = -1;          // input being read; -1 in the final report
    int64_t TotalDuration = -1;  // µs, -1 unknown
    int64_t CurrentDuration = 0; // µs reached
    int64_t CurrentSize = 0;     // bytes of the first output
    float BitRate = 0;           // kbit/s
    float Quality = -1;          // quantiser of the report's video stream; -1 without
    int FPS = -1;                // -1 without video
    int FrameNumber = -1;        // -1 without video
};

using TBeforeFindStreamInfoCallback = std::function<void(TCustomFFmpeg* job, AVFormatContext*)>;
using TJobProgressCallback = std::function<void(TCustomFFmpeg* job, const TJobProgress&)>;
using TJobTerminateCallback = std::function<void(TCustomFFmpeg* job)>;

class TCustomFFmpeg : public TTranscoderOptions {
public:
    // maxFiles: capacity of the input and of the output table, 1..512 (std::out_of_range
    // otherwise). The media libraries must be bound.
    explicit TCustomFFmpeg(int maxFiles);
    // Stops a run with wait, waits for a termination notice in delivery, and cleans up.
    ~TCustomFFmpeg() override;

    // -- files (the option state's file layer) --------------------------------------------
    bool OpenInput(const std::string& fileName) override;
    int OpenOutput(const std::string& fileName, bool join) override;
    void NewOutputStream(AVMediaType type) override;
    void SetupJoin() override;
    int InputCount() const override { return static_cast<int>(InputFiles.Inputs.size()); }
    int OutputCount() const override { return static_cast<int>(OutputFiles.Outputs.size()); }
    std::vector<AVRational> InputVideoFrameRates() const override;
    // The container of an opened input or output (null outside the table).
    AVFormatContext* InputContext(int index) const;
    AVFormatContext* OutputContext(int index) const;

    // -- running ----------------------------------------------------------------------
    // Starts the run. Threaded: returns the worker, suspended; the caller resumes it. Not
    // threaded: runs to the end inside the call and returns null. A job that is running or
    // has terminated returns null and does nothing; a job without input or output fails at
    // once (Failed, ErrorMessage, one termination notice) and returns null.
    TConvertThread* Start(bool threaded, TConvertPriority priority = cpNormal);
    // Asks a run to stop at the next packet boundary; with wait (and a worker), returns once
    // the worker has ended, serving the main thread's calls meanwhile when called there.
    // Without a worker it also cancels a blocking open in progress.
    void RequestStop(bool wait);
    // Running: RequestStop. Neither running nor terminated: the termination notice is
    // delivered from a separate thread (with wait, Stop returns after it).
    void Stop(bool wait);
    // Releases every file and table the job holds; nothing when the libraries are unbound.
    void Cleanup();
    // For a job waiting its turn: closes its inputs and outputs (the outputs' files stay in
    // place, empty, so their names stay taken), empties the tables and frees the option
    // state. The job is opened again by whoever parked it (ReopenFiles).
    void ReleaseFiles();
    // Bit 0: show the pictures in a preview window, bit 1: hand them to OnPreviewBitmap.
    // Changed under the process-wide preview lock; switching the window off closes it.
    void SetPreviewFlags(int flags);
    int PreviewFlags() const;

    // Interrupt checks the libraries call through the engine's registry.
    bool TimeoutCheck(void* opaque);
    bool StopCheck(void* opaque);

    // -- state ------------------------------------------------------------------------
    const int MaxFiles;
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Terminated{false};
    bool Finished = false;
    bool Failed = false;
    std::string ErrorMessage; // the last error of the run
    std::string OpenError;    // the last failure to open an input or an output
    bool JoinMode = false;
    int TimeoutMs = 10000; // limit of one blocking call while a file is opened; 0: none
    // Wall-clock start of the blocking call in progress; 0 cancelled; IoIdle when idle.
    std::atomic<int64_t> IoStart{IoIdle};
    static constexpr int64_t IoIdle = INT64_MAX;
    int64_t ProgressIntervalUs = 500000;
    int64_t PreviewIntervalUs = 100000;
    // Counters of a run.
    int64_t VideoBytes = 0;
    int64_t AudioBytes = 0;
    int64_t ExtraBytes = 0; // global headers
    int64_t DupFrames = 0;
    int64_t DropFrames = 0;
    int64_t TimerStart = 0;
    TJobEvent DoneEvent{true};
    TJobEvent TerminateEvent{true};

    // Owner callbacks, made on the job's running thread (before-find-stream-info on the
    // opening thread).
    TBeforeFindStreamInfoCallback OnBeforeFindStreamInfo;
    TJobProgressCallback OnProgress;
    TJobTerminateCallback OnTerminate;
    // Hooks and preview, on the running thread. A video or audio hook is called only when the
    // output record switched it on (VideoInputHook, VideoOutputHook, AudioHook).
    TJobVideoHookCallback OnVideoInputHook;
    TJobVideoHookCallback OnVideoOutputHook;
    TJobAudioHookCallback OnAudioHook;

    // Runs the read loop on one thread: reading and decoding alternate with the output side.
    // Without it, a job that allows it reads and decodes on an input thread of its own while
    // this thread does the rest (the same packets in the same order either way).
    bool SerialLoop = false;
    TJobPreviewCallback OnPreviewBitmap;

    // The termination notice: Running false, Terminated true, worker none, then OnTerminate.
    // Delivered once per job; later calls do nothing.
    void NotifyTerminate();

    // Run body, on the running thread: open the files again when they were released,
    // transcode, close what is still open, clean up, deliver the notice.
    void Run();

protected:
    // True while the job's files are released: Start then leaves the check for an input and
    // an output to the run, after ReopenFiles.
    virtual bool FilesReleased() const { return false; }
    // Called first in a run, on the running thread: opens released files again. False (or
    // an exception) with ErrorMessage set fails the run.
    virtual bool ReopenFiles() { return true; }

private:
    friend class TConvertThread;
    friend class TInputFiles;
    friend class TOutputFiles;
    friend class TVideoPath;
    friend class TAudioPath;
    friend class TSubtitlePath;
    friend class TStreamCopy;
    friend class TJobHooks;
    friend class TJobPipeline;

    // A codec by name for a media type (null for an empty name); sets OpenError and raises on
    // failure.
    const AVCodec* FindCodecByName(const std::string& name, AVMediaType type, bool encoder);

    // -- a run ------------------------------------------------------------------------
    void Transcode();
    void SetUpRun();
    void ReadLoop();
    int ChooseInput();
    // Joining: input k has ended; flushes its decoders and moves the output streams on to
    // input k + 1. False when k was the last input.
    bool SwitchJoinInput();
    void EndRun();
    void CloseRunCodecs();
    void FreeRunTables();
    // Closes the inputs and outputs and empties the tables; an output left empty is removed
    // when asked.
    void CloseFiles(bool removeEmptyOutputs);
    // The failure of a job without an input or an output (null when it has both).
    const char* MissingFileText() const;
    void Report(bool last, int fileIndex);
    void Fail(const std::string& text);

    // Streams without a source for the stretch being read (an input of a join without their
    // kind, or a stream the muxer demands) are brought up to the time `until` (µs) with
    // silence or black pictures at the encoder's size.
    void FillMissing(int64_t until);
    // Timestamp jumps: what the output stream took out so far, in µs; and whether a stream
    // of the other kind in the same input is at that time (within the discontinuity
    // threshold, its own jumps taken out), which makes a gap real rather than a jump.
    int64_t ShiftMicroseconds(const TOutputStream& ost) const;
    bool ClockAgrees(const TInputStream& ist, AVMediaType kind, int64_t time) const;
    // The furthest time any input stream in use has reached (µs), 0 before any.
    int64_t ReachedEnd() const;

    void LogV(TLogLevel level, const std::string& text) const;

    // What becomes of a decoded frame after the input side's bookkeeping: the hooks, the
    // volume, then the filters or the output streams.
    void OutputDecoded(TInputStream& ist, AVFrame* frame);
    // An input stream's clock as the output side sees it: the stream's own in the serial
    // loop, the pipeline's view while the input side runs on its own thread.
    void SetOutPts(TInputStream& ist, int64_t pts) { (Pipelined ? ist.View.Pts : ist.Pts) = pts; }
    // On the audio lane, the lane's own clocks.
    const TClockEntry& OutClock(const TInputStream& ist) const {
        const TClockEntry* lane = Pipe.LaneClock(ist);
        return lane ? *lane : ist.View;
    }
    int64_t OutPts(const TInputStream& ist) const {
        return Pipelined ? OutClock(ist).Pts : ist.Pts;
    }
    int64_t OutNextPts(const TInputStream& ist) const {
        return Pipelined ? OutClock(ist).NextPts : ist.NextPts;
    }
    int64_t OutDecodedFrames(const TInputStream& ist) const {
        return Pipelined ? OutClock(ist).DecodedFrames : ist.DecodedFrames;
    }
    int OutQuality(const TInputStream& ist) const {
        return Pipelined ? OutClock(ist).Quality : ist.Quality;
    }
    void ClearStopCheck();

    // The parts.
    TInputFiles InputFiles{*this};
    TOutputFiles OutputFiles{*this};
    TVideoPath VideoPath{*this};
    TAudioPath AudioPath{*this};
    TSubtitlePath SubtitlePath{*this};
    TStreamCopy Copy{*this};
    TJobHooks Hooks{*this};
    TJobPipeline Pipe{*this};
    bool Pipelined = false; // the pipeline runs: the output side reads the views

    // Run tables.
    std::vector<std::unique_ptr<TInputStream>> InputStreams;
    std::vector<TOutputStream*> OutputStreams;
    TPacketPtr Packet;        // the packet read
    TPacketPtr EncodedPacket; // packets coming out of encoders and filters
    TFramePtr DecodedFrame;
    int64_t LastReportTime = 0;
    bool ReportDupDrop = false; // frames were duplicated or dropped since the line was logged
    std::vector<int64_t> QpHistogram52;
    int JoinInput = 0;          // joining: the input being read
    bool HasFillers = false;    // some output stream has no source for a stretch
    bool JoinSwitching = false; // joining: decoders are flushed, the encoders keep running
    bool StopCheckRegistered = false;
    std::atomic<bool> Reading{false}; // a demuxer read is in progress

    // Opened codecs, guarded by the process-wide codec list lock.
    std::vector<TOutputStream*> OpenedEncoders;
    std::vector<TInputStream*> OpenedDecoders;

    std::mutex WorkerLock;
    TConvertThread* Worker = nullptr;
    std::atomic<uint32_t> RunThread{0}; // the thread running Run, 0 when none
};

// The process-wide lock around every job's opened-codec lists.
std::mutex& CodecListLock();

} // namespace cw
