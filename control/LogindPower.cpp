#include "control/LogindPower.h"

#include <QCoreApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

namespace cw {

namespace {
const QString ManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int AnswerTimeoutMs = 3000;
} // namespace

TLogindPowerService::TLogindPowerService(QDBusConnection bus, QString service)
    : Bus(std::move(bus)), Service(std::move(service)) {}

QString TLogindPowerService::MethodFor(TPowerAction action) {
    switch (action) {
    case TPowerAction::EndApplication:
        break;
    case TPowerAction::ShutdownPowerOff:
    case TPowerAction::PowerOff:
        return QStringLiteral("PowerOff");
    case TPowerAction::Reboot:
        return QStringLiteral("Reboot");
    case TPowerAction::Hibernate:
        return QStringLiteral("Hibernate");
    case TPowerAction::Suspend:
        return QStringLiteral("Suspend");
    }
    return QString();
}

bool TLogindPowerService::AdjustPrivilege(const std::string&, bool enable) {
    if (!enable)
        return true;
    if (!Bus.isConnected())
        return false;
    QDBusInterface manager(Service, ManagerPath, ManagerInterface, Bus);
    manager.setTimeout(AnswerTimeoutMs);
    QDBusReply<QString> answer = manager.call(QStringLiteral("CanPowerOff"));
    return answer.isValid() &&
           (answer.value() == QLatin1String("yes") || answer.value() == QLatin1String("challenge"));
}

void TLogindPowerService::Request(TPowerAction action) {
    const QString method = MethodFor(action);
    if (method.isEmpty()) {
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    if (!Bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, ManagerPath, ManagerInterface, method);
    call << true; // interactive: polkit may ask the user
    Bus.asyncCall(call);
}

int TLogindPowerService::InhibitSleep(const std::string& why) {
    if (!Bus.isConnected())
        return -1;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, ManagerPath, ManagerInterface, "Inhibit");
    call << QStringLiteral("sleep:idle") << QStringLiteral("Clipwright")
         << QString::fromStdString(why) << QStringLiteral("block");
    QDBusReply<QDBusUnixFileDescriptor> answer = Bus.call(call, QDBus::Block, AnswerTimeoutMs);
    if (!answer.isValid() || !answer.value().isValid())
        return -1;
    // The reply's descriptor closes with the reply; the lock lives in a copy of our own.
    return ::fcntl(answer.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void TLogindPowerService::ReleaseSleep(int lock) {
    if (lock >= 0)
        ::close(lock);
}

} // namespace cw
