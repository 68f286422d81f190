// What the screenshot programs share: letting the window settle, waiting for a state, and
// grabbing a window as the X server shows it.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <functional>

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

} // namespace shots
