#include "app/GlobalVars.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "ui/FormAbout.h"
#include "ui/FormFailedAddFile.h"
#include "ui/FormLog.h"
#include "ui/FormShutdown.h"
#include "ui/Widgets.h"

#include "UiTestSupport.h"

#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

using namespace cw;

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Vars.DataDir = Data.Path;
        Vars.Version = "2.5 beta";
        Vars.Copyright = "Test Makers";
        Vars.HelpHomePageLink = "https://help.example/home";
        Vars.HelpSupportLink = "https://help.example/support";
        Vars.HelpCheckForUpdatesLink = "https://help.example/updates";
    }
    test::TDesktopScope Scope;
    test::TRecordingDesktop& Desktop = Scope.Desktop;
    test::TTempDir Data;
    TGlobalVars Vars;
};

// --- log window ---------------------------------------------------------------------------

TEST_F(DialogsTest, DeletingTheLogAnsweredNoOrCancelChangesNothingAndYesEmptiesIt) {
    TFormLog log(Vars);
    log.AppendLine("File load error: a.avi: Invalid data");
    log.AppendLine("File has been added to convert list.");
    for (int answer : {int(mrNo), int(mrCancel)}) {
        Desktop.Answers.push_back(answer);
        log.ButtonDelete->click();
        EXPECT_EQ(log.Lines().size(), 2);
        EXPECT_TRUE(log.ButtonSave->isEnabled());
    }
    ASSERT_EQ(Desktop.Messages.size(), 2u);
    const auto& asked = Desktop.Messages[0];
    EXPECT_EQ(asked.Message, "Really delete log file?");
    EXPECT_EQ(asked.Caption, "Delete log?");
    EXPECT_EQ(asked.Kind, mtConfirmation);
    EXPECT_EQ(asked.Buttons, (std::vector<TMsgDlgButton>{mbYes, mbNo, mbCancel}));

    Desktop.Answers.push_back(mrYes);
    log.ButtonDelete->click();
    EXPECT_TRUE(log.Lines().isEmpty());
    EXPECT_FALSE(log.ButtonSave->isEnabled());
    // New lines still arrive; Save stays off until the program ends.
    log.AppendLine("later");
    EXPECT_EQ(log.Lines(), QStringList{"later"});
    EXPECT_FALSE(log.ButtonSave->isEnabled());
}

TEST_F(DialogsTest, ALogWindowStoredBeyondTheRightEdgeIsPulledBackWhenShownAndSavedOnClose) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    TIniFile ini;
    ini.WriteInteger("FormLog", "x", screen.width() + 500);
    ini.WriteInteger("FormLog", "y", 30);
    ini.WriteInteger("FormLog", "width", 400);
    ini.WriteInteger("FormLog", "height", 200);
    ini.Save(SettingsFilePath(Vars));

    TFormLog log(Vars);
    log.show();
    EXPECT_EQ(log.x(), screen.width() - 400);
    EXPECT_EQ(log.y(), 30);
    EXPECT_TRUE(log.windowFlags() & Qt::WindowStaysOnTopHint);

    log.move(12, 34);
    log.ButtonOK->click(); // closes, which saves the placement
    EXPECT_FALSE(log.isVisible());
    TIniFile saved;
    saved.Load(SettingsFilePath(Vars));
    EXPECT_EQ(saved.ReadInteger("FormLog", "x", -1), 12);
    EXPECT_EQ(saved.ReadInteger("FormLog", "y", -1), 34);
    EXPECT_EQ(saved.ReadInteger("FormLog", "width", -1), log.width());
    EXPECT_FALSE(saved.ReadBool("FormLog", "maximized", true));
}

TEST_F(DialogsTest, LogButtonsStayCentredAsAGroupAndTheLogSavesAsText) {
    TFormLog log(Vars);
    log.resize(700, 300);
    log.show();
    auto check = [&] {
        const int group = log.ButtonSave->x() + log.ButtonSave->width() - log.ButtonOK->x();
        EXPECT_EQ(log.ButtonOK->x(), log.PanelBottom->width() / 2 - group / 2);
        EXPECT_EQ(log.ButtonDelete->x(), log.ButtonOK->x() + log.ButtonOK->width() + 8);
        EXPECT_EQ(log.ButtonSave->x(), log.ButtonDelete->x() + log.ButtonDelete->width() + 8);
    };
    check();
    log.resize(420, 300);
    test::ProcessPending();
    check();

    EXPECT_EQ(log.SaveDialog->defaultSuffix(), "log");
    EXPECT_EQ(log.SaveDialog->nameFilters(),
              (QStringList{"Log-Files (*.log)", "Text-Files (*.txt)", "All Files (*.*)"}));
    log.AppendLine("first");
    log.AppendLine("second line");
    const QString path = QString::fromStdString(Data.Path + "out.log");
    ASSERT_TRUE(log.SaveLogTo(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "first\nsecond line\n");
    EXPECT_FALSE(log.SaveLogTo(QString::fromStdString(Data.Path + "missing/out.log")));
}

// --- shutdown countdown --------------------------------------------------------------------

TEST_F(DialogsTest, CountdownShowsThirtySecondsAndEndsWithOkAtTheThirtyFirstTick) {
    TFormShutdown dialog("Clipwright Test");
    EXPECT_EQ(dialog.LabelTimeOut->text(), "Time left: 30");
    EXPECT_TRUE(dialog.TimerShutdown->isActive());
    EXPECT_EQ(dialog.TimerShutdown->interval(), 1000);
    int finished = -1;
    QObject::connect(&dialog, &QDialog::finished, [&](int result) { finished = result; });
    dialog.open();
    EXPECT_EQ(dialog.LabelShutdownDescription->text(),
              "If you don't press cancel now, \nClipwright Test\nwill shutdown Windows.");
    for (int tick = 1; tick <= 30; ++tick)
        dialog.TimerShutdownTimer();
    EXPECT_EQ(dialog.LabelTimeOut->text(), "Time left: 0");
    EXPECT_EQ(finished, -1) << "still counting after 30 ticks";
    EXPECT_TRUE(dialog.isVisible());
    dialog.TimerShutdownTimer();
    EXPECT_EQ(finished, int(QDialog::Accepted));
    EXPECT_FALSE(dialog.TimerShutdown->isActive());
}

TEST_F(DialogsTest, CountdownCancelledAtAnyTimeEndsWithCancel) {
    TFormShutdown dialog("T");
    dialog.open();
    for (int tick = 0; tick < 12; ++tick)
        dialog.TimerShutdownTimer();
    EXPECT_EQ(dialog.LabelTimeOut->text(), "Time left: 18");
    EXPECT_TRUE(dialog.ButtonCancel->isDefault());
    dialog.ButtonCancel->click();
    EXPECT_EQ(dialog.result(), int(QDialog::Rejected));
    EXPECT_FALSE(dialog.isVisible());
}

// --- failed files ----------------------------------------------------------------------------

TEST_F(DialogsTest, FailedFilesAreListedInOrderAndMoreInformationOpensTheSupportLink) {
    TFormFailedAddFile dialog({"a.avi: Invalid data", "b.mkv: No such file"}, Vars.HelpSupportLink);
    EXPECT_EQ(dialog.windowTitle(), "Failed to Add Files");
    ASSERT_EQ(dialog.ListViewFiles->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.ListViewFiles->topLevelItem(0)->text(0), "a.avi: Invalid data");
    EXPECT_EQ(dialog.ListViewFiles->topLevelItem(1)->text(0), "b.mkv: No such file");
    EXPECT_EQ(dialog.ListViewFiles->headerItem()->text(0), "File");
    dialog.ButtonMoreInfo->click();
    EXPECT_EQ(Desktop.Opened, (std::vector<std::string>{"https://help.example/support"}));
    dialog.open();
    dialog.ButtonClose->click();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
}

// --- about box -----------------------------------------------------------------------------

TEST_F(DialogsTest, AboutBoxShowsTitleVersionYearAndLinksAndOpensThem) {
    TFormAbout about("Clipwright Test", Vars, std::string(CW_BIN_DIR) + "/sounds/default/", 2031);
    EXPECT_EQ(about.windowTitle(), "About ");
    EXPECT_EQ(about.LabelVersion->text(), "2.5 beta");
    EXPECT_EQ(about.LabalTitle->text(), "Clipwright Test 2.5 beta");
    EXPECT_TRUE(about.LabelCopyright->text().contains("2031"));
    EXPECT_TRUE(about.LabelCopyright->text().contains("Test Makers"));
    EXPECT_EQ(about.LabelWeb->text(), "https://help.example/home");
    EXPECT_EQ(about.LabelSupportEmail->text(), "https://help.example/support");
    EXPECT_FALSE(about.ImageLeft->pixmap().isNull()) << "the left picture comes from leftlogo.png";
    EXPECT_EQ(about.PageControl->tabText(0), "About");
    EXPECT_EQ(about.PageControl->tabText(1), "Update");

    emit about.LabelWeb->Clicked();
    emit about.LabelSupportEmail->Clicked();
    about.ButtonUpdates->click();
    emit about.ImageLeft->Clicked();
    EXPECT_EQ(Desktop.Opened, (std::vector<std::string>{
                                  "https://help.example/home", "https://help.example/support",
                                  "https://help.example/updates", "https://help.example/updates"}));
}

TEST_F(DialogsTest, AboutBoxOfSkinThreeHasNoLeftPictureAndIsNarrower) {
    TFormAbout wide("T", Vars, std::string(CW_BIN_DIR) + "/sounds/default/", 2030);
    Vars.Skin = 3;
    TFormAbout narrow("T", Vars, std::string(CW_BIN_DIR) + "/sounds/default/", 2030);
    narrow.show();
    EXPECT_FALSE(narrow.PanelmageLeft->isVisible());
    EXPECT_EQ(narrow.PageControl->x(), 10);
    const int right = narrow.PageControl->x() + narrow.PageControl->width();
    EXPECT_EQ(narrow.ButtonOK->x() + narrow.ButtonOK->width(), right);
    EXPECT_EQ(narrow.width(), right + 15);
    EXPECT_LT(narrow.width(), wide.width());
}

} // namespace
