// The script host: runs a script text in a script engine with named objects ("Host",
// "Form", ...) visible to it as globals, and reports errors, states and the script's entry and
// exit through events.
//
// Every Run starts a fresh engine. The engine executes on a thread of its own, but everything
// the host sees happens on the thread that called Run, inside that call: every event and
// every call the script makes into a named object is handed to the calling thread, which
// waits for the script and serves those calls meanwhile. That same waiting loop asks
// OnQueryContinue at intervals while the script runs, so a script that never ends can be
// stopped.
#pragma once

#include "script/Scriptlet.h"

#include <QVariant>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QJSEngine;

namespace cw {

enum class TScriptState {
    ssUninitialized,
    ssInitialized,
    ssStarted,
    ssConnected,
    ssDisconnected,
    ssClosed,
};

// Engine state numbers as an engine reports them.
enum TEngineState : int {
    esUninitialized = 0,
    esStarted = 1,
    esConnected = 2,
    esDisconnected = 3,
    esClosed = 4,
    esInitialized = 5,
};
// Unknown numbers map to ssUninitialized.
TScriptState ScriptStateFromEngine(int engineState);

struct TScriptError {
    // What the script threw: for an error object a map of its name, message, lineNumber,
    // fileName and stack; any other thrown value as itself. A copy, valid after the engine
    // is gone.
    QVariant ErrorObject;
    std::string Description;
    int32_t Line = 0;     // zero-based
    int32_t Position = 0; // zero-based character in the line; 0 when the engine has none
};

namespace detail {
class TScriptRunner;
}

class TCustomScript {
public:
    using TNotifyEvent = std::function<void(TCustomScript& sender)>;
    using TScriptErrorEvent = std::function<void(TCustomScript& sender, const TScriptError& error)>;
    using TScriptContinueEvent = std::function<void(TCustomScript& sender, bool& allow)>;
    using TScriptStateEvent = std::function<void(TCustomScript& sender, TScriptState state)>;

    TCustomScript();
    // Releases the engine without running any handler.
    virtual ~TCustomScript();
    TCustomScript(const TCustomScript&) = delete;
    TCustomScript& operator=(const TCustomScript&) = delete;

    // Adds the item unless one with the same Name is already registered. Null is ignored.
    void AddItem(TScriptletPtr item);
    // First item whose Name equals name exactly (case-sensitive), or null.
    TScriptletPtr FindItem(const std::string& name) const;
    const std::vector<TScriptletPtr>& Items() const { return ItemList; }

    // Closes any previous engine, creates a fresh one with every item as a global object,
    // parses Lines and, when that succeeded, runs the global code to its end. Script errors
    // reach OnError, not the caller. Throws when the engine cannot be created, when called
    // while a script runs (from inside one of its callbacks), or when an event handler threw
    // (the script is stopped first).
    void Run();
    // Ends the engine of the last run (OnStateChange(ssClosed) when there was one). Throws
    // when called while a script runs.
    void Close();
    bool Running() const { return InRun; }

    std::vector<std::string> Lines;
    uintptr_t WindowHandle = 0;
    // How often OnQueryContinue is asked while a script runs.
    std::chrono::milliseconds QueryContinueInterval{100};

    TScriptErrorEvent OnError;
    TNotifyEvent OnEnter;
    TNotifyEvent OnLeave;
    TScriptContinueEvent OnQueryContinue;
    TScriptStateEvent OnStateChange;

protected:
    // Makes the engine; runs on the engine's own thread. Throws when there is none.
    virtual std::unique_ptr<QJSEngine> CreateEngine();

private:
    friend class detail::TScriptRunner;
    std::vector<TScriptletPtr> ItemList;
    std::unique_ptr<detail::TScriptRunner> Runner;
    bool InRun = false;
};

// The host with the JavaScript engine (QJSEngine). Needs a QCoreApplication (or QApplication)
// to exist.
class TJavaScript : public TCustomScript {
protected:
    std::unique_ptr<QJSEngine> CreateEngine() override;
};

} // namespace cw
