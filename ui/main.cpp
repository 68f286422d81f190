// The window program: reads the edition's title from the branding file, loads the icon,
// creates the log window and the main window and runs the event loop until the main window
// has closed. It reads no command-line options.
#include "app/Branding.h"
#include "app/GlobalVars.h"
#include "app/Platform.h"
#include "app/Utils.h"
#include "control/LogindPower.h"
#include "ui/Application.h"
#include "ui/DesktopNotifier.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"
#include "ui/PreviewWindow.h"
#include "ui/QtDesktop.h"
#include "ui/QtMainThread.h"
#include "ui/SessionEndings.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <memory>

namespace {

// Start-up cannot go on: tell the user on the terminal and, when possible, in a box.
int StartupFailed(const std::string& text) {
    std::fprintf(stderr, "clipwright: %s\n", text.c_str());
    QMessageBox::critical(nullptr, "Clipwright", QString::fromStdString(text));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    cw::TApplication app(argc, argv);
    // Running tasks, joins and transfers hold files side by side: room beyond the usual limit.
    cw::RaiseOpenFileLimit();
    using namespace cw;

    TQtMainThreadDispatcher dispatcher;
    TQtDesktop desktop;
    TLogindPowerService power;
    TDBusNotifier notifier;
    // Installed for the program's lifetime, taken out again on every way out.
    struct TInstalled {
        TInstalled(IMainThreadDispatcher* d, IDesktop* desk, IPowerService* p, INotifier* n) {
            SetMainThreadDispatcher(d);
            SetDesktop(desk);
            SetPowerService(p);
            SetNotifier(n);
            InstallQtPreviewer();
        }
        ~TInstalled() {
            SetPreviewerFactory(nullptr);
            SetNotifier(nullptr);
            SetPowerService(nullptr);
            SetDesktop(nullptr);
            SetMainThreadDispatcher(nullptr);
        }
    } installed(&dispatcher, &desktop, &power, &notifier);

    const std::string exeFolder = ExecutableFolder();
    std::string title;
    try {
        title =
            LoadBrandingFile(exeFolder + BrandingFileName).ReadString(BrandingSection, "Name", "");
    } catch (const std::exception& e) {
        return StartupFailed(e.what());
    }
    QApplication::setApplicationName(QString::fromStdString(title));

    const std::string iconPath = exeFolder + "icon.ico";
    const QIcon icon(QString::fromStdString(iconPath));
    if (icon.isNull() || icon.availableSizes().isEmpty())
        return StartupFailed("Cannot load the application icon " + iconPath);
    QApplication::setWindowIcon(icon);

    int result = 0;
    {
        // The log window exists before the main window, whose creation may write to it.
        TFormLog log(GlobalVars());
        std::unique_ptr<TFormMain> main;
        try {
            main = std::make_unique<TFormMain>(exeFolder, log, GlobalVars());
        } catch (const std::exception& e) {
            return StartupFailed(e.what());
        }
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(main.get(), &TFormMain::Closed, &app, &QApplication::quit,
                         Qt::QueuedConnection);
        app.OnError = [&log](const std::string& line) { log.AppendLine(line); };
        // From here on a signal, the session manager or a power request ends the program
        // through the close sequence.
        std::unique_ptr<TSessionEndings> endings;
        try {
            endings = std::make_unique<TSessionEndings>(*main);
        } catch (const std::exception& e) {
            log.AppendLine(e.what());
        }
        main->show();
        result = QApplication::exec();
        endings.reset();
        app.OnError = nullptr;
    }
    return result;
}
