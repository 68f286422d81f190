#include "app/Platform.h"

#include <sys/resource.h>

#include <atomic>
#include <climits>
#include <exception>

namespace cw {

namespace {
std::atomic<IDesktop*> InstalledDesktop{nullptr};
std::atomic<IPowerService*> InstalledPower{nullptr};
std::atomic<INotifier*> InstalledNotifier{nullptr};
int BusyCounter = 0;
std::function<void()> BeforePowerRequest;
} // namespace

std::function<void()> SetBeforePowerRequest(std::function<void()> save) {
    std::swap(BeforePowerRequest, save);
    return save;
}

IDesktop* SetDesktop(IDesktop* desktop) { return InstalledDesktop.exchange(desktop); }
IDesktop* Desktop() { return InstalledDesktop.load(); }

int ShowCustomMessage(const std::string& message, const std::string& caption, TMsgDlgType kind,
                      const std::vector<TMsgDlgButton>& buttons,
                      const std::vector<std::string>& captions) {
    auto* d = Desktop();
    return d ? d->ShowCustomMessage(message, caption, kind, buttons, captions) : mrNone;
}

bool BrowseForFolder(std::string& folder, const std::string& title) {
    auto* d = Desktop();
    return d && d->BrowseForFolder(folder, title);
}

void OpenWithShell(const std::string& target) {
    if (auto* d = Desktop())
        d->OpenWithShell(target);
}

void BeginBusy() {
    ++BusyCounter;
    if (auto* d = Desktop())
        d->SetBusyCursor(true);
}

void EndBusy() {
    if (BusyCounter <= 0)
        return;
    if (--BusyCounter == 0)
        if (auto* d = Desktop())
            d->SetBusyCursor(false);
}

int BusyCount() { return BusyCounter; }

IPowerService* SetPowerService(IPowerService* service) { return InstalledPower.exchange(service); }
IPowerService* PowerService() { return InstalledPower.load(); }

bool TSleepBlock::Take(const std::string& why) {
    Release();
    Service = PowerService();
    if (!Service)
        return true;
    Lock = Service->InhibitSleep(why);
    if (Lock < 0)
        Service = nullptr;
    return Lock >= 0;
}

void TSleepBlock::Release() {
    if (Lock >= 0 && Service)
        Service->ReleaseSleep(Lock);
    Lock = -1;
    Service = nullptr;
}

INotifier* SetNotifier(INotifier* notifier) { return InstalledNotifier.exchange(notifier); }
INotifier* Notifier() { return InstalledNotifier.load(); }

void NotifyDesktop(const std::string& title, const std::string& text, const std::string& folder) {
    if (auto* n = Notifier())
        n->Notify(title, text, folder);
}

bool SetProcessPrivilege(const std::string& name, bool enable) {
    auto* p = PowerService();
    return p && p->AdjustPrivilege(name, enable);
}

void ShutdownComputer(int mode) {
    static const char* const privilege = "SeShutdownPrivilege";
    static const TPowerAction actions[] = {TPowerAction::EndApplication,
                                           TPowerAction::ShutdownPowerOff, TPowerAction::PowerOff,
                                           TPowerAction::Reboot, TPowerAction::Hibernate,
                                           TPowerAction::Suspend};
    SetProcessPrivilege(privilege, true);
    if (mode >= 0 && mode <= 5)
        if (auto* p = PowerService()) {
            // Ending the application runs its own close sequence; the other modes end the
            // session from outside, so the saves come first.
            if (mode > 0 && BeforePowerRequest) {
                try {
                    BeforePowerRequest();
                } catch (const std::exception&) {
                    // The saves word their own failures; the request goes on regardless.
                }
            }
            p->Request(actions[mode]);
        }
    SetProcessPrivilege(privilege, false);
}

long RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : long(limit.rlim_cur);
}

} // namespace cw
