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
// TStreamCopy, TJobHooks and TJobPipeline. Each part is handed a context at construction that
// names what it reads (the option record, as a const reference) and what it shares (the run
// tables and counters of JobContext.h, the other parts it asks through their public methods);
// no part sees the job. The coordinator keeps the option state (Options), the run's life
// cycle, the read loop, joining, the report (JobReport.cpp) and the clean-up.
#pragma once

#include "engine/AudioPath.h"
#include "engine/FFLogger.h"
#include "engine/FFUtils.h"
#include "engine/InputFiles.h"
#include "engine/JobContext.h"
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

using TJobProgressCallback = std::function<void(TCustomFFmpeg* job, const TJobProgress&)>;
using TJobTerminateCallback = std::function<void(TCustomFFmpeg* job)>;

// The option state of a job, whose file layer is the job's inputs and outputs: opening a file
// or a stream there consumes these options.
class TJobOptions final : public TTranscoderOptions {
public:
    TJobOptions(TInputFiles& inputs, TOutputFiles& outputs) : Inputs(inputs), Outputs(outputs) {}

    bool OpenInput(const std::string& fileName) override;
    int OpenOutput(const std::string& fileName, bool join) override;
    void NewOutputStream(AVMediaType type) override;
    void SetupJoin() override;
    int InputCount() const override;
    int OutputCount() const override;
    std::vector<AVRational> InputVideoFrameRates() const override;

private:
    TInputFiles& Inputs;
    TOutputFiles& Outputs;
};

class TCustomFFmpeg : private TRunSteps {
public:
    // maxFiles: capacity of the input and of the output table, 1..512 (std::out_of_range
    // otherwise). The media libraries must be bound.
    explicit TCustomFFmpeg(int maxFiles);
    // Stops a run with wait, waits for a termination notice in delivery, and cleans up.
    virtual ~TCustomFFmpeg();

    // The option state: set options here before the files they apply to are opened.
    TJobOptions Options{InputFiles, OutputFiles};

    // -- files: opened from the option state, which opening consumes ------------------------
    bool OpenInput(const std::string& fileName) { return Options.OpenInput(fileName); }
    int OpenOutput(const std::string& fileName, bool join) {
        return Options.OpenOutput(fileName, join);
    }
    int InputCount() const { return InputFiles.Count(); }
    int OutputCount() const { return OutputFiles.Count(); }
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
    static constexpr int64_t IoIdle = TOpenTimeout::Idle;
    int64_t ProgressIntervalUs = 500000;
    int64_t PreviewIntervalUs = 100000;
    // Counters of a run.
    TRunCounters Counters;
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
    void Report(bool last, int fileIndex) override;

    // Streams without a source for the stretch being read (an input of a join without their
    // kind, or a stream the muxer demands) are brought up to the time `until` (µs) with
    // silence or black pictures at the encoder's size.
    void FillMissing(int64_t until) override;
    // The furthest time any input stream in use has reached (µs), 0 before any.
    int64_t ReachedEnd() const;

    // What becomes of a decoded frame after the input side's bookkeeping: the hooks, the
    // volume, then the filters or the output streams.
    void OutputDecoded(TInputStream& ist, AVFrame* frame) override;
    void ClearStopCheck();
    // The time limit of opening a file, for the parts that open them.
    TOpenTimeout OpenTimeout() {
        return {MakeInterruptCallback<&TCustomFFmpeg::TimeoutCheck>(this), this, IoStart};
    }

    TRunTables Tables; // shared with the parts, by name in their contexts
    // The parts.
    TInputFiles InputFiles{{Options, Pipe, OutputFiles, VideoPath, SubtitlePath, Copy, *this,
                            Tables, OpenTimeout(), OpenError, OnBeforeFindStreamInfo, this,
                            MaxFiles}};
    TOutputFiles OutputFiles{{Options, InputFiles, VideoPath, AudioPath, SubtitlePath, Copy, Pipe,
                              Tables, Counters, OpenTimeout(), OpenError, JoinMode, MaxFiles}};
    TVideoPath VideoPath{{Options, OutputFiles, Hooks, Pipe, Counters, StopRequested}};
    TAudioPath AudioPath{{Options, OutputFiles, Pipe, StopRequested}};
    TSubtitlePath SubtitlePath{{Options, OutputFiles, Tables, Copy}};
    TStreamCopy Copy{{Options, InputFiles, OutputFiles, Hooks, Pipe, Tables, Counters, OpenError}};
    TJobHooks Hooks{{Options, Pipe, this, OnVideoInputHook, OnVideoOutputHook, OnAudioHook,
                     OnPreviewBitmap, PreviewIntervalUs}};
    TJobPipeline Pipe{{Options, InputFiles, OutputFiles, Copy, Hooks, *this, Tables, StopRequested,
                       SerialLoop, JoinMode, ProgressIntervalUs}};

    int JoinInput = 0; // joining: the input being read
    std::vector<int64_t> QpHistogram52;
    std::atomic<bool> Reading{false}; // a demuxer read is in progress

    std::mutex WorkerLock;
    TConvertThread* Worker = nullptr;
    std::atomic<uint32_t> RunThread{0}; // the thread running Run, 0 when none
};

} // namespace cw
