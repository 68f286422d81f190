// The downloader's pages of the main window: the link list, the download folder and the
// quality choice (Step5), the queue table and the status group during a run (Step6), and the
// summary with the hand-over to the conversion list (Step7). The run itself is the download
// queue; this class shows it and carries its posted steps as the window's messages.
#pragma once

#include "download/DownloadQueue.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class QTreeWidgetItem;

namespace cw {

class TFormMain;

class TDownloadPages : public QObject, public IDownloadHost {
    Q_OBJECT
public:
    // Needs the window's script host; connects the pages' commands.
    explicit TDownloadPages(TFormMain& form);
    ~TDownloadPages() override;

    // The controller's queue, which these pages show.
    TDownloadQueue& Queue();

    // Step5 commands.
    // Adds one link or explains why not; false when the user chose Cancel in the explanation.
    bool AddLink(const std::string& text);
    // Every line of the text, until a refused line is answered with Cancel.
    void PasteText(const std::string& text);
    void ActionURLPasteExecute();
    void ActionURLRemoveExecute();
    void ActionURLEmptyExecute();
    void ActionURLSelectExecute();
    void ListViewInputURLDblClick(QTreeWidgetItem* item);
    void CheckBoxYouTubeQualityClick();
    void ButtonYouTubeQualityConfigClick();
    // LabelYouTubeQuality shows the preference as the check box and the order stand.
    void ShowQualitySummary();

    // The run, as the wizard starts it after Next on Step5.
    void BuildQueue();
    void StartRun();
    // The window's messages WM_FETCHVIDEOINFO and WM_TRYNEXTQUALITY.
    void FetchVideoInfo();
    void TryNextQuality();
    // Exit on Step6 and the window's close: the transfers are aborted (no file deletion).
    void AbortTransfers();

    // Step7 commands.
    void LabelURLOpenFolderClick();
    void ButtonConvertDownloadedClick();

    // IDownloadHost
    void PostStep(TDownloadStep step) override;
    void QueueChanged() override;
    void ItemChanged(int index) override;
    void LabelsChanged() override;
    void RunEnded() override;
    void ScriptError(const std::string& message) override;
    void Log(const std::string& line) override;

private:
    std::vector<std::string> ListedLinks() const;

    TFormMain& Form;
};

} // namespace cw
