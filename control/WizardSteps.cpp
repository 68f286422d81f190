// The wizard's Next, Back and Exit, carried out on a view: the rules of control/WizardTexts.h
// say what each command does on a page; here they are done.
#include "app/GlobalVars.h"
#include "app/Utils.h"
#include "control/AppController.h"
#include "control/ConversionSession.h"
#include "control/WizardView.h"
#include "convert/InputListModel.h"
#include "convert/ProgressListModel.h"
#include "download/QueueModel.h"

#include <filesystem>

namespace cw {

bool TAppController::MakeFolder(const std::string& folder) {
    if (Trim(folder).empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    return DirectoryExists(folder);
}

void TAppController::ClearInputs(IWizardView& view) {
    // A batch still being probed ends with the list: none of its rows arrive later.
    view.StopProbing();
    InputRows->Clear();
}

void TAppController::Next(IWizardView& view) {
    const TNextRule rule = NextRule(view.ActivePage());
    switch (rule.Step) {
    case nsNone:
        break;
    case nsChooseMode: {
        const TWizardPage chosen = view.ChosenMode();
        if (chosen == wpStep5) {
            view.ShowPage(wpStep5);
            view.PrepareDownloadPage();
        } else if (chosen == wpStep1) {
            view.ShowPage(wpStep1);
        }
        break;
    }
    case nsOutputPage:
        if (view.Probing())
            break; // the list is complete once the batch is done
        if (InputRows->rowCount() > 0) {
            view.ShowPage(rule.Target);
            view.PrepareOutputPage();
        } else {
            view.Inform(rule.EmptyList);
        }
        break;
    case nsStartConversion:
        if (!view.CheckMediaLibraries())
            break;
        view.ReadOutputPage();
        if (MakeFolder(State.OutputFileDir)) {
            view.CatchUp();
            view.ShowPage(rule.Target);
            view.BeginConversion();
        } else {
            view.Inform(rule.FolderFailed);
        }
        break;
    case nsFinishConversion:
        ClearInputs(view);
        ConversionPart->Rows().Clear();
        view.ShowPage(FirstPage());
        break;
    case nsStartDownload:
        view.ReadDownloadPage();
        if (view.LinkCount() == 0) {
            view.Inform(rule.EmptyList);
        } else if (MakeFolder(State.OutputURLDir)) {
            view.ShowPage(rule.Target);
            State.DownloadedFiles.clear();
            view.BeginDownload();
        } else {
            view.Inform(rule.FolderFailed);
        }
        break;
    case nsFinishDownload:
        view.ClearLinks();
        QueueRows->Clear();
        view.ShowPage(FirstPage());
        break;
    }
}

void TAppController::Back(IWizardView& view) {
    Carry(BackRule(view.ActivePage()), view);
}

void TAppController::Exit(IWizardView& view) {
    Carry(ExitRule(view.ActivePage()), view);
}

void TAppController::Carry(const TCommandRule& rule, IWizardView& view) {
    if (rule.Action == waNone)
        return;
    if (*rule.Question && !view.Ask(rule.Question))
        return;
    switch (rule.Action) {
    case waNone:
        break;
    case waToStep1:
        view.ShowPage(wpStep1);
        break;
    case waCancelInputs:
        ClearInputs(view);
        view.ShowPage(FirstPage());
        break;
    case waCancelLinks:
        view.ClearLinks();
        view.ShowPage(FirstPage());
        break;
    case waCancelRun:
        // The stopped tasks still report their end, so the summary follows.
        ConversionPart->Cancel();
        view.UpdatePageTexts();
        break;
    case waAbortDownload:
        view.AbortDownload();
        break;
    case waQuit:
        view.Quit();
        break;
    }
}

} // namespace cw
