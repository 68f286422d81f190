#include "net/WinThread.h"
#include "base/MainThread.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace cw;
using namespace std::chrono_literals;

namespace {

class WinThreadTest : public ::testing::Test {
protected:
    void SetUp() override { Previous = SetMainThreadDispatcher(&Dispatcher); }
    void TearDown() override { SetMainThreadDispatcher(Previous); }

    void Log(const std::string& entry) {
        std::lock_guard<std::mutex> guard(LogLock);
        Entries.push_back(entry);
    }
    std::vector<std::string> Logged() {
        std::lock_guard<std::mutex> guard(LogLock);
        return Entries;
    }
    bool WaitFor(const std::function<bool()>& done) { return WaitServing(done, 10s); }
    // Serves the main thread until a call posted now has run: whatever a worker handed to the
    // main thread before has run by then (calls are served in request order). After a
    // component's destructor, which waits for its threads, this is the moment by which any
    // late event of theirs would have arrived.
    void ServeAllPosted() {
        std::atomic<bool> reached{false};
        PostToMainThread([&] { reached = true; });
        ASSERT_TRUE(WaitFor([&] { return reached.load(); }));
    }
    // The state letter of a thread of this process ('R' running, 'S' sleeping...).
    static char ThreadState(pid_t tid) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = all.rfind(')');
        return close != std::string::npos && close + 2 < all.size() ? all[close + 2] : '?';
    }

    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
    std::mutex LogLock;
    std::vector<std::string> Entries;
};

TEST_F(WinThreadTest, WorkRunsOnWorkerAndItsCallsAndTerminationRunOnMainInOrder) {
    TCustomWinThread thread;
    EXPECT_TRUE(thread.Suspended());
    std::atomic<bool> workOnMain{true}, runningDuringWork{false}, ended{false};
    thread.SetOnExecute([&](TCustomWinThread* sender) {
        workOnMain = IsMainThread();
        runningDuringWork = sender->Running();
        for (int i = 0; i < 3; ++i)
            sender->Synchronize(
                [&, i] { Log(IsMainThread() ? "sync" + std::to_string(i) : "off"); });
    });
    thread.SetOnTerminate([&](TCustomWinThread*) {
        Log(IsMainThread() ? "terminate" : "off");
        ended = true;
    });
    EXPECT_TRUE(thread.Execute());
    ASSERT_TRUE(WaitFor([&] { return ended && !thread.Running(); }));
    EXPECT_FALSE(workOnMain);
    EXPECT_TRUE(runningDuringWork);
    EXPECT_EQ(Logged(), (std::vector<std::string>{"sync0", "sync1", "sync2", "terminate"}));

    // The component runs again with a fresh thread object.
    Entries.clear();
    ended = false;
    EXPECT_TRUE(thread.Execute());
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
    EXPECT_EQ(Logged().size(), 4u);
}

TEST_F(WinThreadTest, ExecuteDuringARunStopsItWithoutAnyFurtherEventFromIt) {
    std::atomic<int> runs{0};
    std::atomic<bool> secondEnded{false}, firstLeft{false};
    {
        TCustomWinThread thread;
        thread.SetOnExecute([&](TCustomWinThread* sender) {
            const int run = ++runs;
            if (run == 1) {
                while (!sender->Terminated())
                    std::this_thread::sleep_for(1ms);
                // Stopped: neither this call nor its termination may reach the main thread.
                sender->Synchronize([&] { Log("late sync of run 1"); });
                firstLeft = true;
            }
        });
        thread.SetOnTerminate([&](TCustomWinThread*) {
            Log("terminate");
            if (runs == 2)
                secondEnded = true;
        });
        thread.Execute();
        ASSERT_TRUE(WaitFor([&] { return thread.Running(); }));
        thread.Execute();
        ASSERT_TRUE(WaitFor([&] { return secondEnded.load(); }));
    } // destroying waits for the stopped thread too
    EXPECT_TRUE(firstLeft);
    // Nothing from run 1 may appear, not even after everything handed over has been served.
    ServeAllPosted();
    EXPECT_EQ(Logged(), std::vector<std::string>{"terminate"});
}

TEST_F(WinThreadTest, HardTerminateCutsTheRunOffAndTheComponentIsReusableAtOnce) {
    std::atomic<bool> started{false}, left{false};
    {
        TCustomWinThread thread;
        thread.SetOnExecute([&](TCustomWinThread* sender) {
            started = true;
            while (!sender->Terminated())
                std::this_thread::sleep_for(1ms);
            sender->Synchronize([&] { Log("late sync"); });
            left = true;
        });
        thread.SetOnTerminate([&](TCustomWinThread*) { Log("terminate"); });
        thread.Execute();
        ASSERT_TRUE(WaitFor([&] { return started.load(); }));
        thread.Terminate(true);
        EXPECT_FALSE(thread.Running());
        EXPECT_TRUE(thread.Suspended()); // a fresh object waits for the next start
    }                                    // destroying waits for the cut-off thread
    EXPECT_TRUE(left);
    ServeAllPosted();
    EXPECT_TRUE(Logged().empty());
}

TEST_F(WinThreadTest, SoftTerminateIsPolledAndTheRunEndsNormally) {
    TCustomWinThread thread;
    std::atomic<bool> started{false}, ended{false};
    thread.SetOnExecute([&](TCustomWinThread* sender) {
        started = true;
        while (!sender->Terminated())
            std::this_thread::sleep_for(1ms);
        Log("saw terminate");
    });
    thread.SetOnTerminate([&](TCustomWinThread*) { ended = true; });
    thread.Execute();
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    thread.Terminate(false);
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
    EXPECT_EQ(Logged(), std::vector<std::string>{"saw terminate"});
}

TEST_F(WinThreadTest, DestroyingNeverStartedOrRunningComponentsCallsNoHandler) {
    std::atomic<int> calls{0};
    {
        TCustomWinThread idle;
        idle.SetOnExecute([&](TCustomWinThread*) { ++calls; });
        idle.SetOnTerminate([&](TCustomWinThread*) { ++calls; });
        idle.SetOnException([&](TCustomWinThread*, std::exception_ptr) { ++calls; });
    }
    EXPECT_EQ(calls, 0);

    std::atomic<bool> started{false}, syncReturned{false};
    {
        TCustomWinThread busy;
        busy.SetOnExecute([&](TCustomWinThread* sender) {
            started = true;
            while (!sender->Terminated())
                std::this_thread::sleep_for(1ms);
            // Requested while the owner is being destroyed: skipped, and the worker goes on.
            sender->Synchronize([&] { ++calls; });
            syncReturned = true;
        });
        busy.SetOnTerminate([&](TCustomWinThread*) { ++calls; });
        busy.Execute();
        ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    }
    EXPECT_TRUE(syncReturned);
    EXPECT_EQ(calls, 0);
}

TEST_F(WinThreadTest, DestructorServesTheCallAWorkerIsWaitingFor) {
    std::atomic<bool> queued{false};
    int ran = 0;
    {
        TCustomWinThread thread;
        thread.SetOnExecute([&](TCustomWinThread* sender) {
            while (!sender->Terminated()) {
                queued = true;
                sender->Synchronize([&] { ++ran; });
            }
        });
        thread.Execute();
        // Not served here: the worker stays blocked in its call until the destructor runs.
        while (!queued)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(5ms);
    } // would never return if the destructor did not serve the call
    EXPECT_EQ(ran, 0);
}

TEST_F(WinThreadTest, ExceptionsOfWorkAndTerminationSurfaceOnlyAsOnException) {
    TCustomWinThread thread;
    std::atomic<bool> ended{false};
    thread.SetOnExecute([&](TCustomWinThread* sender) {
        // With HandleExceptions an error inside a synchronised call is dropped there.
        sender->Synchronize([] { throw std::runtime_error("in sync"); });
        Log("after sync");
        throw std::runtime_error("in work");
    });
    thread.SetOnException([&](TCustomWinThread*, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            Log(std::string(IsMainThread() ? "main: " : "worker: ") + e.what());
        }
    });
    thread.SetOnTerminate([&](TCustomWinThread*) {
        ended = true;
        throw std::runtime_error("in terminate");
    });
    thread.Execute();
    ASSERT_TRUE(WaitFor([&] { return ended && !thread.Running(); }));
    EXPECT_EQ(Logged(),
              (std::vector<std::string>{"after sync", "main: in work", "main: in terminate"}));
}

TEST_F(WinThreadTest, WithoutHandleExceptionsASyncErrorIsRaisedInTheWorker) {
    TCustomWinThread thread;
    thread.SetHandleExceptions(false);
    std::atomic<bool> done{false};
    thread.SetOnExecute([&](TCustomWinThread* sender) {
        try {
            sender->Synchronize([] { throw std::runtime_error("raised"); });
        } catch (const std::runtime_error& e) {
            Log(e.what());
        }
        done = true;
    });
    thread.Execute();
    ASSERT_TRUE(WaitFor([&] { return done && !thread.Running(); }));
    EXPECT_EQ(Logged(), std::vector<std::string>{"raised"});
}

TEST_F(WinThreadTest, WaitingExecuteAndItsTimeout) {
    {
        TCustomWinThread thread;
        thread.WaitThread = true;
        std::atomic<bool> release{false};
        thread.SetOnExecute([&](TCustomWinThread* sender) {
            sender->Synchronize([&] { Log("progress"); }); // served while Execute waits
            while (!release && !sender->Terminated())
                std::this_thread::sleep_for(1ms);
        });
        thread.SetOnTerminate([&](TCustomWinThread*) { Log("terminate"); });

        // No limit: returns after the run, its termination already delivered.
        release = true;
        EXPECT_TRUE(thread.Execute());
        EXPECT_EQ(Logged(), (std::vector<std::string>{"progress", "terminate"}));

        // Time-out, handler keeps TerminateThread: the run is stopped, the result is false.
        Entries.clear();
        release = false;
        thread.WaitTimeout = 100;
        int asked = 0;
        thread.OnWaitTimeoutExpired = [&](TCustomWinThread*, bool& terminateThread) {
            ++asked;
            EXPECT_TRUE(terminateThread);
        };
        EXPECT_FALSE(thread.Execute());
        EXPECT_EQ(asked, 1);
        EXPECT_FALSE(thread.Running());
        EXPECT_EQ(Logged(), std::vector<std::string>{"progress"});

        // Handler clears it: the run goes on and Execute returns true. The stopped run's
        // termination never comes: checked once the component and its threads are gone.
        thread.OnWaitTimeoutExpired = [&](TCustomWinThread*, bool& terminateThread) {
            terminateThread = false;
        };
        EXPECT_TRUE(thread.Execute());
        EXPECT_TRUE(thread.Running());
        release = true;
        ASSERT_TRUE(WaitFor([&] { return Logged().size() >= 3; }));
    }
    ServeAllPosted();
    EXPECT_EQ(Logged(), (std::vector<std::string>{"progress", "progress", "terminate"}));
}

TEST_F(WinThreadTest, PrioritiesReadBackThroughTheTableAndOthersReadAsNormal) {
    for (TThreadPriority p : {tpIdle, tpLowest, tpLower, tpNormal}) {
        TCustomWinThread thread;
        thread.SetPriority(p);
        EXPECT_EQ(thread.Priority(), p);
        if (p == tpIdle)
            continue; // an idle-class thread may wait long on a busy machine
        // A new run keeps the priority.
        std::atomic<bool> done{false};
        std::atomic<int> seen{-1};
        thread.SetOnExecute([&](TCustomWinThread* sender) {
            sender->Synchronize([&] { seen = sender->Priority(); });
            done = true;
        });
        thread.Execute();
        ASSERT_TRUE(WaitFor([&] { return done.load(); }));
        EXPECT_EQ(seen, p);
    }
    // A value set from outside that matches no row.
    TCustomWinThread thread;
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(setpriority(PRIO_PROCESS, id_t(thread.Thread().ThreadId()), base + 3), 0);
    EXPECT_EQ(thread.Priority(), tpNormal);
}

TEST_F(WinThreadTest, SuspendedRunPausesUntilResumed) {
    TCustomWinThread thread;
    std::atomic<int> polls{0};
    std::atomic<bool> finish{false}, ended{false};
    thread.SetOnExecute([&](TCustomWinThread* sender) {
        while (!sender->Terminated() && !finish)
            ++polls;
    });
    thread.SetOnTerminate([&](TCustomWinThread*) { ended = true; });
    thread.Execute();
    ASSERT_TRUE(WaitFor([&] { return polls > 0; }));
    thread.SetSuspended(true);
    EXPECT_TRUE(thread.Suspended());
    // The body never sleeps: once its thread sleeps, it is paused at a poll, and the counter
    // stands still while it stays asleep.
    const pid_t tid = thread.Thread().ThreadId();
    ASSERT_TRUE(WaitFor([&] { return ThreadState(tid) == 'S'; })) << ThreadState(tid);
    const int paused = polls;
    EXPECT_EQ(ThreadState(tid), 'S');
    EXPECT_EQ(polls, paused);
    thread.SetSuspended(false);
    EXPECT_FALSE(thread.Suspended());
    ASSERT_TRUE(WaitFor([&] { return polls > paused; }));
    finish = true;
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
}

} // namespace
