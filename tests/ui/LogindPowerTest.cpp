// The logind realisation against a stand-in login manager on a private message bus, and the
// desktop notifier against a stand-in notification service on the same bus: the requests
// really travel over D-Bus, and nothing is ever powered off or shown.
#include "control/LogindPower.h"
#include "ui/DesktopNotifier.h"

#include "UiTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include "tests/fixtures/MediaFixtures.h"

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <mutex>

using namespace cw;

namespace {

class TFakeLoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    // True once no process holds the reading end any more.
    bool LockGivenBack() {
        std::lock_guard<std::mutex> guard(Lock);
        pollfd p{WriteEnd, POLLOUT, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR);
    }
    ~TFakeLoginManager() override {
        if (WriteEnd >= 0)
            ::close(WriteEnd);
    }
    std::vector<std::string> TakeCalls() {
        std::lock_guard<std::mutex> guard(Lock);
        return Calls;
    }
    void SetCanAnswer(const QString& answer) {
        std::lock_guard<std::mutex> guard(Lock);
        CanAnswer = answer;
    }

public slots:
    void PowerOff(bool interactive) { Record("PowerOff", interactive); }
    void Reboot(bool interactive) { Record("Reboot", interactive); }
    void Hibernate(bool interactive) { Record("Hibernate", interactive); }
    void Suspend(bool interactive) { Record("Suspend", interactive); }
    // Hands out the reading end of a pipe and keeps the writing end: the lock is held while
    // some process keeps the reading end open.
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        std::lock_guard<std::mutex> guard(Lock);
        Calls.push_back(
            ("Inhibit(" + what + "," + who + "," + why + "," + mode + ")").toStdString());
        int ends[2];
        if (::pipe(ends) != 0)
            return QDBusUnixFileDescriptor();
        QDBusUnixFileDescriptor lock(ends[0]); // a copy of its own
        ::close(ends[0]);
        WriteEnd = ends[1];
        return lock;
    }
    QString CanPowerOff() {
        std::lock_guard<std::mutex> guard(Lock);
        Calls.push_back("CanPowerOff");
        return CanAnswer;
    }

private:
    void Record(const char* name, bool interactive) {
        std::lock_guard<std::mutex> guard(Lock);
        Calls.push_back(std::string(name) + (interactive ? "(interactive)" : "(silent)"));
    }
    std::mutex Lock;
    std::vector<std::string> Calls;
    QString CanAnswer = "challenge";
    int WriteEnd = -1;
};

// A notification service that records what it is asked to show.
class TFakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<std::string> TakeCalls() {
        std::lock_guard<std::mutex> guard(Lock);
        return Calls;
    }

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int timeout) {
        std::lock_guard<std::mutex> guard(Lock);
        Calls.push_back((app + "|" + QString::number(replaces) + "|" + icon + "|" + summary + "|" +
                         body + "|" + actions.join(",") + "|" + QString::number(timeout))
                            .toStdString());
        return 41 + uint(Calls.size());
    }

private:
    std::mutex Lock;
    std::vector<std::string> Calls;
};

class LogindPowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        Daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(Daemon.waitForReadyRead(10000)) << "the private bus did not start";
        Address = QString::fromUtf8(Daemon.readLine()).trimmed();
        ASSERT_FALSE(Address.isEmpty());

        // The stand-in answers on a thread of its own, so that a blocking question from this
        // thread can be answered.
        ServerThread.start();
        Manager.moveToThread(&ServerThread);
        QDBusConnection server = QDBusConnection::connectToBus(Address, "cw-logind-server");
        ASSERT_TRUE(server.isConnected());
        ASSERT_TRUE(server.registerObject("/org/freedesktop/login1", &Manager,
                                          QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server.registerService("org.freedesktop.login1"));
        Client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(Address, "cw-logind-client"));
        ASSERT_TRUE(Client->isConnected());
    }
    void TearDown() override {
        Client.reset();
        QDBusConnection::disconnectFromBus("cw-logind-client");
        QDBusConnection::disconnectFromBus("cw-logind-server");
        ServerThread.quit();
        ServerThread.wait();
        Daemon.kill();
        Daemon.waitForFinished();
    }

    bool WaitForCalls(size_t count) {
        return test::ProcessUntil([&] { return Manager.TakeCalls().size() >= count; });
    }

    QProcess Daemon;
    QString Address;
    QThread ServerThread;
    TFakeLoginManager Manager;
    std::unique_ptr<QDBusConnection> Client;
};

TEST_F(LogindPowerTest, ShutdownAsksWhetherPoweringOffIsPossibleThenPowersOffInteractively) {
    TLogindPowerService power(*Client);
    IPowerService* previous = SetPowerService(&power);
    ShutdownComputer(1);
    ASSERT_TRUE(WaitForCalls(2));
    EXPECT_EQ(Manager.TakeCalls(),
              (std::vector<std::string>{"CanPowerOff", "PowerOff(interactive)"}));
    SetPowerService(previous);
}

TEST_F(LogindPowerTest, EveryModeCallsItsOwnRequestAndUnknownModesCallNone) {
    TLogindPowerService power(*Client);
    IPowerService* previous = SetPowerService(&power);
    for (int mode : {2, 3, 4, 5, 6, -1})
        ShutdownComputer(mode);
    // Each mode asks first; the last two modes ask but request nothing.
    ASSERT_TRUE(WaitForCalls(10));
    test::ProcessUntil([] { return false; }, 100);
    std::vector<std::string> requests;
    for (const auto& call : Manager.TakeCalls())
        if (call != "CanPowerOff")
            requests.push_back(call);
    EXPECT_EQ(requests,
              (std::vector<std::string>{"PowerOff(interactive)", "Reboot(interactive)",
                                        "Hibernate(interactive)", "Suspend(interactive)"}));
    SetPowerService(previous);
}

TEST_F(LogindPowerTest, TheRightIsGrantedOnlyWhenTheManagerSaysYesOrWillAsk) {
    TLogindPowerService power(*Client);
    EXPECT_TRUE(power.AdjustPrivilege("SeShutdownPrivilege", true));
    Manager.SetCanAnswer("yes");
    EXPECT_TRUE(power.AdjustPrivilege("SeShutdownPrivilege", true));
    Manager.SetCanAnswer("no");
    EXPECT_FALSE(power.AdjustPrivilege("SeShutdownPrivilege", true));
    const size_t asked = Manager.TakeCalls().size();
    EXPECT_TRUE(power.AdjustPrivilege("SeShutdownPrivilege", false));
    EXPECT_EQ(Manager.TakeCalls().size(), asked) << "giving the right back asks nothing";
}

TEST_F(LogindPowerTest, ASleepLockIsHeldByTheDescriptorUntilItIsGivenBack) {
    TLogindPowerService power(*Client);
    const int lock = power.InhibitSleep("Converting files");
    ASSERT_GE(lock, 0);
    EXPECT_EQ(Manager.TakeCalls(),
              std::vector<std::string>{"Inhibit(sleep:idle,Clipwright,Converting files,block)"});
    // The answer is gone, but our copy of the descriptor keeps the lock.
    test::ProcessUntil([] { return false; }, 50);
    EXPECT_FALSE(Manager.LockGivenBack());
    power.ReleaseSleep(lock);
    EXPECT_TRUE(Manager.LockGivenBack());
}

// clipwright-cli convert with the stand-in as its system bus's login manager.
class CliSleepLockTest : public LogindPowerTest {
protected:
    void SetUp() override {
        LogindPowerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        ASSERT_TRUE(test::BindFixtureLibraries(&error)) << error;
        Dir = QDir::tempPath().toStdString() + "/cw-cli-lock-" + std::to_string(::getpid());
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override {
        if (!Dir.empty())
            std::filesystem::remove_all(Dir);
        LogindPowerTest::TearDown();
    }
    // Starts a conversion of a clip of that length to the format's preset.
    void StartConvert(QProcess& cli, const QString& bus, double seconds, const char* format,
                      int preset) {
        test::TFixtureParams params;
        params.Seconds = seconds;
        const std::string clip = Dir + "/clip.avi";
        test::WriteFixture(test::fkAviMpeg4Mp3, clip, params);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", bus);
        cli.setProcessEnvironment(env);
        cli.start(CW_CLI, {"convert", "--class", "video", "--format", format, "--preset",
                           QString::number(preset), "--out", QString::fromStdString(Dir + "/out"),
                           QString::fromStdString(clip)});
        ASSERT_TRUE(cli.waitForStarted(10000));
    }
    std::string Dir;
};

TEST_F(CliSleepLockTest, AConversionHoldsTheLockForItsRunAndGivesItBackAtTheEndAndAtCtrlC) {
    const std::vector<std::string> converting{
        "Inhibit(sleep:idle,Clipwright,Converting files,block)"};
    {
        QProcess cli;
        StartConvert(cli, Address, 1, "AVI", 3);
        ASSERT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        EXPECT_EQ(Manager.TakeCalls(), converting);
        EXPECT_TRUE(Manager.LockGivenBack());
    }
    // Stopped while it converts (full HD H.264 of a long clip): the lock is held until the
    // stop, then given back; the run counts the file as failed.
    QProcess cli;
    StartConvert(cli, Address, 20, "AVI", 1);
    ASSERT_TRUE(test::ProcessUntil([&] { return Manager.TakeCalls().size() >= 2; }, 30000));
    EXPECT_FALSE(Manager.LockGivenBack());
    ::kill(cli.processId(), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_TRUE(Manager.LockGivenBack());

    // Without a login manager on the bus: one line says so, and the file is converted.
    QProcess alone;
    StartConvert(alone, "unix:path=" + QString::fromStdString(Dir) + "/no-bus", 1, "AVI", 3);
    ASSERT_TRUE(alone.waitForFinished(60000));
    EXPECT_EQ(alone.exitCode(), 0);
    const QString errors = QString::fromUtf8(alone.readAllStandardError());
    EXPECT_EQ(errors.count("The computer may sleep during the conversion: the login manager "
                           "gave no sleep lock."),
              1)
        << errors.toStdString();
}

TEST_F(LogindPowerTest, ANotificationOffersItsFolderAndOpensItWhenTheActionIsInvoked) {
    TFakeNotifications service;
    service.moveToThread(&ServerThread);
    QDBusConnection server = QDBusConnection::connectToBus(Address, "cw-logind-server");
    ASSERT_TRUE(server.registerObject("/org/freedesktop/Notifications", &service,
                                      QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));
    test::TDesktopScope desktop;
    TDBusNotifier notifier(*Client);
    notifier.Notify("Clipwright", "3 files converted, 1 failed", "/tmp/out/");
    ASSERT_TRUE(test::ProcessUntil([&] { return !service.TakeCalls().empty(); }));
    EXPECT_EQ(service.TakeCalls(),
              std::vector<std::string>{
                  "Clipwright|0||Clipwright|3 files converted, 1 failed|default,Open folder|-1"});
    // The answer (id 42) must be in before the click can be matched to the folder.
    test::ProcessUntil([] { return false; }, 100);
    const auto invoke = [&](uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << QString("default");
        server.send(signal);
        test::ProcessUntil([] { return false; }, 100);
    };
    invoke(7); // another program's notification
    EXPECT_TRUE(desktop.Desktop.Opened.empty());
    invoke(42);
    EXPECT_EQ(desktop.Desktop.Opened, std::vector<std::string>{"/tmp/out/"});
    server.unregisterService("org.freedesktop.Notifications");
}

TEST_F(LogindPowerTest, WithoutALoginManagerNothingIsGrantedAndRequestsAreDroppedQuietly) {
    TLogindPowerService power(*Client, "org.example.NoLoginManager");
    EXPECT_EQ(power.InhibitSleep("Downloading videos"), -1);
    EXPECT_FALSE(power.AdjustPrivilege("SeShutdownPrivilege", true));
    power.Request(TPowerAction::PowerOff);
    test::ProcessUntil([] { return false; }, 100);
    EXPECT_TRUE(Manager.TakeCalls().empty());
    EXPECT_TRUE(TLogindPowerService::MethodFor(TPowerAction::EndApplication).isEmpty());
}

} // namespace

#include "LogindPowerTest.moc"
