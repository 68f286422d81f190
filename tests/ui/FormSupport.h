// A main window of a test edition, with its own home, program folder, state record and log.
#pragma once

#include "app/GlobalVars.h"
#include "ui/FormFailedAddFile.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/QtMainThread.h"

#include "UiTestSupport.h"

#include <QTimer>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <vector>

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
    TRecordingNotifier Notifier;
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

// Closes every failed-files dialog that comes up, keeping the entries it listed.
class TFailedDialogWatcher {
public:
    TFailedDialogWatcher() {
        Timer.setInterval(5);
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<TFormFailedAddFile*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            std::vector<std::string> entries;
            for (int i = 0; i < dialog->ListViewFiles->topLevelItemCount(); ++i)
                entries.push_back(dialog->ListViewFiles->topLevelItem(i)->text(0).toStdString());
            Dialogs.push_back(entries);
            dialog->reject();
        });
        Timer.start();
    }
    std::vector<std::vector<std::string>> Dialogs;

private:
    QTimer Timer;
};

} // namespace cw::test
