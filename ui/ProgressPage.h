// Page Step3: shows what the controller's conversion session reports (the current file, the
// bar and the three times; the progress list is the session's model, shown by the window's
// view), keeps the post-run check boxes in the settings, plays the end sound, offers the
// shutdown countdown and tells the window when the run is over.
#pragma once

#include "control/ConversionSession.h"

#include <QObject>

class QCheckBox;
class QLabel;
class QProgressBar;

namespace cw {

class IPageHost;
class TAppController;
class TLinkLabel;

// The page's own controls (Step3, and the folder link of the summary page).
struct TProgressControls {
    QLabel* LabelCurrentFileTitle = nullptr;
    QLabel* LabelCurrentFile = nullptr;
    QLabel* LabelEstimated = nullptr;
    QLabel* LabelElapsed = nullptr;
    QLabel* LabelTimeLeft = nullptr;
    QLabel* LabelProgress = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QCheckBox* CheckBoxPlayASound = nullptr;
    QCheckBox* CheckBoxShutdown = nullptr;
    QCheckBox* CheckBoxPreview = nullptr;
    TLinkLabel* LabelOpenFolder = nullptr;
};

class TProgressPage : public QObject, public IConversionView {
    Q_OBJECT
public:
    TProgressPage(const TProgressControls& controls, TAppController& controller, IPageHost& window,
                  QObject* parent);
    ~TProgressPage() override;

    // Starts the controller's run of the input list's files, one task at a time.
    void StartConversion();
    // Exit on the progress page: stops every task with waiting; the stopped tasks count as
    // failed and the summary follows when the run is over.
    void Cancel();
    // The close sequence: no event of the encoder reaches the window any more, then the
    // tasks are stopped.
    void DetachAndStop();
    // Lets go of the run before the encoder goes away.
    void ReleaseRun();
    bool Running() const;
    const TConversionRun* Run() const;
    // The check boxes show the stored end actions before a run.
    void ShowRunOptions();

    // The check boxes of the page.
    void CheckBoxPlayASoundClick();
    void CheckBoxShutdownClick();
    void CheckBoxPreviewClick();
    void LabelOpenFolderClick();

    // What the run reports.
    void Log(const std::string& line) override;
    void RunStarting(bool merge) override;
    void ProgressChanged(const TRunProgress& progress) override;
    void PlaySound(const std::string& path) override;
    bool ShutdownCountdown() override;
    void ShutdownComputer(int mode) override;
    void RunFinished(const TRunSummary& summary) override;

private:
    TProgressControls Controls;
    TAppController& Controller;
    IPageHost& Window;
};

} // namespace cw
