// Thread priorities of the program's own threads (HTTP workers, conversion tasks): seven levels
// from idle to time-critical, mapped once onto Linux's scheduling classes and nice values.
#pragma once

#include <sys/types.h>

namespace cw {

// The levels, in the order of the priority enumerations of the network and engine threads.
enum class TPriorityLevel { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// Gives the thread with kernel id tid the level: the idle scheduling class, or a nice value
// relative to the process's. Raising a thread above the process needs privileges; when the
// system refuses, the thread keeps its priority (and reads back as it really is).
void ApplyThreadPriority(pid_t tid, TPriorityLevel level);

// The level the thread runs at, Normal when its class and nice value match no level.
TPriorityLevel ReadThreadPriority(pid_t tid);

// Puts the calling thread steps nice values below the priority it has now (a new thread has
// its creator's), at most to the lowest nice value; a thread of the idle class stays there.
// For helper threads that feed a thread doing the main work: they take the cores that work
// leaves free instead of taking turns with it.
void LowerCallingThread(int steps);

} // namespace cw
