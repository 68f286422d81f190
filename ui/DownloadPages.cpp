#include "ui/DownloadPages.h"

#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "download/QueueModel.h"
#include "download/Quality.h"
#include "download/VideoLinks.h"
#include "script/Script.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/FormYouTubeHQ.h"
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>

namespace cw {

namespace {
QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

TDownloadPages::TDownloadPages(TFormMain& form) : QObject(&form), Form(form) {
    setObjectName("DownloadPages");
    form.Controller->CreateQueue(*this);

    connect(form.ActionURLPaste, &QAction::triggered, this, [this] { ActionURLPasteExecute(); });
    connect(form.ActionURLRemove, &QAction::triggered, this, [this] { ActionURLRemoveExecute(); });
    connect(form.ActionURLEmpty, &QAction::triggered, this, [this] { ActionURLEmptyExecute(); });
    connect(form.ActionURLSelect, &QAction::triggered, this, [this] { ActionURLSelectExecute(); });
    connect(form.ListViewInputURL, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ListViewInputURLDblClick(item); });
    connect(form.CheckBoxYouTubeQuality, &QCheckBox::toggled, this,
            [this] { CheckBoxYouTubeQualityClick(); });
    connect(form.ButtonYouTubeQualityConfig, &QPushButton::clicked, this,
            [this] { ButtonYouTubeQualityConfigClick(); });
    connect(form.LabelURLOpenFolder, &TLinkLabel::Clicked, this,
            [this] { LabelURLOpenFolderClick(); });
    connect(form.ButtonConvertDownloaded, &QPushButton::clicked, this,
            [this] { ButtonConvertDownloadedClick(); });

    // Ctrl+V on the link page pastes links, wherever the focus is on the page; an edit box
    // with the focus takes the keys for itself first.
    auto* paste = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_V), &form);
    paste->setObjectName("ShortcutURLPaste");
    paste->setContext(Qt::WindowShortcut);
    connect(paste, &QShortcut::activated, this, [this] {
        if (Form.ActivePage() == wpStep5 && Form.ActionURLPaste->isEnabled())
            Form.ActionURLPaste->trigger();
    });
}

TDownloadPages::~TDownloadPages() = default;

TDownloadQueue& TDownloadPages::Queue() {
    return *Form.Controller->Queue();
}

// --- Step5 ------------------------------------------------------------------------------------

std::vector<std::string> TDownloadPages::ListedLinks() const {
    std::vector<std::string> links;
    QTreeWidget* list = Form.ListViewInputURL;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        links.push_back(list->topLevelItem(i)->text(0).toStdString());
    return links;
}

bool TDownloadPages::AddLink(const std::string& text) {
    const TLinkVerdict verdict = CheckNewLink(ListedLinks(), text, Queue().VideoSiteDomain);
    if (verdict == TLinkVerdict::lvAdd) {
        Form.ListViewInputURL->addTopLevelItem(new QTreeWidgetItem({Text(text)}));
        return true;
    }
    return ShowCustomMessage(RefusedLinkMessage(verdict, text), Form.Title(), mtInformation,
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
    QTreeWidget* list = Form.ListViewInputURL;
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
    Form.ListViewInputURL->clear();
}

void TDownloadPages::ActionURLSelectExecute() {
    std::string folder = Form.Vars().OutputURLDir;
    if (!BrowseForFolder(folder, "Please select a folder"))
        return;
    Form.EditURLOutput->setText(Text(AddTrailingBackslash(folder)));
    Form.Vars().OutputURLDir = Form.EditURLOutput->text().toStdString();
}

void TDownloadPages::ListViewInputURLDblClick(QTreeWidgetItem* item) {
    if (item)
        OpenWithShell(item->text(0).toStdString());
}

void TDownloadPages::CheckBoxYouTubeQualityClick() {
    Form.ButtonYouTubeQualityConfig->setEnabled(Form.CheckBoxYouTubeQuality->isChecked());
    ShowQualitySummary();
}

void TDownloadPages::ShowQualitySummary() {
    Form.LabelYouTubeQuality->setText(Text(
        PreferenceSummary(Form.CheckBoxYouTubeQuality->isChecked(), PreferenceOrder(Form.Vars()))));
}

void TDownloadPages::ButtonYouTubeQualityConfigClick() {
    TFormYouTubeHQ dialog(Form.Vars(), &Form);
    dialog.move(Form.pos() +
                QPoint((Form.width() - dialog.width()) / 2, (Form.height() - dialog.height()) / 2));
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
    Form.PostMessage(step == dsFetchVideoInfo ? WM_FETCHVIDEOINFO : WM_TRYNEXTQUALITY);
}

void TDownloadPages::QueueChanged() {
    Form.QueueList->SetItems(Queue().Items());
}

void TDownloadPages::ItemChanged(int index) {
    if (index < 0 || index >= int(Queue().Items().size()))
        return;
    Form.QueueList->SetItem(index, Queue().Items()[size_t(index)]);
}

void TDownloadPages::LabelsChanged() {
    const TDownloadLabels& l = Queue().Labels();
    Form.LabelURLCurrentFile->setText(Text(l.CurrentFile));
    Form.LabelURLStatus->setText(Text(l.Status));
    Form.LabelSpeed->setText(Text(l.Speed));
    Form.LabelURLElapsedTime->setText(Text(l.ElapsedTime));
    Form.LabelURLTimeLeft->setText(Text(l.TimeLeft));
    Form.LabelQuality->setText(Text(l.Quality));
    Form.ProgressBarDownload->setValue(std::clamp(l.Progress, 0, 100));
    Form.LabelProgressBarDownload->setText(Text(l.ProgressText));
}

void TDownloadPages::RunEnded() {
    const TGlobalVars& vars = Form.Vars();
    Form.ListViewInputURL->clear();
    Form.ActivatePage(wpStep7);
    Form.UpdatePageTexts();
    Form.LabelURLTotalFiles->setText(QString::number(vars.URLTotal));
    Form.LabelURLSucedded->setText(QString::number(vars.URLSucceeded));
    Form.LabelURLFailed->setText(QString::number(vars.URLTotal - vars.URLSucceeded));
    if (!Form.isActiveWindow())
        NotifyDesktop(Form.Title(), DownloadSummaryText(vars.URLTotal, vars.URLSucceeded),
                      vars.OutputURLDir);
}

void TDownloadPages::Log(const std::string& line) {
    Form.Log().AppendLine(line);
}

void TDownloadPages::ScriptError(const std::string& message) {
    ShowCustomMessage(message, Form.Title(), mtError, {mbOK});
}

// --- Step7 ------------------------------------------------------------------------------------

void TDownloadPages::LabelURLOpenFolderClick() {
    OpenWithShell(Form.Vars().OutputURLDir);
}

void TDownloadPages::ButtonConvertDownloadedClick() {
    const std::vector<std::string> files = Form.Vars().DownloadedFiles;
    if (files.empty()) {
        ShowCustomMessage("No file downloaded! Please try again.", Form.Title(), mtInformation,
                          {mbOK});
        return;
    }
    Form.ActivatePage(wpStep1);
    Form.UpdatePageTexts();
    Form.AddFiles(files);
}

} // namespace cw
