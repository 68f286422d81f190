// The conversion run: tasks, progress figures, termination accounting and the summary.
#include "convert/ConversionRun.h"

#include "app/Utils.h"
#include "base/MainThread.h"
#include "engine/FFApi.h"
#include "engine/Owners.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace cw {

namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string FolderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string DecimalText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::string SummaryText(const TRunSummary& summary) {
    std::string text = std::to_string(summary.SucceededFiles) +
                       (summary.SucceededFiles == 1 ? " file converted" : " files converted");
    if (summary.FailedFiles() > 0)
        text += ", " + std::to_string(summary.FailedFiles()) + " failed";
    return text;
}

std::string FormatClock(double seconds) {
    if (!(seconds > 0))
        seconds = 0;
    const int64_t whole = int64_t(seconds) % 86400;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d:%02d", int(whole / 3600), int(whole / 60 % 60),
                  int(whole % 60));
    return text;
}

TRunProgress EstimateTimes(int64_t allFilesDuration, int64_t doneDuration, int64_t currentDuration,
                           double elapsedSeconds) {
    TRunProgress times;
    times.ElapsedSeconds = elapsedSeconds;
    const int64_t reached = doneDuration + currentDuration;
    // In floating point: durations of hours times elapsed microseconds exceed 64 bits.
    times.EstimatedSeconds =
        reached > 0 ? double(allFilesDuration) * elapsedSeconds / double(reached) : elapsedSeconds;
    times.TimeLeftSeconds = std::max(0.0, times.EstimatedSeconds - elapsedSeconds);
    return times;
}

std::string DurationText(int64_t duration) {
    return duration < 0 ? "Duration is not preseted" : FormatMicroseconds(duration);
}

TConversionRun::TConversionRun(TFFEncoder& encoder, IConversionView& view)
    : Encoder(encoder), View(view) {
    Encoder.OnProgress = [this](TFFEncoder*, PProgressInfo info) { EncoderProgress(info); };
    // Terminations arrive on a delivery thread; the work is done on the main thread, and the
    // delivery waits for it, so the order of the notices holds.
    Encoder.OnTerminate = [this](TFFEncoder*, const TTerminateInfo& info) {
        RunOnMainThread([this, info] { EncoderTerminate(info); });
    };
}

TConversionRun::~TConversionRun() {
    Encoder.DetachEvents();
    if (!RunningFlag)
        return;
    Encoder.Stop(true);
    // The notices of this run no longer come here, so the outputs of the tasks that never
    // ran (created when they were queued) are cleared now; a stopped output holding media
    // stays.
    for (const TProgressItem& item : ItemList)
        if (item.Status != "Finish." &&
            std::find(UnfinishedOutputs.begin(), UnfinishedOutputs.end(), item.OutputPath) ==
                UnfinishedOutputs.end())
            UnfinishedOutputs.push_back(item.OutputPath);
    RemoveEmptyOutputs();
}

void TConversionRun::AddItem(TProgressItem item) {
    ItemList.push_back(std::move(item));
    View.ItemAdded(int(ItemList.size()) - 1, ItemList.back());
}

void TConversionRun::Refuse(const std::string& path, const std::string& line) {
    View.Log(line);
    RunSummary.ErrorList.push_back("File (" + NameOf(path) + "): " + line);
    ++RefusedFiles;
}

void TConversionRun::Start(const std::vector<TRunInput>& inputs) {
    if (Encoder.Working())
        throw TEncoderBusyError("Cannot StartTask while working.");
    MergeRun = Merge;
    Planned.clear();
    UnfinishedOutputs.clear();
    RunSummary = TRunSummary{};
    RefusedFiles = 0;
    CancelRequested = false;
    View.RunStarting(MergeRun);
    if (MergeRun) {
        BuildMergeTask(inputs);
        // A join without one of the listed files is not what was asked for: nothing is
        // written, and the one output counts as failed.
        if (RefusedFiles > 0 && Encoder.TasksCount() > 0) {
            Encoder.ClearTasks();
            View.Log("Cannot do convert, error: the files are joined only when every one of "
                     "them can be used.");
        }
        RunSummary.TotalFiles = inputs.empty() ? 0 : 1;
    } else {
        BuildFileTasks(inputs);
        RunSummary.TotalFiles = int(ItemList.size()) + RefusedFiles;
    }
    StartTimeUs = NowUs();
    Terminated = 0;
    Current = TRunProgress{};
    Current.CurrentFile = "...";
    RunningFlag = true;
    if (Encoder.TasksCount() == 0) {
        // Nothing could be queued: the run is over at once.
        RunningFlag = false;
        FinishConversion();
        return;
    }
    if (!AwakeLock.Take("Converting files"))
        View.Log("The computer may sleep during the conversion: the login manager gave no "
                 "sleep lock.");
    Encoder.StartTask(std::max(1, MaxThreads));
}

void TConversionRun::Cancel() {
    CancelRequested = true;
    if (RunningFlag)
        Encoder.Stop(true);
}

void TConversionRun::BuildFileTasks(const std::vector<TRunInput>& inputs) {
    AllDuration = 0;
    DoneDur = 0;
    ItemList.clear();
    for (const TRunInput& input : inputs)
        QueueFileTask(input.Path);
}

void TConversionRun::QueueFileTask(const std::string& path) {
    TFFDecoder& decoder = Encoder.Decoder();
    if (!decoder.LoadFile(path)) {
        Refuse(path, "File load error: " + decoder.LastErrMsg());
        return;
    }
    TProbedInput probed;
    probed.FileName = path;
    probed.ForcedFormat = decoder.ForcedFormat();
    if (decoder.FirstAudioStream() >= 0)
        probed.AudioBitRate = decoder.GetAudioStreamInfo(decoder.FirstAudioStream()).BitRate;
    const int64_t duration = decoder.GetFileStreamInfo().Duration;
    const TOutputOptions output = FileOutputOptions(Selection, OutputFolder, probed, &Planned);
    const TInputOptions input = FileInputOptions(probed);
    const int task = Encoder.AddTask(path, &input);
    if (task < 0) {
        Refuse(path, "Adding file error: " + Encoder.LastErrMsg());
    } else if (!Encoder.SetOutputFile(task, output.FileName, &output)) {
        const std::string error = Encoder.LastErrMsg();
        Encoder.RemoveTask(task);
        Refuse(path, "Cannot do convert, error: " + error);
        // A half-opened output of the refused task is not left under its name.
        std::error_code ec;
        if (std::filesystem::exists(output.FileName, ec) &&
            std::filesystem::file_size(output.FileName, ec) == 0)
            std::filesystem::remove(output.FileName, ec);
    } else {
        TProgressItem item;
        item.Name = NameOf(path);
        item.DurationText = DurationText(duration);
        item.Status = "Waiting...";
        item.PathCell = FolderOf(path);
        item.InputPath = path;
        item.OutputPath = output.FileName;
        item.Duration = duration;
        if (duration > 0)
            AllDuration += duration;
        AddItem(std::move(item));
        View.Log("File has been added to convert list.");
    }
    decoder.CloseFile();
}

void TConversionRun::BuildMergeTask(const std::vector<TRunInput>& inputs) {
    AllDuration = 0;
    DoneDur = 0;
    ItemList.clear();
    const TOutputOptions output = MergeOutputOptions(Selection, OutputFolder, &Planned);
    for (const TRunInput& input : inputs) {
        const TInputOptions options{};
        const bool added = Encoder.TasksCount() == 0
                               ? Encoder.AddTask(input.Path, &options) >= 0
                               : Encoder.AddInputFile(0, input.Path, &options);
        if (!added) {
            Refuse(input.Path, "Adding file error: " + Encoder.LastErrMsg());
            continue;
        }
        TProgressItem item;
        item.Name = NameOf(input.Path);
        item.DurationText = FormatMicroseconds(std::max<int64_t>(input.Duration, 0));
        item.Status = std::to_string(input.Width) + "x" + std::to_string(input.Height);
        item.Progress = DecimalText(input.AspectRatio);
        item.PathCell = output.FileName;
        item.InputPath = input.Path;
        item.OutputPath = output.FileName;
        item.Duration = input.Duration;
        AllDuration += std::max<int64_t>(input.Duration, 0);
        AddItem(std::move(item));
        View.Log("File has been added to convert list.");
    }
    if (Encoder.TasksCount() == 0)
        return;
    if (!Encoder.SetOutputFile(0, output.FileName, &output)) {
        const std::string error = Encoder.LastErrMsg();
        Encoder.RemoveTask(0);
        Refuse(output.FileName, "Cannot do convert, error: " + error);
    }
}

double TConversionRun::Elapsed() const {
    return double(NowUs() - StartTimeUs) / 1e6;
}

void TConversionRun::EncoderProgress(PProgressInfo info) {
    if (!RunningFlag || info->TaskIndex < 0 || info->TaskIndex >= int(ItemList.size()))
        return;
    TProgressItem& item = ItemList[info->TaskIndex];
    const TProgressItem before = item;
    Current.TaskIndex = info->TaskIndex;
    Current.CurrentFile =
        MergeRun ? item.PathCell : AddTrailingBackslash(item.PathCell) + item.Name;
    if (info->TotalDuration > 0) {
        const int64_t percent = info->CurrentDuration * 100 / info->TotalDuration;
        Current.Percent = int(std::clamp<int64_t>(percent, 0, 100));
        if (!MergeRun) {
            item.Progress = std::to_string(Current.Percent) + "%";
            item.Status = "Converting...";
        }
    } else if (!MergeRun) {
        item.Progress = "N/A";
    }
    View.ItemChanged(info->TaskIndex, before, item);
    const TRunProgress times =
        EstimateTimes(AllDuration, DoneDur, info->CurrentDuration, Elapsed());
    Current.ElapsedSeconds = times.ElapsedSeconds;
    Current.EstimatedSeconds = times.EstimatedSeconds;
    Current.TimeLeftSeconds = times.TimeLeftSeconds;
    View.ProgressChanged(Current);
}

void TConversionRun::EncoderTerminate(const TTerminateInfo& info) {
    if (info.TaskIndex >= 0) {
        TProgressItem* item =
            info.TaskIndex < int(ItemList.size()) ? &ItemList[info.TaskIndex] : nullptr;
        // A task can reach its end without one picture or sound decoded (an input damaged
        // all through): an output without media is a failure, not a finished file. A join's
        // output is checked the same way.
        if (info.Finished && item && !HoldsMedia(item->OutputPath)) {
            TTerminateInfo failed = info;
            failed.Finished = false;
            failed.Failed = true;
            failed.ErrorMessage = "Nothing could be decoded from the input; the output holds no "
                                  "media.";
            EncoderTerminate(failed);
            return;
        }
        const TProgressItem before = item ? *item : TProgressItem{};
        if (info.Finished) {
            ++RunSummary.SucceededFiles;
            if (MergeRun)
                DoneDur = AllDuration;
            else if (item && item->Duration > 0)
                DoneDur += item->Duration;
            Current.Percent = 100;
            if (item) {
                item->Progress = "100%";
                item->Status = "Finish.";
            }
        } else {
            if (item) {
                item->Status = "Failed.";
                UnfinishedOutputs.push_back(item->OutputPath);
            }
        }
        if (item && info.Failed)
            item->Error = info.ErrorMessage;
        ++Terminated;
        if (item)
            View.ItemChanged(info.TaskIndex, before, *item);
        View.ProgressChanged(Current);
    }
    if (info.Failed)
        RunSummary.ErrorList.push_back("File (" + std::to_string(info.TaskIndex) +
                                       "): " + info.ErrorMessage);
    if (info.TaskIndex < 0) {
        // The engine delivers every task's notice before this one; wait in case one is short.
        WaitServing([this] { return Terminated >= Encoder.TasksCount(); },
                    std::chrono::milliseconds(10000));
        Encoder.ClearTasks();
        RemoveEmptyOutputs();
        Current.CurrentFile = "...";
        Current.TaskIndex = -1;
        Current.Percent = 0;
        View.ProgressChanged(Current);
        RunningFlag = false;
        FinishConversion();
    }
}

bool TConversionRun::HoldsMedia(const std::string& path) {
    std::error_code ec;
    if (path.empty() || std::filesystem::file_size(path, ec) == 0 || ec)
        return false;
    TFFDecoder probe;
    bool media = probe.LoadFile(path) && probe.StreamCount() > 0;
    if (media && probe.GetFileStreamInfo().Duration <= 0) {
        // Containers that do not state their length: at least one packet with data.
        TPacketPtr packet(ff::av_packet_alloc());
        media = packet && ff::av_read_frame(probe.Context(), packet.get()) >= 0 && packet->size > 0;
    }
    probe.CloseFile();
    return media;
}

void TConversionRun::RemoveEmptyOutputs() {
    // A task that never ran (or failed before writing) leaves an output without media; the
    // output of a task stopped while running is finished and kept.
    for (const std::string& path : UnfinishedOutputs) {
        std::error_code ec;
        if (path.empty() || !std::filesystem::exists(path, ec))
            continue;
        if (!HoldsMedia(path))
            std::filesystem::remove(path, ec);
    }
    UnfinishedOutputs.clear();
}

void TConversionRun::FinishConversion() {
    // Given back first: the end actions may suspend or power off the machine.
    AwakeLock.Release();
    // A run that made nothing (no file could be queued) sounds like a failure too.
    const bool failed =
        RunSummary.SucceededFiles < RunSummary.TotalFiles || RunSummary.SucceededFiles == 0;
    if (PlayASoundWhenFinished)
        View.PlaySound(SoundFolder + (failed ? "fail.wav" : "done.wav"));
    // The user who cancelled is at the machine: the computer is not shut down under them.
    if (ShutDownWhenFinished && !CancelRequested && View.ShutdownCountdown())
        View.ShutdownComputer(1);
    View.RunFinished(RunSummary);
}

} // namespace cw
