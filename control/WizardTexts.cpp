#include "control/WizardTexts.h"

namespace cw {

const char* WizardPageName(TWizardPage page) {
    static const char* const names[] = {"TabSheetMode",  "TabSheetStep1", "TabSheetStep2",
                                        "TabSheetStep3", "TabSheetStep4", "TabSheetStep5",
                                        "TabSheetStep6", "TabSheetStep7"};
    return page >= 0 && page < WizardPageCount ? names[page] : "";
}

TPageTexts PageTexts(TWizardPage page, bool download, bool merge, const std::string& title) {
    switch (page) {
    case wpMode: {
        std::string welcome = "Welcome to " + title + "! What do you want to do?";
        return {welcome, "Next", true, "Back", false, "Exit", true};
    }
    case wpStep1:
        return {"Select the file(s) you want to convert. Use \"Move Up\" and \"Move Down\" to "
                "change the order.",
                "Next",
                true,
                "Back",
                download,
                download ? "Cancel" : "Exit",
                true};
    case wpStep2:
        return {"Select an output mode and specify a path for the output files.",
                merge ? "Join Now" : "Convert",
                true,
                "Back",
                true,
                "Cancel",
                true};
    case wpStep3:
        return {"Conversion information.", "Next", false, "Back", false, "Cancel", true};
    case wpStep4:
        return {"The conversion is finished.", "Finish", true, "Back", false, "Exit", true};
    case wpStep5:
        return {"Copy a YouTube link from your browser address bar and Paste here",
                "Download",
                true,
                "Back",
                true,
                "Cancel",
                true};
    case wpStep6:
        return {"Downloading information.", "Next", false, "Back", false, "Cancel", true};
    case wpStep7:
        return {"The downloading is finished.", "Finish", true, "Back", false, "Exit", true};
    case WizardPageCount:
        break;
    }
    return {};
}

namespace {
const char* const CancelAndGoBack = "Are you sure to cancel and go back?";
const char* const CancelQuestion = "Are you sure to cancel?";
const char* const QuitQuestion = "Are you sure to quit now?";
} // namespace

TNextRule NextRule(TWizardPage page) {
    static const char* const folderFailed =
        "Fail to create directory! Please check if output folder have the right format!";
    switch (page) {
    case wpMode:
        return {nsChooseMode};
    case wpStep1:
        return {nsOutputPage, wpStep2, "Please add the video files you want to convert"};
    case wpStep2:
        return {nsStartConversion, wpStep3, "", folderFailed};
    case wpStep4:
        return {nsFinishConversion};
    case wpStep5:
        return {nsStartDownload, wpStep6,
                "Please Copy & Paste the YouTube video links you want to download.", folderFailed};
    case wpStep7:
        return {nsFinishDownload};
    case wpStep3:
    case wpStep6:
    case WizardPageCount:
        break;
    }
    return {};
}

TCommandRule BackRule(TWizardPage page) {
    switch (page) {
    case wpStep1:
        return {CancelAndGoBack, waCancelInputs};
    case wpStep2:
        return {"", waToStep1};
    case wpStep5:
        return {CancelAndGoBack, waCancelLinks};
    default:
        return {};
    }
}

TCommandRule ExitRule(TWizardPage page, bool download) {
    switch (page) {
    case wpStep1:
        return download ? TCommandRule{CancelQuestion, waCancelInputs}
                        : TCommandRule{QuitQuestion, waQuit};
    case wpStep2:
        return {CancelQuestion, waCancelInputs};
    case wpStep3:
        return {"Do you really want to cancel the conversion?", waCancelRun};
    case wpStep5:
        return {CancelQuestion, waCancelLinks};
    case wpStep6:
        return {"Do you really want to cancel the downloading?", waAbortDownload};
    case wpMode:
    case wpStep4:
    case wpStep7:
        return {QuitQuestion, waQuit};
    case WizardPageCount:
        break;
    }
    return {};
}

} // namespace cw
