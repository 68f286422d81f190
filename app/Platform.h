// What the shell asks of the desktop: messages, the folder picker, the busy cursor, opening
// a target with its default handler, and power requests. The window installs the Qt and
// logind realisations; tests install recording fakes, so nothing is ever shown, opened or
// powered off by a test.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace cw {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgButton { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll };
// Result codes of a pressed button.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
                    mrYes = 6, mrNo = 7, mrAll = 8 };

class IDesktop {
public:
    virtual ~IDesktop() = default;
    virtual int ShowCustomMessage(const std::string& message, const std::string& caption,
                                  TMsgDlgType kind, const std::vector<TMsgDlgButton>& buttons,
                                  const std::vector<std::string>& captions) = 0;
    virtual bool BrowseForFolder(std::string& folder, const std::string& title) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void OpenWithShell(const std::string& target) = 0;
};

// The installed desktop (not owned); null until the window installs one.
IDesktop* SetDesktop(IDesktop* desktop);
IDesktop* Desktop();

// Through the installed desktop; without one, messages answer mrNone, the picker false, and
// opening does nothing.
int ShowCustomMessage(const std::string& message, const std::string& caption, TMsgDlgType kind,
                      const std::vector<TMsgDlgButton>& buttons,
                      const std::vector<std::string>& captions = {});
bool BrowseForFolder(std::string& folder, const std::string& title = "Please select a folder");
void OpenWithShell(const std::string& target);

// Nested busy cursor: the cursor shows busy from the first BeginBusy to the matching EndBusy.
void BeginBusy();
void EndBusy();
int BusyCount();

enum class TPowerAction { EndApplication, ShutdownPowerOff, PowerOff, Reboot, Hibernate, Suspend };

class IPowerService {
public:
    virtual ~IPowerService() = default;
    // Asks for (or gives back) the right to change the power state; true when granted.
    virtual bool AdjustPrivilege(const std::string& name, bool enable) = 0;
    virtual void Request(TPowerAction action) = 0;
    // Keeps the machine from sleeping (and idling into sleep) until the lock is given back;
    // `why` is the reason the desktop shows. Returns the lock (a descriptor the service
    // holds open), or -1 when the service cannot give one. A service without locks refuses.
    virtual int InhibitSleep(const std::string& why) {
        (void)why;
        return -1;
    }
    virtual void ReleaseSleep(int lock) { (void)lock; }
};

IPowerService* SetPowerService(IPowerService* service);
IPowerService* PowerService();

// Runs before the power service is asked to power off, restart, hibernate or suspend, so
// that what the user would lose with the session is saved first (the window installs its
// saves here). Returns the previous one; an empty function removes it.
std::function<void()> SetBeforePowerRequest(std::function<void()> save);

// Holds a sleep lock of the installed power service while long work runs, and gives it
// back when released or destroyed.
class TSleepBlock {
public:
    TSleepBlock() = default;
    ~TSleepBlock() { Release(); }
    TSleepBlock(const TSleepBlock&) = delete;
    TSleepBlock& operator=(const TSleepBlock&) = delete;

    // Takes the lock (after giving back one still held). False only when a power service is
    // installed and refused; without a service there is nothing to ask, and that is no fault.
    bool Take(const std::string& why);
    void Release();
    bool Held() const { return Lock >= 0; }

private:
    IPowerService* Service = nullptr; // the service that gave the lock
    int Lock = -1;
};

// Desktop notifications: a title, a text and a folder the notification offers to open.
class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void Notify(const std::string& title, const std::string& text,
                        const std::string& folder) = 0;
};

INotifier* SetNotifier(INotifier* notifier);
INotifier* Notifier();
// Through the installed notifier; without one nothing happens.
void NotifyDesktop(const std::string& title, const std::string& text, const std::string& folder);

bool SetProcessPrivilege(const std::string& name, bool enable);
// Modes: 0 end the application, 1 shut down and power off, 2 power off, 3 restart,
// 4 hibernate, 5 suspend; other modes do nothing. Failures are not reported.
void ShutdownComputer(int mode);

// Raises the process's soft limit of open files to its hard limit. A waiting conversion task
// closes its files, but the running ones, a join (every input open at once), the probing of
// the input list and the transfers all hold descriptors side by side; the raised limit keeps
// a large batch clear of the usual soft limit of 1024. Returns the soft limit in force
// afterwards (-1 when it cannot be read).
long RaiseOpenFileLimit();

} // namespace cw
