// The wizard controller and the window-wide commands of the main window.
#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "convert/Catalogue.h"
#include "convert/InputList.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"
#include "ui/DownloadPages.h"
#include "ui/FormAbout.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/InputListPage.h"
#include "ui/OutputPage.h"
#include "ui/ProgressPage.h"
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include <QAction>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

namespace cw {

// --- pages ----------------------------------------------------------------------------------

TWizardPage TFormMain::ActivePage() const {
    return TWizardPage(PageControlMain->currentIndex());
}

void TFormMain::ActivatePage(TWizardPage page) {
    PageControlMain->setCurrentIndex(page);
}

void TFormMain::ShowPage(TWizardPage page) {
    ActivatePage(page);
    UpdatePageTexts();
}

void TFormMain::Log(const std::string& line) {
    FormLog.AppendLine(line);
}

void TFormMain::UpdatePageTexts() {
    const TPageTexts texts = Controller->PageState(ActivePage(), Probing(), AppTitle);
    LabelTitle->setText(QString::fromStdString(texts.Title));
    ActionNext->setText(QString::fromStdString(texts.Next));
    ActionNext->setEnabled(texts.NextEnabled);
    ActionBack->setText(QString::fromStdString(texts.Back));
    ActionBack->setEnabled(texts.BackEnabled);
    ActionExit->setText(QString::fromStdString(texts.Exit));
    ActionExit->setEnabled(texts.ExitEnabled);
}

void TFormMain::GoToFirstPage() {
    ShowPage(Controller->FirstPage());
}

// --- Next, Back, Exit: the controller carries them out on this window -----------------------

void TFormMain::ActionNextExecute() {
    Controller->Next(*this);
}

void TFormMain::ActionBackExecute() {
    Controller->Back(*this);
}

void TFormMain::ActionExitExecute() {
    Controller->Exit(*this);
}

TWizardPage TFormMain::ChosenMode() const {
    if (RadioButtonDownloadVideo->isChecked())
        return wpStep5;
    if (RadioButtonConvertVideo->isChecked())
        return wpStep1;
    return WizardPageCount;
}

bool TFormMain::Probing() const {
    return InputList && InputList->Adding();
}

void TFormMain::StopProbing() {
    if (InputList)
        InputList->StopAdding();
}

int TFormMain::LinkCount() const {
    return ListViewInputURL->topLevelItemCount();
}

void TFormMain::ClearLinks() {
    ListViewInputURL->clear();
}

void TFormMain::CatchUp() {
    QCoreApplication::processEvents();
}

void TFormMain::BeginConversion() {
    Progress->ShowRunOptions();
    PostMessage(WM_STARTCONVERT);
}

void TFormMain::BeginDownload() {
    Downloader->BuildQueue();
    Downloader->StartRun();
}

void TFormMain::AbortDownload() {
    AbortTransfers();
}

void TFormMain::Quit() {
    close();
}

// --- output page ----------------------------------------------------------------------------

// The output page does the work; these are the window's commands for it.
void TFormMain::SelectOutputClass(int outputClass) {
    OutputPage->SelectOutputClass(outputClass);
}

void TFormMain::SelectOutputFormat(int outputClass, int format) {
    OutputPage->SelectOutputFormat(outputClass, format);
}

void TFormMain::PrepareOutputPage() {
    OutputPage->Prepare();
}

void TFormMain::ReadOutputPage() {
    OutputPage->Read();
}

void TFormMain::ButtonSelectDirClick() {
    OutputPage->ButtonSelectDirClick();
}

// --- download page --------------------------------------------------------------------------

void TFormMain::PrepareDownloadPage() {
    Downloader->Prepare();
}

void TFormMain::ReadDownloadPage() {
    Downloader->Read();
}

void TFormMain::ImageDownloadVideoClick() {
    RadioButtonDownloadVideo->setChecked(true);
    RadioButtonDownloadVideo->setFocus();
}

void TFormMain::ImageConvertVideoClick() {
    RadioButtonConvertVideo->setChecked(true);
    RadioButtonConvertVideo->setFocus();
}

// --- window commands ------------------------------------------------------------------------

QPoint TFormMain::HelpMenuPosition() const {
    const QPoint window = mapToGlobal(QPoint(0, 0));
    return QPoint(ButtonHelp->x() + window.x() + HelpMenuOffset,
                  ButtonHelp->y() + window.y() + ButtonHelp->height());
}

void TFormMain::ActionHelpExecute() {
    PopupMenuHelp->popup(HelpMenuPosition());
}
void TFormMain::ActionHelpContentExecute() {
    OpenWithShell(GlobalState.HelpContectLink);
}
void TFormMain::ActionHowTosTutorialVideosExecute() {
    OpenWithShell(GlobalState.HelpHowTosTutorialVideosLink);
}
void TFormMain::ActionHomePageExecute() {
    OpenWithShell(GlobalState.HelpHomePageLink);
}
void TFormMain::ActionMoreFreeToolsExecute() {
    OpenWithShell(GlobalState.HelpMoreFreeToolsLink);
}
void TFormMain::ActionCheckforUpdatesExecute() {
    OpenWithShell(GlobalState.HelpCheckForUpdatesLink);
}
void TFormMain::ActionContactTechnicalSupportExecute() {
    OpenWithShell(GlobalState.HelpSupportLink);
}
void TFormMain::LabelMoreToolsClick() {
    OpenWithShell(GlobalState.HelpMoreFreeToolsLink);
}

void TFormMain::ActionAboutExecute() {
    TFormAbout about(AppTitle, GlobalState, ResourceFolder(), QDate::currentDate().year(), this);
    about.move(geometry().center() - QPoint(about.width() / 2, about.height() / 2));
    about.exec();
}

void TFormMain::ActionLogExecute() {
    FormLog.show();
    FormLog.raise();
    FormLog.activateWindow();
}

// The pages enable their own commands; the window tells them when.
void TFormMain::ActionListUpdate() {
    if (InputList)
        InputList->UpdateCommands();
}

void TFormMain::ActionListURLUpdate() {
    if (Downloader)
        Downloader->UpdateCommands(!ClipboardNoText);
}

} // namespace cw
