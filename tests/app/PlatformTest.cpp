#include "app/Platform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

using namespace cw;

namespace {

struct TRecordingPower : IPowerService {
    std::vector<std::string> Calls;
    bool AdjustPrivilege(const std::string& name, bool enable) override {
        Calls.push_back(std::string(enable ? "enable " : "disable ") + name);
        return true;
    }
    void Request(TPowerAction action) override {
        Calls.push_back("request " + std::to_string(int(action)));
    }
};

struct TLockingPower : TRecordingPower {
    bool Refuse = false;
    int InhibitSleep(const std::string& why) override {
        Calls.push_back("inhibit " + why);
        return Refuse ? -1 : int(Calls.size());
    }
    void ReleaseSleep(int lock) override { Calls.push_back("release " + std::to_string(lock)); }
};

struct TRecordingDesktop : IDesktop {
    std::vector<bool> Cursor;
    int ShowCustomMessage(const std::string&, const std::string&, TMsgDlgType,
                          const std::vector<TMsgDlgButton>&, const std::vector<std::string>&) override {
        return mrYes;
    }
    bool BrowseForFolder(std::string&, const std::string&) override { return false; }
    void SetBusyCursor(bool busy) override { Cursor.push_back(busy); }
    void OpenWithShell(const std::string&) override {}
};

} // namespace

TEST(Power, EveryModeIsBracketedByThePrivilege) {
    TRecordingPower power;
    auto* previous = SetPowerService(&power);
    // What would be lost with the session is saved before the request leaves; ending the
    // application runs its own close sequence instead.
    auto previousHook = SetBeforePowerRequest([&] { power.Calls.push_back("save"); });
    for (int mode = -1; mode <= 6; ++mode)
        ShutdownComputer(mode);
    SetBeforePowerRequest(previousHook);
    SetPowerService(previous);
    std::vector<std::string> expected;
    for (int mode = -1; mode <= 6; ++mode) {
        expected.push_back("enable SeShutdownPrivilege");
        if (mode >= 1 && mode <= 5)
            expected.push_back("save");
        if (mode >= 0 && mode <= 5)
            expected.push_back("request " + std::to_string(mode));
        expected.push_back("disable SeShutdownPrivilege");
    }
    EXPECT_EQ(power.Calls, expected);
    // TPowerAction's values are the mode numbers.
    EXPECT_EQ(int(TPowerAction::ShutdownPowerOff), 1);
    EXPECT_EQ(int(TPowerAction::Suspend), 5);
}

TEST(Power, NoServiceMeansNothingHappensAndNoPrivilege) {
    auto* previous = SetPowerService(nullptr);
    EXPECT_FALSE(SetProcessPrivilege("SeShutdownPrivilege", true));
    ShutdownComputer(1); // must not crash
    SetPowerService(previous);
}

TEST(SleepBlock, TheLockIsGivenBackOnceToTheServiceThatGaveIt) {
    TLockingPower power;
    IPowerService* previous = SetPowerService(&power);
    {
        TSleepBlock block;
        EXPECT_TRUE(block.Take("Converting files"));
        EXPECT_TRUE(block.Take("Downloading videos")); // the first lock goes back first
        SetPowerService(nullptr); // a service taken out meanwhile still gets its lock back
        block.Release();
        block.Release();
        EXPECT_FALSE(block.Held());
        SetPowerService(&power);
        EXPECT_TRUE(block.Take("Converting files")); // given back by the destructor
    }
    EXPECT_EQ(power.Calls,
              (std::vector<std::string>{"inhibit Converting files", "release 1",
                                        "inhibit Downloading videos", "release 3",
                                        "inhibit Converting files", "release 5"}));
    power.Calls.clear();
    power.Refuse = true;
    {
        TSleepBlock block;
        EXPECT_FALSE(block.Take("Converting files"));
        EXPECT_FALSE(block.Held());
    }
    EXPECT_EQ(power.Calls, std::vector<std::string>{"inhibit Converting files"});
    SetPowerService(nullptr);
    TSleepBlock none;
    EXPECT_TRUE(none.Take("Converting files")) << "without a service nothing is refused";
    EXPECT_FALSE(none.Held());
    SetPowerService(previous);
}

TEST(BusyCursor, NestsAndIgnoresExtraEnds) {
    TRecordingDesktop desktop;
    auto* previous = SetDesktop(&desktop);
    EndBusy(); // unpaired: nothing
    BeginBusy();
    BeginBusy();
    EndBusy();
    EXPECT_EQ(BusyCount(), 1);
    EndBusy();
    EndBusy();
    EXPECT_EQ(BusyCount(), 0);
    SetDesktop(previous);
    // Shown busy twice (each BeginBusy), restored once, when the count reached zero.
    EXPECT_EQ(desktop.Cursor, (std::vector<bool>{true, true, false}));
}

TEST(OpenFiles, ALowSoftLimitIsRaisedSoThatManyFilesCanBeOpenAtOnce) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 512)
        GTEST_SKIP() << "the hard limit of this machine is only " << saved.rlim_max;
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const long raised = RaiseOpenFileLimit();
    EXPECT_GE(raised, 512);
    // Far more descriptors than the lowered limit allowed are open at once.
    std::vector<int> open;
    for (int i = 0; i < 300; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY);
        if (fd < 0)
            break;
        open.push_back(fd);
    }
    EXPECT_EQ(open.size(), 300u);
    for (int fd : open)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
}
