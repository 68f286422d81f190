// Creation, branding, skin, messages and window behaviour of the main window.
#include "ui/FormMain.h"

#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Utils.h"
#include "base/MainThread.h"
#include "control/WindowMessages.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"
#include "engine/FFEncoder.h"
#include "engine/FFLogger.h"
#include "script/Script.h"
#include "ui/DownloadPages.h"
#include "ui/FormLog.h"
#include "ui/InputListPage.h"
#include "ui/MediaLibraries.h"
#include "ui/OutputPage.h"
#include "ui/Placement.h"
#include "ui/ProgressPage.h"
#include "ui/SkinLayout.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QBitmap>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QWindow>

#include <cstdio>
#include <filesystem>

namespace cw {

const char* const OpenDialogFilter =
    "All Supported "
    "Formats|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*."
    "OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;*.WEBM;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*."
    "FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|All "
    "Video Formats (all "
    "types)|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*."
    "OGM;*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;*.WEBM;|All Audio Formats (all "
    "types)|*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*."
    "OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;|All Files|*.*";

QStringList NameFiltersFromText(const std::string& filter) {
    // Pairs of "name|patterns"; patterns are separated by ";". Qt matches the patterns
    // case-sensitively, so each pattern is offered in both cases.
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            patterns << p;
            if (p != p.toLower())
                patterns << p.toLower();
        }
        result << parts[i] + " (" + patterns.join(QLatin1Char(' ')) + ")";
    }
    return result;
}

TFormMain::TFormMain(const std::string& exeFolder, TFormLog& log, TGlobalVars& vars,
                     QWidget* parent)
    : QWidget(parent), ExeFolder(AddTrailingBackslash(exeFolder)), FormLog(log), GlobalState(vars) {
    Controller = std::make_unique<TAppController>(ExeFolder, GlobalState);
    BuildForm();
    try {
        FormCreate();
    } catch (...) {
        // The controls are destroyed with the base class; cut them off from this object first.
        FormDestroy();
        throw;
    }
}

TFormMain::~TFormMain() {
    FormDestroy();
}

std::string TFormMain::ResourceFolder() const {
    return AddTrailingBackslash(ExeFolder + "sounds/" + GlobalState.ResFolder);
}

// --- creation -------------------------------------------------------------------------------

void TFormMain::FormCreate() {
    // The branding file, the data folder, the defaults and the stored settings, in that
    // order; the widgets follow the values below.
    Controller->Start();
    AppTitle = Startup().Title;
    ApplyBrandingConfig();

    if (AppTitle == "Skellwin" || AppTitle == "Porvanta")
        for (QWidget* w :
             {static_cast<QWidget*>(LabelVersion), static_cast<QWidget*>(LabelMoreTools),
              static_cast<QWidget*>(ButtonHelp), static_cast<QWidget*>(ButtonLog)})
            w->hide();

    if (!Startup().SettingsError.empty())
        FormLog.AppendLine(Startup().SettingsError);
    if (Startup().FirstRun) {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QSize size = screen ? screen->geometry().size() : QSize(width(), height());
        move((size.width() - width()) / 2, (size.height() - height()) / 2);
    }

    ThumbnailList.clear();
    Thumbnails = &ThumbnailList;
    InputList = new TInputListPage(*this, *Controller, *this, this);
    OutputPage = new TOutputPage(*this, *Controller, this);
    Progress = new TProgressPage(*this, *Controller, *this, this);
    // The preset lists are filled by the output page's catalogue (conversion workflow).
    setAcceptDrops(true);

    RestoreWindowPlacement(*this, "Form", GlobalState);
    UpdatePageTexts();

    // A failed binding is logged; the window still starts complete, and the conversion
    // commands explain the missing libraries when they are used.
    LoadMediaLibrariesStep();

    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            [this] { HandleMessage(WM_DRAWCLIPBOARD); });
    ClipboardWatched = true;
    ClipboardChanged();

    PageControlMain->setCurrentIndex(Controller->FirstPage());
    UpdatePageTexts();

    CreateScriptHost();
    Downloader = std::make_unique<TDownloadPages>(*this, *Controller, *this);
    clProgressBar->hide();
    ActionListUpdate();
    ActionListURLUpdate();
    PostMessage(WM_SHOWMAIN);
}

void TFormMain::ApplyBrandingConfig() {
    const QString title = QString::fromStdString(AppTitle);
    setWindowTitle(title);
    for (QLabel* label : {LabelFinishTitle1, LabelFinishTitle2, LabelFinishedDownloading1,
                          LabelFinishedDownloading2})
        label->setText(label->text().replace("%s", title));

    LabelVersion->setText("Version: " + QString::fromStdString(GlobalState.Version));

    Art = LoadArtwork(ResourceFolder());
    for (const auto& missing : Art.Missing)
        FormLog.AppendLine("Missing picture: " + missing);
    ImageTopLogo->SetPicture(Art.TopLogo);
    ImageLeftLogo->SetPicture(Art.LeftLogo);
    ImageDownloadVideo->setPixmap(Art.DownloadVideo);
    ImageConvertVideo->setPixmap(Art.ConvertVideo);
    ImageAudioIcon->setPixmap(Art.AudioIcon);
    ButtonMin->SetPictures(Art.Min[0], Art.Min[1], Art.Min[2]);
    ButtonClose->SetPictures(Art.Close[0], Art.Close[1], Art.Close[2]);
    for (TImageButton* b : {ButtonHelp, ButtonLog, ButtonBack, ButtonNext, ButtonExit})
        b->SetPictures(Art.Bottom[0], Art.Bottom[1], Art.Bottom[2], Art.Bottom[3]);
    ApplySkinLayout(GlobalState.Skin);
    FitWindowToLayout();
    PlaceFormatButtons();
}

void TFormMain::ApplySkinLayout(int skin) {
    const TSkinLayout* layout = SkinLayout(skin);
    if (!layout)
        return;
    ButtonMin->setVisible(layout->ChromeButtonsVisible);
    ButtonClose->setVisible(layout->ChromeButtonsVisible);
    if (layout->ChromeButtonsVisible) {
        ButtonMin->move(layout->ButtonMin);
        ButtonClose->move(layout->ButtonClose);
    }
    ButtonHelp->move(layout->ButtonHelp);
    HelpMenuOffset = layout->HelpMenuOffset;
    ButtonLog->move(layout->ButtonLog);
    ButtonBack->move(layout->ButtonBack);
    ButtonNext->move(layout->ButtonNext);
    ButtonExit->move(layout->ButtonExit);
    PageControlMain->move(layout->PageControlMain);
    LabelTitle->move(layout->LabelTitle);
    QFont f = LabelTitle->font();
    f.setBold(layout->TitleBold);
    LabelTitle->setFont(f);
    for (QLabel* label : {LabelVersion, static_cast<QLabel*>(LabelMoreTools)}) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, layout->InfoLabelColor);
        label->setPalette(pal);
    }
    if (layout->LabelVersionTop >= 0) {
        LabelVersion->move(LabelVersion->x(), layout->LabelVersionTop);
        LabelMoreTools->move(LabelMoreTools->x(), layout->LabelMoreToolsTop);
        LabelVersion->raise();
        LabelMoreTools->raise();
    }
    if (layout->TransparentBottomButtons)
        for (TImageButton* b : {ButtonHelp, ButtonLog, ButtonBack, ButtonNext, ButtonExit})
            b->SetTransparent(true, Qt::white);
}

void TFormMain::FitWindowToLayout() {
    // The designed size holds layout 0; a layout that places a control further out gets a
    // window that reaches 8 pixels beyond it.
    constexpr int margin = 8;
    int right = MainWindowWidth - margin, bottom = MainWindowHeight - margin;
    for (QWidget* w : {static_cast<QWidget*>(ButtonMin), static_cast<QWidget*>(ButtonClose),
                       static_cast<QWidget*>(ButtonHelp), static_cast<QWidget*>(ButtonLog),
                       static_cast<QWidget*>(ButtonBack), static_cast<QWidget*>(ButtonNext),
                       static_cast<QWidget*>(ButtonExit), static_cast<QWidget*>(PageControlMain)}) {
        if (w->isHidden())
            continue;
        right = std::max(right, w->geometry().right() + 1);
        bottom = std::max(bottom, w->geometry().bottom() + 1);
    }
    const QSize size(right + margin, bottom + margin);
    setFixedSize(size);
    // The title line ends inside the window, clear of the window buttons.
    int titleRight = size.width() - 8;
    if (!ButtonMin->isHidden() && ButtonMin->y() + ButtonMin->height() > LabelTitle->y())
        titleRight = std::min(titleRight, ButtonMin->x() - 4);
    LabelTitle->resize(std::max(40, titleRight - LabelTitle->x()), LabelTitle->height());
    if (!Art.Frame.isNull()) {
        // A layout larger than the frame picture stretches the picture over the window.
        if (Art.Frame.size() != size)
            Art.Frame = Art.Frame.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        setMask(Art.Frame.mask());
    }
}

void TFormMain::PlaceFormatButtons() {
    std::array<bool, OutputClassCount> classVisible{};
    for (int c = 0; c < OutputClassCount; ++c) {
        const auto cells =
            FormatButtonCells(Startup().Branding.Formats[c], TabSheetToFormat[c]->width());
        for (size_t f = 0; f < cells.size() && f < ButtonFormat[c].size(); ++f) {
            ButtonFormat[c][f]->setVisible(cells[f].Visible);
            if (cells[f].Visible) {
                ButtonFormat[c][f]->move(cells[f].Left, cells[f].Top);
                classVisible[c] = true;
            }
        }
    }
    const auto layout = ClassSelectorCells(classVisible, Pages[wpStep2]->width());
    for (int c = 0; c < OutputClassCount; ++c) {
        ButtonToFormat[c]->setVisible(layout.Selectors[c].Visible);
        if (layout.Selectors[c].Visible)
            ButtonToFormat[c]->move(layout.Selectors[c].Left, layout.Selectors[c].Top);
    }
    RzPageControlToFormat->move(RzPageControlToFormat->x(), layout.FormatPagesTop);
    RzPageControlToFormat->resize(RzPageControlToFormat->width(),
                                  Pages[wpStep2]->height() - layout.FormatPagesTop - 4);
}

void TFormMain::LoadMediaLibrariesStep() {
    // The logger exists before the libraries are bound, so that binding hooks the libraries'
    // messages into it.
    Controller->Logger().OnLog = [this](TFFLogger*, uint32_t threadId, TLogLevel level,
                                        const std::string& message) {
        FFLoggerLog(threadId, level, message);
    };
    TFFEncoder& encoder = Controller->CreateEncoder();
    if (MediaLibrariesLoaded(encoder)) {
        MediaLibrariesReady = true;
        return;
    }
    std::string error;
    MediaLibrariesReady = BindFromLibraryFolders(ExeFolder, [&](const std::string& folder) {
        return LoadMediaLibraries(encoder, folder, error);
    });
    if (!MediaLibrariesReady)
        FormLog.AppendLine(error);
}

void TFormMain::FFLoggerLog(uint32_t threadId, int level, const std::string& message) {
    FormLog.AppendLine("#" + std::to_string(threadId) + "." + std::to_string(level) + ": " +
                       message);
}

void TFormMain::CreateScriptHost() {
    TJavaScript& host = Controller->CreateScriptHost(reinterpret_cast<uintptr_t>(this));
    host.AddItem(std::make_shared<TComponentScriptlet>(this, "Form"));
    // The downloader connects the Host item's OnEcho and OnAlert to its result handler and
    // the host's OnError to its script-error handler.
    Controller->AddHostItem();
}

void TFormMain::FormShow() {
    LabelVersion->hide();
    LabelMoreTools->hide();
    PostMessage(WM_LOADPROMO);
}

void TFormMain::FormDestroy() {
    // The controls go away after this object's own part: no signal of theirs may reach it.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
    // The list page watches the grid's viewport; the grid outlives this object's own part.
    if (InputList && NextGrid)
        NextGrid->viewport()->removeEventFilter(InputList);
    ThumbnailList.clear();
    // The pages and the lists' models belong to the controller's world: they go before it,
    // and no report of the models reaches this object any more.
    for (QObject* model : {static_cast<QObject*>(InputRows), static_cast<QObject*>(ProgressList),
                           static_cast<QObject*>(QueueList)})
        if (model)
            disconnect(model, nullptr, this, nullptr);
    delete Progress; // lets go of the run before the encoder it drives
    Progress = nullptr;
    delete InputList;
    InputList = nullptr;
    Controller->Release(); // the queue, then the script host it uses; the logger goes quiet
    Downloader.reset();
    if (ClipboardWatched)
        disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
}

// --- messages -------------------------------------------------------------------------------

void TFormMain::PostMessage(int message) {
    QMetaObject::invokeMethod(
        this, [this, message] { RunGuarded("window message", [&] { HandleMessage(message); }); },
        Qt::QueuedConnection);
}

void TFormMain::SendMessage(int message) {
    RunOnMainThread([this, message] { HandleMessage(message); });
}

void TFormMain::HandleMessage(int message) {
    switch (message) {
    case WM_DRAWCLIPBOARD:
        ClipboardChanged();
        break;
    case WM_STARTCONVERT:
        StartConversion();
        break;
    case WM_CONVERTFINISHED:
        FinishConversion();
        break;
    case WM_FETCHVIDEOINFO:
        FetchVideoInfo();
        break;
    case WM_TRYNEXTQUALITY:
        TryNextQuality();
        break;
    case WM_LOADPROMO:
        LoadPromo();
        break;
    case WM_SHOWMAIN:
        ShowMain();
        break;
    default:
        return;
    }
    emit MessageHandled(message);
}

void TFormMain::ShowMain() {
    show();
    LabelMoreTools->setText("more free tools...");
    ActionMoreFreeTools->setText("More Free Tools...");
}

void TFormMain::LoadPromo() {
    // Promotional content has no part in this program: ImageAd and clProgressBar stay hidden.
}

void TFormMain::StartConversion() {
    QCoreApplication::processEvents();
    Progress->StartConversion();
}

void TFormMain::FinishConversion() {
    // The run has played the end sound and offered the shutdown countdown before it reports
    // its end; what is left is the summary.
    ShowConversionSummary();
}

void TFormMain::ShowConversionSummary() {
    ActivatePage(wpStep4);
    if (!GlobalState.ErrorList.empty()) {
        QStringList lines;
        for (const auto& line : GlobalState.ErrorList)
            lines << QString::fromStdString(line);
        MemoErrorLog->setPlainText(lines.join(QLatin1Char('\n')));
        MemoErrorLog->show();
    } else {
        MemoErrorLog->hide();
    }
    UpdatePageTexts();
    LabelFinishTotalFiles->setText(QString::number(GlobalState.TotalFiles));
    LabelFinishSuccessed->setText(QString::number(GlobalState.SucceededFiles));
    LabelFinishFailed->setText(
        QString::number(GlobalState.TotalFiles - GlobalState.SucceededFiles));
}

void TFormMain::FetchVideoInfo() {
    if (Downloader)
        Downloader->FetchVideoInfo();
}

void TFormMain::TryNextQuality() {
    if (Downloader)
        Downloader->TryNextQuality();
}

void TFormMain::DetachAndStopEncoder() {
    if (Progress)
        Progress->DetachAndStop();
}

void TFormMain::AbortTransfers() {
    // The three transfer components are aborted (no file deletion, not hard); their abort
    // ends the download run.
    if (Downloader)
        Downloader->AbortTransfers();
}

// --- clipboard, drops ------------------------------------------------------------------------

void TFormMain::ClipboardChanged() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ClipboardNoText = !(data && data->hasText());
    ActionListURLUpdate();
}

bool TFormMain::AcceptsDrops() const {
    // Files join the list where it can be seen: on Step1, or from the mode page, which
    // then leads to Step1. Elsewhere (the output page, a run, the downloader) a drop would
    // change a list that has already been taken, or one the user is not looking at.
    const TWizardPage page = ActivePage();
    return !CloseDone && !Closing && (page == wpStep1 || page == wpMode);
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && AcceptsDrops())
        event->acceptProposedAction();
}

void TFormMain::dropEvent(QDropEvent* event) {
    if (!AcceptsDrops())
        return;
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    event->acceptProposedAction();
    RunGuarded("adding dropped files", [&] {
        if (ActivePage() == wpMode) {
            RadioButtonConvertVideo->setChecked(true);
            ActivatePage(wpStep1);
            UpdatePageTexts();
        }
        DropFiles(paths);
    });
    emit MessageHandled(WM_DROPFILES);
}

void TFormMain::DropFiles(const std::vector<std::string>& paths) {
    BeginBusy();
    std::vector<std::string> kept;
    for (const auto& path : paths) {
        if (DirectoryExists(path))
            continue;
        if (IsMediaExtension(ExtractFileExt(path)))
            kept.push_back(path);
    }
    try {
        AddFiles(kept);
    } catch (...) {
        EndBusy();
        throw;
    }
    EndBusy();
}

void TFormMain::AddFiles(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    if (!CheckMediaLibraries())
        return;
    InputList->AddFiles(paths);
}

bool TFormMain::CheckMediaLibraries() {
    if (MediaLibrariesReady)
        return true;
    Inform("The media libraries could not be loaded, so files cannot be converted. The log "
           "window tells what is missing.");
    return false;
}

// --- window ---------------------------------------------------------------------------------

void TFormMain::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!Art.Frame.isNull() && Art.Frame.size() == size()) {
        p.drawPixmap(0, 0, Art.Frame);
        return;
    }
    // No frame picture: a plain frame in the palette's colours.
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.fillRect(QRect(0, 0, width(), 34), QColor(0x24, 0x33, 0x52));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!FormShown) {
        FormShown = true;
        RunGuarded(
            "showing the window", [this] { FormShow(); }, false);
    }
}

void TFormMain::closeEvent(QCloseEvent* event) {
    // One close sequence per window: an ending that arrives while it runs (a signal during
    // a message box of the sequence) finds it under way and waits for it to finish.
    if (!CloseDone && !Closing) {
        Closing = true;
        RunGuarded(
            "closing", [this] { FormCloseQuery(); }, false);
        FormClose();
        CloseDone = true;
        Closing = false;
        emit Closed();
    }
    event->accept();
}

void TFormMain::EndSession(const std::string& why) {
    if (CloseDone || Closing)
        return;
    FormLog.AppendLine("The session ends (" + why + "): closing.");
    QuietClose = true;
    close();
    if (!CloseDone) {
        // The window was never shown, or Qt refused the close: run the sequence directly.
        QCloseEvent event;
        closeEvent(&event);
    }
}

void TFormMain::RunGuarded(const char* where, const std::function<void()>& work, bool tell) {
    std::string error;
    try {
        work();
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    const std::string line = std::string("Error while ") + where + ": " + error;
    FormLog.AppendLine(line);
    std::fprintf(stderr, "clipwright: %s\n", line.c_str());
    if (tell && !QuietClose && !CloseDone)
        ShowCustomMessage(error, AppTitle, mtError, {mbOK});
}

bool TFormMain::FormCloseQuery() {
    if (InputList)
        InputList->StopAdding();
    DetachAndStopEncoder();
    AbortTransfers();
    if (ClipboardWatched) {
        disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
        ClipboardWatched = false;
    }
    return true;
}

void TFormMain::FormClose() {
    SaveSettingsAndPlacements(!QuietClose);
}

std::vector<std::string> TFormMain::SaveSettingsAndPlacements(bool interactive) {
    // Each step runs even when an earlier one failed; every distinct failure is told once.
    // Every step replaces the whole file at once, so a save that is repeated or cut short
    // leaves a complete file.
    std::vector<std::string> errors;
    auto attempt = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const std::exception& e) {
            if (std::find(errors.begin(), errors.end(), e.what()) == errors.end())
                errors.push_back(e.what());
        }
    };
    attempt([&] { SaveSettings(GlobalState); });
    attempt([&] { SaveWindowPlacement(*this, "Form", GlobalState); });
    // A log window that was not opened in this session keeps the place stored for it.
    attempt([&] {
        if (FormLog.WasShown() || !PlacementStored("FormLog", GlobalState))
            SaveWindowPlacement(FormLog, "FormLog", GlobalState);
    });
    for (const auto& error : errors) {
        if (interactive) {
            ShowCustomMessage(error, AppTitle, mtError, {mbOK});
        } else {
            FormLog.AppendLine(error);
            std::fprintf(stderr, "clipwright: %s\n", error.c_str());
        }
    }
    return errors;
}

void TFormMain::StartWindowDrag(QPoint globalPos) {
    if (QWindow* window = windowHandle(); window && window->startSystemMove())
        return;
    // The window manager cannot move the window: follow the mouse ourselves.
    Dragging = true;
    DragOffset = globalPos - pos();
}

void TFormMain::MoveWindowDrag(QPoint globalPos) {
    if (Dragging)
        move(globalPos - DragOffset);
}

void TFormMain::ButtonCloseClick() {
    close();
}

void TFormMain::ButtonMinClick() {
    showMinimized();
}

bool TFormMain::Ask(const std::string& question) {
    return ShowCustomMessage(question, AppTitle, mtConfirmation, {mbYes, mbNo}) == mrYes;
}

void TFormMain::Inform(const std::string& text) {
    ShowCustomMessage(text, AppTitle, mtInformation, {mbOK});
}

} // namespace cw
