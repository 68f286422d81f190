// The application behind the main window, without widgets: it runs the start-up (branding,
// data folder, settings), holds the state record and what start-up found, and owns the
// components a session works with: the engine's logger and the encoder component, the script
// host with its "Host" item, and the download queue with its three transfer components. The
// wizard's rules are in control/WizardTexts.h; the controller answers them for the current
// edition. The window builds the widgets, binds them to these parts and forwards the user's
// actions.
#pragma once

#include "app/Startup.h"
#include "control/WizardTexts.h"

#include <cstdint>
#include <memory>
#include <string>

namespace cw {

class IDownloadView;
class IWizardView;
class TConversionSession;
class TInputListModel;
class TQueueModel;
class TDownloadQueue;
class TDownloadSession;
class TFFEncoder;
class TFFLogger;
class THostScriptlet;
class TJavaScript;
struct TGlobalVars;

class TAppController {
public:
    // exeFolder: the folder of the program, holding the branding file and "sounds/".
    TAppController(std::string exeFolder, TGlobalVars& vars);
    ~TAppController();
    TAppController(const TAppController&) = delete;
    TAppController& operator=(const TAppController&) = delete;

    // Start-up without a window. Throws std::runtime_error naming the branding file when it
    // cannot be read; nothing in the state record is changed then.
    void Start();
    const TStartupState& Startup() const { return StartupState; }
    TGlobalVars& Vars() { return State; }
    const TGlobalVars& Vars() const { return State; }
    const std::string& ProgramFolder() const { return ExeFolder; }

    // --- engine ---
    // Created on first call; the logger passes error lines only.
    TFFLogger& Logger();
    // Created on first call; nullptr before.
    TFFEncoder& CreateEncoder();
    TFFEncoder* Encoder() const { return EncoderComponent.get(); }

    // --- conversion ---
    // The input list's rows and the conversion session with the progress list; both live as
    // long as the controller.
    TInputListModel& Inputs() { return *InputRows; }
    TConversionSession& Conversion() { return *ConversionPart; }

    // --- script host ---
    // A new host for the window; the window adds its own items, then AddHostItem adds the
    // "Host" item after them.
    TJavaScript& CreateScriptHost(uintptr_t windowHandle);
    void AddHostItem();
    TJavaScript* ScriptHost() const { return Script.get(); }
    const std::shared_ptr<THostScriptlet>& HostItem() const { return HostScriptlet; }

    // --- downloads ---
    // A new session: the queue, which uses the script host (it must exist), and the model of
    // its rows; what else the run reports goes to view. A former session goes first.
    TDownloadQueue& CreateQueue(IDownloadView& view);
    TDownloadSession* Downloads() const { return DownloadSession.get(); }
    // The queue's table; it lives as long as the controller and shows the latest session.
    TQueueModel& QueueRowsModel() { return *QueueRows; }
    TDownloadQueue* Queue() const;

    // The close sequence: the queue goes before the script host it uses, and the logger
    // reports to no one any more. The encoder stays until the controller goes.
    void Release();

    // --- the wizard's rules for this edition ---
    TWizardPage FirstPage() const;
    // What a page shows; probing: files are still being probed on the input list, which is
    // not ready to be converted until they are.
    TPageTexts PageState(TWizardPage page, bool probing, const std::string& title) const;
    TNextRule NextRule(TWizardPage page) const;
    TCommandRule BackRule(TWizardPage page) const;
    TCommandRule ExitRule(TWizardPage page) const;

    // --- the wizard's commands, carried out on a view ---
    // Next, Back and Exit on the view's page.
    void Next(IWizardView& view);
    void Back(IWizardView& view);
    void Exit(IWizardView& view);
    // Asks the rule's question and, on yes, carries out its action.
    void Carry(const TCommandRule& rule, IWizardView& view);
    // The input list (with a batch being probed) is emptied.
    void ClearInputs(IWizardView& view);
    // Creates folder with its missing parents; false when that fails or folder is empty.
    static bool MakeFolder(const std::string& folder);

private:
    std::string ExeFolder;
    TGlobalVars& State;
    TStartupState StartupState;
    // In this order: the queue uses the script host, the encoder logs through the logger.
    std::unique_ptr<TFFLogger> EngineLogger;
    std::unique_ptr<TFFEncoder> EncoderComponent;
    // The run attaches its handlers to the encoder, so it goes first.
    std::unique_ptr<TInputListModel> InputRows;
    std::unique_ptr<TConversionSession> ConversionPart;
    std::unique_ptr<TJavaScript> Script;
    std::shared_ptr<THostScriptlet> HostScriptlet;
    // The table outlives every session that fills it.
    std::unique_ptr<TQueueModel> QueueRows;
    std::unique_ptr<TDownloadSession> DownloadSession;
};

} // namespace cw
