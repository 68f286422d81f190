// The main window: a fixed, borderless, skinned wizard window. It applies the edition's
// branding, leads through the conversion and download pages, holds the window-wide commands
// (help menu, log, about, moving, minimising, closing) and hands long steps back to the event
// loop as queued messages.
#pragma once

#include "app/Startup.h"
#include "control/AppController.h"
#include "control/WizardTexts.h"
#include "control/WizardView.h"
#include "ui/Artwork.h"
#include "ui/DownloadPages.h"
#include "ui/InputListPage.h"
#include "ui/OutputPage.h"
#include "ui/PageHost.h"
#include "ui/ProgressPage.h"

#include <QPixmap>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QButtonGroup;
class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableView;
class QToolButton;
class QTreeView;
class QTreeWidget;

namespace cw {

class TDownloadPages;
class TFFEncoder;
class TFormLog;
class TImage;
class TImageButton;
class TInputListModel;
class TInputListPage;
class TOutputPage;
class TProgressPage;
class TProgressListModel;
class TQueueModel;
class TLinkLabel;
struct TGlobalVars;

// The filter of the add-files dialog as the branding text gives it ("name|patterns|..."),
// and the same filter as Qt's name filters.
extern const char* const OpenDialogFilter;
QStringList NameFiltersFromText(const std::string& filter);

// The controls of the list, output, progress and download pages are grouped by page (the structs
// this window derives from), so that each page is handed its own controls and no other page's.
class TFormMain : public QWidget,
                  public IPageHost,
                  public IWizardView,
                  public TInputListControls,
                  public TOutputControls,
                  public TProgressControls,
                  public TDownloadControls {
    Q_OBJECT
public:
    // exeFolder: the folder of the program, holding the branding file and "sounds/".
    // Throws std::runtime_error naming the branding file when it cannot be read.
    TFormMain(const std::string& exeFolder, TFormLog& log, TGlobalVars& vars,
              QWidget* parent = nullptr);
    ~TFormMain() override;

    const std::string& Title() const override { return AppTitle; }
    const TStartupState& Startup() const { return Controller->Startup(); }
    // The encoder component; nullptr until the media libraries' step has run.
    TFFEncoder* Encoder() const { return Controller->Encoder(); }
    TGlobalVars& Vars() { return GlobalState; }
    TFormLog& Log() { return FormLog; }
    void Log(const std::string& line) override;
    QWidget* Window() override { return this; }
    bool WindowActive() const override { return isActiveWindow(); }
    bool LibrariesLoaded() const { return MediaLibrariesReady; }
    bool ClipboardHasNoText() const { return ClipboardNoText; }
    const TArtwork& Artwork() const { return Art; }
    std::string ResourceFolder() const;
    // The program's folder, holding the branding file and "sounds/".
    const std::string& ProgramFolder() const { return ExeFolder; }

    // --- window messages (queued calls of this window) ---
    void PostMessage(int message) override; // runs later on the main thread, in posting order
    void SendMessage(int message) override; // runs at once (from another thread: waits for it)

    // --- wizard ---
    TWizardPage ActivePage() const override;
    void ActivatePage(TWizardPage page);
    // ActivatePage, then the page's texts.
    void ShowPage(TWizardPage page) override;
    void UpdatePageTexts() override;
    // What the controller reads and asks of the window while it carries out Next, Back and
    // Exit.
    bool Ask(const std::string& question) override;
    void Inform(const std::string& text) override;
    TWizardPage ChosenMode() const override;
    bool Probing() const override;
    void StopProbing() override;
    int LinkCount() const override;
    void ClearLinks() override;
    void CatchUp() override;
    void BeginConversion() override;
    void BeginDownload() override;
    void AbortDownload() override;
    void Quit() override;
    void GoToFirstPage();
    void ActionNextExecute();
    void ActionBackExecute();
    void ActionExitExecute();
    void PrepareOutputPage() override;
    void ReadOutputPage() override;
    void PrepareDownloadPage() override;
    void ReadDownloadPage() override;
    void ButtonSelectDirClick();
    void ImageDownloadVideoClick();
    void ImageConvertVideoClick();
    void ButtonCloseClick();
    void ButtonMinClick();
    // Output class and format choice on the output page (0 video, 1 device, 2 audio).
    void SelectOutputClass(int outputClass);
    void SelectOutputFormat(int outputClass, int format);
    // The close sequence: true when the window may close (always).
    bool FormCloseQuery();
    void FormClose();
    // The close sequence for an ending that no one may be watching (a signal, the session
    // manager, the program's own power request): failures go to the log and to stderr
    // instead of a message box. Does nothing once the window has closed.
    void EndSession(const std::string& why);
    // The saves of the close sequence: settings and both placements. With interactive,
    // failures are shown in a box, else logged. Returns the worded failures.
    std::vector<std::string> SaveSettingsAndPlacements(bool interactive);
    bool CloseFinished() const { return CloseDone; }
    // Runs a handler's work so that no exception leaves it: a failure becomes a log line,
    // and with tell also a message to the user.
    void RunGuarded(const char* where, const std::function<void()>& work, bool tell = true);

    // --- window commands ---
    void ActionHelpExecute();
    void ActionHelpContentExecute();
    void ActionHowTosTutorialVideosExecute();
    void ActionHomePageExecute();
    void ActionMoreFreeToolsExecute();
    void ActionCheckforUpdatesExecute();
    void ActionContactTechnicalSupportExecute();
    void ActionAboutExecute();
    void ActionLogExecute();
    void LabelMoreToolsClick();
    void ActionListUpdate();
    void ActionListURLUpdate();
    // Where the help menu pops up, in screen coordinates.
    QPoint HelpMenuPosition() const;
    // When the media libraries are missing: tells the user so and returns false.
    bool CheckMediaLibraries() override;
    // Files dropped on the window: folders and non-media files are left out.
    void DropFiles(const std::vector<std::string>& paths);
    // Drops are taken on Step1 and on the mode page (which then leads to Step1).
    bool AcceptsDrops() const;
    void AddFiles(const std::vector<std::string>& paths) override;

    // --- the form's controls, named as in the form definition ---
    TImage* ImageTopLogo = nullptr;
    TImage* ImageLeftLogo = nullptr;
    QLabel* LabelTitle = nullptr;
    QLabel* LabelVersion = nullptr;
    TLinkLabel* LabelMoreTools = nullptr;
    TImageButton* ButtonMin = nullptr;
    TImageButton* ButtonClose = nullptr;
    TImageButton* ButtonHelp = nullptr;
    TImageButton* ButtonLog = nullptr;
    TImageButton* ButtonBack = nullptr;
    TImageButton* ButtonNext = nullptr;
    TImageButton* ButtonExit = nullptr;
    QStackedWidget* PageControlMain = nullptr;
    std::array<QWidget*, WizardPageCount> Pages{};
    TImage* ImageAd = nullptr;
    QProgressBar* clProgressBar = nullptr;

    // TabSheetMode
    TImage* ImageDownloadVideo = nullptr;
    TImage* ImageConvertVideo = nullptr;
    QRadioButton* RadioButtonDownloadVideo = nullptr;
    QRadioButton* RadioButtonConvertVideo = nullptr;

    // TabSheetStep1
    TInputListModel* InputRows = nullptr; // the rows NextGrid shows as cards
    QMenu* PopupMenuNextGrid = nullptr;
    QToolButton* ButtonAdd = nullptr;
    QToolButton* ButtonDelete = nullptr;
    QToolButton* ButtonClear = nullptr;
    QToolButton* ButtonMoveUp = nullptr;
    QToolButton* ButtonMoveDown = nullptr;
    QToolButton* ButtonPlay = nullptr;

    // TabSheetStep2
    QLabel* LabelOutputDir = nullptr;
    QPushButton* ButtonSelectDir = nullptr;
    QLabel* LabelConvertTo = nullptr;
    QButtonGroup* ClassButtons = nullptr;
    std::array<QButtonGroup*, 3> FormatButtons{};

    // TabSheetStep3
    QTreeView* ListViewConverting = nullptr;
    TProgressListModel* ProgressList = nullptr; // the rows ListViewConverting shows
    QGroupBox* GroupStatus = nullptr;

    // TabSheetStep4
    QLabel* LabelFinishTitle1 = nullptr;
    QLabel* LabelFinishTotalFiles = nullptr;
    QLabel* LabelFinishSuccessed = nullptr;
    QLabel* LabelFinishFailed = nullptr;
    QLabel* LabelFinishTitle2 = nullptr;
    QPlainTextEdit* MemoErrorLog = nullptr;

    // TabSheetStep5
    QMenu* PopupMenuListViewURL = nullptr;
    QPushButton* ButtonURLPaste = nullptr;
    QPushButton* ButtonURLRemove = nullptr;
    QPushButton* ButtonURLEmpty = nullptr;
    QLabel* LabelURLOutputDir = nullptr;
    QPushButton* ButtonURLSelect = nullptr;

    // TabSheetStep6
    TQueueModel* QueueList = nullptr; // the rows ListViewURLDownload shows

    // TabSheetStep7
    QLabel* LabelFinishedDownloading1 = nullptr;
    QLabel* LabelFinishedDownloading2 = nullptr;

    // Commands
    QAction* ActionHelp = nullptr;
    QAction* ActionHelpContent = nullptr;
    QAction* ActionHowTosTutorialVideos = nullptr;
    QAction* ActionHomePage = nullptr;
    QAction* ActionMoreFreeTools = nullptr;
    QAction* ActionCheckforUpdates = nullptr;
    QAction* ActionContactTechnicalSupport = nullptr;
    QAction* ActionAbout = nullptr;
    QAction* ActionLog = nullptr;
    QAction* ActionExit = nullptr;
    QAction* ActionBack = nullptr;
    QAction* ActionNext = nullptr;
    QMenu* PopupMenuHelp = nullptr;

    // One thumbnail per added file (Thumbnails points here); released with the window.
    std::vector<QPixmap> ThumbnailList;
    // Page Step1: the input list's commands, probing and row dragging.
    TInputListPage* InputList = nullptr;
    // Page Step2: the preset lists of the formats.
    TOutputPage* OutputPage = nullptr;
    // Page Step3: the conversion run and its progress.
    TProgressPage* Progress = nullptr;
    // What the window shows and drives: the state record and start-up values, the engine's
    // logger (its lines go to the log window, errors only), the encoder component, the script
    // host with the items "Form" (this window) and "Host", and the download queue with its
    // three transfer components.
    std::unique_ptr<TAppController> Controller;
    // The downloader's pages (Step5 to Step7); they show the controller's queue and set the
    // Host item's echo and alert handlers and the host's error handler.
    std::unique_ptr<TDownloadPages> Downloader;

signals:
    // After the handler of a window message has run.
    void MessageHandled(int message);
    // The close sequence has finished; the program ends its event loop on it.
    void Closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The form definition: every control at its designed place.
    void BuildForm();
    void BuildChrome();
    void BuildActions();
    void BuildModePage(QWidget* page);
    void BuildStep1(QWidget* page);
    void BuildStep2(QWidget* page);
    void BuildStep3(QWidget* page);
    void BuildStep4(QWidget* page);
    void BuildStep5(QWidget* page);
    void BuildStep6(QWidget* page);
    void BuildStep7(QWidget* page);

    void FormCreate();
    void ApplyBrandingConfig();
    void ApplySkinLayout(int skin);
    void PlaceFormatButtons();
    void FormShow();
    void FormDestroy();
    void LoadMediaLibrariesStep();
    void ClipboardChanged();
    void CreateScriptHost();
    void FFLoggerLog(uint32_t threadId, int level, const std::string& message);

    // Message handlers.
    void HandleMessage(int message);
    void StartConversion();
    void FinishConversion();
    void ShowConversionSummary();
    void FetchVideoInfo();
    void TryNextQuality();
    void LoadPromo();
    void ShowMain();

    // The close sequence's stops of the encoder and of the transfer components.
    void DetachAndStopEncoder();
    void AbortTransfers();

    void StartWindowDrag(QPoint globalPos);
    void MoveWindowDrag(QPoint globalPos);
    // The window's size follows the skin layout, so that every control lies inside it.
    void FitWindowToLayout();
    // Step1's list shortcuts are bound to the page, so they act only while it is shown.
    void BindListShortcutsToStep1();

    std::string ExeFolder;
    TFormLog& FormLog;
    TGlobalVars& GlobalState;
    std::string AppTitle;
    TArtwork Art;
    bool MediaLibrariesReady = false;
    bool ClipboardNoText = true;
    bool ClipboardWatched = false;
    bool FormShown = false;
    bool Closing = false;
    bool CloseDone = false;
    bool QuietClose = false;
    int HelpMenuOffset = 0;
    QPoint DragOffset;
    bool Dragging = false;
};

} // namespace cw
