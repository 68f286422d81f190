// Worker thread component: runs one piece of work at a time on a background thread and hands
// every call that must happen on the main thread back to it synchronously (base/MainThread.h).
//
// The component owns one thread object per run. Each Execute throws the previous object away
// and starts a fresh one, so a component can be started again and again and stopped at once.
// A hard stop is cooperative: the stopped run is cut off from its component (none of its
// handlers runs any more, its synchronised calls are skipped) and the component is reusable
// immediately; the cut-off thread finishes on its own once its work notices that it was
// terminated, and the component joins it later (at the next start or in its destructor).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace cw {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TCustomWinThread;
struct TWinThreadState;

using TWinThreadNotifyEvent = std::function<void(TCustomWinThread* sender)>;
// The error that the work or the termination handler raised.
using TWinThreadExceptionEvent =
    std::function<void(TCustomWinThread* sender, std::exception_ptr error)>;
using TWinThreadWaitTimeoutExpired =
    std::function<void(TCustomWinThread* sender, bool& terminateThread)>;

// One operating-system thread that runs its work at most once. It is created suspended and
// waits until it is resumed; destroying it ends the thread (a never-resumed one without
// running anything) and waits for it, serving main-thread calls when called on the main thread.
class TEventWinThread {
public:
    explicit TEventWinThread(TCustomWinThread* owner);
    ~TEventWinThread();
    TEventWinThread(const TEventWinThread&) = delete;
    TEventWinThread& operator=(const TEventWinThread&) = delete;

    bool Terminated() const;
    bool Suspended() const;
    // True while the thread runs the work and the termination delivery.
    bool Running() const;
    // Set once the thread has left its body (or will never run it).
    bool Finished() const;
    int ReturnValue() const { return 0; }
    // The kernel thread id, for priority calls.
    pid_t ThreadId() const;

    // Resuming succeeds only when it brings the suspend count from 1 to 0; only then is
    // Suspended cleared. Returns the previous suspend count.
    int Resume();
    // A thread that has not started stays where it is; a running one pauses at its next
    // synchronised call or terminate check until it is resumed.
    void Suspend();

    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);

private:
    friend class TCustomWinThread;
    std::shared_ptr<TWinThreadState> State;
    std::thread Thread;
};

class TCustomWinThread {
public:
    TCustomWinThread();
    virtual ~TCustomWinThread();
    TCustomWinThread(const TCustomWinThread&) = delete;
    TCustomWinThread& operator=(const TCustomWinThread&) = delete;

    // Starts one run on a fresh thread object. Without WaitThread it returns true at once.
    // With WaitThread it serves main-thread calls until the run ends and returns true; when
    // WaitTimeout (ms, 0 = no limit) passes first, OnWaitTimeoutExpired decides: with
    // TerminateThread left true the run is stopped and the result is false, else the run goes
    // on and the result is true.
    bool Execute();
    void Suspend();
    // Runs method on the main thread and returns after it ran. Called on the main thread it
    // runs at once. Skipped when the owner is being destroyed or the calling run was stopped.
    // An exception from method is re-raised here only when HandleExceptions is false.
    void Synchronize(const std::function<void()>& method);
    // Soft: sets Terminated for the work to poll. Hard: Recreate.
    void Terminate(bool hard = false);
    // Replaces the current thread object by a fresh suspended one with the same handlers and
    // priority; a running run is stopped (no further handler of it is called). Called by the
    // work on its own thread, it only cuts the calling run off: its termination delivery does
    // not happen, and the replacement happens at the next Execute.
    void Recreate();

    bool Running() const;
    // On the worker: whether this run was asked to stop (soft or hard). Elsewhere: the current
    // thread object's flag.
    bool Terminated() const;
    bool Suspended() const;
    void SetSuspended(bool value);
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);

    void SetOnExecute(TWinThreadNotifyEvent handler);
    void SetOnException(TWinThreadExceptionEvent handler);
    void SetOnTerminate(TWinThreadNotifyEvent handler);

    bool HandleExceptions() const { return HandleExceptionsFlag.load(); }
    void SetHandleExceptions(bool value) { HandleExceptionsFlag = value; }

    bool WaitThread = false;
    uint32_t WaitTimeout = 0;
    TWinThreadWaitTimeoutExpired OnWaitTimeoutExpired;

    // Called first by the destructor of the object that embeds this component: from then on
    // no handler runs and synchronised calls are skipped.
    void BeginDestroy() { DestroyingFlag = true; }
    bool Destroying() const { return DestroyingFlag.load(); }

    // True on a worker thread of this component.
    bool OnWorkerThread() const;
    // On the worker: whether its run was cut off by a hard stop. Never waits.
    bool CutOff() const;
    // Stops the current run and waits for every thread of this component, serving
    // main-thread calls meanwhile. No handler runs afterwards. The destructor calls it.
    void Shutdown();

    TEventWinThread& Thread() { return *Current; }

private:
    friend class TEventWinThread;
    static void Body(std::shared_ptr<TWinThreadState> state);
    void RunBody(TWinThreadState& state);
    void SyncFrom(TWinThreadState& state, const std::function<void()>& method);
    // Cuts the current run off when it has started and not finished; true when it did.
    bool StopCurrent();
    void ReapStopped(bool all);

    std::unique_ptr<TEventWinThread> Current;
    // Stopped runs whose threads have not finished yet.
    std::vector<std::unique_ptr<TEventWinThread>> Stopped;
    std::atomic<bool> HandleExceptionsFlag{true};
    std::atomic<bool> DestroyingFlag{false};
};

} // namespace cw
