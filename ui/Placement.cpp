#include "ui/Placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace cw {

TWindowPlacement PlacementOf(const QWidget& window) {
    // A maximised window reports the position it will return to.
    const QRect normal = window.isMaximized() ? window.normalGeometry() : window.geometry();
    const QPoint topLeft = window.isMaximized() ? normal.topLeft() : window.pos();
    return {topLeft.x(), topLeft.y(), normal.width(), normal.height(), window.isMaximized()};
}

void RestoreWindowPlacement(QWidget& window, const std::string& section, const TGlobalVars& vars) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(window.width(), window.height());
    const TWindowPlacement current{window.x(), window.y(), window.width(), window.height(),
                                   window.isMaximized()};
    const TWindowPlacement placed =
        RestorePlacement(section, current, size.width(), size.height(), vars);
    window.move(placed.Left, placed.Top);
    window.setWindowState(placed.Maximized ? (window.windowState() | Qt::WindowMaximized)
                                           : (window.windowState() & ~Qt::WindowMaximized));
}

void SaveWindowPlacement(const QWidget& window, const std::string& section,
                         const TGlobalVars& vars) {
    SavePlacement(section, PlacementOf(window), vars);
}

} // namespace cw
