// Member numbering of the named objects, without an engine.
#include "script/Scriptlet.h"

#include <QLabel>
#include <QMetaEnum>
#include <QWidget>

#include <gtest/gtest.h>

using namespace cw;

TEST(Scriptlet, HostMethodsAreNumberedFrom512AndLookedUpCaseInsensitively) {
    THostScriptlet host;
    EXPECT_EQ(host.Name, "Host");
    int32_t id = 0;
    ASSERT_EQ(host.GetIdOfName("Alert", id), TDispResult::drOk);
    EXPECT_EQ(id, 512);
    ASSERT_EQ(host.GetIdOfName("ECHO", id), TDispResult::drOk);
    EXPECT_EQ(id, 513);
    for (const char* name : {"CreateObject", "ReadText", "WriteText", "Caption"})
        EXPECT_EQ(host.GetIdOfName(name, id), TDispResult::drUnknownName) << name;
    EXPECT_EQ(host.GetIdsOfNames({"Echo", "Alert"}, id), TDispResult::drUnknownName);
    EXPECT_EQ(host.GetIdsOfNames({}, id), TDispResult::drUnknownName);

    std::vector<std::string> echoed;
    host.OnEcho = [&](THostScriptlet& sender, const std::string& text) {
        EXPECT_EQ(&sender, &host);
        echoed.push_back(text);
    };
    QVariant result = "stale";
    EXPECT_EQ(host.Invoke(513, dfMethod | dfPropertyGet, {QString("hi")}, &result),
              TDispResult::drOk);
    EXPECT_FALSE(result.isValid());
    EXPECT_EQ(host.Invoke(513, dfMethod, {QVariant(1.5)}, nullptr), TDispResult::drOk);
    EXPECT_EQ(host.Invoke(513, dfMethod, {}, nullptr), TDispResult::drOk);
    EXPECT_EQ(echoed, (std::vector<std::string>{"hi", "1.5"}));
    EXPECT_EQ(host.Invoke(514, dfMethod, {QString("x")}, nullptr), TDispResult::drBadIndex);
    EXPECT_EQ(host.Invoke(511, dfMethod, {QString("x")}, nullptr), TDispResult::drBadIndex);

    host.OnEcho = [](THostScriptlet&, const std::string&) { throw std::runtime_error("boom"); };
    EXPECT_EQ(host.Invoke(513, dfMethod, {QString("x")}, nullptr), TDispResult::drFail);
    EXPECT_EQ(host.LastErrMsg, "boom");
}

TEST(Scriptlet, ComponentPropertiesAreNumberedInOrderOfFirstLookup) {
    QWidget window;
    window.setObjectName("FormMain");
    window.setWindowTitle("Title");
    auto* label = new QLabel("Label text", &window);
    label->setObjectName("LabelTitle");

    TComponentScriptlet form(&window);
    EXPECT_EQ(form.Name, "FormMain");
    EXPECT_EQ(TComponentScriptlet(&window, "Form").Name, "Form");

    int32_t id = 0;
    ASSERT_EQ(form.GetIdOfName("Caption", id), TDispResult::drOk);
    EXPECT_EQ(id, -512);
    ASSERT_EQ(form.GetIdOfName("LABELTITLE", id), TDispResult::drOk);
    EXPECT_EQ(id, -511);
    ASSERT_EQ(form.GetIdOfName("caption", id), TDispResult::drOk);
    EXPECT_EQ(id, -512);
    EXPECT_EQ(form.GetIdOfName("NoSuchThing", id), TDispResult::drUnknownName);
    EXPECT_EQ(form.PropertyNames(), (std::vector<std::string>{"Caption", "LABELTITLE"}));

    QVariant result;
    ASSERT_EQ(form.Invoke(-512, dfPropertyGet, {}, &result), TDispResult::drOk);
    EXPECT_EQ(result.toString(), "Title");
    ASSERT_EQ(form.Invoke(-511, dfPropertyGet, {}, &result), TDispResult::drOk);
    auto child = result.value<TScriptletPtr>();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Name, "LabelTitle");
    ASSERT_EQ(child->GetIdOfName("Caption", id), TDispResult::drOk);
    ASSERT_EQ(child->Invoke(id, dfPropertyGet, {}, &result), TDispResult::drOk);
    EXPECT_EQ(result.toString(), "Label text");

    // Writes: a value is needed; a child name is not written; a method call is no property.
    EXPECT_EQ(form.Invoke(-512, dfPropertyPut, {}, nullptr), TDispResult::drBadParamCount);
    EXPECT_EQ(form.Invoke(-512, dfPropertyPut, {QString("New")}, nullptr), TDispResult::drOk);
    EXPECT_EQ(window.windowTitle(), "New");
    EXPECT_EQ(form.Invoke(-511, dfPropertyPut, {QString("x")}, nullptr), TDispResult::drOk);
    EXPECT_EQ(label->text(), "Label text");
    EXPECT_EQ(form.Invoke(-512, dfMethod, {}, nullptr), TDispResult::drBadIndex);

    // Flags read as names that stand for the same value.
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    ASSERT_EQ(child->GetIdOfName("alignment", id), TDispResult::drOk);
    ASSERT_EQ(child->Invoke(id, dfPropertyGet, {}, &result), TDispResult::drOk);
    ASSERT_EQ(result.typeId(), QMetaType::QString);
    const QMetaEnum alignment = QMetaEnum::fromType<Qt::Alignment>();
    EXPECT_EQ(alignment.keysToValue(result.toString().toLatin1()),
              int(Qt::AlignRight | Qt::AlignTop))
        << result.toString().toStdString();

    // Once the widget is gone, reading reports a failure instead of touching freed memory.
    delete label;
    EXPECT_EQ(child->Invoke(id, dfPropertyGet, {}, &result), TDispResult::drFail);
    EXPECT_FALSE(child->LastErrMsg.empty());
}
