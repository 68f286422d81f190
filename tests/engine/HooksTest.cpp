// The codec lock manager, the per-thread interrupt registry and the frame-hook list.
#include "EngineTestSupport.h"

#include "engine/CodecLock.h"
#include "engine/FFLogger.h"
#include "engine/FrameHook.h"
#include "engine/Interrupt.h"
#include "engine/ThreadId.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace cw;
using namespace std::chrono_literals;

namespace {

// Collects what the engine logger delivers, on the calling thread.
class TLogCollector {
public:
    explicit TLogCollector(TLogLevel level) {
        Logger.TriggerEventInMainThread = false;
        Logger.SetLogLevel(level);
        Logger.OnLog = [this](TFFLogger*, uint32_t, TLogLevel lineLevel, const std::string& text) {
            std::lock_guard lock(Lock);
            Lines.push_back(text);
            Levels.push_back(lineLevel);
        };
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(Lock);
        Levels.clear();
        return std::exchange(Lines, {});
    }
    TFFLogger Logger;
    std::mutex Lock;
    std::vector<std::string> Lines;
    std::vector<TLogLevel> Levels;
};

// The tests work on slots of their own; the engine's registration (made when libavcodec is
// bound) is taken away meanwhile so that it does not count as an older mutex.
class CodecLockTest : public ::testing::Test {
protected:
    void SetUp() override { UnregisterCodecLockManager(); }
    void TearDown() override {
        if (FFLoader().LibLoaded(libAVCodec))
            RegisterCodecLockManager();
    }
};

TEST_F(CodecLockTest, CreateObtainReleaseDestroyWithTheirMessages) {
    TLogCollector log(llDebug);
    void* slot = nullptr;
    ASSERT_EQ(CodecLockManager(&slot, lmCreate), 0);
    auto created = log.Take();
    ASSERT_EQ(created.size(), 1u);
    int handle = 0;
    ASSERT_EQ(std::sscanf(created[0].c_str(), "create codec mutex [%d].", &handle), 1);
    const std::string tag = "[" + std::to_string(handle) + "].";

    EXPECT_EQ(CodecLockManager(&slot, lmCreate), -1);
    EXPECT_EQ(log.Take(),
              std::vector<std::string>{"error, codec mutex " + tag.substr(0, tag.size() - 1) +
                                       " already exist."});

    // A release by a thread that does not hold it fails; the holder's release works.
    ASSERT_EQ(CodecLockManager(&slot, lmObtain), 0);
    int otherResult = 0;
    std::thread([&] { otherResult = CodecLockManager(&slot, lmRelease); }).join();
    EXPECT_EQ(otherResult, -1);
    EXPECT_EQ(CodecLockManager(&slot, lmRelease), 0);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"obtain codec mutex " + tag,
                                                    "error, could not release codec mutex " +
                                                        tag.substr(0, tag.size() - 1) +
                                                        ": Operation not permitted.",
                                                    "release codec mutex " + tag}));

    EXPECT_EQ(CodecLockManager(&slot, 7), -1);
    EXPECT_EQ(CodecLockManager(&slot, lmDestroy), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(CodecLockManager(&slot, lmObtain), -1);
    EXPECT_EQ(CodecLockManager(&slot, lmDestroy), 0);
    EXPECT_EQ(log.Take(), (std::vector<std::string>{"error, invalid codec mutex operation 7.",
                                                    "destory codec mutex " + tag,
                                                    "error, codec mutex not available."}));
}

TEST_F(CodecLockTest, CreateWhileTheOldMutexLivesWarnsAndHandsOutANewOne) {
    TLogCollector log(llDebug);
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(CodecLockManager(&first, lmCreate), 0);
    ASSERT_EQ(CodecLockManager(&second, lmCreate), 0);
    auto lines = log.Take();
    ASSERT_EQ(lines.size(), 3u);
    int oldHandle = 0, newHandle = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "create codec mutex [%d].", &oldHandle), 1);
    EXPECT_EQ(lines[1],
              "warning, local codec mutex [" + std::to_string(oldHandle) + "] not destroyed.");
    ASSERT_EQ(std::sscanf(lines[2].c_str(), "create codec mutex [%d].", &newHandle), 1);
    EXPECT_NE(newHandle, oldHandle);
    CodecLockManager(&second, lmDestroy);
}

TEST_F(CodecLockTest, SerialisesTwoThreads) {
    void* slot = nullptr;
    ASSERT_EQ(CodecLockManager(&slot, lmCreate), 0);
    std::atomic<int> inside{0}, most{0};
    auto work = [&] {
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(CodecLockManager(&slot, lmObtain), 0);
            int now = ++inside;
            most = std::max(most.load(), now);
            std::this_thread::yield();
            --inside;
            ASSERT_EQ(CodecLockManager(&slot, lmRelease), 0);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(most.load(), 1);
    CodecLockManager(&slot, lmDestroy);
}

bool AnswerTrue(void*, void*) {
    return true;
}
bool AnswerOpaque(void*, void* opaque) {
    return *static_cast<bool*>(opaque);
}

TEST(InterruptTest, RegistryAnswersPerThreadWithTheFirstEntry) {
    TInterruptCB registry;
    bool no = false, yes = true;
    uint32_t me = CurrentThreadId();
    EXPECT_FALSE(registry.CheckInterrupt(me));
    registry.AddCallback(me, {&AnswerOpaque, nullptr}, &no);
    registry.AddCallback(me, {&AnswerOpaque, nullptr}, &no); // same entry: not added again
    registry.AddCallback(me, {&AnswerTrue, nullptr}, &no);
    registry.AddCallback(me + 1, {&AnswerOpaque, nullptr}, &yes);
    EXPECT_EQ(registry.Count(), 3u);
    EXPECT_FALSE(registry.CheckInterrupt(me));
    EXPECT_TRUE(registry.CheckInterrupt(me + 1));
    registry.RemoveCallback(me, {&AnswerOpaque, nullptr}, &no);
    EXPECT_TRUE(registry.CheckInterrupt(me)); // the next entry of the thread answers now
    registry.RemoveCallback(me, {&AnswerTrue, nullptr}, &yes); // other opaque: nothing removed
    EXPECT_EQ(registry.Count(), 2u);
    registry.Clear();
    EXPECT_FALSE(registry.CheckInterrupt(me + 1));

    // The library-side callback asks the process's registry for the calling thread only.
    {
        TInterruptScope scope({&AnswerTrue, nullptr}, nullptr);
        EXPECT_EQ(InterruptCallback(nullptr), 1);
        int elsewhere = -1;
        std::thread([&] { elsewhere = InterruptCallback(nullptr); }).join();
        EXPECT_EQ(elsewhere, 0);
    }
    EXPECT_EQ(InterruptCallback(nullptr), 0);
}

class FrameHookTest : public ::testing::Test {
protected:
    void SetUp() override { test::BindEncoderLibraries(); }
    static int ReleaseCount(const char* path) {
        void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
        if (!handle)
            return -1;
        auto* count = reinterpret_cast<int (*)()>(::dlsym(handle, "HookReleaseCount"));
        int result = count ? count() : -1;
        ::dlclose(handle);
        return result;
    }
    TLogCollector Log{llError};
};

TEST_F(FrameHookTest, HooksRunInOrderAndAreReleased) {
    TFrameHookList list;
    ASSERT_EQ(AddFrameHook(list, {CW_HOOK_FULL, "10"}), 0);
    ASSERT_EQ(AddFrameHook(list, {CW_HOOK_PROCESS_ONLY}), 0);
    ASSERT_EQ(list.Count(), 2u);

    std::vector<uint8_t> pixels(4 * 2, 100);
    TPicture picture;
    picture.Data[0] = pixels.data();
    picture.Linesize[0] = 4;
    RunFrameHooks(list, picture, AV_PIX_FMT_GRAY8, 3, 2, 0);
    EXPECT_EQ(pixels, (std::vector<uint8_t>{111, 111, 111, 100, 111, 111, 111, 100}));

    int released = ReleaseCount(CW_HOOK_FULL);
    FreeFrameHooks(list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(ReleaseCount(CW_HOOK_FULL), released + 1);
    EXPECT_TRUE(Log.Take().empty());
}

TEST_F(FrameHookTest, RefusedHooksLeaveTheListUnchanged) {
    TFrameHookList list;
    ASSERT_EQ(AddFrameHook(list, {CW_HOOK_FULL}), 0);

    EXPECT_EQ(AddFrameHook(list, {CW_HOOK_NO_PROCESS, "5"}), -2);
    EXPECT_EQ(AddFrameHook(list, {CW_HOOK_PROCESS_ONLY, "5"}), -2);
    EXPECT_EQ(AddFrameHook(list, {CW_HOOK_FULL, "refuse"}), -22);
    EXPECT_EQ(AddFrameHook(list, {}), -2);
    EXPECT_EQ(AddFrameHook(list, {"/nonexistent/hook.so"}), -1);
    EXPECT_EQ(list.Count(), 1u);

    auto lines = Log.Take();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::string("Failed to find Process entrypoint in ") + CW_HOOK_NO_PROCESS);
    EXPECT_EQ(lines[1],
              std::string("Failed to find Configure entrypoint in ") + CW_HOOK_PROCESS_ONLY);
    EXPECT_EQ(lines[2], std::string("Failed to Configure ") + CW_HOOK_FULL);
    EXPECT_NE(lines[3].find("/nonexistent/hook.so"), std::string::npos) << lines[3];
}

} // namespace
