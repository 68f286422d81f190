#include "net/WinThread.h"

#include "base/MainThread.h"
#include "base/ThreadPriority.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>

namespace cw {

static_assert(int(tpIdle) == int(TPriorityLevel::Idle) &&
              int(tpTimeCritical) == int(TPriorityLevel::TimeCritical));

// What the worker and the main thread share about one thread object. The worker keeps it
// alive as long as it runs, so a stopped run never touches freed memory.
struct TWinThreadState {
    TCustomWinThread* Owner = nullptr;
    std::mutex Lock;
    std::condition_variable Changed;
    // Guarded by Lock.
    int SuspendCount = 1; // created suspended
    bool SuspendedFlag = true;
    bool Started = false; // resumed at least once
    pid_t Tid = 0;
    TThreadPriority LastPriority = tpNormal;
    TWinThreadNotifyEvent OnExecute, OnTerminate;
    TWinThreadExceptionEvent OnException;

    std::atomic<bool> Terminated{false};
    std::atomic<bool> Running{false};
    std::atomic<bool> Finished{false};
    // Cut off by a hard stop: no handler of this run may run any more.
    std::atomic<bool> Stopped{false};
};

namespace {

// The state of the run that the calling thread executes, if it is a worker.
thread_local TWinThreadState* WorkerState = nullptr;

// A paused worker waits here until it is resumed, terminated or stopped.
void PassGate(TWinThreadState& state) {
    std::unique_lock<std::mutex> lock(state.Lock);
    state.Changed.wait(
        lock, [&] { return state.SuspendCount == 0 || state.Terminated || state.Stopped; });
}

} // namespace

// ---- TEventWinThread ----

TEventWinThread::TEventWinThread(TCustomWinThread* owner)
    : State(std::make_shared<TWinThreadState>()) {
    State->Owner = owner;
    Thread = std::thread(&TCustomWinThread::Body, State);
    // The kernel id is needed for priority calls before the thread ever runs.
    std::unique_lock<std::mutex> lock(State->Lock);
    State->Changed.wait(lock, [&] { return State->Tid != 0; });
}

TEventWinThread::~TEventWinThread() {
    {
        std::lock_guard<std::mutex> guard(State->Lock);
        State->Terminated = true;
        State->SuspendCount = 0;
    }
    State->Changed.notify_all();
    if (!Thread.joinable())
        return;
    if (Thread.get_id() == std::this_thread::get_id()) {
        Thread.detach();
        return;
    }
    // On the main thread the ending worker may be waiting for a synchronised call.
    if (IsMainThread())
        WaitServing([&] { return State->Finished.load(); });
    Thread.join();
}

bool TEventWinThread::Terminated() const {
    return State->Terminated || State->Stopped;
}

bool TEventWinThread::Suspended() const {
    std::lock_guard<std::mutex> guard(State->Lock);
    return State->SuspendedFlag;
}

bool TEventWinThread::Running() const {
    return State->Running;
}

bool TEventWinThread::Finished() const {
    return State->Finished;
}

pid_t TEventWinThread::ThreadId() const {
    std::lock_guard<std::mutex> guard(State->Lock);
    return State->Tid;
}

int TEventWinThread::Resume() {
    int previous;
    {
        std::lock_guard<std::mutex> guard(State->Lock);
        previous = State->SuspendCount;
        if (State->SuspendCount > 0)
            --State->SuspendCount;
        if (previous == 1) {
            State->SuspendedFlag = false;
            State->Started = true;
        }
    }
    State->Changed.notify_all();
    return previous;
}

void TEventWinThread::Suspend() {
    std::lock_guard<std::mutex> guard(State->Lock);
    ++State->SuspendCount;
    State->SuspendedFlag = true;
}

TThreadPriority TEventWinThread::Priority() const {
    std::lock_guard<std::mutex> guard(State->Lock);
    // A thread that has ended keeps the value it was given last.
    if (State->Finished)
        return State->LastPriority;
    return static_cast<TThreadPriority>(ReadThreadPriority(State->Tid));
}

void TEventWinThread::SetPriority(TThreadPriority priority) {
    std::lock_guard<std::mutex> guard(State->Lock);
    State->LastPriority = priority;
    if (!State->Finished)
        ApplyThreadPriority(State->Tid, static_cast<TPriorityLevel>(priority));
}

// ---- TCustomWinThread ----

TCustomWinThread::TCustomWinThread() : Current(std::make_unique<TEventWinThread>(this)) {}

TCustomWinThread::~TCustomWinThread() {
    Shutdown();
}

void TCustomWinThread::Shutdown() {
    DestroyingFlag = true;
    if (!Current)
        return;
    if (StopCurrent())
        Stopped.push_back(std::move(Current));
    Current.reset(); // a never-started object ends without running anything
    ReapStopped(true);
}

void TCustomWinThread::Body(std::shared_ptr<TWinThreadState> state) {
    {
        std::unique_lock<std::mutex> lock(state->Lock);
        state->Tid = static_cast<pid_t>(gettid());
        state->Changed.notify_all();
        state->Changed.wait(lock, [&] { return state->SuspendCount == 0 || state->Terminated; });
    }
    // Terminated before it ever ran: an unused object being destroyed. Nothing runs.
    if (state->Terminated) {
        state->Finished = true;
        return;
    }
    state->Running = true;
    WorkerState = state.get();
    try {
        state->Owner->RunBody(*state);
    } catch (...) {
        // Only without HandleExceptions. The error must not end the process from a worker
        // thread: it is handed to the main thread, which raises it from its own loop.
        auto error = std::current_exception();
        if (MainThreadDispatcher())
            PostToMainThread([error] { std::rethrow_exception(error); });
    }
    WorkerState = nullptr;
    state->Running = false;
    state->Finished = true;
}

void TCustomWinThread::RunBody(TWinThreadState& state) {
    TWinThreadNotifyEvent onExecute;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        onExecute = state.OnExecute;
    }
    if (onExecute && !Destroying()) {
        if (HandleExceptions()) {
            try {
                onExecute(this);
            } catch (...) {
                auto error = std::current_exception();
                TWinThreadExceptionEvent onException;
                {
                    std::lock_guard<std::mutex> guard(state.Lock);
                    onException = state.OnException;
                }
                if (onException && !Destroying())
                    SyncFrom(state, [&] { onException(this, error); });
            }
        } else {
            onExecute(this);
        }
    }

    // Termination delivery on the main thread.
    bool hasTerminate;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        hasTerminate = static_cast<bool>(state.OnTerminate);
    }
    if (!hasTerminate)
        return;
    SyncFrom(state, [&] {
        TWinThreadNotifyEvent onTerminate;
        TWinThreadExceptionEvent onException;
        {
            std::lock_guard<std::mutex> guard(state.Lock);
            onTerminate = state.OnTerminate;
            onException = state.OnException;
        }
        if (!onTerminate || Destroying())
            return;
        if (!HandleExceptions()) {
            onTerminate(this);
            return;
        }
        try {
            onTerminate(this);
        } catch (...) {
            if (onException && !Destroying())
                onException(this, std::current_exception());
        }
    });
}

void TCustomWinThread::SyncFrom(TWinThreadState& state, const std::function<void()>& method) {
    if (Destroying())
        return;
    PassGate(state);
    if (state.Stopped)
        return;
    std::exception_ptr captured;
    RunOnMainThread([&] {
        // Checked again on the main thread: the run may have been stopped, or the owner
        // destroyed, while the call was waiting in the queue.
        if (Destroying() || state.Stopped)
            return;
        try {
            method();
        } catch (...) {
            captured = std::current_exception();
        }
    });
    if (captured && !HandleExceptions())
        std::rethrow_exception(captured);
}

bool TCustomWinThread::OnWorkerThread() const {
    return WorkerState && WorkerState->Owner == this;
}

bool TCustomWinThread::CutOff() const {
    if (OnWorkerThread())
        return WorkerState->Stopped;
    return Current && Current->State->Stopped;
}

bool TCustomWinThread::Execute() {
    Recreate();
    auto state = Current->State;
    Current->Resume();
    if (!WaitThread)
        return true;
    const auto limit = std::chrono::milliseconds(WaitTimeout ? int64_t(WaitTimeout) : -1);
    const bool ended = WaitServing(
        [&] { return state->Finished.load() || state->Stopped.load() || Destroying(); }, limit);
    if (ended)
        return true;
    bool terminateThread = true;
    if (OnWaitTimeoutExpired)
        OnWaitTimeoutExpired(this, terminateThread);
    // The handler may have stopped or replaced the run itself.
    if (terminateThread && Current->State == state)
        Recreate();
    return !terminateThread;
}

void TCustomWinThread::Suspend() {
    Current->Suspend();
}

void TCustomWinThread::Synchronize(const std::function<void()>& method) {
    if (OnWorkerThread()) {
        SyncFrom(*WorkerState, method);
        return;
    }
    if (Destroying())
        return;
    std::exception_ptr captured;
    RunOnMainThread([&] {
        if (Destroying())
            return;
        try {
            method();
        } catch (...) {
            captured = std::current_exception();
        }
    });
    if (captured && !HandleExceptions())
        std::rethrow_exception(captured);
}

void TCustomWinThread::Terminate(bool hard) {
    if (hard) {
        Recreate();
        return;
    }
    if (OnWorkerThread()) {
        WorkerState->Terminated = true;
        return;
    }
    Current->State->Terminated = true;
}

void TCustomWinThread::Recreate() {
    if (OnWorkerThread()) {
        WorkerState->Stopped = true;
        WorkerState->Terminated = true;
        return;
    }
    // Stop the current run first, so that none of its handlers runs from here on.
    const bool alive = StopCurrent();
    auto& old = Current->State;
    auto fresh = std::make_unique<TEventWinThread>(this);
    {
        std::lock_guard<std::mutex> guard(old->Lock);
        std::lock_guard<std::mutex> guardNew(fresh->State->Lock);
        fresh->State->OnExecute = old->OnExecute;
        fresh->State->OnException = old->OnException;
        fresh->State->OnTerminate = old->OnTerminate;
    }
    fresh->SetPriority(Current->Priority());

    if (alive)
        Stopped.push_back(std::move(Current));
    Current = std::move(fresh); // a finished or never-started object ends here
    ReapStopped(false);
}

bool TCustomWinThread::StopCurrent() {
    auto& state = *Current->State;
    bool alive;
    {
        std::lock_guard<std::mutex> guard(state.Lock);
        alive = state.Started && !state.Finished;
        if (alive) {
            state.Stopped = true;
            state.Terminated = true;
        }
    }
    state.Changed.notify_all();
    return alive;
}

void TCustomWinThread::ReapStopped(bool all) {
    if (all) {
        // Destroying each one waits for its thread, serving main-thread calls meanwhile.
        Stopped.clear();
        return;
    }
    std::erase_if(Stopped, [](const std::unique_ptr<TEventWinThread>& t) { return t->Finished(); });
}

bool TCustomWinThread::Running() const {
    return Current && Current->Running();
}

bool TCustomWinThread::Terminated() const {
    if (OnWorkerThread()) {
        PassGate(*WorkerState);
        return WorkerState->Terminated || WorkerState->Stopped;
    }
    return Current->Terminated();
}

bool TCustomWinThread::Suspended() const {
    return Current->Suspended();
}

void TCustomWinThread::SetSuspended(bool value) {
    if (value == Current->Suspended())
        return;
    if (value)
        Current->Suspend();
    else
        Current->Resume();
}

TThreadPriority TCustomWinThread::Priority() const {
    return Current->Priority();
}

void TCustomWinThread::SetPriority(TThreadPriority priority) {
    Current->SetPriority(priority);
}

void TCustomWinThread::SetOnExecute(TWinThreadNotifyEvent handler) {
    std::lock_guard<std::mutex> guard(Current->State->Lock);
    Current->State->OnExecute = std::move(handler);
}

void TCustomWinThread::SetOnException(TWinThreadExceptionEvent handler) {
    std::lock_guard<std::mutex> guard(Current->State->Lock);
    Current->State->OnException = std::move(handler);
}

void TCustomWinThread::SetOnTerminate(TWinThreadNotifyEvent handler) {
    std::lock_guard<std::mutex> guard(Current->State->Lock);
    Current->State->OnTerminate = std::move(handler);
}

} // namespace cw
