#include "script/Script.h"

#include "script/ScriptRunner.h"

#include <QCoreApplication>
#include <QJSEngine>

#include <stdexcept>

namespace cw {

TScriptState ScriptStateFromEngine(int engineState) {
    switch (engineState) {
    case esUninitialized:
        return TScriptState::ssUninitialized;
    case esStarted:
        return TScriptState::ssStarted;
    case esConnected:
        return TScriptState::ssConnected;
    case esDisconnected:
        return TScriptState::ssDisconnected;
    case esClosed:
        return TScriptState::ssClosed;
    case esInitialized:
        return TScriptState::ssInitialized;
    default:
        return TScriptState::ssUninitialized;
    }
}

TCustomScript::TCustomScript() = default;

// The engine thread is parked and calls nothing, so releasing it runs no handler.
TCustomScript::~TCustomScript() = default;

void TCustomScript::AddItem(TScriptletPtr item) {
    if (!item || FindItem(item->Name))
        return;
    ItemList.push_back(std::move(item));
}

TScriptletPtr TCustomScript::FindItem(const std::string& name) const {
    for (const TScriptletPtr& item : ItemList)
        if (item->Name == name)
            return item;
    return nullptr;
}

void TCustomScript::Close() {
    if (InRun)
        throw std::logic_error("Cannot close the script engine while a script runs.");
    if (!Runner)
        return;
    // Released on the way out even when the handler throws.
    const std::unique_ptr<detail::TScriptRunner> runner = std::move(Runner);
    if (OnStateChange)
        OnStateChange(*this, TScriptState::ssClosed);
}

void TCustomScript::Run() {
    if (InRun)
        throw std::logic_error("Cannot run a script while a script runs.");
    Close();

    std::string text;
    for (size_t i = 0; i < Lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += Lines[i];
    }
    std::vector<std::string> names;
    for (const TScriptletPtr& item : ItemList)
        names.push_back(item->Name);

    struct TRunFlag {
        bool& Flag;
        explicit TRunFlag(bool& flag) : Flag(flag) { Flag = true; }
        ~TRunFlag() { Flag = false; }
    } running(InRun);
    Runner = std::make_unique<detail::TScriptRunner>(*this, std::move(text), std::move(names));
    try {
        Runner->Serve();
    } catch (...) {
        // An engine that could not be created leaves nothing to close.
        if (!Runner->EngineCreated())
            Runner.reset();
        throw;
    }
}

std::unique_ptr<QJSEngine> TCustomScript::CreateEngine() {
    throw std::runtime_error("This script host has no script engine.");
}

std::unique_ptr<QJSEngine> TJavaScript::CreateEngine() {
    // QJSEngine cannot exist without an application object; say so instead of aborting.
    if (!QCoreApplication::instance())
        throw std::runtime_error(
            "The script engine cannot be created: no application object exists.");
    return std::make_unique<QJSEngine>();
}

} // namespace cw
