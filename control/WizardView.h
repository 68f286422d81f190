// What the controller needs of a window to carry out the wizard's Next, Back and Exit: the
// pages and what the user entered on them. The controller decides what each command does
// (control/WizardTexts.h says it per page); the view only shows and reads its widgets.
#pragma once

#include "control/WizardTexts.h"

#include <string>

namespace cw {

class IWizardView {
public:
    virtual ~IWizardView() = default;
    virtual TWizardPage ActivePage() const = 0;
    // Brings the page to the front with its title line and command texts.
    virtual void ShowPage(TWizardPage page) = 0;
    virtual void UpdatePageTexts() = 0;
    // A yes/no question; true for yes.
    virtual bool Ask(const std::string& question) = 0;
    virtual void Inform(const std::string& text) = 0;

    // The mode page's choice: wpStep5 (download), wpStep1 (convert) or WizardPageCount (none).
    virtual TWizardPage ChosenMode() const = 0;
    // Files of the input list are still being probed; StopProbing ends the batch with no
    // further row.
    virtual bool Probing() const = 0;
    virtual void StopProbing() = 0;
    // False, after telling the user, when the media libraries are missing.
    virtual bool CheckMediaLibraries() = 0;
    // The output page shows the state record's choices; Read takes them (and its folder box)
    // back into the state record.
    virtual void PrepareOutputPage() = 0;
    virtual void ReadOutputPage() = 0;
    virtual void PrepareDownloadPage() = 0;
    virtual void ReadDownloadPage() = 0;
    // The link list of the download page.
    virtual int LinkCount() const = 0;
    virtual void ClearLinks() = 0;
    // The window handles what is pending (its painting) before the progress page comes.
    virtual void CatchUp() = 0;
    // The progress page is shown: it takes the stored end actions and the run is started by a
    // posted message.
    virtual void BeginConversion() = 0;
    // The queue is built from the link list and started.
    virtual void BeginDownload() = 0;
    virtual void AbortDownload() = 0;
    virtual void Quit() = 0;
};

} // namespace cw
