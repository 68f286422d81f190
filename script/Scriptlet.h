// Named objects that a script reaches by name: the late-bound member model shared by all of
// them, the "Host" object and the wrapper that exposes a QObject (a window) with its children
// and properties.
#pragma once

#include <QMetaType>
#include <QPointer>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

namespace cw {

// How a member is used in one Invoke; a call may carry several (a method flag wins).
enum TDispatchFlag : unsigned {
    dfMethod = 1,
    dfPropertyGet = 2,
    dfPropertyPut = 4,
};

// Outcome of a name lookup or an invocation.
enum class TDispResult {
    drOk,
    drUnknownName,   // no member of that name, or not exactly one name asked for
    drBadIndex,      // a method number outside the method list
    drBadParamCount, // a property write without a value
    drFail,          // the member raised; LastErrMsg holds its text
};

class TScriptlet;
using TScriptletPtr = std::shared_ptr<TScriptlet>;

// Base of every named object. Members are numbered: a method is 512 + its index in the
// method-name list, a property is its index in the property-name list - 512. Names are matched
// case-insensitively; property names are learnt on first lookup through HasProperty.
class TScriptlet {
public:
    static constexpr int32_t MethodBase = 512;

    explicit TScriptlet(std::string name = {}, std::vector<std::string> methodNames = {});
    virtual ~TScriptlet() = default;
    TScriptlet(const TScriptlet&) = delete;
    TScriptlet& operator=(const TScriptlet&) = delete;

    // Exactly one name per request; fills dispId on success.
    TDispResult GetIdsOfNames(const std::vector<std::string>& names, int32_t& dispId);
    TDispResult GetIdOfName(const std::string& name, int32_t& dispId) {
        return GetIdsOfNames({name}, dispId);
    }
    // Calls a method or reads or writes a property. Arguments come in the caller's order;
    // result may be null when the caller wants none. A value holding a TScriptletPtr is an
    // object. Exceptions of the member turn into drFail with LastErrMsg set.
    TDispResult Invoke(int32_t dispId, unsigned flags, const QVariantList& args, QVariant* result);

    const std::vector<std::string>& MethodNames() const { return MethodNameList; }
    const std::vector<std::string>& PropertyNames() const { return PropertyNameList; }
    // The property names HasProperty accepts at present, for an engine that declares an
    // object's members when it first hands the object to a script.
    virtual std::vector<std::string> KnownPropertyNames() const { return {}; }

    std::string Name;
    std::string LastErrMsg;

protected:
    virtual bool HasProperty(const std::string& name);
    virtual void CallMethod(int index, const QVariantList& args, QVariant& result);
    virtual void GetProperty(int index, const QVariantList& args, QVariant& result);
    virtual void SetProperty(int index, const QVariantList& args);

    std::vector<std::string> MethodNameList;
    std::vector<std::string> PropertyNameList;
};

// Text of a script value as a method that takes text sees it: nothing (undefined, null) is
// the empty text.
std::string ScriptArgText(const QVariant& value);

// The object named "Host": Alert(text) and Echo(text), each with exactly one argument;
// another number of arguments does nothing and returns nothing.
class THostScriptlet : public TScriptlet {
public:
    using TTextEvent = std::function<void(THostScriptlet& sender, const std::string& text)>;

    THostScriptlet();

    TTextEvent OnAlert;
    TTextEvent OnEcho;

protected:
    void CallMethod(int index, const QVariantList& args, QVariant& result) override;
};

// Exposes one QObject: its descendants by objectName (case-insensitive; nearer ones first) as
// new scriptlets, its Qt properties by name (case-insensitive) for reading and writing, with
// enumerations and flags as their names. "Caption" is the window title of a window and the
// text of a child control. No methods.
class TComponentScriptlet : public TScriptlet {
public:
    // The name is the given one, else the object's own name.
    explicit TComponentScriptlet(QObject* component, std::string name = {});

    QObject* Component() const { return Target.data(); }
    // Descendants' names (nearer first), the Qt property names and "Caption" when it applies.
    std::vector<std::string> KnownPropertyNames() const override;

protected:
    bool HasProperty(const std::string& name) override;
    void GetProperty(int index, const QVariantList& args, QVariant& result) override;
    void SetProperty(int index, const QVariantList& args) override;

private:
    QObject* FindChild(const QString& name) const;
    // Index of the Qt property that a script name stands for, or -1.
    int FindProperty(const QString& name) const;
    QObject* Alive(int index, QString& name) const;

    QPointer<QObject> Target;
};

} // namespace cw

Q_DECLARE_METATYPE(cw::TScriptletPtr)
