#include "control/ConversionSession.h"

#include "app/GlobalVars.h"
#include "app/Utils.h"
#include "convert/Catalogue.h"
#include "convert/ProgressListModel.h"
#include "engine/FFEncoder.h"

#include <QDateTime>

namespace cw {

namespace {

// The local time as a date-time value in days since 1899-12-30, as the state record keeps it.
double NowInDays() {
    const QDateTime origin(QDate(1899, 12, 30), QTime(0, 0));
    return double(origin.msecsTo(QDateTime::currentDateTime())) / 86400000.0;
}

} // namespace

TConversionSettings WindowConversionSettings(const TGlobalVars& vars,
                                             const std::string& programFolder) {
    TConversionSettings settings;
    settings.Merge = vars.Merge;
    settings.Selection = CurrentSelection(vars);
    settings.OutputFolder = AddTrailingBackslash(vars.OutputFileDir);
    settings.Jobs = 1;
    settings.CodecThreads = 0;
    settings.PlayASoundWhenFinished = vars.PlayASoundWhenFinished;
    settings.ShutDownWhenFinished = vars.ShutDownWhenFinished;
    settings.SoundFolder = AddTrailingBackslash(programFolder) + "sounds/";
    return settings;
}

TConversionSession::TConversionSession(TGlobalVars& vars)
    : State(vars), ProgressRows(std::make_unique<TProgressListModel>()) {}

TConversionSession::~TConversionSession() {
    Release();
}

void TConversionSession::Start(TFFEncoder* encoder, const TConversionSettings& settings,
                               const std::vector<TRunInput>& inputs, IConversionView& view) {
    View = &view;
    if (!encoder) {
        Log("Cannot do convert, error: the media libraries are not loaded");
        RunFinished(TRunSummary{});
        return;
    }
    // A new run attaches its own handlers to the encoder; the previous one is over.
    RunObject.reset();
    RunObject = std::make_unique<TConversionRun>(*encoder, static_cast<IConversionView&>(*this));
    TConversionRun& run = *RunObject;
    run.Merge = settings.Merge;
    run.Selection = settings.Selection;
    run.OutputFolder = settings.OutputFolder;
    run.MaxThreads = settings.Jobs;
    run.PlayASoundWhenFinished = settings.PlayASoundWhenFinished;
    run.ShutDownWhenFinished = settings.ShutDownWhenFinished;
    run.SoundFolder = settings.SoundFolder;
    encoder->CodecThreads = settings.CodecThreads;
    encoder->SerialLoop = settings.SerialLoop;
    State.ErrorList.clear();
    State.SucceededFiles = 0;
    State.TotalFiles = 0;
    State.ConvertStartTime = NowInDays();
    try {
        run.Start(inputs);
    } catch (const std::exception& e) {
        Log(std::string("Cannot do convert, error: ") + e.what());
        RunFinished(run.Summary());
        return;
    }
    if (run.Running())
        State.TotalFiles = run.Summary().TotalFiles;
}

void TConversionSession::Cancel() {
    if (RunObject)
        RunObject->Cancel();
}

bool TConversionSession::Running() const {
    return RunObject && RunObject->Running();
}

void TConversionSession::SetPlaySound(bool on) {
    State.PlayASoundWhenFinished = on;
    if (RunObject)
        RunObject->PlayASoundWhenFinished = on;
}

void TConversionSession::SetShutdown(bool on) {
    State.ShutDownWhenFinished = on;
    if (RunObject)
        RunObject->ShutDownWhenFinished = on;
}

void TConversionSession::Release() {
    RunObject.reset();
    View = nullptr;
}

// --- what the run reports -------------------------------------------------------------------

void TConversionSession::Log(const std::string& line) {
    if (View)
        View->Log(line);
}

void TConversionSession::RunStarting(bool merge) {
    ProgressRows->Reset(merge);
    if (View)
        View->RunStarting(merge);
}

void TConversionSession::ItemAdded(int index, const TProgressItem& item) {
    ProgressRows->InsertItem(index, item);
    if (View)
        View->ItemAdded(index, item);
}

void TConversionSession::ItemChanged(int index, const TProgressItem& before,
                                     const TProgressItem& after) {
    if (!ProgressRows->Item(index))
        return;
    ProgressRows->UpdateItem(index, after);
    if (View)
        View->ItemChanged(index, before, *ProgressRows->Item(index));
}

void TConversionSession::ProgressChanged(const TRunProgress& progress) {
    if (View)
        View->ProgressChanged(progress);
}

void TConversionSession::PlaySound(const std::string& path) {
    if (View)
        View->PlaySound(path);
}

bool TConversionSession::ShutdownCountdown() {
    return View && View->ShutdownCountdown();
}

void TConversionSession::ShutdownComputer(int mode) {
    if (View)
        View->ShutdownComputer(mode);
}

void TConversionSession::RunFinished(const TRunSummary& summary) {
    State.TotalFiles = summary.TotalFiles;
    State.SucceededFiles = summary.SucceededFiles;
    State.ErrorList = summary.ErrorList;
    if (View)
        View->RunFinished(summary);
}

} // namespace cw
