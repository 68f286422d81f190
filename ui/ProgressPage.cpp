#include "ui/ProgressPage.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "control/AppController.h"
#include "control/WindowMessages.h"
#include "convert/InputListModel.h"
#include "engine/FFEncoder.h"
#include "ui/FormShutdown.h"
#include "ui/PageHost.h"
#include "ui/SoundPlayer.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

namespace cw {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TProgressPage::TProgressPage(const TProgressControls& controls, TAppController& controller,
                             IPageHost& window, QObject* parent)
    : QObject(parent), Controls(controls), Controller(controller), Window(window) {
    connect(Controls.CheckBoxPlayASound, &QCheckBox::toggled, this,
            [this] { CheckBoxPlayASoundClick(); });
    connect(Controls.CheckBoxShutdown, &QCheckBox::toggled, this,
            [this] { CheckBoxShutdownClick(); });
    connect(Controls.CheckBoxPreview, &QCheckBox::toggled, this,
            [this] { CheckBoxPreviewClick(); });
    connect(Controls.LabelOpenFolder, &TLinkLabel::Clicked, this,
            [this] { LabelOpenFolderClick(); });
}

TProgressPage::~TProgressPage() {
    ReleaseRun();
}

void TProgressPage::ReleaseRun() {
    Controller.Conversion().Release();
}

bool TProgressPage::Running() const {
    return Controller.Conversion().Running();
}

const TConversionRun* TProgressPage::Run() const {
    return Controller.Conversion().Run();
}

void TProgressPage::StartConversion() {
    Controller.Conversion().Start(
        Controller.Encoder(),
        WindowConversionSettings(Controller.Vars(), Controller.ProgramFolder()),
        Controller.Inputs().RunInputs(), *this);
}

void TProgressPage::Cancel() {
    Controller.Conversion().Cancel();
}

void TProgressPage::DetachAndStop() {
    TFFEncoder* encoder = Controller.Encoder();
    if (!encoder)
        return;
    // The run goes first: it stops the encoder and clears the outputs its unstarted tasks
    // had created, since no notice of this run will reach the page any more.
    ReleaseRun();
    encoder->DetachEvents();
    encoder->Stop(true);
}

void TProgressPage::ShowRunOptions() {
    Controls.CheckBoxPlayASound->setChecked(Controller.Vars().PlayASoundWhenFinished);
    Controls.CheckBoxShutdown->setChecked(Controller.Vars().ShutDownWhenFinished);
}

void TProgressPage::CheckBoxPlayASoundClick() {
    Controller.Conversion().SetPlaySound(Controls.CheckBoxPlayASound->isChecked());
}

void TProgressPage::CheckBoxShutdownClick() {
    Controller.Conversion().SetShutdown(Controls.CheckBoxShutdown->isChecked());
}

void TProgressPage::CheckBoxPreviewClick() {
    if (TFFEncoder* encoder = Controller.Encoder())
        encoder->SetPreview(Controls.CheckBoxPreview->isChecked());
}

void TProgressPage::LabelOpenFolderClick() {
    OpenWithShell(Controller.Vars().OutputFileDir);
}

// --- what the run reports -------------------------------------------------------------------

void TProgressPage::Log(const std::string& line) {
    Window.Log(line);
}

void TProgressPage::RunStarting(bool merge) {
    Controls.LabelCurrentFileTitle->setText(merge ? "Output file:" : "Current file:");
    Controls.LabelCurrentFile->setText("...");
    Controls.LabelProgress->setText("0%");
    Controls.ProgressBar->setValue(0);
    for (QLabel* label : {Controls.LabelEstimated, Controls.LabelElapsed, Controls.LabelTimeLeft})
        label->setText(Q(FormatClock(0)));
}

void TProgressPage::ProgressChanged(const TRunProgress& progress) {
    Controls.LabelCurrentFile->setText(Q(progress.CurrentFile));
    Controls.ProgressBar->setValue(progress.Percent);
    Controls.LabelProgress->setText(QString::number(progress.Percent) + "%");
    Controls.LabelEstimated->setText(Q(FormatClock(progress.EstimatedSeconds)));
    Controls.LabelElapsed->setText(Q(FormatClock(progress.ElapsedSeconds)));
    Controls.LabelTimeLeft->setText(Q(FormatClock(progress.TimeLeftSeconds)));
}

void TProgressPage::PlaySound(const std::string& path) {
    PlaySoundFile(path);
}

bool TProgressPage::ShutdownCountdown() {
    QWidget* window = Window.Window();
    TFormShutdown dialog(Window.Title(), window);
    dialog.adjustSize();
    const QRect frame = window->frameGeometry();
    dialog.move(frame.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
    return dialog.exec() == QDialog::Accepted;
}

void TProgressPage::ShutdownComputer(int mode) {
    cw::ShutdownComputer(mode);
}

void TProgressPage::RunFinished(const TRunSummary& summary) {
    // A user who is looking at the window sees the summary page; one who is not hears of it.
    if (!Window.WindowActive())
        NotifyDesktop(Window.Title(), SummaryText(summary), Controller.Vars().OutputFileDir);
    Window.SendMessage(WM_CONVERTFINISHED);
}

} // namespace cw
