// How a session ends and how it starts again: signals, the session manager and the
// program's own power request all run the close sequence once; a damaged settings file
// never stops the start; an exception never leaves a handler.
#include "app/IniFile.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "ui/SessionEndings.h"
#include "control/WindowMessages.h"

#include "FormSupport.h"

#include <QAction>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>

#include <csignal>
#include <filesystem>
#include <fstream>

using namespace cw;
using namespace cw::test;

namespace {

struct TCallbackPower : IPowerService {
    std::function<void()> OnRequest;
    std::vector<TPowerAction> Requests;
    bool AdjustPrivilege(const std::string&, bool) override { return true; }
    void Request(TPowerAction action) override {
        Requests.push_back(action);
        if (OnRequest)
            OnRequest();
    }
};

TIniFile Saved(const TFormFixture& f) {
    TIniFile ini;
    EXPECT_TRUE(ini.Load(SettingsFilePath(f.Vars)));
    return ini;
}

std::string SettingsText(const TFormFixture& f) {
    std::ifstream in(SettingsFilePath(f.Vars), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Endings, EachSignalRunsTheCloseSequenceOnceAndSavesTheChangeAndBothPlacements) {
    for (int signal : TSessionEndings::HandledSignals) {
        SCOPED_TRACE(signal);
        TFormFixture f(BrandingText("T", true, false));
        TFormMain& form = *f.Form;
        form.show();
        form.ActivatePage(wpStep2);
        form.PrepareOutputPage();
        form.ButtonToFormat[2]->click(); // a change on Step2, stored at the click
        form.ButtonFormat[2][1]->click();
        form.move(123, 45);
        {
            TSessionEndings endings(form);
            std::raise(signal); // only a byte into the pipe: nothing happens before the loop
            EXPECT_EQ(f.ClosedCount, 0);
            ASSERT_TRUE(ProcessUntil([&] { return f.ClosedCount > 0; }));
            // A later ending finds the sequence done: nothing is saved again.
            f.Vars.OutputMP3Preset = 0;
            const std::string text = SettingsText(f);
            endings.AboutToQuit();
            endings.CommitData();
            endings.BeforePowerRequest();
            EXPECT_EQ(SettingsText(f), text);
        }
        EXPECT_EQ(f.ClosedCount, 1);
        EXPECT_TRUE(f.Desktop.Messages.empty());
        TIniFile ini = Saved(f);
        EXPECT_EQ(ini.ReadInteger("System", "OutputFormatClass", -1), 2);
        EXPECT_EQ(ini.ReadInteger("System", "OutputAudioFormat", -1), 1);
        EXPECT_EQ(ini.ReadInteger("Form", "x", -1), 123);
        EXPECT_EQ(ini.ReadInteger("Form", "y", -1), 45);
        EXPECT_TRUE(ini.ValueExists("FormLog", "x"));
        EXPECT_TRUE(ini.ValueExists("FormLog", "y"));
        // The handlers are taken out again: the process has its own dispositions back.
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    }
}

TEST(Endings, TheSessionManagerSavesWithoutClosingAndItsQuitCloses) {
    TFormFixture f(BrandingText("T", true, false));
    TSessionEndings endings(*f.Form);
    f.Vars.OutputWMVPreset = 4;
    endings.CommitData();
    EXPECT_EQ(Saved(f).ReadInteger("System", "OutputWMVPreset", -1), 4);
    EXPECT_EQ(f.ClosedCount, 0); // the logout may still be cancelled
    f.Vars.OutputWMVPreset = 5;
    endings.AboutToQuit();
    EXPECT_EQ(f.ClosedCount, 1);
    EXPECT_EQ(Saved(f).ReadInteger("System", "OutputWMVPreset", -1), 5);
}

TEST(Endings, ThePowerRequestComesAfterTheSettingsAreSaved) {
    TFormFixture f(BrandingText("T", true, false));
    TCallbackPower power;
    IPowerService* previous = SetPowerService(&power);
    int presetAtRequest = -1;
    power.OnRequest = [&] {
        presetAtRequest = Saved(f).ReadInteger("System", "OutputFLACPreset", -1);
    };
    {
        TSessionEndings endings(*f.Form);
        f.Vars.OutputFLACPreset = 8;
        ShutdownComputer(1);
    }
    SetPowerService(previous);
    EXPECT_EQ(power.Requests, std::vector<TPowerAction>{TPowerAction::ShutdownPowerOff});
    EXPECT_EQ(presetAtRequest, 8);
    EXPECT_EQ(f.ClosedCount, 0);
}

TEST(Endings, ASaveThatFailsAtASignalIsLoggedNotAsked) {
    TFormFixture f(BrandingText("T", true, false));
    const std::string blocker = f.Home.Folder.Path + "blocker";
    std::ofstream(blocker) << "x";
    f.Vars.DataDir = blocker + "/data/";
    f.Form->EndSession("SIGTERM");
    EXPECT_EQ(f.ClosedCount, 1);
    EXPECT_TRUE(f.Desktop.Messages.empty()); // no one may be there to answer a box
    bool logged = false;
    for (const QString& line : f.Log->Lines())
        logged = logged || line.contains(QString::fromStdString(blocker));
    EXPECT_TRUE(logged) << f.Log->Lines().join('\n').toStdString();
}

TEST(Endings, TheLogPlaceIsKeptWhenTheLogIsNotOpenedAndTakenWhenItIs) {
    TFormFixture f(BrandingText("T", true, false));
    SavePlacement("FormLog", {40, 50, 400, 200, false}, f.Vars);
    f.Create(); // a new session that never opens the log
    f.Log->move(300, 300);
    f.Form->close();
    EXPECT_EQ(Saved(f).ReadInteger("FormLog", "x", -1), 40);
    EXPECT_EQ(Saved(f).ReadInteger("FormLog", "y", -1), 50);

    f.Create();
    f.Form->ActionLog->trigger(); // shown at the stored place, then moved by the user
    f.Log->move(70, 80);
    f.Form->close();
    EXPECT_EQ(Saved(f).ReadInteger("FormLog", "x", -1), 70);
    f.Log->hide();
}

// --- damaged settings ---------------------------------------------------------------------

TEST(DamagedSettings, AFileThatCannotBeReadStillGivesTheModePageWithDefaultsAndALogLine) {
    const std::pair<const char*, std::string> damages[] = {
        {"binary", std::string("\0\x01\x02\xff\xfe[Sys", 10)},
        {"truncated", "[System]\r\nLastOpenDir=/x\r\nOutputMP3Pre"},
        {"a folder", ""},
    };
    for (const auto& [name, content] : damages) {
        SCOPED_TRACE(name);
        TFormFixture f(BrandingText("T", true, false));
        const std::string path = SettingsFilePath(f.Vars);
        f.Form.reset();
        std::filesystem::remove(path);
        if (content.empty())
            std::filesystem::create_directory(path);
        else
            std::ofstream(path, std::ios::binary) << content;
        SavePlacement("Form", {1, 2, 3, 4, false}, f.Vars, f.Home.Folder.Path + "other.ini");
        f.Create();
        TFormMain& form = *f.Form;
        EXPECT_EQ(form.ActivePage(), wpMode);
        EXPECT_TRUE(form.RadioButtonDownloadVideo->isChecked());
        EXPECT_EQ(f.Vars.OutputMP3Preset, 2);
        EXPECT_TRUE(form.Startup().FirstRun);
        EXPECT_TRUE(std::filesystem::exists(path + ".bad"));
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        bool logged = false;
        for (const QString& line : f.Log->Lines())
            logged = logged || (line.contains(QString::fromStdString(path)) &&
                                line.contains("~system2.dat.bad"));
        EXPECT_TRUE(logged) << f.Log->Lines().join('\n').toStdString();
        // The window shows and closes as usual, saving a whole file again.
        ProcessUntil([&] { return form.isVisible(); });
        EXPECT_TRUE(form.isVisible());
        form.close();
        EXPECT_TRUE(Saved(f).ValueExists("Form", "x"));
        EXPECT_TRUE(f.Desktop.Messages.empty());
    }
}

TEST(DamagedSettings, AnExceptionInAHandlerBecomesAMessageAndALogLine) {
    TFormFixture f(BrandingText("T", true, false));
    f.Desktop.Answers.push_back(mrOk);
    f.Form->RunGuarded("testing", [] { throw std::runtime_error("the disk went away"); });
    ASSERT_EQ(f.Desktop.Messages.size(), 1u);
    EXPECT_EQ(f.Desktop.Messages[0].Message, "the disk went away");
    EXPECT_EQ(f.Desktop.Messages[0].Kind, mtError);
    EXPECT_TRUE(f.Log->Lines().last().contains("the disk went away"));
    // Handlers that nobody asked for (showing, closing) only log.
    f.Form->RunGuarded(
        "showing", [] { throw std::runtime_error("no screen"); }, false);
    EXPECT_EQ(f.Desktop.Messages.size(), 1u);
    EXPECT_TRUE(f.Log->Lines().last().contains("no screen"));
}

} // namespace
