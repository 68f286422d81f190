// The wizard on the real window: page texts per edition, every transition with Yes and No
// answers (given through the recording desktop), and the folder checks.
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include "convert/InputListModel.h"
#include "FormSupport.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

using namespace cw;
using namespace cw::test;

namespace {

const char* const FolderFailed =
    "Fail to create directory! Please check if output folder have the right format!";

struct TExpectedTexts {
    TWizardPage Page;
    const char* Title;
    const char* Next;
    bool NextOn;
    bool BackOn;
    const char* Exit;
};

// The page-text table; the rows that differ by edition are written out per edition.
std::vector<TExpectedTexts> ExpectedTexts(bool download, bool merge) {
    return {
        {wpMode, "Welcome to Ed! What do you want to do?", "Next", true, false, "Exit"},
        {wpStep1,
         "Select the file(s) you want to convert. Use \"Move Up\" and \"Move Down\" to change the "
         "order.",
         "Next", true, download, download ? "Cancel" : "Exit"},
        {wpStep2, "Select an output mode and specify a path for the output files.",
         merge ? "Join Now" : "Convert", true, true, "Cancel"},
        {wpStep3, "Conversion information.", "Next", false, false, "Cancel"},
        {wpStep4, "The conversion is finished.", "Finish", true, false, "Exit"},
        {wpStep5, "Copy a YouTube link from your browser address bar and Paste here", "Download",
         true, true, "Cancel"},
        {wpStep6, "Downloading information.", "Next", false, false, "Cancel"},
        {wpStep7, "The downloading is finished.", "Finish", true, false, "Exit"},
    };
}

TEST(WizardTexts, EveryPageShowsItsTitleAndButtonsInAllFourEditions) {
    for (bool download : {true, false})
        for (bool merge : {false, true}) {
            SCOPED_TRACE(std::string("download ") + (download ? "on" : "off") + ", merge " +
                         (merge ? "on" : "off"));
            TFormFixture f(BrandingText("Ed", download, merge));
            TFormMain& form = *f.Form;
            EXPECT_EQ(form.ActivePage(), download ? wpMode : wpStep1);
            for (const auto& row : ExpectedTexts(download, merge)) {
                form.ActivatePage(row.Page);
                SCOPED_TRACE(WizardPageName(row.Page));
                EXPECT_EQ(form.LabelTitle->text().toStdString(), row.Title);
                EXPECT_EQ(form.ButtonNext->text().toStdString(), row.Next);
                EXPECT_EQ(form.ButtonNext->isEnabled(), row.NextOn);
                EXPECT_EQ(form.ButtonBack->text().toStdString(), "Back");
                EXPECT_EQ(form.ButtonBack->isEnabled(), row.BackOn);
                EXPECT_EQ(form.ButtonExit->text().toStdString(), row.Exit);
                EXPECT_TRUE(form.ButtonExit->isEnabled());
            }
        }
}

class WizardTest : public ::testing::Test {
protected:
    void Make(bool download, bool merge = false) {
        F.reset();
        F = std::make_unique<TFormFixture>(BrandingText("Ed", download, merge));
    }
    TFormMain& Form() { return *F->Form; }
    TRecordingDesktop& Desktop() { return F->Desktop; }
    void AddRow() { Form().InputRows->AppendRow(TInputRow{}); }
    void AddLink(const char* link) {
        Form().ListViewInputURL->addTopLevelItem(new QTreeWidgetItem({link}));
    }
    // Presses a command with a prepared answer to the question it asks.
    void Press(QAction* action, int answer) {
        Desktop().Answers.push_back(answer);
        action->trigger();
        EXPECT_TRUE(Desktop().Answers.empty()) << "the command asked nothing";
    }
    std::string LastMessage() {
        return Desktop().Messages.empty() ? "" : Desktop().Messages.back().Message;
    }
    std::unique_ptr<TFormFixture> F;
};

TEST_F(WizardTest, ModePageLeadsToTheDownloadOrTheConversionWorkflow) {
    Make(true);
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().ActivePage(), wpStep5);
    EXPECT_EQ(Form().EditURLOutput->text().toStdString(), F->Vars.OutputURLDir);
    EXPECT_EQ(Form().CheckBoxYouTubeQuality->isChecked(), F->Vars.PreferYouTubeQuality);
    EXPECT_EQ(Form().ButtonYouTubeQualityConfig->isEnabled(), F->Vars.PreferYouTubeQuality);

    Form().ActivatePage(wpMode);
    emit Form().ImageConvertVideo->Clicked();
    EXPECT_TRUE(Form().RadioButtonConvertVideo->isChecked());
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().ActivePage(), wpStep1);
    EXPECT_EQ(Form().ButtonExit->text(), "Cancel");
    EXPECT_TRUE(Desktop().Messages.empty());
}

TEST_F(WizardTest, StepOneNeedsFilesAndItsBackAndCancelAskBeforeEmptyingTheList) {
    Make(true);
    Form().ActivatePage(wpStep1);
    Desktop().Answers.push_back(mrOk);
    Form().ActionNext->trigger();
    EXPECT_EQ(LastMessage(), "Please add the video files you want to convert");
    EXPECT_EQ(Desktop().Messages.back().Kind, mtInformation);
    EXPECT_EQ(Desktop().Messages.back().Caption, "Ed");
    EXPECT_EQ(Form().ActivePage(), wpStep1);

    AddRow();
    for (QAction* command : {Form().ActionBack, Form().ActionExit}) {
        Press(command, mrNo);
        EXPECT_EQ(Form().ActivePage(), wpStep1);
        EXPECT_EQ(Form().InputRows->rowCount(), 1);
        EXPECT_EQ(Desktop().Messages.back().Buttons, (std::vector<TMsgDlgButton>{mbYes, mbNo}));
    }
    EXPECT_EQ(Desktop().Messages[1].Message, "Are you sure to cancel and go back?");
    EXPECT_EQ(LastMessage(), "Are you sure to cancel?");
    Press(Form().ActionBack, mrYes);
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().InputRows->rowCount(), 0);

    Form().ActivatePage(wpStep1);
    AddRow();
    Press(Form().ActionExit, mrYes);
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().InputRows->rowCount(), 0);
    EXPECT_EQ(F->ClosedCount, 0);
}

TEST_F(WizardTest, WithoutDownloadStepOneHasNoBackAndExitQuitsAfterYes) {
    Make(false);
    EXPECT_EQ(Form().ActivePage(), wpStep1);
    Form().ActionBack->trigger(); // disabled: nothing happens, nothing is asked
    EXPECT_TRUE(Desktop().Messages.empty());
    Press(Form().ActionExit, mrNo);
    EXPECT_EQ(LastMessage(), "Are you sure to quit now?");
    EXPECT_EQ(F->ClosedCount, 0);
    Press(Form().ActionExit, mrYes);
    EXPECT_EQ(F->ClosedCount, 1);
}

TEST_F(WizardTest, StepTwoBackKeepsTheListAndDropsFolderEditsExitAsksBeforeEmptying) {
    Make(true);
    Form().ActivatePage(wpStep1);
    AddRow();
    Form().ActionNext->trigger();
    ASSERT_EQ(Form().ActivePage(), wpStep2);
    EXPECT_EQ(Form().EditOutputDir->text().toStdString(), F->Vars.OutputFileDir);
    const std::string stored = F->Vars.OutputFileDir;

    Form().EditOutputDir->setText("/somewhere/else");
    Form().ActionBack->trigger();
    EXPECT_TRUE(Desktop().Messages.empty());
    EXPECT_EQ(Form().ActivePage(), wpStep1);
    EXPECT_EQ(Form().InputRows->rowCount(), 1);
    EXPECT_EQ(F->Vars.OutputFileDir, stored);
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().EditOutputDir->text().toStdString(), stored);

    Press(Form().ActionExit, mrNo);
    EXPECT_EQ(LastMessage(), "Are you sure to cancel?");
    EXPECT_EQ(Form().ActivePage(), wpStep2);
    Press(Form().ActionExit, mrYes);
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().InputRows->rowCount(), 0);
}

TEST_F(WizardTest, StepTwoNextCreatesTheFolderWithItsParentsThenStartsTheConversion) {
    Make(true);
    F->Vars.PlayASoundWhenFinished = true;
    Form().ActivatePage(wpStep1);
    AddRow();
    Form().ActionNext->trigger();
    const std::string target = F->Home.Folder.Path + "out/deep/er";
    Form().EditOutputDir->setText(QString::fromStdString(target));
    F->Handled.clear();
    Form().ActionNext->trigger();
    EXPECT_TRUE(Desktop().Messages.empty()) << LastMessage();
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(F->Vars.OutputFileDir, target + "/");
    EXPECT_EQ(Form().ActivePage(), wpStep3);
    EXPECT_EQ(Form().ButtonExit->text(), "Cancel");
    EXPECT_TRUE(Form().CheckBoxPlayASound->isChecked());
    EXPECT_FALSE(Form().CheckBoxShutdown->isChecked());
    // The run starts from the queue, after the click has been handled.
    EXPECT_TRUE(std::find(F->Handled.begin(), F->Handled.end(), WM_STARTCONVERT) ==
                F->Handled.end());
    ASSERT_TRUE(ProcessUntil([&] {
        return std::find(F->Handled.begin(), F->Handled.end(), WM_STARTCONVERT) != F->Handled.end();
    }));
}

TEST_F(WizardTest, FolderBoxesTakeTildeAndRelativeFoldersBelowTheHomeFolder) {
    Make(true);
    const std::string home = F->Home.Folder.Path; // ends in "/"
    Form().ActivatePage(wpStep1);
    AddRow();
    Form().ActionNext->trigger();
    for (const auto& [typed, folder] :
         {std::pair<std::string, std::string>{"films/new", "films/new/"}, {"~", ""}}) {
        SCOPED_TRACE(typed);
        Form().EditOutputDir->setText(QString::fromStdString(typed));
        Form().ReadOutputPage();
        EXPECT_EQ(F->Vars.OutputFileDir, home + folder);
        // The box shows the folder that is used.
        EXPECT_EQ(Form().EditOutputDir->text().toStdString(),
                  folder.empty() ? home.substr(0, home.size() - 1) : home + typed);
    }
    Form().EditOutputDir->setText("~/Clipwright test");
    Form().ActionNext->trigger();
    EXPECT_TRUE(Desktop().Messages.empty()) << LastMessage();
    EXPECT_EQ(Form().ActivePage(), wpStep3);
    EXPECT_EQ(F->Vars.OutputFileDir, home + "Clipwright test/");
    EXPECT_TRUE(std::filesystem::is_directory(home + "Clipwright test"));
    EXPECT_FALSE(std::filesystem::exists(home + "~"));
    ASSERT_TRUE(ProcessUntil([&] {
        return std::find(F->Handled.begin(), F->Handled.end(), WM_STARTCONVERT) != F->Handled.end();
    }));
    // The download folder box follows the same rule.
    Form().EditURLOutput->setText("~/Downloads/clips");
    Form().ReadDownloadPage();
    EXPECT_EQ(F->Vars.OutputURLDir, home + "Downloads/clips/");
    EXPECT_EQ(Form().EditURLOutput->text().toStdString(), home + "Downloads/clips");
}

TEST_F(WizardTest, StepTwoNextWithAFolderThatCannotBeCreatedOrNoFolderStays) {
    Make(true);
    const std::string file = F->Home.Folder.Path + "plain-file";
    std::ofstream(file) << "x";
    Form().ActivatePage(wpStep1);
    AddRow();
    Form().ActionNext->trigger();
    for (const std::string& folder : {file + "/sub/dir", std::string()}) {
        Form().EditOutputDir->setText(QString::fromStdString(folder));
        Desktop().Answers.push_back(mrOk);
        Form().ActionNext->trigger();
        EXPECT_EQ(LastMessage(), FolderFailed);
        EXPECT_EQ(Form().ActivePage(), wpStep2);
    }
    EXPECT_FALSE(std::filesystem::exists(file + "/sub"));
}

TEST_F(WizardTest, CancelOnStepThreeAsksAndOnlyYesStopsTheRun) {
    Make(true);
    Form().ActivatePage(wpStep3);
    Press(Form().ActionExit, mrNo);
    EXPECT_EQ(LastMessage(), "Do you really want to cancel the conversion?");
    EXPECT_EQ(Form().ActivePage(), wpStep3);
    Press(Form().ActionExit, mrYes);
    EXPECT_EQ(Form().ActivePage(), wpStep3) << "the stopped run shows the summary when it ends";
    Form().ActionNext->trigger(); // disabled on the progress page
    EXPECT_EQ(Form().ActivePage(), wpStep3);
}

TEST_F(WizardTest, FinishOnTheSummariesEmptiesTheListsAndReturnsToTheFirstPage) {
    Make(true);
    Form().ActivatePage(wpStep4);
    AddRow();
    TProgressItem item;
    item.Name = "clip.avi";
    Form().ProgressList->InsertItem(0, item);
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().InputRows->rowCount(), 0);
    EXPECT_EQ(Form().ProgressList->rowCount(), 0);

    Form().ActivatePage(wpStep7);
    AddLink("https://www.youtube.com/watch?v=a");
    TDownloadItem queued;
    queued.Caption = "a";
    Form().QueueList->SetItems({queued});
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().ListViewInputURL->topLevelItemCount(), 0);
    EXPECT_EQ(Form().QueueList->rowCount(), 0);
    EXPECT_TRUE(Desktop().Messages.empty());

    Make(false);
    Form().ActivatePage(wpStep4);
    AddRow();
    Form().ActionNext->trigger();
    EXPECT_EQ(Form().ActivePage(), wpStep1);
    EXPECT_EQ(Form().InputRows->rowCount(), 0);
}

TEST_F(WizardTest, StepFiveNeedsLinksAndAFolderAndAsksBeforeGoingBack) {
    Make(true);
    Form().ActionNext->trigger(); // mode page, download chosen
    ASSERT_EQ(Form().ActivePage(), wpStep5);
    Desktop().Answers.push_back(mrOk);
    Form().ActionNext->trigger();
    EXPECT_EQ(LastMessage(), "Please Copy & Paste the YouTube video links you want to download.");
    EXPECT_EQ(Form().ActivePage(), wpStep5);

    AddLink("https://www.youtube.com/watch?v=a");
    const std::string file = F->Home.Folder.Path + "plain-file";
    std::ofstream(file) << "x";
    Form().EditURLOutput->setText(QString::fromStdString(file + "/videos"));
    Desktop().Answers.push_back(mrOk);
    Form().ActionNext->trigger();
    EXPECT_EQ(LastMessage(), FolderFailed);
    EXPECT_EQ(Form().ActivePage(), wpStep5);

    for (QAction* command : {Form().ActionBack, Form().ActionExit}) {
        Press(command, mrNo);
        EXPECT_EQ(Form().ActivePage(), wpStep5);
        EXPECT_EQ(Form().ListViewInputURL->topLevelItemCount(), 1);
    }
    EXPECT_EQ(Desktop().Messages[Desktop().Messages.size() - 2].Message,
              "Are you sure to cancel and go back?");
    EXPECT_EQ(LastMessage(), "Are you sure to cancel?");
    Press(Form().ActionExit, mrYes);
    EXPECT_EQ(Form().ActivePage(), wpMode);
    EXPECT_EQ(Form().ListViewInputURL->topLevelItemCount(), 0);
}

TEST_F(WizardTest, StepFiveDownloadCreatesTheFolderAndMovesToTheProgressPage) {
    Make(true);
    Form().ActionNext->trigger();
    AddLink("https://www.youtube.com/watch?v=a");
    F->Vars.DownloadedFiles = {"old.flv"};
    const std::string target = F->Home.Folder.Path + "videos/new";
    Form().EditURLOutput->setText(QString::fromStdString(target));
    Form().CheckBoxYouTubeQuality->setChecked(false);
    Form().ActionNext->trigger();
    EXPECT_TRUE(Desktop().Messages.empty()) << LastMessage();
    EXPECT_EQ(Form().ActivePage(), wpStep6);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(F->Vars.OutputURLDir, target + "/");
    EXPECT_FALSE(F->Vars.PreferYouTubeQuality);
    EXPECT_TRUE(F->Vars.DownloadedFiles.empty());

    Press(Form().ActionExit, mrNo);
    EXPECT_EQ(LastMessage(), "Do you really want to cancel the downloading?");
    EXPECT_EQ(Form().ActivePage(), wpStep6);
}

TEST_F(WizardTest, ExitOnTheModeAndSummaryPagesQuitsOnlyAfterYes) {
    for (TWizardPage page : {wpMode, wpStep4, wpStep7}) {
        Make(true);
        Form().ActivatePage(page);
        Press(Form().ActionExit, mrNo);
        EXPECT_EQ(LastMessage(), "Are you sure to quit now?");
        EXPECT_EQ(F->ClosedCount, 0);
        EXPECT_EQ(Form().ActivePage(), page);
        Press(Form().ActionExit, mrYes);
        EXPECT_EQ(F->ClosedCount, 1) << WizardPageName(page);
    }
}

TEST_F(WizardTest, TheFolderPickerStoresTheChosenFolderWithASeparator) {
    Make(true);
    Form().ActivatePage(wpStep2);
    Desktop().FolderAnswer = "/media/films";
    Form().ButtonSelectDirClick();
    EXPECT_EQ(Desktop().FolderTitles, std::vector<std::string>{"Please select a folder"});
    EXPECT_EQ(Form().EditOutputDir->text(), "/media/films/");
    EXPECT_EQ(F->Vars.OutputFileDir, "/media/films/");
    Desktop().FolderAnswer.reset();
    Form().ButtonSelectDirClick(); // cancelled: nothing changes
    EXPECT_EQ(F->Vars.OutputFileDir, "/media/films/");
}

TEST_F(WizardTest, TheOutputPageShowsTheStoredClassAndFormats) {
    Make(true);
    F->Vars.OutputFormatClass = 2;
    F->Vars.OutputAudioFormat = 1;
    F->Vars.OutputVideoFormat = 4;
    F->Vars.OutputDeviceFormat = 200; // out of range: no device format is marked
    Form().PrepareOutputPage();
    EXPECT_TRUE(Form().ButtonToFormat[2]->isChecked());
    EXPECT_FALSE(Form().ButtonToFormat[0]->isChecked());
    EXPECT_TRUE(Form().ButtonFormat[2][1]->isChecked());
    EXPECT_TRUE(Form().ButtonFormat[0][4]->isChecked());
    for (auto* b : Form().ButtonFormat[1])
        EXPECT_FALSE(b->isChecked());
    // Choosing a format elsewhere keeps the class; choosing a class button changes it.
    Form().ButtonFormat[0][1]->click();
    EXPECT_EQ(F->Vars.OutputVideoFormat, 1);
    EXPECT_EQ(F->Vars.OutputFormatClass, 2);
    Form().ButtonToFormat[1]->click();
    EXPECT_EQ(F->Vars.OutputFormatClass, 1);
}

} // namespace
