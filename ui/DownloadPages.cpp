#include "ui/DownloadPages.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "control/AppController.h"
#include "control/WindowMessages.h"
#include "download/Quality.h"
#include "download/VideoLinks.h"
#include "ui/FormYouTubeHQ.h"
#include "ui/PageHost.h"
#include "ui/Widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QTreeWidget>

namespace cw {

namespace {
QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

TDownloadPages::TDownloadPages(const TDownloadControls& controls, TAppController& controller,
                               IPageHost& host)
    : QObject(host.Window()), Controls(controls), Controller(controller), Host(host) {
    setObjectName("DownloadPages");
    controller.CreateQueue(*this);

    const TDownloadControls& c = Controls;
    connect(c.ActionURLPaste, &QAction::triggered, this, [this] { ActionURLPasteExecute(); });
    connect(c.ActionURLRemove, &QAction::triggered, this, [this] { ActionURLRemoveExecute(); });
    connect(c.ActionURLEmpty, &QAction::triggered, this, [this] { ActionURLEmptyExecute(); });
    connect(c.ActionURLSelect, &QAction::triggered, this, [this] { ActionURLSelectExecute(); });
    connect(c.ListViewInputURL, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ListViewInputURLDblClick(item); });
    connect(c.CheckBoxYouTubeQuality, &QCheckBox::toggled, this,
            [this] { CheckBoxYouTubeQualityClick(); });
    connect(c.ButtonYouTubeQualityConfig, &QPushButton::clicked, this,
            [this] { ButtonYouTubeQualityConfigClick(); });
    connect(c.LabelURLOpenFolder, &TLinkLabel::Clicked, this,
            [this] { LabelURLOpenFolderClick(); });
    connect(c.ButtonConvertDownloaded, &QPushButton::clicked, this,
            [this] { ButtonConvertDownloadedClick(); });

    // Ctrl+V on the link page pastes links, wherever the focus is on the page; an edit box
    // with the focus takes the keys for itself first.
    auto* paste = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_V), host.Window());
    paste->setObjectName("ShortcutURLPaste");
    paste->setContext(Qt::WindowShortcut);
    connect(paste, &QShortcut::activated, this, [this] {
        if (Host.ActivePage() == wpStep5 && Controls.ActionURLPaste->isEnabled())
            Controls.ActionURLPaste->trigger();
    });
}

TDownloadPages::~TDownloadPages() = default;

TDownloadQueue& TDownloadPages::Queue() {
    return Controller.Downloads()->Queue();
}

TQueueModel& TDownloadPages::Rows() {
    return Controller.Downloads()->Model();
}

// --- Step5 ------------------------------------------------------------------------------------

std::vector<std::string> TDownloadPages::ListedLinks() const {
    std::vector<std::string> links;
    QTreeWidget* list = Controls.ListViewInputURL;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        links.push_back(list->topLevelItem(i)->text(0).toStdString());
    return links;
}

bool TDownloadPages::AddLink(const std::string& text) {
    const TLinkVerdict verdict =
        CheckNewLink(ListedLinks(), text, Queue().VideoSiteDomain, Queue().TakesAnySite());
    if (verdict == TLinkVerdict::lvAdd) {
        Controls.ListViewInputURL->addTopLevelItem(new QTreeWidgetItem({Text(text)}));
        return true;
    }
    return ShowCustomMessage(RefusedLinkMessage(verdict, text), Host.Title(), mtInformation,
                             {mbOK, mbCancel}) != mrCancel;
}

void TDownloadPages::PasteText(const std::string& text) {
    for (const std::string& line : SplitPastedText(text))
        if (!AddLink(line))
            break;
}

void TDownloadPages::ActionURLPasteExecute() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data && data->hasText())
        PasteText(data->text().toStdString());
}

void TDownloadPages::ActionURLRemoveExecute() {
    QTreeWidget* list = Controls.ListViewInputURL;
    if (!list->selectedItems().isEmpty()) {
        // The selection is taken first: removing the current item moves the selection on.
        std::vector<int> selected;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->isSelected())
                selected.push_back(i);
        for (auto i = selected.rbegin(); i != selected.rend(); ++i)
            delete list->takeTopLevelItem(*i);
        const int smallest = selected.front();
        if (list->topLevelItemCount() > 0) {
            QTreeWidgetItem* next =
                list->topLevelItem(std::min(smallest, list->topLevelItemCount() - 1));
            list->setCurrentItem(next);
            next->setSelected(true);
            list->scrollToItem(next);
        }
    }
    list->setFocus();
}

void TDownloadPages::ActionURLEmptyExecute() {
    Controls.ListViewInputURL->clear();
}

void TDownloadPages::ActionURLSelectExecute() {
    std::string folder = Controller.Vars().OutputURLDir;
    if (!BrowseForFolder(folder, "Please select a folder"))
        return;
    Controls.EditURLOutput->setText(Text(AddTrailingBackslash(folder)));
    Controller.Vars().OutputURLDir = Controls.EditURLOutput->text().toStdString();
}

void TDownloadPages::ListViewInputURLDblClick(QTreeWidgetItem* item) {
    if (item)
        OpenWithShell(item->text(0).toStdString());
}

void TDownloadPages::CheckBoxYouTubeQualityClick() {
    Controls.ButtonYouTubeQualityConfig->setEnabled(Controls.CheckBoxYouTubeQuality->isChecked());
    ShowQualitySummary();
}

void TDownloadPages::UpdateCommands(bool clipboardHasText) {
    QTreeWidget* list = Controls.ListViewInputURL;
    Controls.ActionURLPaste->setEnabled(clipboardHasText);
    Controls.ActionURLRemove->setEnabled(!list->selectedItems().isEmpty());
    Controls.ActionURLEmpty->setEnabled(list->topLevelItemCount() > 0);
    Controls.ActionURLSelect->setEnabled(true);
}

void TDownloadPages::Prepare() {
    const TGlobalVars& vars = Controller.Vars();
    Controls.EditURLOutput->setText(Text(vars.OutputURLDir));
    Controls.CheckBoxYouTubeQuality->setChecked(vars.PreferYouTubeQuality);
    Controls.ButtonYouTubeQualityConfig->setEnabled(Controls.CheckBoxYouTubeQuality->isChecked());
    ShowQualitySummary();
}

void TDownloadPages::Read() {
    // "~", "~/..." and relative folders are taken below the home folder; the box then shows
    // the folder that is used.
    TGlobalVars& vars = Controller.Vars();
    const std::string typed = Controls.EditURLOutput->text().toStdString();
    if (!Trim(typed).empty())
        Controls.EditURLOutput->setText(Text(ExpandUserFolder(typed)));
    vars.OutputURLDir = AddTrailingBackslash(Controls.EditURLOutput->text().toStdString());
    vars.PreferYouTubeQuality = Controls.CheckBoxYouTubeQuality->isChecked();
}

void TDownloadPages::ShowQualitySummary() {
    Controls.LabelYouTubeQuality->setText(Text(PreferenceSummary(
        Controls.CheckBoxYouTubeQuality->isChecked(), PreferenceOrder(Controller.Vars()))));
}

void TDownloadPages::ButtonYouTubeQualityConfigClick() {
    QWidget* window = Host.Window();
    TFormYouTubeHQ dialog(Controller.Vars(), window);
    dialog.move(window->pos() + QPoint((window->width() - dialog.width()) / 2,
                                       (window->height() - dialog.height()) / 2));
    dialog.Load();
    if (dialog.exec() == QDialog::Accepted) {
        dialog.Store();
        ShowQualitySummary();
    }
}

// --- the run ----------------------------------------------------------------------------------

void TDownloadPages::BuildQueue() {
    Queue().BuildQueue(ListedLinks());
}

void TDownloadPages::StartRun() {
    Queue().StartRun();
}

void TDownloadPages::FetchVideoInfo() {
    Queue().HandleStep(dsFetchVideoInfo);
}

void TDownloadPages::TryNextQuality() {
    Queue().HandleStep(dsTryNextQuality);
}

void TDownloadPages::AbortTransfers() {
    Queue().Cancel();
}

void TDownloadPages::PostStep(TDownloadStep step) {
    Host.PostMessage(step == dsFetchVideoInfo ? WM_FETCHVIDEOINFO : WM_TRYNEXTQUALITY);
}

void TDownloadPages::LabelsChanged(const TDownloadLabels& l) {
    Controls.LabelURLCurrentFile->setText(Text(l.CurrentFile));
    Controls.LabelURLStatus->setText(Text(l.Status));
    Controls.LabelSpeed->setText(Text(l.Speed));
    Controls.LabelURLElapsedTime->setText(Text(l.ElapsedTime));
    Controls.LabelURLTimeLeft->setText(Text(l.TimeLeft));
    Controls.LabelQuality->setText(Text(l.Quality));
    Controls.ProgressBarDownload->setValue(std::clamp(l.Progress, 0, 100));
    Controls.LabelProgressBarDownload->setText(Text(l.ProgressText));
}

void TDownloadPages::RunEnded() {
    const TGlobalVars& vars = Controller.Vars();
    Controls.ListViewInputURL->clear();
    Host.ShowPage(wpStep7);
    Controls.LabelURLTotalFiles->setText(QString::number(vars.URLTotal));
    Controls.LabelURLSucedded->setText(QString::number(vars.URLSucceeded));
    Controls.LabelURLFailed->setText(QString::number(vars.URLTotal - vars.URLSucceeded));
    if (!Host.WindowActive())
        NotifyDesktop(Host.Title(), DownloadSummaryText(vars.URLTotal, vars.URLSucceeded),
                      vars.OutputURLDir);
}

void TDownloadPages::Log(const std::string& line) {
    Host.Log(line);
}

void TDownloadPages::ScriptError(const std::string& message) {
    ShowCustomMessage(message, Host.Title(), mtError, {mbOK});
}

// --- Step7 ------------------------------------------------------------------------------------

void TDownloadPages::LabelURLOpenFolderClick() {
    OpenWithShell(Controller.Vars().OutputURLDir);
}

void TDownloadPages::ButtonConvertDownloadedClick() {
    const std::vector<std::string> files = Controller.Vars().DownloadedFiles;
    if (files.empty()) {
        ShowCustomMessage("No file downloaded! Please try again.", Host.Title(), mtInformation,
                          {mbOK});
        return;
    }
    Host.ShowPage(wpStep1);
    Host.AddFiles(files);
}

} // namespace cw
