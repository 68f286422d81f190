// The encoder component and its task list.
#include "engine/FFEncoder.h"

#include "base/MainThread.h"
#include "engine/FFLoader.h"

#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace cw {

// -- TFFmpeg ---------------------------------------------------------------------------------

TFFmpeg::TFFmpeg(int maxFiles, TFFEncoder* owner)
    : TCustomFFmpeg(maxFiles), OwnerEncoder(owner), Decoders(maxFiles), InputCopies(maxFiles),
      OutputCopies(maxFiles) {}

void TFFmpeg::StopAndWait() {
    RequestStop(true);
    if (IsMainThread())
        WaitServing([this] { return DoneEvent.IsSet(); });
    else
        DoneEvent.Wait(-1);
}

TFFmpeg::~TFFmpeg() {
    // The run ends first, so no worker reads a callback while it is cleared; then nothing of
    // this task reaches the owner any more.
    StopAndWait();
    OnProgress = nullptr;
    OnTerminate = nullptr;
    OnBeforeFindStreamInfo = nullptr;
    OnVideoInputHook = nullptr;
    OnVideoOutputHook = nullptr;
    OnAudioHook = nullptr;
    OnPreviewBitmap = nullptr;
    Decoders.clear();
    // A task that never ran holds its outputs' empty files only by name.
    if (ParkedFlag)
        RemoveEmptyReservedOutputs(0);
    InputCopies.clear();
    OutputCopies.clear();
}

TFFDecoder* TFFmpeg::InputDecoder(int index) const {
    return index >= 0 && index < int(Decoders.size()) ? Decoders[index].get() : nullptr;
}

const TInputOptions* TFFmpeg::InputOptions(int index) const {
    return index >= 0 && index < int(InputCopies.size()) ? InputCopies[index].get() : nullptr;
}

const TOutputOptions* TFFmpeg::OutputOptions(int index) const {
    return index >= 0 && index < int(OutputCopies.size()) ? OutputCopies[index].get() : nullptr;
}

void TFFmpeg::AttachDecoder(int index) {
    auto decoder = std::make_unique<TFFDecoder>();
    decoder->AttachContext(InputContext(index));
    Decoders.at(index) = std::move(decoder);
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions* options) {
    InputCopies.at(index) = options ? std::make_unique<TInputOptions>(*options) : nullptr;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions* options) {
    OutputCopies.at(index) = options ? std::make_unique<TOutputOptions>(*options) : nullptr;
}

void TFFmpeg::RecordOpen(bool output, const std::string& fileName) {
    OpenSteps.push_back(TOpenStep{output, fileName});
}

bool TFFmpeg::Park() {
    if (ParkedFlag)
        return true;
    if (OpenFailed || OpenSteps.empty() || Running || Terminated)
        return false;
    // The decoders look at the input containers: they go first.
    for (auto& decoder : Decoders)
        decoder.reset();
    ReleaseFiles();
    ParkedFlag = true;
    return true;
}

bool TFFmpeg::Unpark() {
    if (!ParkedFlag)
        return true;
    ParkedFlag = false;
    int outputs = 0;
    auto openAll = [&] {
        ResetOptions();
        if (!ThreadsValue.empty())
            SetOption("threads", ThreadsValue);
        int inputs = 0;
        for (const TOpenStep& step : OpenSteps) {
            if (!step.Output) {
                if (!OpenInputWithOptions(step.FileName, InputOptions(inputs)))
                    return false;
                AttachDecoder(inputs++);
                continue;
            }
            // The name was taken with an empty file when the task was queued; anything
            // written there since is not ours to overwrite.
            std::error_code ec;
            if (std::filesystem::is_regular_file(step.FileName, ec) &&
                std::filesystem::file_size(step.FileName, ec) > 0 && !ec) {
                OpenError = "The output file was changed while the task waited: " + step.FileName;
                return false;
            }
            if (OpenOutputWithOptions(step.FileName, OutputOptions(outputs)) < 0)
                return false;
            ++outputs;
        }
        return true;
    };
    bool opened = false;
    try {
        opened = openAll();
    } catch (const std::exception& e) {
        OpenError = e.what();
    }
    if (opened)
        return true;
    // What was opened again is closed by the run's clean-up; the outputs not reached are
    // removed here while they are still the empty files of the queueing.
    OpenFailed = true;
    RemoveEmptyReservedOutputs(outputs);
    if (OpenError.empty())
        OpenError = "Cannot open the task's files again";
    return false;
}

bool TFFmpeg::ReopenFiles() {
    if (!ParkedFlag)
        return true;
    OpenError.clear();
    if (Unpark())
        return true;
    ErrorMessage = OpenError;
    return false;
}

void TFFmpeg::RemoveEmptyReservedOutputs(int fromOutput) {
    int index = 0;
    for (const TOpenStep& step : OpenSteps) {
        if (!step.Output)
            continue;
        if (index++ < fromOutput)
            continue;
        std::error_code ec;
        if (std::filesystem::is_regular_file(step.FileName, ec) &&
            std::filesystem::file_size(step.FileName, ec) == 0 && !ec)
            std::filesystem::remove(step.FileName, ec);
    }
}

// -- TFFmpegList -----------------------------------------------------------------------------

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    Tasks.push_back(std::move(task));
    return Count() - 1;
}

TFFmpeg* TFFmpegList::Get(int index) const {
    return Tasks.at(static_cast<size_t>(index)).get();
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* task) const {
    for (int i = 0; i < Count(); ++i)
        if (Tasks[i].get() == task)
            return i;
    return -1;
}

void TFFmpegList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    Tasks[index]->StopAndWait();
    Tasks.erase(Tasks.begin() + index);
}

void TFFmpegList::Clear() {
    // Every run ends while the list is whole (a worker's notice looks its task up), then the
    // tasks are freed.
    for (auto& task : Tasks)
        task->StopAndWait();
    while (!Tasks.empty()) {
        Tasks.back().reset();
        Tasks.pop_back();
    }
}

void TFFmpegList::StopAll(bool wait) {
    for (auto& task : Tasks)
        task->Stop(wait);
}

void TFFmpegList::SetPreviewFlags(bool preview, bool previewBitmap) {
    for (auto& task : Tasks)
        task->SetPreviewFlags((preview ? PreviewWindowFlag : 0) |
                              (previewBitmap ? PreviewBitmapFlag : 0));
}

// -- TFFEncoder ------------------------------------------------------------------------------

TFFEncoder::TFFEncoder() : DecoderComponent(std::make_unique<TFFDecoder>()) {
    Version = "3.9";
}

TFFEncoder::~TFFEncoder() {
    DetachEvents();
    {
        std::lock_guard<std::recursive_mutex> guard(TerminateLock);
        Remaining = 0;
    }
    // Each task stops with wait and cleans up.
    Tasks.Clear();
    WaitServing([this] {
        std::lock_guard<std::mutex> guard(DeliveryLock);
        return DeliveriesAlive == 0;
    });
    // A dispatcher still inside one of the locks finishes first.
    { std::lock_guard<std::mutex> guard(ProgressLock); }
    { std::lock_guard<std::mutex> guard(PreviewLock); }
    { std::lock_guard<std::mutex> guard(VideoHookLock); }
    { std::lock_guard<std::mutex> guard(AudioHookLock); }
    { std::lock_guard<std::recursive_mutex> guard(TerminateLock); }
}

void TFFEncoder::DetachEvents() {
    std::lock_guard<std::mutex> guard(DeliveryLock);
    OnProgress = nullptr;
    OnTerminate = nullptr;
    OnPreviewBitmap = nullptr;
    OnBeforeFindStreamInfo = nullptr;
    OnVideoInputHook = nullptr;
    OnVideoOutputHook = nullptr;
    OnAudioHook = nullptr;
}

bool TFFEncoder::LoadLibraries(const std::string& folder) {
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

int TFFEncoder::AddTask(const std::string& fileName, const TInputOptions* options) {
    CheckBusy("AddTask");
    // The tasks queued before this one close their files until their turn.
    for (int i = 0; i < Tasks.Count(); ++i)
        Tasks.Get(i)->Park();
    std::unique_ptr<TFFmpeg> task;
    try {
        task = std::make_unique<TFFmpeg>(MaxFiles, this);
        task->StrictOptions = StrictOptions;
        task->Verbose = Verbosity;
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
        if (CodecThreads >= 0) {
            task->ThreadsValue = std::to_string(CodecThreads);
            task->SetOption("threads", task->ThreadsValue);
        }
        TInputOptions record;
        if (options) {
            record = *options;
            if (record.FileName.empty())
                record.FileName = fileName;
            task->StoreInputOptions(0, &record);
        }
        task->TimeoutMs = TimeoutMs;
        if (!task->OpenInputWithOptions(fileName, options ? &record : nullptr)) {
            LastError = task->OpenError;
            return -1;
        }
        task->AttachDecoder(0);
        task->RecordOpen(false, fileName);
        task->OnProgress = [this](TCustomFFmpeg* job, const TJobProgress& progress) {
            DoProgress(job, progress);
        };
        task->OnTerminate = [this](TCustomFFmpeg* job) { DoTerminate(job); };
        return Tasks.Add(std::move(task));
    } catch (const std::exception& e) {
        LastError = e.what();
    } catch (...) {
        LastError = "Unknown error";
    }
    return -1;
}

bool TFFEncoder::AddInputFile(int taskIndex, const std::string& fileName,
                              const TInputOptions* options) {
    CheckBusy("AddInputFile");
    TFFmpeg* task = Tasks.Get(taskIndex);
    if (!task->Unpark()) {
        LastError = task->OpenError;
        return false;
    }
    if (task->InputCount() >= MaxFiles) {
        LastError = "max input files " + std::to_string(MaxFiles) + " reached";
        return false;
    }
    const int index = task->InputCount();
    try {
        task->StrictOptions = StrictOptions;
        TInputOptions record;
        if (options) {
            record = *options;
            if (record.FileName.empty())
                record.FileName = fileName;
        }
        task->StoreInputOptions(index, options ? &record : nullptr);
        task->TimeoutMs = TimeoutMs;
        if (task->OpenInputWithOptions(fileName, options ? &record : nullptr)) {
            task->AttachDecoder(index);
            task->RecordOpen(false, fileName);
            return true;
        }
        LastError = task->OpenError;
    } catch (const std::exception& e) {
        LastError = e.what();
    } catch (...) {
        LastError = "Unknown error";
    }
    task->StoreInputOptions(index, nullptr);
    task->OpenFailed = true;
    return false;
}

bool TFFEncoder::SetOutputFile(int taskIndex, const std::string& fileName,
                               const TOutputOptions* options) {
    CheckBusy("SetOutputFile");
    TFFmpeg* task = Tasks.Get(taskIndex);
    if (!task->Unpark()) {
        LastError = task->OpenError;
        return false;
    }
    if (task->OutputCount() >= MaxFiles) {
        LastError = "max output files " + std::to_string(MaxFiles) + " reached";
        return false;
    }
    const int index = task->OutputCount();
    try {
        task->StrictOptions = StrictOptions;
        TOutputOptions record;
        if (options) {
            record = *options;
            if (record.FileName.empty())
                record.FileName = fileName;
        }
        task->StoreOutputOptions(index, options ? &record : nullptr);
        task->TimeoutMs = TimeoutMs;
        if (task->OpenOutputWithOptions(fileName, options ? &record : nullptr) >= 0) {
            task->RecordOpen(true, fileName);
            return true;
        }
        LastError = task->OpenError;
    } catch (const std::exception& e) {
        LastError = e.what();
    } catch (...) {
        LastError = "Unknown error";
    }
    task->StoreOutputOptions(index, nullptr);
    task->OpenFailed = true;
    return false;
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
}

void TFFEncoder::StartTask(int maxThreads) {
    CheckBusy("StartTask");
    std::lock_guard<std::recursive_mutex> guard(TerminateLock);
    FinishedCount = 0;
    NextTaskIndex = 0;
    Remaining = Tasks.Count();
    AllDoneFlag = false;
    Threaded = maxThreads > 0;
    WorkingFlag = true;
    if (Tasks.Count() == 0) {
        // Nothing to run: the run is over at once, so its end is still reported.
        AllDoneStep();
        return;
    }
    while (Remaining > 0) {
        StartNextTask();
        if (Threaded && --maxThreads <= 0)
            break;
    }
}

void TFFEncoder::StartNextTask() {
    if (Remaining <= 0)
        return;
    --Remaining;
    // The index moves on before the task starts: a task that fails inside Start delivers its
    // notice at once, and that notice may start the next task.
    TFFmpeg* task = Tasks.Get(NextTaskIndex++);
    task->Verbose = Verbosity;
    task->ProgressIntervalUs = int64_t(ProgressIntervalMs) * 1000;
    if (Threaded) {
        if (TConvertThread* worker = task->Start(true, ThreadPriority))
            worker->Resume();
    } else {
        task->Start(false);
    }
}

void TFFEncoder::Stop(bool wait) {
    {
        std::lock_guard<std::recursive_mutex> guard(TerminateLock);
        Remaining = 0;
    }
    if (WorkingFlag)
        Tasks.StopAll(wait);
}

void TFFEncoder::DoTerminate(TCustomFFmpeg* task) {
    // Each task runs on a thread of its own, and the memory it freed stays in that thread's
    // allocator pool; handing it back keeps a long batch from growing with every task.
    ::malloc_trim(0);
    std::lock_guard<std::recursive_mutex> guard(TerminateLock);
    if (!task) {
        AllDoneStep();
        return;
    }
    TTerminateInfo info{Tasks.IndexOf(task), task->Finished, task->Failed, task->ErrorMessage};
    if (Threaded || !WorkingFlag) {
        Deliver(info);
    } else {
        TTerminateEvent handler = OnTerminate;
        if (handler)
            handler(this, info);
    }
    ++FinishedCount;
    if (Remaining < 1) {
        if (FinishedCount >= Tasks.Count())
            AllDoneStep();
    } else if (Threaded) {
        StartNextTask();
    }
}

void TFFEncoder::AllDoneStep() {
    const TTerminateInfo info{-1, true, false, {}};
    if (Threaded || !WorkingFlag) {
        // Set before the notice leaves, so its handler may clear the tasks.
        AllDoneFlag = true;
        Deliver(info);
    } else {
        TTerminateEvent handler = OnTerminate;
        if (handler)
            handler(this, info);
        AllDoneFlag = true;
    }
}

void TFFEncoder::Deliver(const TTerminateInfo& info) {
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> guard(DeliveryLock);
        ticket = DeliveriesQueued++;
        ++DeliveriesAlive;
    }
    std::thread([this, info, ticket] {
        TTerminateEvent handler;
        {
            std::unique_lock<std::mutex> lock(DeliveryLock);
            DeliveryTurn.wait(lock, [&] { return DeliveriesDone == ticket; });
            handler = OnTerminate;
        }
        if (handler) {
            try {
                handler(this, info);
            } catch (...) {
                // A handler's error must not end the process from a delivery thread.
            }
        }
        std::lock_guard<std::mutex> guard(DeliveryLock);
        ++DeliveriesDone;
        --DeliveriesAlive;
        DeliveryTurn.notify_all();
    }).detach();
}

void TFFEncoder::DoProgress(TCustomFFmpeg* task, const TJobProgress& progress) {
    TProgressInfo record;
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
            if (OnProgress)
                OnProgress(this, &ProgressRecord);
            return;
        }
        record = ProgressRecord;
    }
    // The lock is not held while the worker waits for the main thread: the main thread may
    // be freeing the component, which enters every lock.
    RunOnMainThread([this, &record] {
        if (OnProgress)
            OnProgress(this, &record);
    });
}

void TFFEncoder::DoPreviewBitmap(TCustomFFmpeg* task, const TBitmap* bitmap, int frameNumber,
                                 int64_t pts) {
    TPreviewInfo record;
    {
        std::lock_guard<std::mutex> guard(PreviewLock);
        PreviewRecord = TPreviewInfo{Tasks.IndexOf(task), bitmap, frameNumber, pts};
        if (!TriggerEventInMainThread || IsMainThread()) {
            if (OnPreviewBitmap)
                OnPreviewBitmap(this, PreviewRecord);
            return;
        }
        record = PreviewRecord;
    }
    RunOnMainThread([this, &record] {
        if (OnPreviewBitmap)
            OnPreviewBitmap(this, record);
    });
}

void TFFEncoder::DoVideoInputHook(TCustomFFmpeg* task, TJobHookFrame& frame) {
    DoVideoHook(OnVideoInputHook, task, frame);
}

void TFFEncoder::DoVideoOutputHook(TCustomFFmpeg* task, TJobHookFrame& frame) {
    DoVideoHook(OnVideoOutputHook, task, frame);
}

void TFFEncoder::DoVideoHook(const TVideoHookEvent& event, TCustomFFmpeg* task,
                             TJobHookFrame& frame) {
    std::lock_guard<std::mutex> guard(VideoHookLock);
    if (!event) {
        // Nobody looks at the picture: it goes on as it was.
        frame.Update = false;
        return;
    }
    HookRecord = THookInfo{Tasks.IndexOf(task), frame.Bitmap, static_cast<int>(frame.FrameNumber),
                           frame.PTS,           true,         false};
    // A handler's error reaches the task, which logs it; the flags count as left unchanged.
    event(this, &HookRecord);
    frame.Update = HookRecord.Update;
    frame.StopHook = HookRecord.StopHook;
}

void TFFEncoder::DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* samples, int size,
                             int sampleRate, int channels, int sampleFormat) {
    std::lock_guard<std::mutex> guard(AudioHookLock);
    if (OnAudioHook)
        OnAudioHook(this, Tasks.IndexOf(task), pts, samples, size, sampleRate, channels,
                    sampleFormat);
}

} // namespace cw
