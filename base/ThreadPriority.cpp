#include "base/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace cw {

namespace {

struct TPriorityRow {
    TPriorityLevel Level;
    int Policy;
    int NiceDelta;
};
constexpr TPriorityRow PriorityTable[] = {
    {TPriorityLevel::Idle, SCHED_IDLE, 0},
    {TPriorityLevel::Lowest, SCHED_OTHER, 10},
    {TPriorityLevel::Lower, SCHED_OTHER, 5},
    {TPriorityLevel::Normal, SCHED_OTHER, 0},
    {TPriorityLevel::Higher, SCHED_OTHER, -5},
    {TPriorityLevel::Highest, SCHED_OTHER, -10},
    {TPriorityLevel::TimeCritical, SCHED_OTHER, -20},
};

int ProcessNice() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    return errno ? 0 : nice;
}

} // namespace

TPriorityLevel ReadThreadPriority(pid_t tid) {
    int policy = sched_getscheduler(tid);
    if (policy < 0)
        return TPriorityLevel::Normal;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno)
        return TPriorityLevel::Normal;
    policy &= ~SCHED_RESET_ON_FORK;
    if (policy == SCHED_IDLE)
        return TPriorityLevel::Idle;
    const int delta = nice - ProcessNice();
    for (const auto& row : PriorityTable)
        if (row.Policy == policy && row.NiceDelta == delta)
            return row.Level;
    // The nice value has a floor: the most urgent row may have been cut off at it.
    if (policy == SCHED_OTHER && nice == -20 && ProcessNice() - 20 < -20)
        return TPriorityLevel::TimeCritical;
    return TPriorityLevel::Normal;
}

void ApplyThreadPriority(pid_t tid, TPriorityLevel level) {
    const auto* row = std::find_if(std::begin(PriorityTable), std::end(PriorityTable),
                                   [&](const TPriorityRow& r) { return r.Level == level; });
    if (row == std::end(PriorityTable))
        return;
    sched_param param{};
    param.sched_priority = 0;
    int policy = sched_getscheduler(tid);
    if (policy >= 0 && (policy & ~SCHED_RESET_ON_FORK) != row->Policy)
        sched_setscheduler(tid, row->Policy, &param);
    if (row->Policy == SCHED_OTHER)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid),
                    std::clamp(ProcessNice() + row->NiceDelta, -20, 19));
}

void LowerCallingThread(int steps) {
    const pid_t tid = gettid();
    const int policy = sched_getscheduler(tid);
    if (policy < 0 || (policy & ~SCHED_RESET_ON_FORK) == SCHED_IDLE)
        return;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno)
        return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::clamp(nice + steps, -20, 19));
}

} // namespace cw
