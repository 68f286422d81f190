// The wizard's pages in their order, and what the title line and the three command buttons
// say on each of them.
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

} // namespace cw
