#include "ui/SessionEndings.h"

#include "app/Platform.h"
#include "ui/FormLog.h"
#include "ui/FormMain.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace cw {

const int TSessionEndings::HandledSignals[3] = {SIGTERM, SIGHUP, SIGINT};

namespace {

// The pipe the handler writes the signal number into; -1 while no instance is installed.
volatile sig_atomic_t WriteEnd = -1;
int ReadEnd = -1;
std::array<struct sigaction, 3> Previous{};

extern "C" void OnSignal(int signal) {
    // Only async-signal-safe work: one byte into the pipe, errno left as it was.
    const int savedErrno = errno;
    const int fd = WriteEnd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGINT:
        return "SIGINT";
    }
    return "signal";
}

} // namespace

TSessionEndings::TSessionEndings(TFormMain& form) : Form(form) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("Cannot watch for the end of the session: ") +
                                 std::strerror(errno));
    ReadEnd = fds[0];
    WriteEnd = fds[1];
    Notifier = new QSocketNotifier(ReadEnd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TSessionEndings::ReadPipe);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < Previous.size(); ++i)
        ::sigaction(HandledSignals[i], &action, &Previous[i]);

    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(
            app, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { CommitData(); }, Qt::DirectConnection);
        connect(app, &QCoreApplication::aboutToQuit, this, &TSessionEndings::AboutToQuit,
                Qt::DirectConnection);
    }
    PreviousPowerHook = SetBeforePowerRequest([this] { BeforePowerRequest(); });
}

TSessionEndings::~TSessionEndings() {
    SetBeforePowerRequest(std::move(PreviousPowerHook));
    for (size_t i = 0; i < Previous.size(); ++i)
        ::sigaction(HandledSignals[i], &Previous[i], nullptr);
    const int writeEnd = WriteEnd;
    WriteEnd = -1;
    delete Notifier;
    Notifier = nullptr;
    ::close(writeEnd);
    ::close(ReadEnd);
    ReadEnd = -1;
}

void TSessionEndings::ReadPipe() {
    unsigned char bytes[16];
    ssize_t n;
    int signal = 0;
    while ((n = ::read(ReadEnd, bytes, sizeof bytes)) > 0)
        signal = bytes[n - 1];
    if (signal != 0)
        SignalReceived(signal);
}

void TSessionEndings::SignalReceived(int signal) {
    // A second signal while the close sequence runs (a stop that takes long) ends the
    // program at once: every save replaces its file whole, so nothing is left half written.
    for (size_t i = 0; i < Previous.size(); ++i)
        ::sigaction(HandledSignals[i], &Previous[i], nullptr);
    Form.EndSession(SignalName(signal));
}

void TSessionEndings::CommitData() {
    // The session manager may still cancel the logout: save, but keep running.
    if (!Form.CloseFinished())
        Form.SaveSettingsAndPlacements(false);
}

void TSessionEndings::AboutToQuit() {
    Form.EndSession("the application quits");
}

void TSessionEndings::BeforePowerRequest() {
    if (!Form.CloseFinished()) {
        Form.Log().AppendLine("Saving the settings before the power request.");
        Form.SaveSettingsAndPlacements(false);
    }
}

} // namespace cw
