#include "base/MainThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

using namespace cw;
using namespace std::chrono_literals;

namespace {

class MainThreadTest : public ::testing::Test {
protected:
    void SetUp() override { Previous = SetMainThreadDispatcher(&Dispatcher); }
    void TearDown() override { SetMainThreadDispatcher(Previous); }
    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
};

TEST_F(MainThreadTest, CallsFromWorkersRunOnMainThreadInRequestOrderAndBlockTheCaller) {
    // Each worker makes its calls one after another; the worker must not return from a call
    // before it ran, and every call must run on the main thread.
    constexpr int workers = 4, callsEach = 50;
    std::vector<int> order;
    std::atomic<int> offMain{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < callsEach; ++i) {
                int ran = 0;
                RunOnMainThread([&] {
                    if (!IsMainThread())
                        ++offMain;
                    order.push_back(w * 1000 + i);
                    ran = 1;
                });
                EXPECT_EQ(ran, 1) << "returned before the call ran";
            }
            ++finished;
        });
    }
    ASSERT_TRUE(WaitServing([&] { return finished == workers; }, 20s));
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(offMain, 0);
    ASSERT_EQ(order.size(), size_t(workers * callsEach));
    // Per worker, calls arrive in the order the worker made them.
    std::vector<int> next(workers, 0);
    for (int v : order) {
        int w = v / 1000, i = v % 1000;
        EXPECT_EQ(i, next[w]);
        next[w] = i + 1;
    }
}

TEST_F(MainThreadTest, PostedAndBlockingCallsShareOneOrder) {
    std::vector<int> order;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        PostToMainThread([&] { order.push_back(1); });
        RunOnMainThread([&] { order.push_back(2); });
        PostToMainThread([&] { order.push_back(3); });
        done = true;
    });
    ASSERT_TRUE(WaitServing([&] { return done.load(); }, 10s));
    worker.join();
    ServePendingCalls();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(MainThreadTest, CallOnMainThreadRunsAtOnceAndPostWaitsForTheLoop) {
    bool ran = false;
    RunOnMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);

    bool posted = false;
    PostToMainThread([&] { posted = true; });
    EXPECT_FALSE(posted);
    EXPECT_EQ(ServePendingCalls(), 1);
    EXPECT_TRUE(posted);
}

TEST_F(MainThreadTest, ExceptionReachesTheWorkerThatAsked) {
    std::string caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            RunOnMainThread([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done = true;
    });
    ASSERT_TRUE(WaitServing([&] { return done.load(); }, 10s));
    worker.join();
    EXPECT_EQ(caught, "boom");
}

TEST_F(MainThreadTest, MainWaitingForWorkerThatWaitsForMainDoesNotDeadlock) {
    // The main thread waits for the worker to end while the worker needs a main-thread call
    // to get there: a wait that serves calls lets both finish.
    std::atomic<bool> finished{false};
    int value = 0;
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i)
            RunOnMainThread([&] { ++value; });
        finished = true;
    });
    EXPECT_TRUE(WaitServing([&] { return finished.load(); }, 10s));
    worker.join();
    EXPECT_EQ(value, 10);
}

TEST_F(MainThreadTest, ServePendingCallsOffTheMainThreadDoesNothing) {
    PostToMainThread([] {});
    int served = -1;
    std::thread other([&] { served = ServePendingCalls(); });
    other.join();
    EXPECT_EQ(served, 0);
    EXPECT_EQ(ServePendingCalls(), 1);
}

TEST_F(MainThreadTest, WaitServingReportsTimeout) {
    EXPECT_FALSE(WaitServing([] { return false; }, 20ms));
}

} // namespace
