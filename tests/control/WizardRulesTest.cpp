#include "app/GlobalVars.h"
#include "control/AppController.h"

#include <gtest/gtest.h>

#include <string>

using namespace cw;

namespace {

const char* const GoBack = "Are you sure to cancel and go back?";
const char* const Cancel = "Are you sure to cancel?";
const char* const Quit = "Are you sure to quit now?";

struct TRuleCase {
    TWizardPage Page;
    bool Download; // the edition has the downloader
    TCommandRule Back;
    TCommandRule Exit;
};

// What Back and Exit ask and do on every page, in both kinds of edition.
const TRuleCase RuleCases[] = {
    {wpMode, true, {"", waNone}, {Quit, waQuit}},
    {wpStep1, false, {GoBack, waCancelInputs}, {Quit, waQuit}},
    {wpStep1, true, {GoBack, waCancelInputs}, {Cancel, waCancelInputs}},
    {wpStep2, false, {"", waToStep1}, {Cancel, waCancelInputs}},
    {wpStep2, true, {"", waToStep1}, {Cancel, waCancelInputs}},
    {wpStep3, false, {"", waNone}, {"Do you really want to cancel the conversion?", waCancelRun}},
    {wpStep4, false, {"", waNone}, {Quit, waQuit}},
    {wpStep4, true, {"", waNone}, {Quit, waQuit}},
    {wpStep5, true, {GoBack, waCancelLinks}, {Cancel, waCancelLinks}},
    {wpStep6, true, {"", waNone}, {"Do you really want to cancel the downloading?", waAbortDownload}},
    {wpStep7, true, {"", waNone}, {Quit, waQuit}},
    {WizardPageCount, true, {"", waNone}, {"", waNone}},
};

} // namespace

TEST(WizardRules, BackAndExitAskAndActPerPageAndEdition) {
    for (const TRuleCase& c : RuleCases) {
        SCOPED_TRACE(std::string(WizardPageName(c.Page)) + (c.Download ? " download" : ""));
        TGlobalVars vars;
        vars.Download = c.Download;
        const TAppController controller("/nonexistent/", vars);
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
