#include "control/AppController.h"

#include "app/GlobalVars.h"
#include "control/ConversionSession.h"
#include "convert/InputListModel.h"
#include "download/DownloadQueue.h"
#include "engine/FFEncoder.h"
#include "engine/FFLogger.h"
#include "script/Script.h"
#include "script/Scriptlet.h"

namespace cw {

TAppController::TAppController(std::string exeFolder, TGlobalVars& vars)
    : ExeFolder(std::move(exeFolder)), State(vars),
      InputRows(std::make_unique<TInputListModel>()),
      ConversionPart(std::make_unique<TConversionSession>(vars)) {}

TAppController::~TAppController() {
    Release();
}

void TAppController::Start() {
    StartupState = PrepareApplication(State, ExeFolder);
}

TFFLogger& TAppController::Logger() {
    if (!EngineLogger) {
        EngineLogger = std::make_unique<TFFLogger>();
        EngineLogger->SetLogLevel(llError);
    }
    return *EngineLogger;
}

TFFEncoder& TAppController::CreateEncoder() {
    if (!EncoderComponent)
        EncoderComponent = std::make_unique<TFFEncoder>();
    return *EncoderComponent;
}

TJavaScript& TAppController::CreateScriptHost(uintptr_t windowHandle) {
    DownloadQueue.reset();
    Script = std::make_unique<TJavaScript>();
    Script->WindowHandle = windowHandle;
    HostScriptlet = std::make_shared<THostScriptlet>();
    return *Script;
}

void TAppController::AddHostItem() {
    Script->AddItem(HostScriptlet);
}

TDownloadQueue& TAppController::CreateQueue(IDownloadHost& host) {
    DownloadQueue = std::make_unique<TDownloadQueue>(State, *Script, HostScriptlet, host);
    DownloadQueue->VideoSiteDomain = StartupState.Branding.VideoSiteDomain;
    return *DownloadQueue;
}

void TAppController::Release() {
    DownloadQueue.reset();
    Script.reset();
    if (EngineLogger)
        EngineLogger->OnLog = nullptr;
}

TWizardPage TAppController::FirstPage() const {
    return cw::FirstPage(State.Download);
}

TPageTexts TAppController::PageState(TWizardPage page, bool probing,
                                     const std::string& title) const {
    TPageTexts texts = PageTexts(page, State.Download, State.Merge, title);
    if (page == wpStep1 && probing)
        texts.NextEnabled = false;
    return texts;
}

TNextRule TAppController::NextRule(TWizardPage page) const {
    return cw::NextRule(page);
}

TCommandRule TAppController::BackRule(TWizardPage page) const {
    return cw::BackRule(page);
}

TCommandRule TAppController::ExitRule(TWizardPage page) const {
    return cw::ExitRule(page, State.Download);
}

} // namespace cw
