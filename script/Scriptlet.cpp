#include "script/Scriptlet.h"

#include <QMetaEnum>
#include <QMetaObject>
#include <QMetaProperty>
#include <QObject>
#include <QString>

#include <deque>
#include <stdexcept>

namespace cw {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

int IndexOfName(const std::vector<std::string>& list, const std::string& name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (SameName(list[i], name))
            return static_cast<int>(i);
    return -1;
}

} // namespace

TScriptlet::TScriptlet(std::string name, std::vector<std::string> methodNames)
    : Name(std::move(name)), MethodNameList(std::move(methodNames)) {}

TDispResult TScriptlet::GetIdsOfNames(const std::vector<std::string>& names, int32_t& dispId) {
    if (names.size() != 1)
        return TDispResult::drUnknownName;
    const std::string& name = names.front();
    if (int index = IndexOfName(MethodNameList, name); index >= 0) {
        dispId = MethodBase + index;
        return TDispResult::drOk;
    }
    int index = IndexOfName(PropertyNameList, name);
    if (index < 0) {
        bool known = false;
        try {
            known = HasProperty(name);
        } catch (const std::exception&) {
            known = false;
        }
        if (!known)
            return TDispResult::drUnknownName;
        PropertyNameList.push_back(name);
        index = static_cast<int>(PropertyNameList.size()) - 1;
    }
    dispId = index - MethodBase;
    return TDispResult::drOk;
}

TDispResult TScriptlet::Invoke(int32_t dispId, unsigned flags, const QVariantList& args,
                               QVariant* result) {
    LastErrMsg.clear();
    try {
        if (flags & dfMethod) {
            const int64_t index = int64_t(dispId) - MethodBase;
            if (index < 0 || index >= int64_t(MethodNameList.size()))
                return TDispResult::drBadIndex;
            QVariant value;
            CallMethod(static_cast<int>(index), args, value);
            if (result)
                *result = value;
            return TDispResult::drOk;
        }
        const int64_t index = int64_t(dispId) + MethodBase;
        if (index < INT32_MIN || index > INT32_MAX)
            return TDispResult::drBadIndex;
        if (flags & dfPropertyGet) {
            QVariant value;
            GetProperty(static_cast<int>(index), args, value);
            if (result)
                *result = value;
            return TDispResult::drOk;
        }
        if (flags & dfPropertyPut) {
            if (args.isEmpty())
                return TDispResult::drBadParamCount;
            SetProperty(static_cast<int>(index), args);
            return TDispResult::drOk;
        }
        return TDispResult::drBadIndex;
    } catch (const std::exception& e) {
        LastErrMsg = e.what();
    } catch (...) {
        LastErrMsg = "Unknown failure.";
    }
    return TDispResult::drFail;
}

bool TScriptlet::HasProperty(const std::string&) {
    return false;
}

void TScriptlet::CallMethod(int, const QVariantList&, QVariant& result) {
    result.clear();
}

void TScriptlet::GetProperty(int, const QVariantList&, QVariant& result) {
    result.clear();
}

void TScriptlet::SetProperty(int, const QVariantList&) {}

std::string ScriptArgText(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return {};
    return value.toString().toStdString();
}

// ---------------------------------------------------------------------------------------------

namespace {
// Method numbers of "Host" in list order.
enum THostMethod { hmAlert, hmEcho };
} // namespace

THostScriptlet::THostScriptlet() : TScriptlet("Host", {"Alert", "Echo"}) {}

void THostScriptlet::CallMethod(int index, const QVariantList& args, QVariant& result) {
    result.clear();
    if (args.size() != 1)
        return;
    const TTextEvent& handler = index == hmAlert ? OnAlert : OnEcho;
    if ((index == hmAlert || index == hmEcho) && handler)
        handler(*this, ScriptArgText(args.front()));
}

// ---------------------------------------------------------------------------------------------

namespace {

// A property value as the script sees it: plain values stay, enumerations become names,
// anything else becomes its text when it has one.
QVariant ScriptValueOf(const QMetaProperty& property, const QVariant& value) {
    if (property.isEnumType()) {
        QVariant number = value;
        if (!number.convert(QMetaType::fromType<int>()))
            return value.toString();
        const QMetaEnum enumerator = property.enumerator();
        const int n = number.toInt();
        const QByteArray key = property.isFlagType() ? enumerator.valueToKeys(n)
                                                     : QByteArray(enumerator.valueToKey(n));
        return key.isEmpty() ? QVariant(n) : QVariant(QString::fromLatin1(key));
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString:
        return value;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toDouble();
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

int PropertyIndex(const QMetaObject* meta, const char* name) {
    for (int i = 0; i < meta->propertyCount(); ++i)
        if (qstrcmp(meta->property(i).name(), name) == 0)
            return i;
    return -1;
}

} // namespace

TComponentScriptlet::TComponentScriptlet(QObject* component, std::string name)
    : TScriptlet(std::move(name)), Target(component) {
    if (Name.empty() && component)
        Name = component->objectName().toStdString();
}

QObject* TComponentScriptlet::FindChild(const QString& name) const {
    if (!Target || name.isEmpty())
        return nullptr;
    // Breadth first, so a direct child wins over a deeper namesake.
    std::deque<QObject*> queue(Target->children().begin(), Target->children().end());
    while (!queue.empty()) {
        QObject* object = queue.front();
        queue.pop_front();
        if (object->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return object;
        const QObjectList& children = object->children();
        queue.insert(queue.end(), children.begin(), children.end());
    }
    return nullptr;
}

int TComponentScriptlet::FindProperty(const QString& name) const {
    if (!Target)
        return -1;
    const QMetaObject* meta = Target->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i)
        if (QString::fromLatin1(meta->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    if (name.compare(QLatin1String("Caption"), Qt::CaseInsensitive) != 0)
        return -1;
    // A window's caption is its title; a control inside a window shows its caption as text.
    static const char* const windowOrder[] = {"windowTitle", "title", "text"};
    static const char* const controlOrder[] = {"text", "title", "windowTitle"};
    const bool isWindow = Target->parent() == nullptr || Target->isWindowType();
    for (const char* candidate : isWindow ? windowOrder : controlOrder)
        if (int index = PropertyIndex(meta, candidate); index >= 0)
            return index;
    return -1;
}

std::vector<std::string> TComponentScriptlet::KnownPropertyNames() const {
    std::vector<std::string> names;
    if (!Target)
        return names;
    std::deque<QObject*> queue(Target->children().begin(), Target->children().end());
    while (!queue.empty()) {
        QObject* object = queue.front();
        queue.pop_front();
        if (!object->objectName().isEmpty())
            names.push_back(object->objectName().toStdString());
        const QObjectList& children = object->children();
        queue.insert(queue.end(), children.begin(), children.end());
    }
    const QMetaObject* meta = Target->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i)
        names.push_back(meta->property(i).name());
    if (FindProperty(QStringLiteral("Caption")) >= 0)
        names.push_back("Caption");
    return names;
}

bool TComponentScriptlet::HasProperty(const std::string& name) {
    const QString text = QString::fromStdString(name);
    return FindChild(text) || FindProperty(text) >= 0;
}

QObject* TComponentScriptlet::Alive(int index, QString& name) const {
    if (index < 0 || index >= static_cast<int>(PropertyNameList.size()))
        return nullptr;
    if (!Target)
        throw std::runtime_error("The object \"" + Name + "\" no longer exists.");
    name = QString::fromStdString(PropertyNameList[index]);
    return Target.data();
}

void TComponentScriptlet::GetProperty(int index, const QVariantList&, QVariant& result) {
    result.clear();
    QString name;
    QObject* target = Alive(index, name);
    if (!target)
        return;
    if (QObject* child = FindChild(name)) {
        result = QVariant::fromValue<TScriptletPtr>(
            std::make_shared<TComponentScriptlet>(child, child->objectName().toStdString()));
        return;
    }
    const int property = FindProperty(name);
    if (property < 0)
        return;
    const QMetaProperty meta = target->metaObject()->property(property);
    result = ScriptValueOf(meta, meta.read(target));
}

void TComponentScriptlet::SetProperty(int index, const QVariantList& args) {
    if (args.size() != 1)
        return;
    QString name;
    QObject* target = Alive(index, name);
    if (!target || FindChild(name))
        return;
    const int property = FindProperty(name);
    const QMetaProperty meta =
        property >= 0 ? target->metaObject()->property(property) : QMetaProperty();
    if (property < 0 || !meta.isWritable() || !meta.write(target, args.front()))
        throw std::runtime_error("Cannot set the property \"" + name.toStdString() + "\" of \"" +
                                 Name + "\".");
}

} // namespace cw
