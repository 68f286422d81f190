// The encoder component (its tasks and task list are in EncoderTasks.cpp).
#include "engine/FFEncoder.h"

#include "base/MainThread.h"
#include "engine/FFLoader.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>
#include <type_traits>

namespace cw {

// -- TFFEncoder ------------------------------------------------------------------------------

struct TFFEncoder::THandlerState {
    std::mutex Lock;
    std::condition_variable Changed;
    uint64_t Generation = 0;                // moves on with every DetachEvents
    std::vector<std::thread::id> InHandler; // one entry per handler running now
    uint64_t Queued = 0;                    // termination deliveries numbered so far
    uint64_t Done = 0;                      // deliveries that have had their turn
    int Alive = 0;                          // delivery threads not yet ended
};

// A progress or preview report waiting for the main thread. The worker waits until the
// handler has run, or until Stop with wait inside the handler releases it; the record (and a
// copy of the preview picture then) lives here, so the handler may go on after the worker.
struct TFFEncoder::TMainCall {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Done = false;
    bool Released = false;
    std::exception_ptr Error;
    TProgressInfo Progress;
    TPreviewInfo Preview;
    std::unique_ptr<TBitmap> PictureCopy;
};

namespace {

// The handlers running on this thread, innermost last: which component, for which task, and
// the main-thread call whose worker waits for it (null when the handler runs on the task's
// own thread or inside a run without threads).
struct THandlerFrame {
    const TFFEncoder* Owner;
    const TCustomFFmpeg* Task;
    void* Call;
};
thread_local std::vector<THandlerFrame> HandlerFrames;

} // namespace

// Marks this thread as running a handler of the component (the frame and the handler count)
// for its lifetime.
class TFFEncoder::THandlerScope {
public:
    THandlerScope(TFFEncoder& owner, const TCustomFFmpeg* task, TMainCall* call, bool counted)
        : State(owner.Handlers), Counted(counted) {
        HandlerFrames.push_back({&owner, task, call});
    }
    ~THandlerScope() {
        HandlerFrames.pop_back();
        if (!Counted)
            return;
        // The state is held here: once the entry is gone the component may go at once.
        THandlerState& state = *State;
        std::lock_guard<std::mutex> guard(state.Lock);
        auto it =
            std::find(state.InHandler.begin(), state.InHandler.end(), std::this_thread::get_id());
        if (it != state.InHandler.end())
            state.InHandler.erase(it);
        state.Changed.notify_all();
    }
    THandlerScope(const THandlerScope&) = delete;
    THandlerScope& operator=(const THandlerScope&) = delete;

private:
    std::shared_ptr<THandlerState> State;
    bool Counted;
};

template <class F> F TFFEncoder::EnterHandler(const F& field) {
    std::lock_guard<std::mutex> guard(Handlers->Lock);
    F copy = field;
    if (copy)
        Handlers->InHandler.push_back(std::this_thread::get_id());
    return copy;
}

TFFEncoder::TFFEncoder()
    : DecoderComponent(std::make_unique<TFFDecoder>()),
      Handlers(std::make_shared<THandlerState>()) {
    Version = "3.9";
}

TFFEncoder::~TFFEncoder() {
    DetachEvents();
    StopAll = true;
    {
        std::lock_guard<std::recursive_mutex> guard(TerminateLock);
        Remaining = 0;
    }
    // Each task stops with wait and cleans up.
    Tasks.Clear();
    // The delivery threads hold the shared state only; they are let finish so that none
    // outlives the program's own threads.
    auto state = Handlers;
    WaitServing([&state] {
        std::lock_guard<std::mutex> guard(state->Lock);
        return state->Alive == 0;
    });
    if (CountedWork)
        FFLoader().EndWork();
    // A dispatcher still inside one of the locks finishes first.
    { std::lock_guard<std::mutex> guard(ProgressLock); }
    { std::lock_guard<std::mutex> guard(PreviewLock); }
    { std::lock_guard<std::mutex> guard(VideoHookLock); }
    { std::lock_guard<std::mutex> guard(AudioHookLock); }
    { std::lock_guard<std::recursive_mutex> guard(TerminateLock); }
}

void TFFEncoder::DetachEvents() {
    THandlerState& state = *Handlers;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        OnProgress = nullptr;
        OnTerminate = nullptr;
        OnPreviewBitmap = nullptr;
        OnBeforeFindStreamInfo = nullptr;
        OnVideoInputHook = nullptr;
        OnVideoOutputHook = nullptr;
        OnAudioHook = nullptr;
        ++state.Generation;
    }
    // A handler running on another thread ends before the owner may go; one running on this
    // thread (the caller is inside it) cannot be waited for.
    const auto self = std::this_thread::get_id();
    WaitServing([&state, self] {
        std::lock_guard<std::mutex> guard(state.Lock);
        return std::all_of(state.InHandler.begin(), state.InHandler.end(),
                           [self](std::thread::id id) { return id == self; });
    });
}

bool TFFEncoder::LoadLibraries(const std::string& folder) {
    if (WorkingFlag && !AllDoneFlag) {
        LastError = "Cannot LoadLibraries while working.";
        return false;
    }
    TFFLoader& loader = FFLoader();
    loader.SetLibraryPath(folder);
    if (loader.LoadLibs(EncoderLibraries))
        return true;
    LastError = loader.LastErrorMessage();
    return false;
}

bool TFFEncoder::LibrariesLoaded() const {
    return FFLoader().LibsLoaded(EncoderLibraries);
}

void TFFEncoder::CheckBusy(const char* operation) const {
    if (WorkingFlag)
        throw TEncoderBusyError(std::string("Cannot ") + operation + " while working.");
}

void TFFEncoder::SetPreview(bool value) {
    Tasks.SetPreviewFlags(value, PreviewBitmapOn);
    PreviewOn = value;
}

void TFFEncoder::SetPreviewBitmap(bool value) {
    Tasks.SetPreviewFlags(PreviewOn, value);
    PreviewBitmapOn = value;
}

void TFFEncoder::SetProgressInterval(int milliseconds) {
    ProgressIntervalMs = std::max(milliseconds, 100);
}

template <class Step> bool TFFEncoder::Guarded(Step&& step) {
    try {
        return step();
    } catch (const std::exception& e) {
        LastError = e.what();
    } catch (...) {
        LastError = "Unknown error";
    }
    return false;
}

namespace {

// The caller's options record, named after the file when it names none.
template <class Record>
std::optional<Record> NamedRecord(const Record* options, const std::string& fileName) {
    if (!options)
        return std::nullopt;
    Record record = *options;
    if (record.FileName.empty())
        record.FileName = fileName;
    return record;
}

template <class Record> const Record* RecordOrNull(const std::optional<Record>& record) {
    return record ? &*record : nullptr;
}

} // namespace

int TFFEncoder::AddTask(const std::string& fileName, const TInputOptions* options) {
    CheckBusy("AddTask");
    // The tasks queued before this one close their files until their turn.
    for (int i = 0; i < Tasks.Count(); ++i)
        Tasks.Get(i)->Park();
    int index = -1;
    Guarded([&] {
        auto task = std::make_unique<TFFmpeg>(MaxFiles, this);
        task->Options.StrictOptions = StrictOptions;
        task->Options.Verbose = Verbosity;
        task->QueuedVerbose = Verbosity;
        task->SetPreviewFlags((PreviewOn ? PreviewWindowFlag : 0) |
                              (PreviewBitmapOn ? PreviewBitmapFlag : 0));
        task->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* job, AVFormatContext* context) {
            if (OnBeforeFindStreamInfo)
                OnBeforeFindStreamInfo(this, job, context);
        };
        task->OnPreviewBitmap = [this](TCustomFFmpeg* job, const TBitmap& bitmap,
                                       int64_t frameNumber, int64_t pts) {
            DoPreviewBitmap(job, &bitmap, static_cast<int>(frameNumber), pts);
        };
        task->OnVideoInputHook = [this](TCustomFFmpeg* job, TJobHookFrame& frame) {
            DoVideoInputHook(job, frame);
        };
        task->OnVideoOutputHook = [this](TCustomFFmpeg* job, TJobHookFrame& frame) {
            DoVideoOutputHook(job, frame);
        };
        task->OnAudioHook = [this](TCustomFFmpeg* job, int64_t pts, uint8_t* samples, int size,
                                   int sampleRate, int channels, int sampleFormat) {
            DoAudioHook(job, pts, samples, size, sampleRate, channels, sampleFormat);
        };
        task->SerialLoop = SerialLoop;
        if (CodecThreads >= 0) {
            task->ThreadsValue = std::to_string(CodecThreads);
            task->Options.SetOption("threads", task->ThreadsValue);
        }
        const std::optional<TInputOptions> record = NamedRecord(options, fileName);
        if (record)
            task->StoreInputOptions(0, &*record);
        task->TimeoutMs = TimeoutMs;
        if (!task->Options.OpenInputWithOptions(fileName, RecordOrNull(record))) {
            LastError = task->OpenError;
            return false;
        }
        task->AttachDecoder(0);
        task->RecordOpen(false, fileName);
        task->OnProgress = [this](TCustomFFmpeg* job, const TJobProgress& progress) {
            DoProgress(job, progress);
        };
        task->OnTerminate = [this](TCustomFFmpeg* job) { DoTerminate(job); };
        index = Tasks.Add(std::move(task));
        return true;
    });
    return index;
}

template <class Record>
bool TFFEncoder::OpenTaskFile(const char* operation, int taskIndex, const std::string& fileName,
                              const Record* options) {
    constexpr bool output = std::is_same_v<Record, TOutputOptions>;
    CheckBusy(operation);
    TFFmpeg* task = Tasks.Get(taskIndex);
    if (!task->Unpark()) {
        LastError = task->OpenError;
        return false;
    }
    const int index = output ? task->OutputCount() : task->InputCount();
    if (index >= MaxFiles) {
        LastError = std::string("max ") + (output ? "output" : "input") + " files " +
                    std::to_string(MaxFiles) + " reached";
        return false;
    }
    auto store = [&](const Record* record) {
        if constexpr (output)
            task->StoreOutputOptions(index, record);
        else
            task->StoreInputOptions(index, record);
    };
    const bool opened = Guarded([&] {
        task->Options.StrictOptions = StrictOptions;
        const std::optional<Record> record = NamedRecord(options, fileName);
        store(RecordOrNull(record));
        task->TimeoutMs = TimeoutMs;
        bool ok;
        if constexpr (output) {
            ok = task->Options.OpenOutputWithOptions(fileName, RecordOrNull(record)) >= 0;
        } else {
            ok = task->Options.OpenInputWithOptions(fileName, RecordOrNull(record));
            if (ok)
                task->AttachDecoder(index);
        }
        if (!ok) {
            LastError = task->OpenError;
            return false;
        }
        task->RecordOpen(output, fileName);
        return true;
    });
    if (!opened) {
        store(nullptr);
        task->OpenFailed = true;
    }
    return opened;
}

bool TFFEncoder::AddInputFile(int taskIndex, const std::string& fileName,
                              const TInputOptions* options) {
    return OpenTaskFile("AddInputFile", taskIndex, fileName, options);
}

bool TFFEncoder::SetOutputFile(int taskIndex, const std::string& fileName,
                               const TOutputOptions* options) {
    return OpenTaskFile("SetOutputFile", taskIndex, fileName, options);
}

void TFFEncoder::RemoveTask(int taskIndex) {
    CheckBusy("RemoveTask");
    Tasks.Delete(taskIndex);
}

void TFFEncoder::ClearTasks() {
    if (WorkingFlag && !AllDoneFlag)
        throw TEncoderBusyError("Cannot ClearTasks while working.");
    // Freed without the terminate lock: a task's worker may still be leaving its notice.
    Tasks.Clear();
    std::lock_guard<std::recursive_mutex> guard(TerminateLock);
    LastError.clear();
    FinishedCount = 0;
    NextTaskIndex = -1;
    Remaining = 0;
    AllDoneFlag = false;
    Threaded = false;
    WorkingFlag = false;
    StopAll = false;
    if (CountedWork) {
        FFLoader().EndWork();
        CountedWork = false;
    }
}

void TFFEncoder::StartTask(int maxThreads) {
    CheckBusy("StartTask");
    std::lock_guard<std::recursive_mutex> guard(TerminateLock);
    FinishedCount = 0;
    NextTaskIndex = 0;
    Remaining = Tasks.Count();
    AllDoneFlag = false;
    StopAll = false;
    Threaded = maxThreads > 0;
    WorkingFlag = true;
    // The libraries stay bound as they are until the tasks are cleared.
    if (!CountedWork) {
        FFLoader().BeginWork();
        CountedWork = true;
    }
    if (Tasks.Count() == 0) {
        // Nothing to run: the run is over at once, so its end is still reported.
        AllDoneStep();
        return;
    }
    if (!Threaded)
        InlineRunner = std::this_thread::get_id();
    while (Remaining > 0 && !StopAll) {
        StartNextTask();
        if (Threaded && --maxThreads <= 0)
            break;
    }
    // A stop asked for while the tasks were being started finds nothing running here.
    FinishRun();
    InlineRunner = std::thread::id();
}

void TFFEncoder::StartNextTask() {
    if (Remaining <= 0 || StopAll)
        return;
    --Remaining;
    // The index moves on before the task starts: a task that fails inside Start delivers its
    // notice at once, and that notice may start the next task.
    TFFmpeg* task = Tasks.Get(NextTaskIndex++);
    // Its own verbosity again (a reopened task gets it back from its queueing as well).
    task->Options.Verbose = task->QueuedVerbose;
    task->ProgressIntervalUs = int64_t(ProgressIntervalMs) * 1000;
    if (Threaded) {
        if (TConvertThread* worker = task->Start(true, ThreadPriority)) {
            // Start clears the task's stop request: a stop asked for meanwhile is repeated.
            if (StopAll)
                task->RequestStop(false);
            worker->Resume();
        }
    } else {
        task->Start(false);
    }
}

void TFFEncoder::Stop(bool wait) {
    // No further task starts; the tasks that never ran are terminated by FinishRun once the
    // running ones have ended, by whoever holds the terminate lock then.
    StopAll = true;
    if (!WorkingFlag)
        return;
    for (int i = 0; i < Tasks.Count(); ++i) {
        TFFmpeg* task = Tasks.Get(i);
        if (task->Running)
            task->RequestStop(false);
    }
    {
        std::unique_lock<std::recursive_mutex> guard(TerminateLock, std::try_to_lock);
        if (guard.owns_lock()) {
            Remaining = 0;
            FinishRun();
        }
    }
    if (!wait)
        return;
    auto allEnded = [this] {
        for (int i = 0; i < Tasks.Count(); ++i) {
            TFFmpeg* task = Tasks.Get(i);
            if (!task->Terminated || !task->DoneEvent.IsSet())
                return false;
        }
        return true;
    };
    // A handler whose worker waits on the main thread lets it go, so its task can end while
    // this call waits; a handler on the task's own thread, or any handler of a run without
    // threads, is part of the run it would wait for.
    bool canWait = InlineRunner.load() != std::this_thread::get_id();
    for (const THandlerFrame& frame : HandlerFrames) {
        if (frame.Owner != this || !frame.Task)
            continue;
        if (!frame.Call) {
            canWait = false;
            continue;
        }
        auto* call = static_cast<TMainCall*>(frame.Call);
        std::lock_guard<std::mutex> guard(call->Lock);
        if (call->Released || call->Done)
            continue;
        // The worker frees its picture once it goes on; the handler keeps a copy.
        if (call->Preview.Bitmap) {
            call->PictureCopy = std::make_unique<TBitmap>(*call->Preview.Bitmap);
            call->Preview.Bitmap = call->PictureCopy.get();
        }
        call->Released = true;
        call->Changed.notify_all();
    }
    if (!canWait) {
        if (allEnded())
            return;
        throw TEncoderBusyError("Cannot Stop with wait while working.");
    }
    WaitServing(allEnded);
}

void TFFEncoder::DoTerminate(TCustomFFmpeg* task) {
    // Each task runs on a thread of its own, and the memory it freed stays in that thread's
    // allocator pool; handing it back keeps a long batch from growing with every task.
    ::malloc_trim(0);
    // An unfinished library line of the task's thread is its own line, not the next task's.
    TFFLogger::FlushThread();
    // The run closed the task's inputs: their decoders go with them.
    if (auto* job = dynamic_cast<TFFmpeg*>(task))
        job->DropClosedDecoders();
    std::lock_guard<std::recursive_mutex> guard(TerminateLock);
    if (!task) {
        AllDoneStep();
        return;
    }
    TTerminateInfo info{Tasks.IndexOf(task), task->Finished, task->Failed, task->ErrorMessage};
    if (Threaded || !WorkingFlag) {
        Deliver(info);
    } else if (TTerminateEvent handler = EnterHandler(OnTerminate)) {
        THandlerScope scope(*this, nullptr, nullptr, true);
        try {
            handler(this, info);
        } catch (const TEncoderBusyError&) {
            // Stop with wait inside the run: the stop stands, the notice goes on.
        }
    }
    ++FinishedCount;
    if (Remaining >= 1 && Threaded && !StopAll)
        StartNextTask();
    FinishRun();
}

void TFFEncoder::FinishRun() {
    if (Sweeping || !WorkingFlag)
        return;
    if (StopAll && FinishedCount >= NextTaskIndex && NextTaskIndex < Tasks.Count()) {
        // Every started task has ended: the others end now, in order, each with its notice.
        Sweeping = true;
        Remaining = 0;
        while (NextTaskIndex < Tasks.Count())
            Tasks.Get(NextTaskIndex++)->NotifyTerminate();
        Sweeping = false;
    }
    if (FinishedCount >= Tasks.Count() && (Remaining < 1 || StopAll) && !AllDoneFlag)
        AllDoneStep();
}

void TFFEncoder::AllDoneStep() {
    const TTerminateInfo info{-1, true, false, {}};
    if (Threaded || !WorkingFlag) {
        // Set before the notice leaves, so its handler may clear the tasks.
        AllDoneFlag = true;
        Deliver(info);
    } else {
        if (TTerminateEvent handler = EnterHandler(OnTerminate)) {
            THandlerScope scope(*this, nullptr, nullptr, true);
            try {
                handler(this, info);
            } catch (const TEncoderBusyError&) {
            }
        }
        AllDoneFlag = true;
    }
}

void TFFEncoder::Deliver(const TTerminateInfo& info) {
    std::shared_ptr<THandlerState> state = Handlers;
    uint64_t ticket;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> guard(state->Lock);
        ticket = state->Queued++;
        generation = state->Generation;
        ++state->Alive;
    }
    std::thread([this, state, info, ticket, generation] {
        TTerminateEvent handler;
        {
            std::unique_lock<std::mutex> lock(state->Lock);
            state->Changed.wait(lock, [&] { return state->Done == ticket; });
            // Detached (or destroyed, which detaches first) since the notice was queued: it
            // belongs to an owner that is gone. Otherwise the component lives at least until
            // this handler has returned, since DetachEvents waits for it.
            if (state->Generation == generation) {
                handler = OnTerminate;
                if (handler)
                    state->InHandler.push_back(std::this_thread::get_id());
            }
        }
        if (handler) {
            THandlerScope scope(*this, nullptr, nullptr, true);
            try {
                handler(this, info);
            } catch (...) {
                // A handler's error must not end the process from a delivery thread.
            }
        }
        std::lock_guard<std::mutex> guard(state->Lock);
        ++state->Done;
        --state->Alive;
        state->Changed.notify_all();
    }).detach();
}

void TFFEncoder::CallOnMainThread(TCustomFFmpeg* task, const std::shared_ptr<TMainCall>& call,
                                  std::function<void()> body) {
    PostToMainThread([this, task, call, body = std::move(body)] {
        std::exception_ptr error;
        {
            THandlerScope scope(*this, task, call.get(), false);
            try {
                body();
            } catch (const TEncoderBusyError&) {
                // Stop with wait inside the handler: the stop stands.
            } catch (...) {
                error = std::current_exception();
            }
        }
        std::lock_guard<std::mutex> guard(call->Lock);
        call->Error = error;
        call->Done = true;
        call->Changed.notify_all();
    });
    std::unique_lock<std::mutex> lock(call->Lock);
    call->Changed.wait(lock, [&] { return call->Done || call->Released; });
    if (call->Done && !call->Released && call->Error)
        std::rethrow_exception(call->Error);
}

void TFFEncoder::DoProgress(TCustomFFmpeg* task, const TJobProgress& progress) {
    auto call = std::make_shared<TMainCall>();
    {
        std::lock_guard<std::mutex> guard(ProgressLock);
        ProgressRecord.TaskIndex = Tasks.IndexOf(task);
        ProgressRecord.FileIndex = progress.FileIndex;
        ProgressRecord.FrameNumber = progress.FrameNumber;
        ProgressRecord.FPS = progress.FPS;
        ProgressRecord.Quality = progress.Quality;
        ProgressRecord.BitRate = progress.BitRate;
        ProgressRecord.CurrentSize = progress.CurrentSize;
        ProgressRecord.CurrentDuration = progress.CurrentDuration;
        ProgressRecord.TotalDuration = progress.TotalDuration;
        if (!TriggerEventInMainThread || IsMainThread()) {
            if (TProgressEvent handler = EnterHandler(OnProgress)) {
                THandlerScope scope(*this, task, nullptr, true);
                try {
                    handler(this, &ProgressRecord);
                } catch (const TEncoderBusyError&) {
                }
            }
            return;
        }
        call->Progress = ProgressRecord;
    }
    // The lock is not held while the worker waits for the main thread: the main thread may
    // be freeing the component, which enters every lock.
    CallOnMainThread(task, call, [this, call] {
        if (TProgressEvent handler = EnterHandler(OnProgress)) {
            THandlerScope scope(*this, nullptr, nullptr, true);
            handler(this, &call->Progress);
        }
    });
}

void TFFEncoder::DoPreviewBitmap(TCustomFFmpeg* task, const TBitmap* bitmap, int frameNumber,
                                 int64_t pts) {
    auto call = std::make_shared<TMainCall>();
    {
        std::lock_guard<std::mutex> guard(PreviewLock);
        PreviewRecord = TPreviewInfo{Tasks.IndexOf(task), bitmap, frameNumber, pts};
        if (!TriggerEventInMainThread || IsMainThread()) {
            if (TPreviewBitmapEvent handler = EnterHandler(OnPreviewBitmap)) {
                THandlerScope scope(*this, task, nullptr, true);
                try {
                    handler(this, PreviewRecord);
                } catch (const TEncoderBusyError&) {
                }
            }
            return;
        }
        call->Preview = PreviewRecord;
    }
    CallOnMainThread(task, call, [this, call] {
        if (TPreviewBitmapEvent handler = EnterHandler(OnPreviewBitmap)) {
            THandlerScope scope(*this, nullptr, nullptr, true);
            handler(this, call->Preview);
        }
    });
}

void TFFEncoder::DoVideoInputHook(TCustomFFmpeg* task, TJobHookFrame& frame) {
    DoVideoHook(EnterHandler(OnVideoInputHook), task, frame);
}

void TFFEncoder::DoVideoOutputHook(TCustomFFmpeg* task, TJobHookFrame& frame) {
    DoVideoHook(EnterHandler(OnVideoOutputHook), task, frame);
}

void TFFEncoder::DoVideoHook(const TVideoHookEvent& event, TCustomFFmpeg* task,
                             TJobHookFrame& frame) {
    if (!event) {
        // Nobody looks at the picture: it goes on as it was.
        frame.Update = false;
        return;
    }
    // The handler was entered by the caller; the scope leaves it whatever happens.
    THandlerScope scope(*this, task, nullptr, true);
    std::lock_guard<std::mutex> guard(VideoHookLock);
    HookRecord = THookInfo{Tasks.IndexOf(task), frame.Bitmap, static_cast<int>(frame.FrameNumber),
                           frame.PTS,           true,         false};
    // A handler's error reaches the task, which logs it; the flags count as left unchanged.
    try {
        event(this, &HookRecord);
    } catch (const TEncoderBusyError&) {
        // Stop with wait from the task's own thread: the stop stands, the picture goes on.
    }
    frame.Update = HookRecord.Update;
    frame.StopHook = HookRecord.StopHook;
}

void TFFEncoder::DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* samples, int size,
                             int sampleRate, int channels, int sampleFormat) {
    TAudioHookEvent handler = EnterHandler(OnAudioHook);
    if (!handler)
        return;
    THandlerScope scope(*this, task, nullptr, true);
    std::lock_guard<std::mutex> guard(AudioHookLock);
    try {
        handler(this, Tasks.IndexOf(task), pts, samples, size, sampleRate, channels, sampleFormat);
    } catch (const TEncoderBusyError&) {
    }
}

} // namespace cw
