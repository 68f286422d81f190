#include "script/ScriptRunner.h"

#include <QJSEngine>
#include <QStringList>
#include <QVariantMap>

#include <stdexcept>

namespace cw::detail {

namespace {

// Builds the script objects. A named item becomes a global whose first read asks the host for
// the item. A scriptlet becomes a plain object with a function for each method and an accessor
// for each property name it knows; every use resolves the name to its member number on the
// host's side and invokes it there. Names the object does not have are simply absent: reading
// one gives undefined and calling one gives the engine's own "is not a function" error.
// (Proxies would let unknown names throw on read, but stopping the engine while a proxy trap
// runs inside a call crashes this engine generation.)
const char* const SetupCode = R"js((function (bridge, global) {
    function wrap(handle, name, methods, properties) {
        var object = {};
        properties.forEach(function (key) {
            Object.defineProperty(object, key, {
                get: function () { return bridge.Get(handle, key); },
                set: function (value) { bridge.Put(handle, key, value); },
                enumerable: true
            });
        });
        methods.forEach(function (key) {
            Object.defineProperty(object, key, {
                value: function () {
                    return bridge.Call(handle, key, Array.prototype.slice.call(arguments));
                },
                enumerable: true
            });
        });
        Object.defineProperty(object, Symbol.toStringTag, { value: name });
        return Object.preventExtensions(object);
    }
    function install(name) {
        function settle(value) {
            Object.defineProperty(global, name,
                { value: value, writable: true, enumerable: true, configurable: true });
            return value;
        }
        Object.defineProperty(global, name, {
            get: function () { return settle(bridge.Item(name)); },
            set: settle,
            enumerable: true,
            configurable: true
        });
    }
    return { wrap: wrap, install: install };
}))js";

// Where the script's own frames come from in the engine's stack traces.
const QString ScriptFileName = QStringLiteral("script");
const QString SetupFileName = QStringLiteral("host-objects");

QVariant ArgumentValue(const QJSValue& value) {
    if (value.isUndefined() || value.isNull())
        return {};
    if (value.isBool())
        return value.toBool();
    if (value.isNumber())
        return value.toNumber();
    return value.toString();
}

// A frame of the engine's stack trace reads "function:line:column:file". The innermost frame
// that belongs to the script gives the place of an error; frames of the host's own objects and
// of eval'd text are passed over.
bool TraceLocation(const QStringList& trace, int& line, int& column) {
    for (const QString& frame : trace) {
        const QStringList parts = frame.split(QLatin1Char(':'));
        // The engine turns the file name into a URL ("file:script").
        const QString file = parts.mid(3).join(QLatin1Char(':'));
        if (parts.size() < 4 || (file != ScriptFileName && !file.endsWith(':' + ScriptFileName)))
            continue;
        bool lineOk = false, columnOk = false;
        line = parts[1].toInt(&lineOk);
        column = parts[2].toInt(&columnOk);
        if (!columnOk)
            column = -1;
        if (lineOk)
            return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------

QJSValue TScriptBridge::Item(const QString& name) {
    TScriptletPtr item;
    Runner.CallHost([&](TCustomScript& owner) { item = owner.FindItem(name.toStdString()); });
    if (!item) {
        Runner.Engine->throwError(QJSValue::ReferenceError,
                                  name + QLatin1String(" is not defined"));
        return {};
    }
    return Runner.Wrap(item);
}

QJSValue TScriptBridge::Get(int handle, const QString& name) {
    return Runner.Dispatch(handle, name, dfPropertyGet, {});
}

void TScriptBridge::Put(int handle, const QString& name, const QJSValue& value) {
    Runner.Dispatch(handle, name, dfPropertyPut, {ArgumentValue(value)});
}

QJSValue TScriptBridge::Call(int handle, const QString& name, const QJSValue& args) {
    QVariantList arguments;
    const int count = args.property(QStringLiteral("length")).toInt();
    for (int i = 0; i < count; ++i)
        arguments.push_back(ArgumentValue(args.property(i)));
    return Runner.Dispatch(handle, name, dfMethod, arguments);
}

// ---------------------------------------------------------------------------------------------

TScriptRunner::TScriptRunner(TCustomScript& owner, std::string text,
                             std::vector<std::string> itemNames)
    : Owner(owner), Text(std::move(text)), ItemNames(std::move(itemNames)) {
    Thread = std::thread([this] { ThreadMain(); });
}

TScriptRunner::~TScriptRunner() {
    {
        std::lock_guard lock(Lock);
        Quit = true;
    }
    Interrupt();
    Changed.notify_all();
    Thread.join();
}

void TScriptRunner::ThreadMain() {
    std::unique_ptr<QJSEngine> engine;
    try {
        engine = Owner.CreateEngine();
        if (!engine)
            throw std::runtime_error("No script engine is available.");
        {
            std::lock_guard lock(Lock);
            LiveEngine = engine.get();
        }
        Engine = engine.get();
        Execute(*engine);
    } catch (...) {
        std::lock_guard lock(Lock);
        CreateError = std::current_exception();
    }
    {
        std::unique_lock lock(Lock);
        Finished = true;
        Changed.notify_all();
        // The engine stays until the host closes it.
        Changed.wait(lock, [this] { return Quit; });
        LiveEngine = nullptr;
    }
    WrapFunction = QJSValue();
    InstallFunction = QJSValue();
    Handles.clear();
    engine.reset();
    Bridge.reset();
    Engine = nullptr;
}

void TScriptRunner::Execute(QJSEngine& engine) {
    Bridge = std::make_unique<TScriptBridge>(*this);
    QJSEngine::setObjectOwnership(Bridge.get(), QJSEngine::CppOwnership);
    const QJSValue setup = engine.evaluate(QString::fromLatin1(SetupCode), SetupFileName)
                               .call({engine.newQObject(Bridge.get()), engine.globalObject()});
    WrapFunction = setup.property(QStringLiteral("wrap"));
    InstallFunction = setup.property(QStringLiteral("install"));
    if (!WrapFunction.isCallable() || !InstallFunction.isCallable())
        throw std::runtime_error("The script engine could not be prepared: " +
                                 setup.toString().toStdString());
    EngineState(esInitialized);

    for (const std::string& name : ItemNames)
        InstallFunction.call({QString::fromStdString(name)});

    const QString text = QString::fromStdString(Text);
    // Parse first, without running anything: the text goes to the Function constructor as a
    // value, which compiles it as a function body. Whatever that rejects would not parse as a
    // script either.
    const QJSValue parsed =
        engine.globalObject().property(QStringLiteral("Function")).callAsConstructor({text});
    if (parsed.isError()) {
        if (WasInterrupted())
            return;
        // Compiling the text as the script itself fails too, before any of it runs, and
        // gives the engine's own description and position.
        QStringList trace;
        const QJSValue error = engine.evaluate(text, ScriptFileName, 1, &trace);
        ReportError(error.isError() ? error : parsed, trace);
        return;
    }

    EngineState(esStarted);
    CallHost([](TCustomScript& owner) {
        if (owner.OnEnter)
            owner.OnEnter(owner);
    });
    {
        std::lock_guard lock(Lock);
        Running = true;
        RunStart = std::chrono::steady_clock::now();
    }
    Changed.notify_all();
    QStringList trace;
    const QJSValue result = engine.evaluate(text, ScriptFileName, 1, &trace);
    {
        std::lock_guard lock(Lock);
        Running = false;
    }
    // An uncaught exception leaves a stack trace; a stop by the host is not a script error.
    if (!trace.isEmpty() && !WasInterrupted())
        ReportError(result, trace);
    CallHost([](TCustomScript& owner) {
        if (owner.OnLeave)
            owner.OnLeave(owner);
    });
    EngineState(esConnected);
}

void TScriptRunner::ReportError(const QJSValue& value, const QStringList& trace) {
    TScriptError error;
    int line = -1, column = -1;
    const bool located = TraceLocation(trace, line, column);
    if (value.isError()) {
        error.Description = value.property(QStringLiteral("message")).toString().toStdString();
        QVariantMap object;
        for (const char* key : {"name", "message", "lineNumber", "fileName", "stack"}) {
            const QJSValue property = value.property(QLatin1String(key));
            if (!property.isUndefined())
                object.insert(QLatin1String(key), property.toVariant());
        }
        error.ErrorObject = object;
        const QJSValue lineNumber = value.property(QStringLiteral("lineNumber"));
        if (!located && lineNumber.isNumber())
            line = lineNumber.toInt();
    } else {
        error.Description = value.toString().toStdString();
        error.ErrorObject = value.isObject() ? QVariant(value.toString()) : value.toVariant();
    }
    error.Line = line > 0 ? line - 1 : 0;
    error.Position = column > 0 ? column - 1 : 0;
    CallHost([&error](TCustomScript& owner) {
        if (owner.OnError)
            owner.OnError(owner, error);
    });
}

void TScriptRunner::EngineState(TEngineState state) {
    CallHost([state](TCustomScript& owner) {
        if (owner.OnStateChange)
            owner.OnStateChange(owner, ScriptStateFromEngine(state));
    });
}

void TScriptRunner::CallHost(const std::function<void(TCustomScript&)>& fn) {
    std::unique_lock lock(Lock);
    if (Quit)
        return;
    Pending = &fn;
    PendingDone = false;
    Changed.notify_all();
    Changed.wait(lock, [this] { return PendingDone || Quit; });
    Pending = nullptr;
}

void TScriptRunner::RunHandler(const std::function<void(TCustomScript&)>& fn) {
    // After a handler failed, the script is being stopped and no further handler runs.
    if (HandlerError)
        return;
    try {
        fn(Owner);
    } catch (...) {
        HandlerError = std::current_exception();
        Interrupt();
    }
}

bool TScriptRunner::WasInterrupted() {
    std::lock_guard lock(Lock);
    return Interrupted;
}

void TScriptRunner::Interrupt() {
    std::lock_guard lock(Lock);
    Interrupted = true;
    if (LiveEngine)
        LiveEngine->setInterrupted(true);
}

void TScriptRunner::Serve() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(Lock);
    // Zero while no poll is due: the script is not running.
    Clock::time_point nextPoll{};
    for (;;) {
        if (Pending && !PendingDone) {
            const auto* fn = Pending;
            lock.unlock();
            RunHandler(*fn);
            lock.lock();
            PendingDone = true;
            Changed.notify_all();
            continue;
        }
        if (Finished)
            break;
        if (!Running) {
            nextPoll = {};
            Changed.wait(lock);
            continue;
        }
        // Once the host has said no, the script is only waited for: it is asked no more.
        if (Interrupted) {
            Changed.wait(lock);
            continue;
        }
        if (nextPoll == Clock::time_point{})
            nextPoll = RunStart + Owner.QueryContinueInterval;
        if (Clock::now() < nextPoll) {
            Changed.wait_until(lock, nextPoll);
            continue;
        }
        lock.unlock();
        bool allow = true;
        RunHandler([&allow](TCustomScript& owner) {
            if (owner.OnQueryContinue)
                owner.OnQueryContinue(owner, allow);
        });
        if (!allow)
            Interrupt();
        lock.lock();
        nextPoll = Clock::now() + Owner.QueryContinueInterval;
    }
    lock.unlock();
    if (CreateError)
        std::rethrow_exception(CreateError);
    if (HandlerError)
        std::rethrow_exception(HandlerError);
}

// ---------------------------------------------------------------------------------------------

int TScriptRunner::AddHandle(TScriptletPtr scriptlet) {
    Handles.push_back(std::move(scriptlet));
    return static_cast<int>(Handles.size()) - 1;
}

TScriptletPtr TScriptRunner::FromHandle(int handle) const {
    if (handle < 0 || handle >= static_cast<int>(Handles.size()))
        return nullptr;
    return Handles[handle];
}

QJSValue TScriptRunner::Wrap(TScriptletPtr scriptlet) {
    if (!scriptlet)
        return QJSValue(QJSValue::NullValue);
    QString name;
    QStringList methods, properties;
    CallHost([&](TCustomScript&) {
        name = QString::fromStdString(scriptlet->Name);
        for (const std::string& method : scriptlet->MethodNames())
            methods.push_back(QString::fromStdString(method));
        for (const std::string& property : scriptlet->KnownPropertyNames()) {
            const QString text = QString::fromStdString(property);
            // A method of the same name wins, as in a lookup; each name once.
            if (!methods.contains(text, Qt::CaseInsensitive) && !properties.contains(text))
                properties.push_back(text);
        }
    });
    const int handle = AddHandle(std::move(scriptlet));
    return WrapFunction.call(
        {handle, name, Engine->toScriptValue(methods), Engine->toScriptValue(properties)});
}

QJSValue TScriptRunner::Dispatch(int handle, const QString& member, unsigned flags,
                                 const QVariantList& args) {
    const TScriptletPtr scriptlet = FromHandle(handle);
    if (!scriptlet)
        return {};
    TDispResult outcome = TDispResult::drUnknownName;
    QVariant result;
    std::string failure;
    int32_t dispId = 0;
    CallHost([&](TCustomScript&) {
        outcome = scriptlet->GetIdOfName(member.toStdString(), dispId);
        if (outcome == TDispResult::drOk) {
            outcome = scriptlet->Invoke(dispId, flags, args, &result);
            failure = scriptlet->LastErrMsg;
        }
    });

    const QString where = QString::fromStdString(scriptlet->Name) + QLatin1Char('.') + member;
    switch (outcome) {
    case TDispResult::drOk:
        break;
    case TDispResult::drUnknownName:
        Engine->throwError(QJSValue::TypeError,
                           QStringLiteral("%1 is not a member of the object").arg(where));
        return {};
    case TDispResult::drBadIndex:
        Engine->throwError(QJSValue::TypeError, QStringLiteral("%1 cannot be used so").arg(where));
        return {};
    case TDispResult::drBadParamCount:
        Engine->throwError(QJSValue::TypeError,
                           QStringLiteral("Wrong number of arguments for %1").arg(where));
        return {};
    case TDispResult::drFail:
        Engine->throwError(failure.empty() ? QStringLiteral("%1 failed").arg(where)
                                           : QString::fromStdString(failure));
        return {};
    }
    if (result.metaType() == QMetaType::fromType<TScriptletPtr>())
        return Wrap(result.value<TScriptletPtr>());
    if (!result.isValid())
        return {};
    return Engine->toScriptValue(result);
}

} // namespace cw::detail
