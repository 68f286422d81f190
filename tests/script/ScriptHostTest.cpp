// The script host with a real engine: errors, events, items, fresh engines, the "Form" object
// and stopping a script that never ends.
#include "ScriptTestUtil.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace cw;
using namespace cw::test;
using Clock = std::chrono::steady_clock;

TEST(ScriptHost, RunsGlobalCodeBetweenEnterAndLeaveThroughTheEngineStates) {
    TRecordedHost host;
    host.Run(
        {"function twice(s) { return s + s; }", "Host.Echo(twice('ab'));", "Host.Alert('note');"});
    EXPECT_EQ(host.Echoes, std::vector<std::string>{"abab"});
    EXPECT_EQ(host.Alerts, std::vector<std::string>{"note"});
    EXPECT_TRUE(host.Errors.empty());
    EXPECT_EQ(host.Events, (std::vector<std::string>{
                               State(TScriptState::ssInitialized), State(TScriptState::ssStarted),
                               "enter", "echo", "leave", State(TScriptState::ssConnected)}));
    host.Events.clear();
    host.Script.Close();
    EXPECT_EQ(host.Events, std::vector<std::string>{State(TScriptState::ssClosed)});
    host.Events.clear();
    host.Script.Close(); // nothing left to close
    EXPECT_TRUE(host.Events.empty());
}

TEST(ScriptHost, SyntaxErrorIsReportedWithItsLineAndNothingRuns) {
    TRecordedHost host;
    EXPECT_NO_THROW(host.Run({"Host.Echo('before');", "var broken = (;", "Host.Echo('after');"}));
    EXPECT_TRUE(host.Echoes.empty());
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Line, 1);
    EXPECT_EQ(host.Errors[0].Position, 14); // the ';' that cannot follow '('
    EXPECT_FALSE(host.Errors[0].Description.empty());
    EXPECT_EQ(host.Events, (std::vector<std::string>{State(TScriptState::ssInitialized), "error"}));
}

TEST(ScriptHost, RunTimeErrorSkipsTheRestAndIsReportedOnceWithItsLine) {
    TRecordedHost host;
    EXPECT_NO_THROW(host.Run({"Host.Echo('one');", "", "Foo.Bar();", "Host.Echo('two');"}));
    EXPECT_EQ(host.Echoes, std::vector<std::string>{"one"});
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Line, 2);
    EXPECT_NE(host.Errors[0].Description.find("Foo"), std::string::npos);
    EXPECT_EQ(host.Errors[0].ErrorObject.toMap().value("name").toString(), "ReferenceError");
    EXPECT_EQ(host.Events,
              (std::vector<std::string>{State(TScriptState::ssInitialized),
                                        State(TScriptState::ssStarted), "enter", "echo", "error",
                                        "leave", State(TScriptState::ssConnected)}));

    // A thrown value that is no error object, from inside a function: its text and the line
    // where it was thrown.
    host.Errors.clear();
    host.Run({"function f() {", "  throw 'plain';", "}", "f();"});
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Description, "plain");
    EXPECT_EQ(host.Errors[0].Line, 1);
}

TEST(ScriptHost, HostOffersOnlyAlertAndEchoWithExactlyOneArgument) {
    TRecordedHost host;
    host.Run({"Host.Echo();", "Host.Echo('a', 'b');", "Host.Alert();", "Host.Alert(1, 2);",
              "Host.Echo(typeof Host.Echo('x'));", "Host.Echo(42);", "Host.Echo(null);",
              "Host.Echo('ReadText' in Host ? 'yes' : 'no');"});
    EXPECT_TRUE(host.Errors.empty());
    EXPECT_TRUE(host.Alerts.empty());
    EXPECT_EQ(host.Echoes, (std::vector<std::string>{"x", "undefined", "42", "", "no"}));

    for (const char* call : {"Host.CreateObject('Scripting.FileSystemObject');",
                             "Host.ReadText('/etc/passwd');", "Host.WriteText('/tmp/x', 'y');"}) {
        host.Errors.clear();
        host.Echoes.clear();
        host.Run({"Host.Echo('start');", call, "Host.Echo('not reached');"});
        EXPECT_EQ(host.Echoes, std::vector<std::string>{"start"}) << call;
        ASSERT_EQ(host.Errors.size(), 1u) << call;
        EXPECT_EQ(host.Errors[0].Line, 1) << call;
    }
}

TEST(ScriptHost, ItemsAreKeptByFirstNameAndFoundCaseSensitively) {
    TRecordedHost host;
    auto second = std::make_shared<THostScriptlet>();
    std::vector<std::string> secondEchoes;
    second->OnEcho = [&](THostScriptlet&, const std::string& t) { secondEchoes.push_back(t); };
    host.Script.AddItem(second);
    host.Script.AddItem(nullptr);
    ASSERT_EQ(host.Script.Items().size(), 1u);
    EXPECT_EQ(host.Script.FindItem("Host"), host.Host);
    EXPECT_EQ(host.Script.FindItem("host"), nullptr);

    auto other = std::make_shared<THostScriptlet>();
    other->Name = "Other";
    other->OnEcho = [&](THostScriptlet&, const std::string& t) { secondEchoes.push_back(t); };
    host.Script.AddItem(other);
    host.Run({"Host.Echo('first');", "Other.Echo('other');"});
    EXPECT_EQ(host.Echoes, std::vector<std::string>{"first"});
    EXPECT_EQ(secondEchoes, std::vector<std::string>{"other"});
}

TEST(ScriptHost, EveryRunStartsFromAFreshEngine) {
    TRecordedHost host;
    host.Run({"var kept = 1;", "Host = 5;", "Math.pi2 = 6.28;", "Host.Echo('unreached');"});
    ASSERT_EQ(host.Errors.size(), 1u); // Host was replaced by a number
    host.Errors.clear();
    host.Events.clear();
    host.Run({"Host.Echo(typeof kept);", "Host.Echo(typeof Math.pi2);"});
    EXPECT_TRUE(host.Errors.empty());
    EXPECT_EQ(host.Echoes, (std::vector<std::string>{"undefined", "undefined"}));
    ASSERT_FALSE(host.Events.empty());
    EXPECT_EQ(host.Events.front(), State(TScriptState::ssClosed)); // the old engine went first
}

TEST(ScriptHost, AnExceptionInsideAHostCallBecomesAScriptError) {
    TRecordedHost host;
    host.Host->OnEcho = [](THostScriptlet&, const std::string& text) {
        if (text == "bad")
            throw std::invalid_argument("not an itag: bad");
    };
    host.Run({"Host.Echo('good');",
              "try { Host.Echo('bad'); } catch (e) { Host.Alert(e.message); }", "Host.Echo('bad');",
              "Host.Alert('not reached');"});
    EXPECT_EQ(host.Alerts, std::vector<std::string>{"not an itag: bad"});
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Description, "not an itag: bad");
    EXPECT_EQ(host.Errors[0].Line, 2);
}

TEST(ScriptHost, RunAndCloseFromInsideTheScriptAreRefused) {
    TRecordedHost host;
    host.Host->OnEcho = [&host](THostScriptlet&, const std::string& text) {
        if (text == "run")
            host.Script.Run();
        else
            host.Script.Close();
    };
    host.Run({"try { Host.Echo('run'); } catch (e) { Host.Alert(e.message); }",
              "try { Host.Echo('close'); } catch (e) { Host.Alert(e.message); }"});
    EXPECT_EQ(host.Alerts, (std::vector<std::string>{"Cannot run a script while a script runs.",
                                                     "Cannot close the script engine while a "
                                                     "script runs."}));
    EXPECT_FALSE(host.Script.Running());
}

TEST(ScriptHost, HandlerExceptionStopsTheScriptAndLeavesRun) {
    TRecordedHost host;
    host.Script.OnEnter = [](TCustomScript&) { throw std::runtime_error("enter refused"); };
    host.Script.Lines = {"while (true) {}"};
    try {
        host.Script.Run();
        FAIL() << "Run returned normally";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "enter refused");
    }
    EXPECT_TRUE(host.Errors.empty());
    // The host stays usable.
    host.Script.OnEnter = nullptr;
    host.Run({"Host.Echo('again');"});
    EXPECT_EQ(host.Echoes, std::vector<std::string>{"again"});
}

TEST(ScriptHost, WithoutAnEngineRunThrows) {
    TCustomScript plain;
    plain.Lines = {"1;"};
    EXPECT_THROW(plain.Run(), std::runtime_error);
    EXPECT_NO_THROW(plain.Close());
}

TEST(ScriptHost, EndlessScriptStopsSoonAfterQueryContinueSaysNo) {
    TRecordedHost host;
    int polls = 0;
    Clock::time_point refused;
    std::thread::id pollThread;
    host.Script.QueryContinueInterval = std::chrono::milliseconds(20);
    host.Script.OnQueryContinue = [&](TCustomScript&, bool& allow) {
        pollThread = std::this_thread::get_id();
        if (++polls == 3) {
            allow = false;
            refused = Clock::now();
        }
    };
    host.Run({"Host.Echo('looping');", "var n = 0;", "while (true) { n++; }"});
    const auto stoppedAfter = Clock::now() - refused;
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(pollThread, std::this_thread::get_id());
    EXPECT_LT(stoppedAfter, std::chrono::seconds(1));
    EXPECT_EQ(host.Echoes, std::vector<std::string>{"looping"});
    EXPECT_TRUE(host.Errors.empty()); // a stop asked for by the host is no script error
    EXPECT_EQ(host.Events.back(), State(TScriptState::ssConnected));

    // A loop that keeps calling the host is stopped the same way.
    polls = 0;
    host.Echoes.clear();
    host.Run({"for (;;) Host.Echo('tick');"});
    EXPECT_EQ(polls, 3);
    EXPECT_FALSE(host.Echoes.empty());
    EXPECT_TRUE(host.Errors.empty());
}

// ---------------------------------------------------------------------------------------------

namespace {

struct TForm {
    QWidget Window;
    QWidget* Page;
    QLabel* Title;
    QLineEdit* Edit;

    TForm() {
        Window.setObjectName("FormMain");
        Window.setWindowTitle("Clip Converter");
        Page = new QWidget(&Window);
        Page->setObjectName("PageDownload");
        Title = new QLabel("Paste links", Page);
        Title->setObjectName("LabelTitle");
        Edit = new QLineEdit(Page);
        Edit->setObjectName("EditURL");
        auto* layout = new QVBoxLayout(Page);
        layout->addWidget(Title);
        layout->addWidget(Edit);
        Window.show();
    }
};

} // namespace

TEST(ScriptHost, FormReadsAndWritesCaptionsChildrenAndProperties) {
    TForm form;
    TRecordedHost host;
    host.Script.AddItem(std::make_shared<TComponentScriptlet>(&form.Window, "Form"));
    host.Run({"Host.Echo(Form.Caption);", "Host.Echo(Form.LabelTitle.Caption);",
              "Host.Echo(Form.PageDownload.EditURL.focusPolicy);", "Form.Caption = 'Renamed';",
              "Form.EditURL.text = 'http://example.test/watch?v=1';",
              "Form.EditURL.focusPolicy = 'ClickFocus';", "Host.Echo(Form.EditURL.maxLength + 1);",
              "Host.Echo(Form.visible);"});
    EXPECT_TRUE(host.Errors.empty()) << host.Errors.front().Description;
    EXPECT_EQ(host.Echoes, (std::vector<std::string>{"Clip Converter", "Paste links", "StrongFocus",
                                                     "32768", "true"}));
    EXPECT_EQ(form.Window.windowTitle(), "Renamed");
    EXPECT_EQ(form.Edit->text(), "http://example.test/watch?v=1");
    EXPECT_EQ(form.Edit->focusPolicy(), Qt::ClickFocus);

    // A name the form does not have is absent: undefined to read, an error to call.
    host.Run({"Host.Echo(typeof Form.NoSuchThing);", "Form.NoSuchThing();", "Host.Echo('no');"});
    EXPECT_EQ(host.Echoes.back(), "undefined");
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Line, 1);

    host.Errors.clear();
    host.Run({"Form.EditURL.maxLength = 'many';"}); // cannot be set: a script error
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_EQ(host.Errors[0].Line, 0);
}
