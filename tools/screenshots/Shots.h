// What the screenshot programs share: letting the window settle, waiting for a state, and
// grabbing a window as the X server shows it.
#pragma once

#include "app/Platform.h"
#include "base/MainThread.h"
#include "ui/QtDesktop.h"
#include "ui/QtMainThread.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QPixmap>
#include <QScreen>

#include <string>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <string>

namespace shots {

inline void Settle(int ms = 300) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

// False when the time ran out first.
inline bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// The screen as the X server has it, cut to the window's frame.
inline bool Shoot(QWidget& window, const QString& path) {
    window.raise();
    window.activateWindow();
    Settle();
    const QRect frame = window.frameGeometry();
    QPixmap shot =
        window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "%s: cannot write %s\n", qPrintable(QApplication::applicationName()),
                     qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// What every screenshot program sets up: its three arguments (EXE_FOLDER OUTPUT_FOLDER
// PREFIX), the output folder, a temporary home so that a user's own settings are never
// touched, and the window's main-thread dispatcher and desktop for the program's lifetime.
class TSession {
public:
    TSession(int argc, char** argv, const char* program) {
        if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "step2")) {
            std::fprintf(stderr, "usage: %s EXE_FOLDER OUTPUT_FOLDER PREFIX [step2]\n", program);
            return;
        }
        Step2Only = argc == 5;
        ExeFolder = argv[1];
        Out = QString::fromLocal8Bit(argv[2]);
        Prefix = QString::fromLocal8Bit(argv[3]);
        QDir().mkpath(Out);
        QDir().mkpath(Home.path() + "/config");
        qputenv("XDG_CONFIG_HOME", (Home.path() + "/config").toLocal8Bit());
        qputenv("HOME", Home.path().toLocal8Bit());
        cw::SetMainThreadDispatcher(&Dispatcher);
        cw::SetDesktop(&Desktop);
        Valid = true;
    }
    ~TSession() {
        if (!Valid)
            return;
        cw::SetDesktop(nullptr);
        cw::SetMainThreadDispatcher(nullptr);
    }
    // OUTPUT_FOLDER/PREFIX-name.png
    QString File(const QString& name) const { return QString("%1/%2-%3.png").arg(Out, Prefix, name); }

    bool Valid = false;
    // "step2": only the output page, once per output class (the skins' shots).
    bool Step2Only = false;
    std::string ExeFolder;
    QString Out;
    QString Prefix;
    QTemporaryDir Home;

private:
    cw::TQtMainThreadDispatcher Dispatcher;
    cw::TQtDesktop Desktop;
};

} // namespace shots
