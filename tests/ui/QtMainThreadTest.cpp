#include "ui/QtMainThread.h"
#include "control/WindowMessages.h"

#include "UiTestSupport.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace cw;
using namespace std::chrono_literals;

namespace {

class QtMainThreadTest : public ::testing::Test {
protected:
    void SetUp() override { Previous = SetMainThreadDispatcher(&Dispatcher); }
    void TearDown() override { SetMainThreadDispatcher(Previous); }
    TQtMainThreadDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
};

TEST_F(QtMainThreadTest, WorkerCallsRunOnTheGuiThreadInRequestOrderWhileTheEventLoopRuns) {
    // Two workers each post and run calls alternately; the GUI thread runs every one of them,
    // each worker's calls in the order it made them, and a blocking call returns only after
    // it ran.
    std::vector<int> order;
    std::atomic<int> offMain{0}, finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 2; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < 40; ++i) {
                auto record = [&, w, i] {
                    if (!IsMainThread())
                        ++offMain;
                    order.push_back(w * 100 + i);
                };
                if (i % 2) {
                    bool ran = false;
                    RunOnMainThread([&] {
                        record();
                        ran = true;
                    });
                    EXPECT_TRUE(ran);
                } else {
                    PostToMainThread(record);
                }
            }
            ++finished;
        });
    EXPECT_TRUE(test::ProcessUntil([&] { return finished == 2 && order.size() == 80; }));
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(offMain, 0);
    ASSERT_EQ(order.size(), 80u);
    for (int w = 0; w < 2; ++w) {
        int last = -1;
        for (int v : order)
            if (v / 100 == w) {
                EXPECT_GT(v % 100, last);
                last = v % 100;
            }
    }
}

TEST_F(QtMainThreadTest, AWaitLoopOnTheGuiThreadServesABlockedWorkerWithoutTheEventLoop) {
    // The GUI thread waits for the worker (as a stop-and-wait does); the worker's blocking
    // call must be served by the wait loop, or both would wait forever.
    std::atomic<bool> done{false};
    int value = 0;
    std::thread worker([&] {
        RunOnMainThread([&] { value = 42; });
        done = true;
    });
    EXPECT_TRUE(WaitServing([&] { return done.load(); }, 5s));
    worker.join();
    EXPECT_EQ(value, 42);
}

TEST_F(QtMainThreadTest,
       AnExceptionOfABlockingCallReachesTheWorkerAndCallsOnTheGuiThreadRunAtOnce) {
    std::string caught;
    std::thread worker([&] {
        try {
            RunOnMainThread([] { throw std::runtime_error("refused"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    EXPECT_TRUE(test::ProcessUntil([&] { return !caught.empty(); }));
    worker.join();
    EXPECT_EQ(caught, "refused");

    bool ranAtOnce = false;
    RunOnMainThread([&] { ranAtOnce = true; });
    EXPECT_TRUE(ranAtOnce);
    EXPECT_TRUE(IsMainThread());
    bool other = true;
    std::thread([&] { other = IsMainThread(); }).join();
    EXPECT_FALSE(other);
}

TEST_F(QtMainThreadTest, PostedCallsWaitForTheEventLoopAndKeepTheirOrderWithBlockingOnes) {
    std::vector<int> order;
    PostToMainThread([&] { order.push_back(1); });
    std::atomic<bool> blocked{false};
    std::thread worker([&] {
        PostToMainThread([&] { order.push_back(2); });
        blocked = true;
        RunOnMainThread([&] { order.push_back(3); });
    });
    while (!blocked)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(order.empty()) << "posted calls must not run before the event loop does";
    EXPECT_TRUE(test::ProcessUntil([&] { return order.size() == 3; }));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowMessages, AreNamedByTheirNumbers) {
    EXPECT_STREQ(WindowMessageName(0x402), "WM_STARTCONVERT");
    EXPECT_STREQ(WindowMessageName(0x52D), "WM_SHOWMAIN");
    EXPECT_STREQ(WindowMessageName(0x308), "WM_DRAWCLIPBOARD");
    EXPECT_STREQ(WindowMessageName(0x401), "");
}

} // namespace
