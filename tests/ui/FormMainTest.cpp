// The main window's start-up, branding, skins, commands and close sequence.
#include "app/IniFile.h"
#include "app/Settings.h"
#include "engine/FFLogger.h"
#include "script/Script.h"
#include "ui/SkinLayout.h"
#include "ui/Widgets.h"
#include "control/WindowMessages.h"

#include "convert/InputListModel.h"
#include "FormSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <thread>

using namespace cw;
using namespace cw::test;

namespace {

QSize ScreenSize() {
    return QGuiApplication::primaryScreen()->geometry().size();
}

TEST(FormMainStart, FirstStartAppliesTheBrandingCentresTheWindowAndShowsItThroughWmShowmain) {
    TFormFixture f(BrandingText("Tool A/B", true, false));
    TFormMain& form = *f.Form;
    EXPECT_EQ(form.windowTitle(), "Tool A/B");
    EXPECT_EQ(form.ActivePage(), wpMode);
    EXPECT_EQ(form.LabelTitle->text(), "Welcome to Tool A/B! What do you want to do?");
    EXPECT_EQ(form.LabelVersion->text(), "Version: 1.2");
    EXPECT_EQ(form.LabelFinishTitle1->text(), "Tool A/B has finished the conversion.");
    EXPECT_EQ(form.LabelFinishTitle2->text(),
              "To convert other files, click \"Finish\". Click \"Exit\" to quit Tool A/B.");
    EXPECT_EQ(form.LabelFinishedDownloading1->text(), "Tool A/B has finished the downloading.");
    EXPECT_EQ(form.LabelFinishedDownloading2->text(), form.LabelFinishTitle2->text());
    EXPECT_EQ(form.size(), QSize(772, 547));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);

    // First run: the settings file is written and the window sits in the screen's middle.
    EXPECT_TRUE(form.Startup().FirstRun);
    EXPECT_TRUE(std::filesystem::exists(f.Home.ConfigFolder() + "Tool A B/~system2.dat"));
    EXPECT_EQ(form.pos(),
              QPoint((ScreenSize().width() - 772) / 2, (ScreenSize().height() - 547) / 2));

    // The artwork of the edition is in place: pictures size the buttons, the frame shapes
    // the window, and nothing was reported missing.
    EXPECT_EQ(form.ButtonNext->size(), QSize(88, 28));
    EXPECT_EQ(form.ButtonClose->size(), form.Artwork().Close[0].size());
    EXPECT_FALSE(form.mask().isEmpty());
    EXPECT_FALSE(form.ImageTopLogo->pixmap().isNull());
    for (const QString& line : f.Log->Lines())
        EXPECT_FALSE(line.startsWith("Missing picture")) << line.toStdString();

    // Creation posted WM_SHOWMAIN; showing posts WM_LOADPROMO, which comes after it.
    EXPECT_FALSE(form.isVisible());
    ASSERT_TRUE(ProcessUntil([&] { return f.Handled.size() >= 2; }));
    EXPECT_EQ(f.Handled, (std::vector<int>{WM_SHOWMAIN, WM_LOADPROMO}));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.LabelVersion->isVisible());
    EXPECT_FALSE(form.LabelMoreTools->isVisible());
    EXPECT_EQ(form.LabelMoreTools->text(), "more free tools...");
    EXPECT_EQ(form.ActionMoreFreeTools->text(), "More Free Tools...");
    EXPECT_FALSE(form.ImageAd->isVisible());
    EXPECT_FALSE(form.clProgressBar->isVisible());
}

TEST(FormMainStart, ALaterStartKeepsTheStoredPlacementAndTheConvertEditionStartsOnStepOne) {
    TFormFixture f(BrandingText("Converter", false, false));
    EXPECT_EQ(f.Form->ActivePage(), wpStep1);
    f.Form->move(12, 40);
    f.Form->close();
    ASSERT_EQ(f.ClosedCount, 1);
    f.Create();
    EXPECT_FALSE(f.Form->Startup().FirstRun);
    EXPECT_EQ(f.Form->pos(), QPoint(12, 40));
    EXPECT_EQ(f.Form->ActivePage(), wpStep1);
    EXPECT_EQ(f.Form->LabelTitle->text().toStdString(),
              "Select the file(s) you want to convert. Use \"Move Up\" and \"Move Down\" to change "
              "the order.");
}

TEST(FormMainStart, TheMediaLibrariesAreBoundAtStartAndTheEngineLogReachesTheLogWindow) {
    TFormFixture f(BrandingText("T", true, false));
    EXPECT_TRUE(f.Form->LibrariesLoaded()) << f.Log->Lines().join("\n").toStdString();
    ASSERT_TRUE(f.Form->Controller->Encoder());
    f.Form->Controller->Logger().Log(llError, "Could not open codec");
    ASSERT_FALSE(f.Log->Lines().isEmpty());
    const QString line = f.Log->Lines().last();
    EXPECT_TRUE(line.startsWith("#")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(".3: Could not open codec")) << line.toStdString();
    // Below the window's level nothing arrives.
    const auto count = f.Log->Lines().size();
    f.Form->Controller->Logger().Log(llWarning, "just a warning");
    EXPECT_EQ(f.Log->Lines().size(), count);
}

TEST(FormMainStart, TheScriptHostKnowsTheWindowAsFormAndHasAHostItem) {
    TFormFixture f(BrandingText("T", true, false));
    ASSERT_TRUE(f.Form->Controller->ScriptHost());
    EXPECT_TRUE(f.Form->Controller->ScriptHost()->FindItem("Form"));
    EXPECT_TRUE(f.Form->Controller->ScriptHost()->FindItem("Host"));
    std::vector<std::string> echoed;
    f.Form->Controller->HostItem()->OnEcho = [&](THostScriptlet&, const std::string& text) {
        echoed.push_back(text);
    };
    f.Form->Controller->ScriptHost()->Lines = {"Host.Echo(Form.LabelTitle.Caption);"};
    f.Form->Controller->ScriptHost()->Run();
    EXPECT_EQ(echoed, (std::vector<std::string>{"Welcome to T! What do you want to do?"}));
}

TEST(FormMainStart, AMissingBrandingFileStopsTheStartNamingTheFile) {
    TDesktopScope scope;
    TTempHome home;
    TTempDir program;
    TGlobalVars vars;
    TFormLog log(vars);
    try {
        TFormMain form(program.Path, log, vars);
        ADD_FAILURE() << "the window was created without its branding file";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(program.Path + "lamecore.dll"), std::string::npos)
            << e.what();
    }
}

TEST(FormMainStart, MissingArtworkIsLoggedAndTheWindowStillWorks) {
    std::string branding = BrandingText("T", true, false);
    branding.replace(branding.find("ResFolder=default"), 17, "ResFolder=absent");
    TFormFixture f(branding);
    const QStringList lines = f.Log->Lines();
    EXPECT_TRUE(lines.contains(
        QString::fromStdString("Missing picture: " + f.Program.Path() + "sounds/absent/main.bmp")))
        << lines.join("\n").toStdString();
    EXPECT_TRUE(f.Form->mask().isEmpty());
    EXPECT_EQ(f.Form->ButtonNext->size(), QSize(88, 28));
    EXPECT_EQ(f.Form->ButtonNext->text(), "Next");
    QImage drawn(f.Form->size(), QImage::Format_ARGB32_Premultiplied);
    f.Form->render(&drawn); // the plain frame paints without pictures
    EXPECT_EQ(f.Form->ActivePage(), wpMode);
}

TEST(FormMainStart, TwoBrandingTitlesHideVersionToolsHelpAndLog) {
    TFormFixture f(BrandingText("Skellwin", true, false));
    f.Form->show();
    EXPECT_FALSE(f.Form->ButtonHelp->isVisible());
    EXPECT_FALSE(f.Form->ButtonLog->isVisible());
    EXPECT_TRUE(f.Form->ButtonNext->isVisible());
    EXPECT_TRUE(f.Form->LabelVersion->isHidden());
    EXPECT_TRUE(f.Form->LabelMoreTools->isHidden());
}

// --- branding: format grid and class selectors -----------------------------------------------

TEST(FormMainBranding, EveryFormatOfferedFillsTheGridAndThreeSelectors) {
    TFormFixture f(BrandingText("T", true, false));
    TFormMain& form = *f.Form;
    // The class pages are 533 pixels wide: eight buttons per row, the ninth video format
    // starts the second row.
    EXPECT_EQ(form.ButtonFormat[0][0]->pos(), QPoint(10, 5));
    EXPECT_EQ(form.ButtonFormat[0][7]->pos(), QPoint(10 + 7 * 64, 5));
    EXPECT_EQ(form.ButtonFormat[0][8]->objectName(), "ButtonFormat3GP");
    EXPECT_EQ(form.ButtonFormat[0][8]->pos(), QPoint(10, 65));
    EXPECT_EQ(form.ButtonFormat[0][8]->size(), QSize(62, 57));
    EXPECT_EQ(form.ButtonToFormat[0]->pos(), QPoint(18, 135));
    EXPECT_EQ(form.ButtonToFormat[1]->pos(), QPoint(189, 135));
    EXPECT_EQ(form.ButtonToFormat[2]->pos(), QPoint(360, 135));
    EXPECT_EQ(form.RzPageControlToFormat->y(), 172);
    for (auto* b : form.ButtonToFormat)
        EXPECT_FALSE(b->isHidden());
}

TEST(FormMainBranding, OnlyTwoAudioFormatsLeaveOneClassSoEverySelectorGoesAndThePagesMoveUp) {
    TFormFixture f(BrandingText("T", true, false, 0, "", "WAV=True\r\nMP3=Yes\r\nWMA=true\r\n"));
    TFormMain& form = *f.Form;
    EXPECT_FALSE(form.ButtonFormat[2][0]->isHidden());
    EXPECT_EQ(form.ButtonFormat[2][0]->pos(), QPoint(10, 5));
    EXPECT_FALSE(form.ButtonFormat[2][1]->isHidden());
    EXPECT_EQ(form.ButtonFormat[2][1]->pos(), QPoint(74, 5));
    EXPECT_TRUE(form.ButtonFormat[2][2]->isHidden()) << "lower-case true does not enable";
    for (auto* b : form.ButtonFormat[0])
        EXPECT_TRUE(b->isHidden());
    for (auto* b : form.ButtonToFormat)
        EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(form.RzPageControlToFormat->y(), 120);
}

TEST(FormMainBranding, AClassWithoutFormatsLosesItsSelectorAndTheOthersCloseUp) {
    std::string formats;
    for (int c : {0, 2})
        for (const auto& key : FormatKeys(c))
            formats += key + "=True\r\n";
    TFormFixture f(BrandingText("T", true, false, 0, "", formats));
    EXPECT_FALSE(f.Form->ButtonToFormat[0]->isHidden());
    EXPECT_TRUE(f.Form->ButtonToFormat[1]->isHidden());
    EXPECT_EQ(f.Form->ButtonToFormat[2]->pos(), QPoint(189, 135));
    EXPECT_EQ(f.Form->RzPageControlToFormat->y(), 172);
}

TEST(FormMainBranding, AChoiceTheEditionHidesGivesWayToTheFirstItOffersAndOthersAreKept) {
    struct TCase {
        const char* Name;
        std::string Formats;
        int StoredClass, StoredVideo, StoredAudio;
        int ShownClass, ShownVideo, ShownAudio;
    };
    const TCase cases[] = {
        // Audio only (WAV and MP3): the stored video class and AVI give way to audio and WAV;
        // the video format stays stored for an edition that offers it.
        {"audio only, video stored", "WAV=True\r\nMP3=True\r\n", 0, 0, 0, 2, 0, 0},
        {"audio only, FLAC stored", "WAV=True\r\nMP3=True\r\n", 2, 4, 6, 2, 4, 0},
        {"audio only, MP3 stored", "MP3=True\r\nWAV=True\r\n", 2, 4, 1, 2, 4, 1},
        // MP4 and MP3 only: a stored AVI becomes MP4; the stored class is offered and stays.
        {"two classes, AVI stored", "MP4=True\r\nMP3=True\r\n", 0, 0, 1, 0, 1, 1},
        // A number outside its class selects nothing, as always.
        {"out of range", "MP4=True\r\nMP3=True\r\n", 0, 40, 1, 0, 40, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TFormFixture f(BrandingText("T", false, false, 0, "", c.Formats));
        f.Vars.OutputFormatClass = uint8_t(c.StoredClass);
        f.Vars.OutputVideoFormat = uint8_t(c.StoredVideo);
        f.Vars.OutputAudioFormat = uint8_t(c.StoredAudio);
        const int deviceStored = f.Vars.OutputDeviceFormat;
        TFormMain& form = *f.Form;
        form.InputRows->AppendRow(TInputRow{});
        form.ActionNext->trigger();
        ASSERT_EQ(form.ActivePage(), wpStep2);
        EXPECT_EQ(f.Vars.OutputFormatClass, c.ShownClass);
        EXPECT_EQ(f.Vars.OutputVideoFormat, c.ShownVideo);
        EXPECT_EQ(f.Vars.OutputAudioFormat, c.ShownAudio);
        EXPECT_EQ(f.Vars.OutputDeviceFormat, deviceStored); // no device format is offered
        // What the page shows is what a conversion takes: the shown class panel, and its
        // shown format button.
        EXPECT_EQ(form.RzPageControlToFormat->currentIndex(), c.ShownClass);
        const int shownFormat = c.ShownClass == 2 ? c.ShownAudio : c.ShownVideo;
        const auto& buttons = form.ButtonFormat[size_t(c.ShownClass)];
        if (shownFormat < int(buttons.size())) {
            EXPECT_TRUE(buttons[size_t(shownFormat)]->isChecked());
            EXPECT_FALSE(buttons[size_t(shownFormat)]->isHidden());
        }
    }
}

// --- skins -----------------------------------------------------------------------------------

TEST(FormMainSkin, EveryControlOfEveryPageLiesInsideTheWindowAndTakesTheMouseInEachLayout) {
    for (int skin = 0; skin <= 3; ++skin) {
        SCOPED_TRACE("Skin " + std::to_string(skin));
        TFormFixture f(BrandingText("T", true, false, skin));
        TFormMain& form = *f.Form;
        form.show();
        ASSERT_TRUE(ProcessUntil([&] { return form.isVisible(); }));
        EXPECT_GE(form.width(), MainWindowWidth);
        EXPECT_GE(form.height(), MainWindowHeight);
        const QRegion mask = form.mask().isEmpty() ? QRegion(form.rect()) : form.mask();
        // Only the controls of the page that is shown can be reached; every page in turn.
        for (int page = 0; page < WizardPageCount; ++page) {
            form.ActivatePage(TWizardPage(page));
            form.PrepareOutputPage();
            ProcessPending();
            for (QWidget* w : form.findChildren<QWidget*>()) {
                const bool control = qobject_cast<QAbstractButton*>(w) ||
                                     qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                                     qobject_cast<QAbstractItemView*>(w);
                if (!control || !w->isVisible() || w->window() != &form)
                    continue;
                SCOPED_TRACE(WizardPageName(TWizardPage(page)) + std::string(" ") +
                             w->objectName().toStdString() + " " +
                             w->accessibleName().toStdString());
                const QRect r(w->mapTo(&form, QPoint(0, 0)), w->size());
                EXPECT_TRUE(form.rect().contains(r))
                    << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
                const QPoint middle = r.center();
                EXPECT_TRUE(mask.contains(middle));
                QWidget* hit = form.childAt(middle);
                EXPECT_TRUE(hit == w || (hit && w->isAncestorOf(hit)))
                    << "covered by " << (hit ? hit->objectName().toStdString() : "nothing");
            }
        }
    }
}

TEST(FormMainSkin, LayoutTwoMovesTheChromeAndShiftsTheHelpMenu) {
    TFormFixture f(BrandingText("T", true, false, 2));
    TFormMain& form = *f.Form;
    EXPECT_EQ(form.ButtonMin->pos(), QPoint(696, 6));
    EXPECT_EQ(form.ButtonClose->pos(), QPoint(728, 4));
    EXPECT_EQ(form.ButtonHelp->pos(), QPoint(40, 513));
    EXPECT_EQ(form.ButtonExit->pos(), QPoint(672, 513));
    EXPECT_EQ(form.PageControlMain->pos(), QPoint(198, 74));
    const QPoint origin = form.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(form.HelpMenuPosition(), QPoint(40 + origin.x() + 5, 513 + origin.y() + 28));
}

TEST(FormMainSkin, LayoutThreeHidesTheWindowButtonsAndUsesTransparentCommandButtons) {
    TFormFixture f(BrandingText("T", true, false, 3));
    TFormMain& form = *f.Form;
    EXPECT_TRUE(form.ButtonMin->isHidden());
    EXPECT_TRUE(form.ButtonClose->isHidden());
    EXPECT_EQ(form.LabelTitle->pos(), QPoint(215, 55));
    EXPECT_FALSE(form.LabelTitle->font().bold());
    EXPECT_EQ(form.LabelVersion->y(), 165);
    EXPECT_EQ(form.LabelMoreTools->y(), 180);
    EXPECT_EQ(form.ButtonNext->pos(), QPoint(460, 515));
    EXPECT_EQ(form.LabelVersion->palette().color(QPalette::WindowText), QColor(Qt::white));
    // A transparent button draws no picture: away from its caption nothing is painted.
    QImage drawn(form.ButtonNext->size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    form.ButtonNext->render(&drawn, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(qAlpha(drawn.pixel(4, 4)), 0);
    drawn.fill(Qt::transparent);
    form.ButtonHelp->SetTransparent(false);
    form.ButtonHelp->render(&drawn, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(qAlpha(drawn.pixel(4, 4)), 255) << "with its picture the button is painted";
}

TEST(FormMainSkin, AnUnknownLayoutKeepsTheDesignedPositions) {
    TFormFixture f(BrandingText("T", true, false, 9));
    EXPECT_EQ(f.Form->ButtonNext->pos(), QPoint(522, 510));
    EXPECT_EQ(f.Form->ButtonMin->pos(), QPoint(696, 4));
    EXPECT_EQ(f.Form->PageControlMain->pos(), QPoint(203, 74));
    EXPECT_EQ(SkinLayout(9), nullptr);
}

// --- commands ---------------------------------------------------------------------------------

TEST(FormMainCommands, TheHelpMenuHoldsSevenEntriesAndThreeSeparatorsThatOpenTheirLinks) {
    TFormFixture f(BrandingText("T", true, false));
    TFormMain& form = *f.Form;
    QStringList entries;
    for (QAction* a : form.PopupMenuHelp->actions())
        entries << (a->isSeparator() ? QString("-") : a->text().replace("&&", "&"));
    EXPECT_EQ(entries,
              (QStringList{"Help Content", "How Tos & Tutorial Videos...", "-", "Home Page...",
                           "More Free Tools...", "-", "Check for Updates...",
                           "Contact Technical Support...", "-", "About"}));
    for (QAction* a : form.PopupMenuHelp->actions())
        if (!a->isSeparator() && a != form.ActionAbout)
            a->trigger();
    EXPECT_EQ(
        f.Desktop.Opened,
        (std::vector<std::string>{"https://help.example/content", "https://help.example/howto",
                                  "https://help.example/home", "https://help.example/tools",
                                  "https://help.example/updates", "https://help.example/support"}));
    emit form.LabelMoreTools->Clicked();
    EXPECT_EQ(f.Desktop.Opened.back(), "https://help.example/tools");

    form.show();
    form.ButtonHelp->click();
    EXPECT_TRUE(form.PopupMenuHelp->isVisible());
    form.PopupMenuHelp->close();
}

TEST(FormMainCommands, F1OpensTheHelpContentFromEveryPage) {
    TFormFixture f(BrandingText("T", true, false));
    TFormMain& form = *f.Form;
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (int p = 0; p < WizardPageCount; ++p) {
        form.ActivatePage(TWizardPage(p));
        QTest::keyClick(&form, Qt::Key_F1);
    }
    EXPECT_EQ(f.Desktop.Opened,
              std::vector<std::string>(WizardPageCount, "https://help.example/content"));
}

TEST(FormMainCommands, TheLogCommandShowsTheLogWindowWithoutBlocking) {
    TFormFixture f(BrandingText("T", true, false));
    f.Form->ButtonLog->click();
    EXPECT_TRUE(f.Log->isVisible());
    EXPECT_FALSE(f.Log->isModal());
    f.Log->close();
}

TEST(FormMainCommands, ClipboardTextEnablesPasteAndAPictureDisablesIt) {
    TFormFixture f(BrandingText("T", true, false));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("https://www.youtube.com/watch?v=abc");
    ASSERT_TRUE(ProcessUntil([&] { return !f.Form->ClipboardHasNoText(); }));
    EXPECT_TRUE(f.Form->ActionURLPaste->isEnabled());
    EXPECT_TRUE(f.Form->ButtonURLPaste->isEnabled());
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    clipboard->setImage(picture);
    ASSERT_TRUE(ProcessUntil([&] { return f.Form->ClipboardHasNoText(); }));
    EXPECT_FALSE(f.Form->ActionURLPaste->isEnabled());
    EXPECT_FALSE(f.Form->ButtonURLPaste->isEnabled());
    EXPECT_NE(std::find(f.Handled.begin(), f.Handled.end(), WM_DRAWCLIPBOARD), f.Handled.end());
}

TEST(FormMainCommands, DraggingALogoMovesTheWindow) {
    TFormFixture f(BrandingText("T", true, false));
    TFormMain& form = *f.Form;
    form.move(50, 50);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QPoint start = form.pos();
    QTest::mousePress(form.ImageTopLogo, Qt::LeftButton, {}, QPoint(100, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(130, 30),
                     form.ImageTopLogo->mapToGlobal(QPointF(130, 30)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(form.ImageTopLogo, &move);
    QTest::mouseRelease(form.ImageTopLogo, Qt::LeftButton, {}, QPoint(130, 30));
    EXPECT_EQ(form.pos(), start + QPoint(30, 20));
}

TEST(FormMainCommands, PictureButtonsAreReachedByKeyboardAndNamedByTheirCaption) {
    TFormFixture f(BrandingText("T", true, true));
    TFormMain& form = *f.Form;
    form.ActivatePage(wpStep2);
    QAccessibleInterface* next = QAccessible::queryAccessibleInterface(form.ButtonNext);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->text(QAccessible::Name), "Join Now");
    EXPECT_EQ(next->role(), QAccessible::Button);
    EXPECT_TRUE(form.ButtonNext->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(form.ButtonClose)->text(QAccessible::Name),
              "Close");
    // A disabled command shows its own picture and no action runs from it.
    form.ActivatePage(wpStep3);
    EXPECT_FALSE(form.ButtonNext->isEnabled());
    EXPECT_EQ(form.ButtonNext->State(), TImageButton::bsDisabled);
    EXPECT_FALSE(form.ButtonNext->Picture(TImageButton::bsDisabled).isNull());
}

TEST(FormMainCommands, EveryNamedControlOfTheWindowExists) {
    TFormFixture f(BrandingText("T", true, false));
    for (const char* name : {"LabelTitle",
                             "LabelVersion",
                             "LabelMoreTools",
                             "ImageLeftLogo",
                             "ImageTopLogo",
                             "ButtonMin",
                             "ButtonClose",
                             "ButtonHelp",
                             "ButtonLog",
                             "ButtonBack",
                             "ButtonNext",
                             "ButtonExit",
                             "PageControlMain",
                             "ImageAd",
                             "clProgressBar",
                             "TabSheetMode",
                             "ImageDownloadVideo",
                             "ImageConvertVideo",
                             "RadioButtonDownloadVideo",
                             "RadioButtonConvertVideo",
                             "TabSheetStep1",
                             "NextGrid",
                             "PopupMenuNextGrid",
                             "ButtonAdd",
                             "ButtonDelete",
                             "ButtonClear",
                             "ButtonMoveUp",
                             "ButtonMoveDown",
                             "ButtonPlay",
                             "ImageAudioIcon",
                             "TabSheetStep2",
                             "LabelOutputDir",
                             "EditOutputDir",
                             "ButtonSelectDir",
                             "LabelConvertTo",
                             "ButtonToFormatVideo",
                             "ButtonToFormatDevice",
                             "ButtonToFormatAudio",
                             "RzPageControlToFormat",
                             "TabSheetToFormatVideo",
                             "TabSheetToFormatDevice",
                             "TabSheetToFormatAudio",
                             "ButtonFormatAVI",
                             "ButtonFormatMobilePhone",
                             "ButtonFormatMP2",
                             "TabSheetStep3",
                             "ListViewConverting",
                             "LabelCurrentFile",
                             "LabelEstimated",
                             "LabelElapsed",
                             "LabelTimeLeft",
                             "LabelProgress",
                             "ProgressBar",
                             "CheckBoxPlayASound",
                             "CheckBoxShutdown",
                             "CheckBoxPreview",
                             "TabSheetStep4",
                             "LabelFinishTitle1",
                             "LabelFinishTotalFiles",
                             "LabelFinishSuccessed",
                             "LabelFinishFailed",
                             "LabelFinishTitle2",
                             "LabelOpenFolder",
                             "MemoErrorLog",
                             "TabSheetStep5",
                             "ListViewInputURL",
                             "ButtonURLPaste",
                             "ButtonURLRemove",
                             "ButtonURLEmpty",
                             "LabelURLOutputDir",
                             "EditURLOutput",
                             "ButtonURLSelect",
                             "LabelYouTubeQuality",
                             "CheckBoxYouTubeQuality",
                             "ButtonYouTubeQualityConfig",
                             "TabSheetStep6",
                             "ListViewURLDownload",
                             "TabSheetStep7",
                             "LabelURLOpenFolder",
                             "ButtonConvertDownloaded",
                             "OpenDialog",
                             "PopupMenuHelp",
                             "PopupMenuListViewURL",
                             "ActionHelp",
                             "ActionHelpContent",
                             "ActionHowTosTutorialVideos",
                             "ActionHomePage",
                             "ActionMoreFreeTools",
                             "ActionCheckforUpdates",
                             "ActionContactTechnicalSupport",
                             "ActionAbout",
                             "ActionLog",
                             "ActionExit",
                             "ActionBack",
                             "ActionNext"})
        EXPECT_TRUE(f.Form->findChild<QObject*>(name)) << name;
    EXPECT_EQ(f.Form->ActionHelpContent->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(f.Form->ActionExit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
}

TEST(FormMainCommands, TheAddDialogOffersTheFilterOfTheText) {
    const QStringList filters = NameFiltersFromText(OpenDialogFilter);
    ASSERT_EQ(filters.size(), 4);
    EXPECT_TRUE(filters[0].startsWith("All Supported Formats (*.AVI *.avi *.AVM *.avm"));
    EXPECT_TRUE(filters[1].startsWith("All Video Formats (all types) ("));
    EXPECT_TRUE(filters[1].contains("*.WEBM *.webm)"));
    EXPECT_TRUE(filters[2].contains("*.DTS *.dts)"));
    EXPECT_EQ(filters[3], "All Files (*.*)");
}

// --- messages ----------------------------------------------------------------------------

TEST(FormMainMessages, PostedMessagesRunLaterInOrderAndSentOnesRunAtOnceOnTheGuiThread) {
    TFormFixture f(BrandingText("T", true, false));
    // WM_SHOWMAIN, then WM_LOADPROMO posted when the window was shown.
    ASSERT_TRUE(ProcessUntil([&] { return f.Handled.size() >= 2; }));
    f.Handled.clear();
    f.Form->PostMessage(WM_FETCHVIDEOINFO);
    f.Form->PostMessage(WM_TRYNEXTQUALITY);
    EXPECT_TRUE(f.Handled.empty());
    f.Form->SendMessage(WM_LOADPROMO);
    EXPECT_EQ(f.Handled, std::vector<int>{WM_LOADPROMO});
    ProcessPending();
    EXPECT_EQ(f.Handled, (std::vector<int>{WM_LOADPROMO, WM_FETCHVIDEOINFO, WM_TRYNEXTQUALITY}));

    // Sent from a worker: it runs on the GUI thread and the worker waits for it.
    bool onGui = false;
    QObject::connect(f.Form.get(), &TFormMain::MessageHandled, [&](int) {
        onGui = QThread::currentThread() == QApplication::instance()->thread();
    });
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        f.Form->SendMessage(WM_LOADPROMO);
        returned = true;
    });
    ASSERT_TRUE(ProcessUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(onGui);
    EXPECT_EQ(f.Handled.back(), WM_LOADPROMO);
}

// --- close --------------------------------------------------------------------------------

TEST(FormMainClose, ClosingDuringAConversionAsksNothingAndSavesSettingsAndBothPlacements) {
    TFormFixture f(BrandingText("T", false, false));
    TFormMain& form = *f.Form;
    form.ActivatePage(wpStep3);
    form.move(111, 77);
    f.Log->move(222, 99);
    f.Vars.OutputMP3Preset = 3;
    f.Vars.PlayASoundWhenFinished = true;
    form.ButtonClose->click();
    EXPECT_TRUE(f.Desktop.Messages.empty()) << f.Desktop.Messages[0].Message;
    EXPECT_EQ(f.ClosedCount, 1);
    EXPECT_FALSE(form.isVisible());

    TIniFile saved;
    ASSERT_TRUE(saved.Load(SettingsFilePath(f.Vars)));
    EXPECT_EQ(saved.ReadInteger("System", "OutputMP3Preset", -1), 3);
    EXPECT_TRUE(saved.ReadBool("System", "PlayASoundWhenFinished", false));
    EXPECT_EQ(saved.ReadInteger("Form", "x", -1), 111);
    EXPECT_EQ(saved.ReadInteger("Form", "y", -1), 77);
    EXPECT_EQ(saved.ReadInteger("Form", "width", -1), 772);
    EXPECT_EQ(saved.ReadInteger("Form", "height", -1), 547);
    EXPECT_EQ(saved.ReadInteger("FormLog", "x", -1), 222);
    EXPECT_EQ(saved.ReadInteger("FormLog", "y", -1), 99);
}

TEST(FormMainClose, ASaveThatFailsIsShownOnceAndTheWindowStillCloses) {
    TFormFixture f(BrandingText("T", true, false));
    // The data folder becomes a path below a plain file: nothing can be written there.
    const std::string blocker = f.Home.Folder.Path + "blocker";
    std::ofstream(blocker) << "x";
    f.Vars.DataDir = blocker + "/data/";
    f.Desktop.Answers.push_back(mrOk);
    f.Form->close();
    EXPECT_EQ(f.ClosedCount, 1);
    ASSERT_EQ(f.Desktop.Messages.size(), 1u);
    EXPECT_EQ(f.Desktop.Messages[0].Kind, mtError);
    EXPECT_EQ(f.Desktop.Messages[0].Caption, "T");
    EXPECT_NE(f.Desktop.Messages[0].Message.find(blocker), std::string::npos)
        << f.Desktop.Messages[0].Message;
    EXPECT_FALSE(f.Form->isVisible());
}

} // namespace
