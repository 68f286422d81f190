// The downloader's pages of the main window: the link list, the download folder and the
// quality choice (Step5), the queue table and the status group during a run (Step6), and the
// summary with the hand-over to the conversion list (Step7). The run itself is the
// controller's download session; these pages show its rows and texts and carry its posted
// steps as the window's messages.
#pragma once

#include "control/DownloadSession.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace cw {

class IPageHost;
class TAppController;
class TLinkLabel;

// The pages' own controls, made by the window.
struct TDownloadControls {
    // Step5: the links, the folder and the quality preference, and the link commands.
    QTreeWidget* ListViewInputURL = nullptr;
    QLineEdit* EditURLOutput = nullptr;
    QCheckBox* CheckBoxYouTubeQuality = nullptr;
    QPushButton* ButtonYouTubeQualityConfig = nullptr;
    QLabel* LabelYouTubeQuality = nullptr;
    QAction* ActionURLPaste = nullptr;
    QAction* ActionURLRemove = nullptr;
    QAction* ActionURLEmpty = nullptr;
    QAction* ActionURLSelect = nullptr;
    // Step6: the queue table and the status group.
    QTreeView* ListViewURLDownload = nullptr;
    QLabel* LabelURLCurrentFile = nullptr;
    QLabel* LabelURLStatus = nullptr;
    QLabel* LabelSpeed = nullptr;
    QLabel* LabelURLElapsedTime = nullptr;
    QLabel* LabelURLTimeLeft = nullptr;
    QLabel* LabelQuality = nullptr;
    QProgressBar* ProgressBarDownload = nullptr;
    QLabel* LabelProgressBarDownload = nullptr;
    // Step7: the counts and the commands.
    QLabel* LabelURLTotalFiles = nullptr;
    QLabel* LabelURLSucedded = nullptr;
    QLabel* LabelURLFailed = nullptr;
    TLinkLabel* LabelURLOpenFolder = nullptr;
    QPushButton* ButtonConvertDownloaded = nullptr;
};

class TDownloadPages : public QObject, public IDownloadView {
    Q_OBJECT
public:
    // Needs the controller's script host: starts the controller's download session, shows its
    // rows in the queue table and connects the pages' commands. A child of the host's window.
    TDownloadPages(const TDownloadControls& controls, TAppController& controller, IPageHost& host);
    ~TDownloadPages() override;

    // The controller's queue, which these pages show, and its rows.
    TDownloadQueue& Queue();
    TQueueModel& Rows();

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
    // The link page shows the stored folder and quality preference; Read takes them back
    // into the state record.
    void Prepare();
    void Read();
    // The link commands as the list, its selection and the clipboard allow.
    void UpdateCommands(bool clipboardHasText);

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

    // IDownloadView
    void PostStep(TDownloadStep step) override;
    void LabelsChanged(const TDownloadLabels& labels) override;
    void RunEnded() override;
    void ScriptError(const std::string& message) override;
    void Log(const std::string& line) override;

private:
    std::vector<std::string> ListedLinks() const;

    TDownloadControls Controls;
    TAppController& Controller;
    IPageHost& Host;
};

} // namespace cw
