// Power requests through systemd-logind (org.freedesktop.login1 on the system bus). Whether
// the user may power off is polkit's decision; the requests are interactive, so the desktop
// may ask for a password.
#pragma once

#include "app/Platform.h"

#include <QDBusConnection>
#include <QString>

namespace cw {

class TLogindPowerService : public IPowerService {
public:
    explicit TLogindPowerService(QDBusConnection bus = QDBusConnection::systemBus(),
                                 QString service = QStringLiteral("org.freedesktop.login1"));

    // Enabling asks logind whether powering off is possible at all ("yes" or "challenge");
    // giving the right back always succeeds.
    bool AdjustPrivilege(const std::string& name, bool enable) override;
    // Sends the request without waiting for the answer; failures are not reported. Ending
    // the application quits the event loop.
    void Request(TPowerAction action) override;
    // A "block" lock on sleeping and idling, held by a copy of the descriptor logind hands
    // out; closing the copy gives the lock back. -1 without logind.
    int InhibitSleep(const std::string& why) override;
    void ReleaseSleep(int lock) override;

    // The logind method a power action calls; empty for ending the application.
    static QString MethodFor(TPowerAction action);

private:
    QDBusConnection Bus;
    QString Service;
};

} // namespace cw
