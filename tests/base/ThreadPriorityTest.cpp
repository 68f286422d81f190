// Lowering a helper thread below the thread that started it: the nice steps, the floor, the
// idle class, and a new thread starting at its creator's priority (what the job's feeding
// threads count on to stay below a task that runs at a low priority).
#include "base/ThreadPriority.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

using namespace cw;

namespace {

struct TSeen {
    int Policy = -1;
    int Nice = 0;
};

TSeen SeenOnThisThread() {
    TSeen seen;
    seen.Policy = sched_getscheduler(gettid()) & ~SCHED_RESET_ON_FORK;
    seen.Nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return seen;
}

TEST(ThreadPriorityTest, LoweringTheCallingThreadStepsBelowWhereItRuns) {
    const int processNice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    struct TRow {
        const char* Name;
        TPriorityLevel Start; // of the thread that lowers itself, or of its creator
        bool Started;         // lowered on a thread that the thread at Start started
        int Steps;
        bool Idle;            // then expected in the idle class, nice untouched
        int StartDelta;       // the nice value Start gives, over the process's
    };
    const TRow rows[] = {
        {"a normal thread", TPriorityLevel::Normal, false, 5, false, 0},
        {"a lower thread goes further down", TPriorityLevel::Lower, false, 5, false, 5},
        {"the lowest nice value is the floor", TPriorityLevel::Lowest, false, 15, false, 10},
        {"an idle-class thread stays idle", TPriorityLevel::Idle, false, 5, true, 0},
        {"a started thread steps from its creator's", TPriorityLevel::Lower, true, 5, false, 5},
        {"a thread started by an idle one is idle", TPriorityLevel::Idle, true, 5, true, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TSeen seen;
        std::thread([&] {
            ApplyThreadPriority(gettid(), row.Start);
            auto lower = [&] {
                LowerCallingThread(row.Steps);
                seen = SeenOnThisThread();
            };
            if (row.Started)
                std::thread(lower).join();
            else
                lower();
        }).join();
        if (row.Idle) {
            EXPECT_EQ(seen.Policy, SCHED_IDLE);
        } else {
            EXPECT_EQ(seen.Policy, SCHED_OTHER);
            EXPECT_EQ(seen.Nice, std::clamp(processNice + row.StartDelta + row.Steps, -20, 19));
        }
    }
}

} // namespace
