// The wizard's commands carried out by the controller on a view that records what it is asked
// to do: which page follows, what is asked or told, and what happens to the lists, the folders
// and the state record.
#include "app/GlobalVars.h"
#include "control/AppController.h"
#include "control/ConversionSession.h"
#include "control/WizardView.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace cw;
using cw::test::TTempDir;
namespace fs = std::filesystem;

namespace {

const std::string NoFiles = "Please add the video files you want to convert";
const std::string NoLinks = "Please Copy & Paste the YouTube video links you want to download.";
const std::string NoFolder =
    "Fail to create directory! Please check if output folder have the right format!";

// Records every call as a word; the page shown, the answers and what the boxes hold are set
// by the case.
class TRecordingView : public IWizardView {
public:
    TRecordingView(TGlobalVars& vars) : Vars(vars) {}

    TWizardPage ActivePage() const override { return Page; }
    void ShowPage(TWizardPage page) override {
        Page = page;
        Calls.push_back(std::string("show ") + WizardPageName(page));
    }
    void UpdatePageTexts() override { Calls.push_back("texts"); }
    bool Ask(const std::string& question) override {
        Calls.push_back("ask " + question);
        return Yes;
    }
    void Inform(const std::string& text) override { Calls.push_back("tell " + text); }
    TWizardPage ChosenMode() const override { return Mode; }
    bool Probing() const override { return IsProbing; }
    void StopProbing() override { Calls.push_back("stop probing"); }
    bool CheckMediaLibraries() override {
        if (!Libraries)
            Calls.push_back("no libraries");
        return Libraries;
    }
    void PrepareOutputPage() override { Calls.push_back("prepare output"); }
    void ReadOutputPage() override { Vars.OutputFileDir = FolderBox; }
    void PrepareDownloadPage() override { Calls.push_back("prepare download"); }
    void ReadDownloadPage() override { Vars.OutputURLDir = FolderBox; }
    int LinkCount() const override { return Links; }
    void ClearLinks() override { Calls.push_back("clear links"); }
    void CatchUp() override { Calls.push_back("catch up"); }
    void BeginConversion() override { Calls.push_back("begin conversion"); }
    void BeginDownload() override { Calls.push_back("begin download"); }
    void AbortDownload() override { Calls.push_back("abort download"); }
    void Quit() override { Calls.push_back("quit"); }

    TGlobalVars& Vars;
    TWizardPage Page = wpMode;
    TWizardPage Mode = WizardPageCount;
    bool IsProbing = false;
    bool Libraries = true;
    bool Yes = true;
    int Links = 0;
    std::string FolderBox;
    std::vector<std::string> Calls;
};

std::string Joined(const std::vector<std::string>& calls) {
    std::string text;
    for (const std::string& call : calls)
        text += (text.empty() ? "" : " | ") + call;
    return text;
}

class WizardSteps : public ::testing::Test {
protected:
    void SetUp() override {
        Root = fs::path(Temp.Path).parent_path();
        std::ofstream(Root / "file") << "not a folder";
    }
    TTempDir Temp; // a folder of this test alone, whatever else runs beside it
    fs::path Root;
};

} // namespace

TEST_F(WizardSteps, NextLeadsOnTellsOrWaitsByWhatThePageHolds) {
    struct TCase {
        const char* Name;
        TWizardPage Page;
        bool Download;
        TWizardPage Mode;
        bool Probing;
        int InputRows;
        bool Libraries;
        int Links;
        const char* Folder; // below the case's temporary folder; nullptr for an empty box
        std::string Calls;
        bool FolderMade;
    };
    const TCase cases[] = {
        {"mode: download", wpMode, true, wpStep5, false, 0, true, 0, nullptr,
         "show TabSheetStep5 | prepare download", false},
        {"mode: convert", wpMode, true, wpStep1, false, 0, true, 0, nullptr, "show TabSheetStep1",
         false},
        {"mode: no choice", wpMode, true, WizardPageCount, false, 0, true, 0, nullptr, "", false},
        {"list being probed", wpStep1, false, WizardPageCount, true, 1, true, 0, nullptr, "",
         false},
        {"empty list", wpStep1, false, WizardPageCount, false, 0, true, 0, nullptr,
         "tell " + NoFiles, false},
        {"listed files", wpStep1, false, WizardPageCount, false, 2, true, 0, nullptr,
         "show TabSheetStep2 | prepare output", false},
        {"no media libraries", wpStep2, false, WizardPageCount, false, 1, false, 0, "out",
         "no libraries", false},
        {"missing folder with parents", wpStep2, false, WizardPageCount, false, 1, true, 0, "a/b/c",
         "catch up | show TabSheetStep3 | begin conversion", true},
        {"folder below a file", wpStep2, false, WizardPageCount, false, 1, true, 0, "file/out",
         "tell " + NoFolder, false},
        {"empty folder box", wpStep2, false, WizardPageCount, false, 1, true, 0, nullptr,
         "tell " + NoFolder, false},
        {"running conversion", wpStep3, false, WizardPageCount, false, 1, true, 0, nullptr, "",
         false},
        {"conversion summary", wpStep4, false, WizardPageCount, true, 2, true, 0, nullptr,
         "stop probing | show TabSheetStep1", false},
        {"conversion summary, downloader edition", wpStep4, true, WizardPageCount, false, 2, true,
         0, nullptr, "stop probing | show TabSheetMode", false},
        {"no links", wpStep5, true, WizardPageCount, false, 0, true, 0, "dl", "tell " + NoLinks,
         false},
        {"links, new folder", wpStep5, true, WizardPageCount, false, 0, true, 2, "dl/x",
         "show TabSheetStep6 | begin download", true},
        {"links, folder below a file", wpStep5, true, WizardPageCount, false, 0, true, 1, "file/dl",
         "tell " + NoFolder, false},
        {"running download", wpStep6, true, WizardPageCount, false, 0, true, 1, nullptr, "", false},
        {"download summary", wpStep7, true, WizardPageCount, false, 0, true, 0, nullptr,
         "clear links | show TabSheetMode", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TGlobalVars vars;
        vars.Download = c.Download;
        vars.OutputFileDir = vars.OutputURLDir = "/stored/";
        vars.DownloadedFiles = {"earlier.mp4"};
        TAppController controller("/nonexistent/", vars);
        for (int i = 0; i < c.InputRows; ++i)
            controller.Inputs().AppendRow(TInputRow{});
        TProgressItem item;
        controller.Conversion().Rows().InsertItem(0, item);
        controller.QueueRowsModel().SetItems({TDownloadItem{}});
        TRecordingView view(vars);
        view.Page = c.Page;
        view.Mode = c.Mode;
        view.IsProbing = c.Probing;
        view.Libraries = c.Libraries;
        view.Links = c.Links;
        const fs::path folder = c.Folder ? Root / c.Folder : fs::path();
        view.FolderBox = folder.string();

        controller.Next(view);

        EXPECT_EQ(Joined(view.Calls), c.Calls);
        if (c.Folder) {
            EXPECT_EQ(fs::is_directory(folder), c.FolderMade);
        }
        const bool finished = c.Page == wpStep4;
        EXPECT_EQ(controller.Inputs().rowCount(), finished ? 0 : c.InputRows);
        EXPECT_EQ(controller.Conversion().Rows().rowCount(), finished ? 0 : 1);
        EXPECT_EQ(controller.QueueRowsModel().rowCount(), c.Page == wpStep7 ? 0 : 1);
        // A download that starts forgets the files of the one before.
        EXPECT_EQ(vars.DownloadedFiles.empty(), c.FolderMade && c.Page == wpStep5);
    }
}

TEST_F(WizardSteps, BackAndExitAskFirstAndOnlyYesActs) {
    struct TCase {
        TWizardPage Page;
        bool Download;
        bool Exit; // else Back
        bool Yes;
        std::string Calls;
        bool ListEmptied;
    };
    const std::string goBack = "ask Are you sure to cancel and go back?";
    const std::string cancel = "ask Are you sure to cancel?";
    const std::string quit = "ask Are you sure to quit now?";
    const TCase cases[] = {
        {wpStep1, true, false, false, goBack, false},
        {wpStep1, true, false, true, goBack + " | stop probing | show TabSheetMode", true},
        {wpStep1, false, true, true, quit + " | quit", false},
        {wpStep1, true, true, true, cancel + " | stop probing | show TabSheetMode", true},
        {wpStep2, false, false, true, "show TabSheetStep1", false},
        {wpStep2, false, true, false, cancel, false},
        {wpStep2, false, true, true, cancel + " | stop probing | show TabSheetStep1", true},
        {wpStep3, false, false, true, "", false},
        {wpStep3, false, true, false, "ask Do you really want to cancel the conversion?", false},
        {wpStep3, false, true, true, "ask Do you really want to cancel the conversion? | texts",
         false},
        {wpStep5, true, false, true, goBack + " | clear links | show TabSheetMode", false},
        {wpStep5, true, true, false, cancel, false},
        {wpStep6, true, true, true,
         "ask Do you really want to cancel the downloading? | abort download", false},
        {wpStep7, true, true, false, quit, false},
        {wpMode, true, false, true, "", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(WizardPageName(c.Page)) + (c.Exit ? " exit" : " back") +
                     (c.Yes ? " yes" : " no") + (c.Download ? " download" : ""));
        TGlobalVars vars;
        vars.Download = c.Download;
        TAppController controller("/nonexistent/", vars);
        controller.Inputs().AppendRow(TInputRow{});
        TRecordingView view(vars);
        view.Page = c.Page;
        view.Yes = c.Yes;
        if (c.Exit)
            controller.Exit(view);
        else
            controller.Back(view);
        EXPECT_EQ(Joined(view.Calls), c.Calls);
        EXPECT_EQ(controller.Inputs().rowCount(), c.ListEmptied ? 0 : 1);
    }
}

TEST(ConversionSession, AStartWithoutAnEncoderEndsAtOnceAndTheEndActionsAreStored) {
    struct TView : IConversionView {
        void Log(const std::string& line) override { Lines.push_back(line); }
        void RunFinished(const TRunSummary& summary) override {
            ++Ends;
            Total = summary.TotalFiles;
        }
        std::vector<std::string> Lines;
        int Ends = 0;
        int Total = -1;
    } view;
    TGlobalVars vars;
    vars.TotalFiles = 4;
    vars.SucceededFiles = 3;
    vars.ErrorList = {"File (0): an old error"};
    TConversionSession session(vars);
    session.Start(nullptr, WindowConversionSettings(vars, "/program/"), {TRunInput{"a.avi"}}, view);
    ASSERT_EQ(view.Lines.size(), 1u);
    EXPECT_EQ(view.Lines[0], "Cannot do convert, error: the media libraries are not loaded");
    EXPECT_EQ(view.Ends, 1);
    EXPECT_EQ(view.Total, 0);
    // The summary page shows this run, not the one before.
    EXPECT_EQ(vars.TotalFiles, 0);
    EXPECT_EQ(vars.SucceededFiles, 0);
    EXPECT_TRUE(vars.ErrorList.empty());
    EXPECT_FALSE(session.Running());

    // The check boxes' choices outlive the run: the settings keep them.
    for (bool on : {true, false}) {
        session.SetPlaySound(on);
        session.SetShutdown(!on);
        EXPECT_EQ(vars.PlayASoundWhenFinished, on);
        EXPECT_EQ(vars.ShutDownWhenFinished, !on);
        const TConversionSettings settings = WindowConversionSettings(vars, "/program");
        EXPECT_EQ(settings.PlayASoundWhenFinished, on);
        EXPECT_EQ(settings.ShutDownWhenFinished, !on);
        EXPECT_EQ(settings.SoundFolder, "/program/sounds/");
        EXPECT_EQ(settings.Jobs, 1);
    }
}
