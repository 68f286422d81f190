#include "base/MainThread.h"

#include <atomic>
#include <exception>

namespace cw {

struct TCompletion {
    std::mutex Lock;
    std::condition_variable Cond;
    bool Finished = false;
    std::exception_ptr Error;
};

TQueueDispatcher::TQueueDispatcher() : MainId(std::this_thread::get_id()) {}

bool TQueueDispatcher::IsMainThread() const { return std::this_thread::get_id() == MainId; }

void TQueueDispatcher::RunOnMainThread(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto done = std::make_shared<TCompletion>();
    Enqueue(std::move(fn), done);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> wait(done->Lock);
        done->Cond.wait(wait, [&] { return done->Finished; });
        // Taken out of the shared record: the main thread may drop the record at any time,
        // and the error must then belong to this thread alone.
        error = std::move(done->Error);
        done->Error = nullptr;
    }
    if (error)
        std::rethrow_exception(error);
}

void TQueueDispatcher::PostToMainThread(std::function<void()> fn) { Enqueue(std::move(fn), nullptr); }

void TQueueDispatcher::Enqueue(std::function<void()> fn, std::shared_ptr<TCompletion> done) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Queue.push_back({std::move(fn), std::move(done)});
    }
    Queued.notify_all();
    CallQueued();
}

int TQueueDispatcher::ServePendingCalls() {
    if (!IsMainThread())
        return 0;
    int served = 0;
    for (;;) {
        TRequest request;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Queue.empty())
                break;
            request = std::move(Queue.front());
            Queue.pop_front();
        }
        std::exception_ptr error;
        try {
            request.Fn();
        } catch (...) {
            error = std::current_exception();
        }
        ++served;
        if (request.Done) {
            std::lock_guard<std::mutex> guard(request.Done->Lock);
            request.Done->Error = std::move(error);
            request.Done->Finished = true;
            request.Done->Cond.notify_all();
        }
        // A posted call that throws has nobody to report to; the error is dropped.
    }
    return served;
}

int TQueueDispatcher::WaitAndServe(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> wait(Lock);
        Queued.wait_for(wait, timeout, [&] { return !Queue.empty(); });
    }
    return ServePendingCalls();
}

namespace {
std::atomic<IMainThreadDispatcher*> Installed{nullptr};
}

IMainThreadDispatcher* SetMainThreadDispatcher(IMainThreadDispatcher* dispatcher) {
    return Installed.exchange(dispatcher);
}

IMainThreadDispatcher* MainThreadDispatcher() { return Installed.load(); }

bool IsMainThread() {
    auto* d = Installed.load();
    return d ? d->IsMainThread() : true;
}

void RunOnMainThread(std::function<void()> fn) {
    auto* d = Installed.load();
    if (d)
        d->RunOnMainThread(std::move(fn));
    else
        fn();
}

void PostToMainThread(std::function<void()> fn) {
    auto* d = Installed.load();
    if (d)
        d->PostToMainThread(std::move(fn));
    else
        fn();
}

int ServePendingCalls() {
    auto* d = Installed.load();
    return d ? d->ServePendingCalls() : 0;
}

bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto* queue = dynamic_cast<TQueueDispatcher*>(Installed.load());
    const bool onMain = IsMainThread();
    while (!done()) {
        if (timeout.count() >= 0 && clock::now() - start >= timeout)
            return false;
        if (onMain && queue)
            queue->WaitAndServe(std::chrono::milliseconds(2));
        else {
            if (onMain)
                ServePendingCalls();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

} // namespace cw
