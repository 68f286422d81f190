// Internal to the script host: one engine on a thread of its own, serving one Run.
#pragma once

#include "script/Script.h"

#include <QJSValue>
#include <QObject>

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace cw::detail {

class TScriptRunner;

// What the script's named objects call into. Lives on the engine thread; every call that
// reaches a scriptlet or the host is handed to the thread that called Run.
class TScriptBridge : public QObject {
    Q_OBJECT
public:
    explicit TScriptBridge(TScriptRunner& runner) : Runner(runner) {}

    // The named item as a script object; runs the host's item lookup on first use.
    Q_INVOKABLE QJSValue Item(const QString& name);
    // Reads, writes or calls the named member of a scriptlet on the host's side.
    Q_INVOKABLE QJSValue Get(int handle, const QString& name);
    Q_INVOKABLE void Put(int handle, const QString& name, const QJSValue& value);
    Q_INVOKABLE QJSValue Call(int handle, const QString& name, const QJSValue& args);

private:
    TScriptRunner& Runner;
};

class TScriptRunner {
public:
    // Starts the engine thread, which creates the engine and runs text at once; the caller
    // must then call Serve.
    TScriptRunner(TCustomScript& owner, std::string text, std::vector<std::string> itemNames);
    // Stops a script that still runs and ends the engine thread with its engine.
    ~TScriptRunner();

    // On the calling thread: runs the engine thread's calls and polls OnQueryContinue until
    // the run is over. Then rethrows a failure to create the engine or an exception that an
    // event handler threw.
    void Serve();
    // After Serve: false when the engine could not be created or prepared.
    bool EngineCreated() const { return !CreateError; }

private:
    friend class TScriptBridge;

    void ThreadMain();
    void Execute(QJSEngine& engine);
    void ReportError(const QJSValue& value, const QStringList& trace);
    void EngineState(TEngineState state);
    // On the engine thread: runs fn on the calling thread and waits for it.
    void CallHost(const std::function<void(TCustomScript&)>& fn);
    // On the calling thread: runs one handler, catching what it throws.
    void RunHandler(const std::function<void(TCustomScript&)>& fn);
    // Any thread: makes the engine abandon the script.
    void Interrupt();
    bool WasInterrupted();

    int AddHandle(TScriptletPtr scriptlet);
    TScriptletPtr FromHandle(int handle) const;
    // The script object of a scriptlet.
    QJSValue Wrap(TScriptletPtr scriptlet);
    // Resolves the member's number and invokes it on the calling thread; failures become
    // script errors.
    QJSValue Dispatch(int handle, const QString& member, unsigned flags, const QVariantList& args);

    TCustomScript& Owner;
    const std::string Text;
    const std::vector<std::string> ItemNames;

    // Engine thread only.
    QJSEngine* Engine = nullptr;
    std::unique_ptr<TScriptBridge> Bridge;
    QJSValue WrapFunction;
    QJSValue InstallFunction;
    std::vector<TScriptletPtr> Handles;

    // Shared between the two threads.
    std::mutex Lock;
    std::condition_variable Changed;
    QJSEngine* LiveEngine = nullptr; // for Interrupt; set while the engine exists
    const std::function<void(TCustomScript&)>* Pending = nullptr;
    bool PendingDone = false;
    bool Running = false; // the global code is executing
    std::chrono::steady_clock::time_point RunStart;
    bool Finished = false;
    bool Quit = false;
    bool Interrupted = false;
    std::exception_ptr CreateError;
    std::exception_ptr HandlerError; // calling thread only

    std::thread Thread;
};

} // namespace cw::detail
