#include "ui/ProgressPage.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "engine/FFEncoder.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/FormShutdown.h"
#include "ui/InputListPage.h"
#include "ui/SoundPlayer.h"
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QProgressBar>

#include <cstdlib>

namespace cw {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The local time as a date-time value in days since 1899-12-30, as the state record keeps it.
double NowInDays() {
    const QDateTime origin(QDate(1899, 12, 30), QTime(0, 0));
    return double(origin.msecsTo(QDateTime::currentDateTime())) / 86400000.0;
}

} // namespace

TProgressPage::TProgressPage(TFormMain& form) : QObject(&form), Form(form) {
    connect(Form.CheckBoxPlayASound, &QCheckBox::toggled, this,
            [this] { CheckBoxPlayASoundClick(); });
    connect(Form.CheckBoxShutdown, &QCheckBox::toggled, this, [this] { CheckBoxShutdownClick(); });
    connect(Form.CheckBoxPreview, &QCheckBox::toggled, this, [this] { CheckBoxPreviewClick(); });
    connect(Form.LabelOpenFolder, &TLinkLabel::Clicked, this, [this] { LabelOpenFolderClick(); });
}

TProgressPage::~TProgressPage() {
    ReleaseRun();
}

void TProgressPage::ReleaseRun() {
    RunObject.reset();
}

bool TProgressPage::Running() const {
    return RunObject && RunObject->Running();
}

std::vector<TRunInput> TProgressPage::ListedInputs() const {
    return Form.InputRows->RunInputs();
}

void TProgressPage::StartConversion() {
    TGlobalVars& vars = Form.Vars();
    TFFEncoder* encoder = Form.Encoder();
    if (!encoder) {
        Log("Cannot do convert, error: the media libraries are not loaded");
        RunFinished(TRunSummary{});
        return;
    }
    // A new run attaches its own handlers; the previous one is over (the page is only entered
    // from the output page).
    RunObject.reset();
    RunObject = std::make_unique<TConversionRun>(*encoder, *this);
    TConversionRun& run = *RunObject;
    run.Merge = vars.Merge;
    run.Selection = CurrentSelection(vars);
    run.OutputFolder = AddTrailingBackslash(vars.OutputFileDir);
    run.MaxThreads = 1;
    run.PlayASoundWhenFinished = vars.PlayASoundWhenFinished;
    run.ShutDownWhenFinished = vars.ShutDownWhenFinished;
    run.SoundFolder = AddTrailingBackslash(Form.ProgramFolder()) + "sounds/";
    // The codecs use every core; the tasks run one at a time.
    encoder->CodecThreads = 0;
    vars.ErrorList.clear();
    vars.SucceededFiles = 0;
    vars.TotalFiles = 0;
    vars.ConvertStartTime = NowInDays();
    try {
        run.Start(ListedInputs());
    } catch (const std::exception& e) {
        Log(std::string("Cannot do convert, error: ") + e.what());
        RunFinished(run.Summary());
        return;
    }
    if (run.Running())
        vars.TotalFiles = run.Summary().TotalFiles;
}

void TProgressPage::Cancel() {
    if (RunObject)
        RunObject->Cancel();
}

void TProgressPage::DetachAndStop() {
    TFFEncoder* encoder = Form.Encoder();
    if (!encoder)
        return;
    // The run goes first: it stops the encoder and clears the outputs its unstarted tasks
    // had created, since no notice of this run will reach the page any more.
    ReleaseRun();
    encoder->DetachEvents();
    encoder->Stop(true);
}

void TProgressPage::CheckBoxPlayASoundClick() {
    const bool on = Form.CheckBoxPlayASound->isChecked();
    Form.Vars().PlayASoundWhenFinished = on;
    if (RunObject)
        RunObject->PlayASoundWhenFinished = on;
}

void TProgressPage::CheckBoxShutdownClick() {
    const bool on = Form.CheckBoxShutdown->isChecked();
    Form.Vars().ShutDownWhenFinished = on;
    if (RunObject)
        RunObject->ShutDownWhenFinished = on;
}

void TProgressPage::CheckBoxPreviewClick() {
    if (TFFEncoder* encoder = Form.Encoder())
        encoder->SetPreview(Form.CheckBoxPreview->isChecked());
}

void TProgressPage::LabelOpenFolderClick() {
    OpenWithShell(Form.Vars().OutputFileDir);
}

// --- what the run reports -------------------------------------------------------------------

void TProgressPage::Log(const std::string& line) {
    Form.Log().AppendLine(line);
}

void TProgressPage::RunStarting(bool merge) {
    Form.ProgressList->Reset(merge);
    Form.LabelCurrentFileTitle->setText(merge ? "Output file:" : "Current file:");
    Form.LabelCurrentFile->setText("...");
    Form.LabelProgress->setText("0%");
    Form.ProgressBar->setValue(0);
    for (QLabel* label : {Form.LabelEstimated, Form.LabelElapsed, Form.LabelTimeLeft})
        label->setText(Q(FormatClock(0)));
}

void TProgressPage::ItemAdded(int index, const TProgressItem& item) {
    Form.ProgressList->InsertItem(index, item);
}

void TProgressPage::ItemChanged(int index, const TProgressItem& item) {
    Form.ProgressList->UpdateItem(index, item);
}

void TProgressPage::ProgressChanged(const TRunProgress& progress) {
    Form.LabelCurrentFile->setText(Q(progress.CurrentFile));
    Form.ProgressBar->setValue(progress.Percent);
    Form.LabelProgress->setText(QString::number(progress.Percent) + "%");
    Form.LabelEstimated->setText(Q(FormatClock(progress.EstimatedSeconds)));
    Form.LabelElapsed->setText(Q(FormatClock(progress.ElapsedSeconds)));
    Form.LabelTimeLeft->setText(Q(FormatClock(progress.TimeLeftSeconds)));
}

void TProgressPage::PlaySound(const std::string& path) {
    PlaySoundFile(path);
}

bool TProgressPage::ShutdownCountdown() {
    TFormShutdown dialog(Form.Title(), &Form);
    dialog.adjustSize();
    const QRect frame = Form.frameGeometry();
    dialog.move(frame.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
    return dialog.exec() == QDialog::Accepted;
}

void TProgressPage::ShutdownComputer(int mode) {
    cw::ShutdownComputer(mode);
}

void TProgressPage::RunFinished(const TRunSummary& summary) {
    TGlobalVars& vars = Form.Vars();
    vars.TotalFiles = summary.TotalFiles;
    vars.SucceededFiles = summary.SucceededFiles;
    vars.ErrorList = summary.ErrorList;
    // A user who is looking at the window sees the summary page; one who is not hears of it.
    if (!Form.isActiveWindow())
        NotifyDesktop(Form.Title(), SummaryText(summary), vars.OutputFileDir);
    Form.SendMessage(WM_CONVERTFINISHED);
}

} // namespace cw
