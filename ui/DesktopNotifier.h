// Desktop notifications through the notification service on the session bus. The one action
// a notification offers opens its folder with the desktop's default handler.
#pragma once

#include "app/Platform.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <map>

namespace cw {

class TDBusNotifier : public QObject, public INotifier {
    Q_OBJECT
public:
    explicit TDBusNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QString service = QStringLiteral("org.freedesktop.Notifications"));

    // Sent without waiting; without a notification service nothing happens.
    void Notify(const std::string& title, const std::string& text,
                const std::string& folder) override;

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection Bus;
    QString Service;
    std::map<uint, std::string> Folders; // the shown notifications' folders by their ids
};

} // namespace cw
