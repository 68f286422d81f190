// The wizard's rules as data: the pages in their order, what the title line and the three
// command buttons say on each of them, and what Back and Exit do there. No widgets: the
// window shows the texts and carries out the actions.
#pragma once

#include <string>

namespace cw {

enum TWizardPage {
    wpMode = 0, // TabSheetMode
    wpStep1,    // input files
    wpStep2,    // output folder, class, format, preset
    wpStep3,    // conversion progress
    wpStep4,    // conversion summary
    wpStep5,    // links to download
    wpStep6,    // download progress
    wpStep7,    // download summary
    WizardPageCount
};

const char* WizardPageName(TWizardPage page); // "TabSheetMode", "TabSheetStep1", ...

struct TPageTexts {
    std::string Title;
    std::string Next;
    bool NextEnabled = true;
    std::string Back;
    bool BackEnabled = true;
    std::string Exit;
    bool ExitEnabled = true;
};

// The row of a page; "%s" in the title is already replaced by the application title.
TPageTexts PageTexts(TWizardPage page, bool download, bool merge, const std::string& title);

// The page the wizard starts on and returns to.
inline TWizardPage FirstPage(bool download) {
    return download ? wpMode : wpStep1;
}

// What Next does on a page.
enum TNextStep {
    nsNone,             // the page waits for its run: Next does nothing
    nsChooseMode,       // the first page of the chosen mode (links or input list)
    nsOutputPage,       // a complete input list with rows moves on to the output page
    nsStartConversion,  // once the output folder exists (it is made when missing) the run starts
    nsStartDownload,    // a link list with links and an existing folder start the queue
    nsFinishConversion, // both conversion lists are emptied and the wizard starts again
    nsFinishDownload,   // the link list and the queue are emptied and the wizard starts again
};

struct TNextRule {
    TNextStep Step = nsNone;
    TWizardPage Target = WizardPageCount; // where Next leads when its step succeeds
    const char* EmptyList = "";           // told when the page's list is empty
    const char* FolderFailed = "";        // told when the folder cannot be made
};

TNextRule NextRule(TWizardPage page);

// What Back or Exit does on a page once the user has said yes to its question (an empty
// question is not asked).
enum TWizardAction {
    waNone,          // the command does nothing on this page
    waToStep1,       // back to the input list, which stays as it is
    waCancelInputs,  // the input list is emptied and the wizard starts again
    waCancelLinks,   // the link list is emptied and the wizard starts again
    waCancelRun,     // the conversion is stopped; its summary follows
    waAbortDownload, // the transfers are aborted; the summary follows
    waQuit,          // the window closes
};

struct TCommandRule {
    const char* Question = ""; // asked first; "" for none
    TWizardAction Action = waNone;
};

TCommandRule BackRule(TWizardPage page);
// download: the edition has the downloader (Exit on the input list then cancels instead).
TCommandRule ExitRule(TWizardPage page, bool download);

} // namespace cw
