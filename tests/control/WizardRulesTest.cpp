#include "app/GlobalVars.h"
#include "control/AppController.h"

#include <gtest/gtest.h>

#include <string>

using namespace cw;

namespace {

const char* const GoBack = "Are you sure to cancel and go back?";
const char* const Cancel = "Are you sure to cancel?";
const char* const Quit = "Are you sure to quit now?";

const char* const NoFiles = "Please add the video files you want to convert";
const char* const NoLinks = "Please Copy & Paste the YouTube video links you want to download.";
const char* const NoFolder =
    "Fail to create directory! Please check if output folder have the right format!";

struct TRuleCase {
    TWizardPage Page;
    bool Download; // the edition has the downloader
    TNextRule Next;
    TCommandRule Back;
    TCommandRule Exit;
};

// What Next, Back and Exit ask, tell and do on every page, in both kinds of edition.
const TRuleCase RuleCases[] = {
    {wpMode, true, {nsChooseMode}, {"", waNone}, {Quit, waQuit}},
    {wpStep1, false, {nsOutputPage, wpStep2, NoFiles}, {GoBack, waCancelInputs}, {Quit, waQuit}},
    {wpStep1, true, {nsOutputPage, wpStep2, NoFiles}, {GoBack, waCancelInputs},
     {Cancel, waCancelInputs}},
    {wpStep2, false, {nsStartConversion, wpStep3, "", NoFolder}, {"", waToStep1},
     {Cancel, waCancelInputs}},
    {wpStep2, true, {nsStartConversion, wpStep3, "", NoFolder}, {"", waToStep1},
     {Cancel, waCancelInputs}},
    {wpStep3, false, {nsNone}, {"", waNone},
     {"Do you really want to cancel the conversion?", waCancelRun}},
    {wpStep4, false, {nsFinishConversion}, {"", waNone}, {Quit, waQuit}},
    {wpStep4, true, {nsFinishConversion}, {"", waNone}, {Quit, waQuit}},
    {wpStep5, true, {nsStartDownload, wpStep6, NoLinks, NoFolder}, {GoBack, waCancelLinks},
     {Cancel, waCancelLinks}},
    {wpStep6, true, {nsNone}, {"", waNone},
     {"Do you really want to cancel the downloading?", waAbortDownload}},
    {wpStep7, true, {nsFinishDownload}, {"", waNone}, {Quit, waQuit}},
    {WizardPageCount, true, {nsNone}, {"", waNone}, {"", waNone}},
};

} // namespace

TEST(WizardRules, NextBackAndExitAskTellAndActPerPageAndEdition) {
    for (const TRuleCase& c : RuleCases) {
        SCOPED_TRACE(std::string(WizardPageName(c.Page)) + (c.Download ? " download" : ""));
        TGlobalVars vars;
        vars.Download = c.Download;
        const TAppController controller("/nonexistent/", vars);
        const TNextRule next = controller.NextRule(c.Page);
        EXPECT_EQ(next.Step, c.Next.Step);
        EXPECT_EQ(next.Target, c.Next.Target);
        EXPECT_STREQ(next.EmptyList, c.Next.EmptyList);
        EXPECT_STREQ(next.FolderFailed, c.Next.FolderFailed);
        const TCommandRule back = controller.BackRule(c.Page);
        const TCommandRule exit = controller.ExitRule(c.Page);
        EXPECT_STREQ(back.Question, c.Back.Question);
        EXPECT_EQ(back.Action, c.Back.Action);
        EXPECT_STREQ(exit.Question, c.Exit.Question);
        EXPECT_EQ(exit.Action, c.Exit.Action);
    }
}

TEST(WizardRules, ProbingHoldsNextOnTheInputListOnlyAndTheFirstPageFollowsTheEdition) {
    struct TCase {
        TWizardPage Page;
        bool Probing;
        bool NextEnabled;
    };
    const TCase cases[] = {
        {wpStep1, false, true}, {wpStep1, true, false}, {wpStep2, true, true},
        {wpStep4, true, true},  {wpStep3, false, false},
    };
    TGlobalVars vars;
    TAppController controller("/nonexistent/", vars);
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(WizardPageName(c.Page)) + (c.Probing ? " probing" : ""));
        const TPageTexts texts = controller.PageState(c.Page, c.Probing, "T");
        EXPECT_EQ(texts.NextEnabled, c.NextEnabled);
        EXPECT_EQ(texts.Title, PageTexts(c.Page, false, false, "T").Title);
    }
    EXPECT_EQ(controller.FirstPage(), wpStep1);
    vars.Download = true;
    EXPECT_EQ(controller.FirstPage(), wpMode);
}
