// One conversion run without widgets: the listed files become encoder tasks (one per file, or
// one task joining them all), the encoder runs them one at a time (or several), and the run
// keeps the progress list, the counters, the time estimates and the error lines, then ends
// with the end actions and the summary. The window and the command line both drive this class
// and show what it reports through IConversionView.
//
// Everything here happens on the main thread: the encoder's terminations, which arrive on its
// delivery threads, are handed to the main thread with a blocking call, so their order holds.
#pragma once

#include "app/Platform.h"
#include "convert/PresetMapping.h"
#include "engine/FFEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cw {

// One row of the input list, as far as a run needs it. Path is always needed; the other
// values are what probing found (merge mode shows them; per-file mode probes again).
struct TRunInput {
    std::string Path;
    int64_t Duration = 0; // µs; 0 when unknown
    int Width = 0;
    int Height = 0;
    double AspectRatio = 0; // display aspect ratio
};

// One item of the progress list: the five cells and what the run keeps beside them.
struct TProgressItem {
    std::string Name;         // input file name without folder
    std::string DurationText; // "Duration is not preseted" or h:mm:ss.zzz
    std::string Status;       // per file: "Waiting...", "Converting...", "Finish.", "Failed."
                              // merge: width x height
    std::string Progress;     // per file: "", "42%", "N/A", "100%"; merge: aspect ratio
    std::string PathCell;     // per file: the input's folder; merge: the output path
    std::string InputPath;
    std::string OutputPath;
    int64_t Duration = -1; // µs; -1 unknown
    // Why the task failed, as the engine worded it (the summary's error line without its
    // "File (N): " part); empty while the task has not failed.
    std::string Error;
};

// The figures the progress page shows.
struct TRunProgress {
    std::string CurrentFile; // "..." when no task reports
    int TaskIndex = -1;      // the task that reported last, -1 when none
    int Percent = 0;         // 0..100
    double ElapsedSeconds = 0;
    double EstimatedSeconds = 0;
    double TimeLeftSeconds = 0;
};

struct TRunSummary {
    int TotalFiles = 0;
    int SucceededFiles = 0;
    int FailedFiles() const { return TotalFiles - SucceededFiles; }
    std::vector<std::string> ErrorList;
};

// What a window or a terminal does with what a run reports; the controller's session
// implements it to keep the progress list and passes every report on to its own view. All
// calls come on the main thread.
class IConversionView {
public:
    virtual ~IConversionView() = default;
    // A line for the log window.
    virtual void Log(const std::string& line) = 0;
    // The run starts: captions by mode ("Status"/"Progress"/"Current file:" or
    // "Width x Height"/"Aspect Ratio"/"Output file:"); the progress list has been emptied.
    virtual void RunStarting(bool merge) { (void)merge; }
    virtual void ItemAdded(int index, const TProgressItem& item) { (void)index, (void)item; }
    // A row of the progress list changed; before is the row as it was.
    virtual void ItemChanged(int index, const TProgressItem& before, const TProgressItem& after) {
        (void)index, (void)before, (void)after;
    }
    virtual void ProgressChanged(const TRunProgress& progress) { (void)progress; }
    // End actions: play a sound (asynchronously); ask for the shutdown countdown (true when it
    // ran out) and shut down.
    virtual void PlaySound(const std::string& path) { (void)path; }
    virtual bool ShutdownCountdown() { return false; }
    virtual void ShutdownComputer(int mode) { (void)mode; }
    // The run is over: the summary page.
    virtual void RunFinished(const TRunSummary& summary) = 0;
};

// The end of a run in a few words: "3 files converted, 1 failed" ("1 file converted" when
// none failed).
std::string SummaryText(const TRunSummary& summary);

// "h:nn:ss" of a time in seconds, hours of the day (25 hours show as 1:00:00); negative
// times show as 0:00:00.
std::string FormatClock(double seconds);

// Elapsed, estimated and left time from the durations (µs) and the elapsed wall time.
// Before any media time is reported the estimate is the elapsed time.
TRunProgress EstimateTimes(int64_t allFilesDuration, int64_t doneDuration, int64_t currentDuration,
                           double elapsedSeconds);

// "Duration is not preseted" for an unknown (negative) duration, else h:mm:ss.zzz.
std::string DurationText(int64_t duration);

class TConversionRun {
public:
    TConversionRun(TFFEncoder& encoder, IConversionView& view);
    ~TConversionRun();
    TConversionRun(const TConversionRun&) = delete;
    TConversionRun& operator=(const TConversionRun&) = delete;

    // -- settings of the next run -------------------------------------------------------------
    bool Merge = false;
    TOutputSelection Selection;
    std::string OutputFolder;
    int MaxThreads = 1; // tasks at a time
    bool PlayASoundWhenFinished = false;
    bool ShutDownWhenFinished = false;
    std::string SoundFolder; // with a trailing separator; "sounds/" beside the program

    // Builds the tasks and starts the encoder. A file refused while the tasks are built
    // counts as a failed file with its error line; in merge mode one refused file keeps the
    // join from running at all (it would lack that file). With no task built the run is over
    // at once. Raises the encoder's busy error when a run is in progress.
    void Start(const std::vector<TRunInput>& inputs);
    // Stops every task with wait: the stopped tasks count as failed and the run ends. A
    // cancelled run never offers the shutdown countdown.
    void Cancel();
    bool Running() const { return RunningFlag; }

    // -- building, public for the window's handlers and for tests -----------------------------
    void BuildFileTasks(const std::vector<TRunInput>& inputs);
    void QueueFileTask(const std::string& path);
    void BuildMergeTask(const std::vector<TRunInput>& inputs);

    // -- what the page shows -------------------------------------------------------------------
    const std::vector<TProgressItem>& Items() const { return ItemList; }
    const TRunSummary& Summary() const { return RunSummary; }
    const TRunProgress& Progress() const { return Current; }
    int TerminatedTasks() const { return Terminated; }
    int64_t AllFilesDuration() const { return AllDuration; }
    int64_t DoneDuration() const { return DoneDur; }

    // The encoder's events (the window may call them itself).
    void EncoderProgress(PProgressInfo info);
    void EncoderTerminate(const TTerminateInfo& info);

private:
    void AddItem(TProgressItem item);
    // A file that could not become a task: the log line, and an error line naming the file.
    void Refuse(const std::string& path, const std::string& line);
    void FinishConversion();
    // Removes outputs of tasks that did not finish and hold no playable media.
    void RemoveEmptyOutputs();
    // The file opens as media with at least one stream, and states a length or holds a packet.
    static bool HoldsMedia(const std::string& path);
    double Elapsed() const;

    TFFEncoder& Encoder;
    IConversionView& View;
    bool RunningFlag = false;
    bool MergeRun = false;
    std::vector<TProgressItem> ItemList;
    TPlannedNames Planned;
    TRunSummary RunSummary;
    TRunProgress Current;
    int Terminated = 0;
    int RefusedFiles = 0;
    bool CancelRequested = false;
    int64_t AllDuration = 0;
    int64_t DoneDur = 0;
    int64_t StartTimeUs = 0; // steady clock
    std::vector<std::string> UnfinishedOutputs;
    // The machine stays awake from the start of the tasks to the end of the run.
    TSleepBlock AwakeLock;
};

} // namespace cw
