// A main window of a test edition, with its own home, program folder, state record and log.
#pragma once

#include "app/GlobalVars.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/QtMainThread.h"

#include "UiTestSupport.h"

#include <memory>

namespace cw::test {

class TFormFixture {
public:
    explicit TFormFixture(const std::string& branding) : Program(branding) {
        PreviousDispatcher = SetMainThreadDispatcher(&Dispatcher);
        Log = std::make_unique<TFormLog>(Vars);
        Create();
    }
    ~TFormFixture() {
        Form.reset();
        Log.reset();
        SetMainThreadDispatcher(PreviousDispatcher);
    }
    // Creates the window (again, after the previous one is gone), as a new start would.
    void Create() {
        Form.reset();
        Vars = TGlobalVars();
        Form = std::make_unique<TFormMain>(Program.Path(), *Log, Vars);
        QObject::connect(Form.get(), &TFormMain::MessageHandled,
                         [this](int message) { Handled.push_back(message); });
        QObject::connect(Form.get(), &TFormMain::Closed, [this] { ++ClosedCount; });
    }

    TDesktopScope Scope;
    TRecordingDesktop& Desktop = Scope.Desktop;
    TTempHome Home;
    TProgramFolder Program;
    TQtMainThreadDispatcher Dispatcher;
    TGlobalVars Vars;
    std::unique_ptr<TFormLog> Log;
    std::unique_ptr<TFormMain> Form;
    std::vector<int> Handled;
    int ClosedCount = 0;

private:
    IMainThreadDispatcher* PreviousDispatcher = nullptr;
};

} // namespace cw::test
