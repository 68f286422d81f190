#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace cw {

namespace {
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotificationsInterface = QStringLiteral("org.freedesktop.Notifications");
const QString OpenAction = QStringLiteral("default");
} // namespace

TDBusNotifier::TDBusNotifier(QDBusConnection bus, QString service)
    : Bus(std::move(bus)), Service(std::move(service)) {
    if (!Bus.isConnected())
        return;
    Bus.connect(Service, NotificationsPath, NotificationsInterface,
                QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    Bus.connect(Service, NotificationsPath, NotificationsInterface,
                QStringLiteral("NotificationClosed"), this, SLOT(NotificationClosed(uint, uint)));
}

void TDBusNotifier::Notify(const std::string& title, const std::string& text,
                           const std::string& folder) {
    if (!Bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, NotificationsPath,
                                                       NotificationsInterface, "Notify");
    // The "default" action is the click on the notification itself; servers that show
    // actions as buttons show it as "Open folder".
    const QStringList actions =
        folder.empty() ? QStringList() : QStringList{OpenAction, QStringLiteral("Open folder")};
    call << QString::fromStdString(title) << uint(0) << QString() << QString::fromStdString(title)
         << QString::fromStdString(text) << actions << QVariantMap() << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(Bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, folder](QDBusPendingCallWatcher* w) {
                QDBusPendingReply<uint> reply = *w;
                if (reply.isValid() && !folder.empty())
                    Folders[reply.value()] = folder;
                w->deleteLater();
            });
}

void TDBusNotifier::ActionInvoked(uint id, const QString& action) {
    auto it = Folders.find(id);
    if (it == Folders.end() || action != OpenAction)
        return;
    OpenWithShell(it->second);
}

void TDBusNotifier::NotificationClosed(uint id, uint) { Folders.erase(id); }

} // namespace cw
