// Every way the session can end runs the main window's close sequence, so the user's
// settings and the window places are saved and running work is stopped properly:
// SIGTERM, SIGHUP and SIGINT (through a self-pipe into the event loop; the signal handler
// itself only writes one byte), the session manager's request to save and the application's
// quit, and the program's own request to power off, restart, hibernate or suspend.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QSocketNotifier;

namespace cw {

class TFormMain;

class TSessionEndings : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers and the hooks; everything is taken out again by the
    // destructor. One instance at a time.
    explicit TSessionEndings(TFormMain& form);
    ~TSessionEndings() override;

    // What the hooks run, callable directly.
    void SignalReceived(int signal);
    void CommitData();
    void AboutToQuit();
    void BeforePowerRequest();

    // The signals handled, in the order they are installed.
    static const int HandledSignals[3];

private:
    void ReadPipe();

    TFormMain& Form;
    QSocketNotifier* Notifier = nullptr;
    std::function<void()> PreviousPowerHook;
};

} // namespace cw
