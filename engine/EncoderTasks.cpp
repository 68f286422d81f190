// The encoder component's tasks: TFFmpeg, the transcoding job of one task with its decoders,
// stored option records and parking, and TFFmpegList, the task list.
#include "engine/FFEncoder.h"

#include "base/MainThread.h"
#include "engine/FFLoader.h"

#include <algorithm>
#include <filesystem>

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
    std::lock_guard<std::mutex> guard(DecoderLock);
    return index >= 0 && index < int(Decoders.size()) ? Decoders[index].get() : nullptr;
}

void TFFmpeg::DropClosedDecoders() {
    std::lock_guard<std::mutex> guard(DecoderLock);
    for (size_t i = 0; i < Decoders.size(); ++i)
        if (Decoders[i] && InputContext(static_cast<int>(i)) == nullptr)
            Decoders[i].reset();
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
    std::lock_guard<std::mutex> guard(DecoderLock);
    Decoders.at(index) = std::move(decoder);
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions* options) {
    InputCopies.at(index) = options ? std::make_unique<TInputOptions>(*options) : nullptr;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions* options) {
    OutputCopies.at(index) = options ? std::make_unique<TOutputOptions>(*options) : nullptr;
}

void TFFmpeg::RecordOpen(bool output, const std::string& fileName) {
    OpenSteps.push_back(TOpenStep{output, fileName, Options.StrictOptions, TimeoutMs});
}

bool TFFmpeg::Park() {
    if (ParkedFlag)
        return true;
    if (OpenFailed || OpenSteps.empty() || Running || Terminated)
        return false;
    // The decoders look at the input containers: they go first.
    {
        std::lock_guard<std::mutex> guard(DecoderLock);
        for (auto& decoder : Decoders)
            decoder.reset();
    }
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
        // The settings are those the task was queued with, whatever the component's are now.
        Options.ResetOptions();
        Options.Verbose = QueuedVerbose;
        if (!ThreadsValue.empty())
            Options.SetOption("threads", ThreadsValue);
        int inputs = 0;
        for (const TOpenStep& step : OpenSteps) {
            Options.StrictOptions = step.StrictOptions;
            TimeoutMs = step.TimeoutMs;
            if (!step.Output) {
                if (!Options.OpenInputWithOptions(step.FileName, InputOptions(inputs)))
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
            if (Options.OpenOutputWithOptions(step.FileName, OutputOptions(outputs)) < 0)
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

} // namespace cw
