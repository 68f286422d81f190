#include "control/AppController.h"

#include "app/GlobalVars.h"
#include "control/ConversionSession.h"
#include "control/DownloadSession.h"
#include "convert/InputListModel.h"
#include "download/DownloadQueue.h"
#include "engine/FFEncoder.h"
#include "engine/FFLogger.h"
#include "script/Script.h"
#include "script/Scriptlet.h"

namespace cw {

TAppController::TAppController(std::string exeFolder, TGlobalVars& vars)
    : ExeFolder(std::move(exeFolder)), State(vars), InputRows(std::make_unique<TInputListModel>()),
      ConversionPart(std::make_unique<TConversionSession>(vars)),
      QueueRows(std::make_unique<TQueueModel>()) {}

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
    DownloadSession.reset();
    Script = std::make_unique<TJavaScript>();
    Script->WindowHandle = windowHandle;
    HostScriptlet = std::make_shared<THostScriptlet>();
    return *Script;
}

void TAppController::AddHostItem() {
    Script->AddItem(HostScriptlet);
}

TDownloadQueue& TAppController::CreateQueue(IDownloadView& view) {
    DownloadSession.reset();
    DownloadSession =
        std::make_unique<TDownloadSession>(State, *Script, HostScriptlet, *QueueRows, view);
    TDownloadQueue& queue = DownloadSession->Queue();
    queue.VideoSiteDomain = StartupState.Branding.VideoSiteDomain;
    queue.AnySite = StartupState.Branding.AnySite;
    queue.ResolverMode = ResolverModeOf(State.Resolver);
    queue.Resolver.Program = State.ResolverProgram;
    return queue;
}

TDownloadQueue* TAppController::Queue() const {
    return DownloadSession ? &DownloadSession->Queue() : nullptr;
}

void TAppController::Release() {
    DownloadSession.reset();
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
