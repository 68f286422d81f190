// The encoder component, TFFEncoder: the one object through which the application converts
// media. It binds the media libraries, keeps a list of tasks (each one transcoding job with
// its inputs and outputs), runs them one after another or several at a time on worker
// threads, and reports each task's progress and end, and then the end of the whole run.
//
// A run of n tasks raises any number of OnProgress per task while it runs, exactly one
// OnTerminate per task, then one OnTerminate with TaskIndex -1. OnProgress (and
// OnPreviewBitmap) arrive on the main thread (base/MainThread.h) when
// TriggerEventInMainThread is set; OnTerminate arrives on a short-lived delivery thread in
// threaded mode (and for tasks stopped before they ran), on the calling thread otherwise.
// Deliveries of one component never overlap and keep the order of the terminations.
//
// Operations are meant for the main thread. Adding operations report failure by their result
// and LastErrMsg; an operation called while a run is in progress raises TEncoderBusyError.
#pragma once

#include "engine/EncoderOptions.h"
#include "engine/FFBaseComponent.h"
#include "engine/FFDecoder.h"
#include "engine/Transcoder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace cw {

class TFFEncoder;

// "Cannot %s while working." and "Cannot ClearTasks while working.".
class TEncoderBusyError : public std::logic_error {
public:
    explicit TEncoderBusyError(const std::string& message) : std::logic_error(message) {}
};

// One progress report; the component reuses one record for every report.
struct TProgressInfo {
    int TaskIndex = -1;
    int FileIndex = -1;   // input being read; -1 in the final report
    int FrameNumber = -1; // -1 without video
    int FPS = -1;         // -1 without video
    float Quality = -1;   // -1 without video or for stream copy
    float BitRate = 0;    // kbit/s so far
    int64_t CurrentSize = 0;
    int64_t CurrentDuration = 0; // µs reached
    int64_t TotalDuration = -1;  // µs expected; -1 unknown
};
using PProgressInfo = const TProgressInfo*;

struct TTerminateInfo {
    int TaskIndex = -1; // -1: the whole run is over
    bool Finished = false;
    bool Failed = false;
    std::string ErrorMessage;
};

struct TPreviewInfo {
    int TaskIndex = -1;
    const TBitmap* Bitmap = nullptr;
    int FrameNumber = 0; // counting from 1
    int64_t PTS = 0;     // µs
};

// What a video hook handler receives: the task, the picture as a bitmap, its frame number
// (from 1) and time stamp (µs). Update (true on entry) has the bitmap copied back into the
// picture after the handler returns; StopHook (false on entry) ends the hook's calls for the
// task.
struct THookInfo {
    int TaskIndex = -1;
    TBitmap* Bitmap = nullptr;
    int FrameNumber = 0;
    int64_t PTS = 0;
    bool Update = true;
    bool StopHook = false;
};
using PHookInfo = THookInfo*;

using TProgressEvent = std::function<void(TFFEncoder* sender, PProgressInfo info)>;
using TTerminateEvent = std::function<void(TFFEncoder* sender, const TTerminateInfo& info)>;
using TPreviewBitmapEvent = std::function<void(TFFEncoder* sender, const TPreviewInfo& info)>;
using TVideoHookEvent = std::function<void(TFFEncoder* sender, PHookInfo info)>;
// Decoded audio of a task: time stamp (µs), interleaved samples the handler may change in
// place, their size in bytes, sample rate, channels and sample format (AVSampleFormat).
using TAudioHookEvent =
    std::function<void(TFFEncoder* sender, int taskIndex, int64_t pts, uint8_t* samples, int size,
                       int sampleRate, int channels, int sampleFormat)>;
using TBeforeFindStreamInfoEvent =
    std::function<void(TFFEncoder* sender, TCustomFFmpeg* task, AVFormatContext* context)>;

// One task: a transcoding job with a decoder component per opened input and the copies of the
// option records it was given.
class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg(int maxFiles, TFFEncoder* owner);
    ~TFFmpeg() override;

    TFFEncoder* Owner() const { return OwnerEncoder; }
    // The decoder attached to an opened input (null when none, and once the run has closed
    // the inputs).
    TFFDecoder* InputDecoder(int index) const;
    // Stored records (null when none was given for that index).
    const TInputOptions* InputOptions(int index) const;
    const TOutputOptions* OutputOptions(int index) const;

    // Asks a run to stop and waits until its worker has ended.
    void StopAndWait();

    // A task waiting in the list holds no open file: its inputs and outputs are opened when
    // it is queued (so a bad file is reported at once), closed again while it waits, and
    // opened once more, in the same order and with the same records, when its run starts.
    // The memory of a long list then stays that of the tasks running.
    bool Parked() const { return ParkedFlag; }

protected:
    bool FilesReleased() const override { return ParkedFlag; }
    bool ReopenFiles() override;

private:
    friend class TFFEncoder;
    void AttachDecoder(int index);
    void StoreInputOptions(int index, const TInputOptions* options);
    void StoreOutputOptions(int index, const TOutputOptions* options);
    // Records a successful open, in order, with the settings it was made with, for the
    // reopening.
    void RecordOpen(bool output, const std::string& fileName);
    // Frees the decoders whose input the run has closed.
    void DropClosedDecoders();
    // Closes the files of a task that waits; false (and nothing done) when it cannot be
    // opened again the same way (an open of it failed, and a failed open may have consumed
    // options) or when it is not idle.
    bool Park();
    // Opens the files of a parked task again; false with OpenError set.
    bool Unpark();
    // The outputs a parked task created when it was queued, removed while still empty.
    void RemoveEmptyReservedOutputs(int fromOutput);

    struct TOpenStep {
        bool Output = false;
        std::string FileName;
        bool StrictOptions = true;
        int TimeoutMs = 0;
    };

    TFFEncoder* OwnerEncoder;
    std::vector<std::unique_ptr<TFFDecoder>> Decoders;
    std::vector<std::unique_ptr<TInputOptions>> InputCopies;
    std::vector<std::unique_ptr<TOutputOptions>> OutputCopies;
    std::vector<TOpenStep> OpenSteps;
    std::string ThreadsValue;       // "threads" given before the first input, empty when none
    int QueuedVerbose = 1;          // the verbosity the task was queued with
    mutable std::mutex DecoderLock; // the decoder table: the run's end frees entries
    bool OpenFailed = false;
    bool ParkedFlag = false;
};

// The ordered task list; it owns the tasks.
class TFFmpegList {
public:
    int Add(std::unique_ptr<TFFmpeg> task);
    // std::out_of_range outside the list.
    TFFmpeg* Get(int index) const;
    int IndexOf(const TCustomFFmpeg* task) const;
    int Count() const { return static_cast<int>(Tasks.size()); }
    void Delete(int index);
    void Clear();
    void StopAll(bool wait);
    void SetPreviewFlags(bool preview, bool previewBitmap);

private:
    std::vector<std::unique_ptr<TFFmpeg>> Tasks;
};

class TFFEncoder : public TFFBaseComponent {
public:
    TFFEncoder();
    ~TFFEncoder() override;
    TFFEncoder(const TFFEncoder&) = delete;
    TFFEncoder& operator=(const TFFEncoder&) = delete;

    // Binds the encoder's library set from the folder (empty: the system's); false with
    // LastErrMsg set to the loader's text. Refused while tasks run (false, worded LastErrMsg).
    bool LoadLibraries(const std::string& folder);
    bool LibrariesLoaded() const;

    // A new task with its first input; its index, or -1 with LastErrMsg.
    int AddTask(const std::string& fileName, const TInputOptions* options = nullptr);
    // One more input for a task (joining); false with LastErrMsg.
    bool AddInputFile(int taskIndex, const std::string& fileName,
                      const TInputOptions* options = nullptr);
    // An output for a task; false with LastErrMsg.
    bool SetOutputFile(int taskIndex, const std::string& fileName,
                       const TOutputOptions* options = nullptr);
    void RemoveTask(int taskIndex);
    // Frees every task and resets the run state.
    void ClearTasks();
    int TasksCount() const { return Tasks.Count(); }
    // The task (std::out_of_range outside the list).
    TFFmpeg* Task(int taskIndex) const { return Tasks.Get(taskIndex); }

    // Runs every task: at most maxThreads at a time on worker threads, or, with maxThreads 0
    // or less, one after another inside this call.
    void StartTask(int maxThreads);
    // No further task starts; when working, every task is stopped. A task that never ran
    // delivers its termination after those of the tasks that ran, in task order, and the
    // final notice comes last. With wait, returns once every task has ended, serving
    // main-thread calls meanwhile; called from a main-thread progress or preview handler it
    // lets that handler's task go on to its end. Where the caller is part of the run itself (a
    // handler of a run without threads, a handler on a task's own thread) the stop is asked
    // for, and TEncoderBusyError ("Cannot Stop with wait while working.") says that the call
    // could not wait.
    void Stop(bool wait);

    bool Working() const { return WorkingFlag; }
    bool AllDone() const { return AllDoneFlag; }

    const std::string& LastErrMsg() const { return LastError; }
    TFFDecoder& Decoder() { return *DecoderComponent; }

    bool Preview() const { return PreviewOn; }
    void SetPreview(bool value);
    bool PreviewBitmap() const { return PreviewBitmapOn; }
    void SetPreviewBitmap(bool value);
    int ProgressInterval() const { return ProgressIntervalMs; }
    // Stores max(value, 100).
    void SetProgressInterval(int milliseconds);

    int MaxFiles = 20;
    bool StrictOptions = true;
    int TimeoutMs = 10000;
    int Verbosity = 1;
    // Codec threads set on every new task ("threads") before its first input opens; -1 leaves
    // the option at its default.
    int CodecThreads = -1;
    // Every new task reads and decodes on the thread that encodes (its SerialLoop).
    bool SerialLoop = false;
    TConvertPriority ThreadPriority = cpNormal;
    std::atomic<bool> TriggerEventInMainThread{true};

    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;
    TPreviewBitmapEvent OnPreviewBitmap;
    // Before an input is probed: when it is added, and again when a task that waited opens
    // its inputs at its start (then on the task's thread).
    TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;
    // Hooks, on the task's thread: a task calls them when its output record switched them on
    // (VideoInputHook, VideoOutputHook, AudioHook), with the bitmap depth HookBitsPixel.
    TVideoHookEvent OnVideoInputHook;
    TVideoHookEvent OnVideoOutputHook;
    TAudioHookEvent OnAudioHook;

    // Clears every event handler. No handler runs after this returns: it waits (serving
    // main-thread calls) for a handler running on another thread, and a termination notice
    // still queued is dropped. Called from inside a handler, that handler may finish.
    void DetachEvents();

    // Dispatchers the tasks call back.
    void DoProgress(TCustomFFmpeg* task, const TJobProgress& progress);
    void DoPreviewBitmap(TCustomFFmpeg* task, const TBitmap* bitmap, int frameNumber, int64_t pts);
    void DoVideoInputHook(TCustomFFmpeg* task, TJobHookFrame& frame);
    void DoVideoOutputHook(TCustomFFmpeg* task, TJobHookFrame& frame);
    void DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* samples, int size, int sampleRate,
                     int channels, int sampleFormat);
    // task null: the all-done step.
    void DoTerminate(TCustomFFmpeg* task);

private:
    struct THandlerState;
    struct TMainCall;
    class THandlerScope;
    void CheckBusy(const char* operation) const;
    // Runs one step of adding a task or a file: a thrown error becomes LastError and a false
    // result, so every adding call reports its failures one way.
    template <class Step> bool Guarded(Step&& step);
    // The one body of AddInputFile and SetOutputFile: the task's files reopened, the file
    // count checked, the options record kept under the file's name and the file opened. A file
    // that does not open leaves its slot empty and marks the task as failed to open.
    template <class Record>
    bool OpenTaskFile(const char* operation, int taskIndex, const std::string& fileName,
                      const Record* options);
    void StartNextTask();
    void AllDoneStep();
    // Under the terminate lock, after a termination or a stop: once a stop was asked for and
    // every started task has ended, the tasks that never ran are terminated in order; the
    // final notice follows when every task has ended.
    void FinishRun();
    // Copies a handler under the handler lock; when set, this thread counts as running it
    // until the matching THandlerScope ends.
    template <class F> F EnterHandler(const F& field);
    // Runs body on the main thread and waits until it has run, or until Stop with wait inside
    // it lets the task go on.
    void CallOnMainThread(TCustomFFmpeg* task, const std::shared_ptr<TMainCall>& call,
                          std::function<void()> body);
    void DoVideoHook(const TVideoHookEvent& event, TCustomFFmpeg* task, TJobHookFrame& frame);
    // Runs OnTerminate with the record on a delivery thread, after every earlier delivery.
    void Deliver(const TTerminateInfo& info);

    std::unique_ptr<TFFDecoder> DecoderComponent;
    TFFmpegList Tasks;
    std::string LastError;
    bool PreviewOn = false;
    bool PreviewBitmapOn = false;
    int ProgressIntervalMs = 500;

    // Run state.
    int FinishedCount = 0;
    int NextTaskIndex = -1;
    int Remaining = 0;
    std::atomic<bool> AllDoneFlag{false};
    bool Threaded = false;
    std::atomic<bool> WorkingFlag{false};

    // One lock per event kind.
    std::mutex ProgressLock;
    std::mutex PreviewLock;
    std::mutex VideoHookLock;
    std::mutex AudioHookLock;
    std::recursive_mutex TerminateLock; // re-entered when a task fails inside Start
    TProgressInfo ProgressRecord;
    TPreviewInfo PreviewRecord;
    THookInfo HookRecord;

    std::atomic<bool> StopAll{false};          // a stop was asked for in this run
    bool CountedWork = false;                  // counted in at the loader from start to clear
    bool Sweeping = false;                     // the unstarted tasks are being terminated
    std::atomic<std::thread::id> InlineRunner; // the thread inside a run without threads

    // The handlers' guard, shared with the delivery threads so that a notice outliving the
    // component finds it detached: generation, threads running a handler, and the
    // termination deliveries (numbered in the order the terminations happened, run in that
    // order, counted while alive).
    std::shared_ptr<THandlerState> Handlers;
};

} // namespace cw
