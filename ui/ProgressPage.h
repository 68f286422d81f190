// Page Step3 and the run behind it: the listed files become encoder tasks through the
// conversion run of convert/, and this page shows what the run reports (the progress list, the
// current file, the bar and the three times), keeps the post-run check boxes in the settings,
// plays the end sound, offers the shutdown countdown and hands the counts to the summary page.
#pragma once

#include "convert/ConversionRun.h"

#include <QObject>

#include <memory>

namespace cw {

class TFormMain;

class TProgressPage : public QObject, public TConversionHost {
    Q_OBJECT
public:
    explicit TProgressPage(TFormMain& form);
    ~TProgressPage() override;

    // Builds the tasks from the input list and starts the encoder, one task at a time.
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
    const TConversionRun* Run() const { return RunObject.get(); }

    // The check boxes of the page.
    void CheckBoxPlayASoundClick();
    void CheckBoxShutdownClick();
    void CheckBoxPreviewClick();
    void LabelOpenFolderClick();

    // What the run reports.
    void Log(const std::string& line) override;
    void RunStarting(bool merge) override;
    void ItemAdded(int index, const TProgressItem& item) override;
    void ItemChanged(int index, const TProgressItem& item) override;
    void ProgressChanged(const TRunProgress& progress) override;
    void PlaySound(const std::string& path) override;
    bool ShutdownCountdown() override;
    void ShutdownComputer(int mode) override;
    void RunFinished(const TRunSummary& summary) override;

private:
    std::vector<TRunInput> ListedInputs() const;

    TFormMain& Form;
    std::unique_ptr<TConversionRun> RunObject;
};

} // namespace cw
