// The conversion side of a session, without widgets: the run of the listed files and the
// progress list it fills. The run reports to the session, which keeps the rows of the progress
// list and the state record's counts and passes every report on to its view (the window's
// progress page or the command line). The window and the command line both run their
// conversions through it.
#pragma once

#include "convert/ConversionRun.h"

#include <memory>
#include <string>
#include <vector>

namespace cw {

class TFFEncoder;
class TProgressListModel;
struct TGlobalVars;

// How the next run is set up.
struct TConversionSettings {
    bool Merge = false;
    TOutputSelection Selection;
    std::string OutputFolder; // with or without a trailing separator
    int Jobs = 1;             // tasks at a time
    int CodecThreads = 0;     // per task; 0: as many as the codec likes
    bool SerialLoop = false;  // read and decode on the encoding thread
    bool PlayASoundWhenFinished = false;
    bool ShutDownWhenFinished = false;
    std::string SoundFolder; // "sounds/" beside the program
};

// The window's run: the choices of the state record, one task at a time with every core for
// the codecs, the sounds beside the program.
TConversionSettings WindowConversionSettings(const TGlobalVars& vars,
                                             const std::string& programFolder);

class TConversionSession : private IConversionView {
public:
    explicit TConversionSession(TGlobalVars& vars);
    ~TConversionSession() override;
    TConversionSession(const TConversionSession&) = delete;
    TConversionSession& operator=(const TConversionSession&) = delete;

    // The progress list's rows; they live as long as the session.
    TProgressListModel& Rows() { return *ProgressRows; }
    const TProgressListModel& Rows() const { return *ProgressRows; }

    // Starts a run of the inputs; its reports go to view until the run is released. The state
    // record's counts, error lines and start time begin anew. Without an encoder, or when the
    // run cannot start, the run is over at once: the view hears the error line and the end.
    void Start(TFFEncoder* encoder, const TConversionSettings& settings,
               const std::vector<TRunInput>& inputs, IConversionView& view);
    // Stops every task with waiting; the stopped tasks count as failed and the end follows.
    void Cancel();
    bool Running() const;
    const TConversionRun* Run() const { return RunObject.get(); }
    // The end actions of the running run follow the user's latest choice; the state record
    // keeps it for the next one.
    void SetPlaySound(bool on);
    void SetShutdown(bool on);
    // Lets go of the run; its unstarted tasks' outputs are cleared and no report of it comes
    // any more.
    void Release();

private:
    // What the run reports.
    void Log(const std::string& line) override;
    void RunStarting(bool merge) override;
    void ItemAdded(int index, const TProgressItem& item) override;
    void ItemChanged(int index, const TProgressItem& before, const TProgressItem& after) override;
    void ProgressChanged(const TRunProgress& progress) override;
    void PlaySound(const std::string& path) override;
    bool ShutdownCountdown() override;
    void ShutdownComputer(int mode) override;
    void RunFinished(const TRunSummary& summary) override;

    TGlobalVars& State;
    std::unique_ptr<TProgressListModel> ProgressRows;
    IConversionView* View = nullptr;
    std::unique_ptr<TConversionRun> RunObject;
};

} // namespace cw
