#include "ui/QtMainThread.h"

#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <exception>

namespace cw {

struct TQtCompletion {
    std::mutex Lock;
    std::condition_variable Cond;
    bool Finished = false;
    std::exception_ptr Error;
};

TQtMainThreadDispatcher::TQtMainThreadDispatcher() = default;

TQtMainThreadDispatcher::~TQtMainThreadDispatcher() {
    // Calls still queued run now, so that no worker stays blocked on a call that never runs.
    if (IsMainThread())
        ServePendingCalls();
}

bool TQtMainThreadDispatcher::IsMainThread() const {
    return QThread::currentThread() == thread();
}

void TQtMainThreadDispatcher::RunOnMainThread(std::function<void()> fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto done = std::make_shared<TQtCompletion>();
    Enqueue({std::move(fn), done});
    std::unique_lock<std::mutex> wait(done->Lock);
    done->Cond.wait(wait, [&] { return done->Finished; });
    if (done->Error)
        std::rethrow_exception(done->Error);
}

void TQtMainThreadDispatcher::PostToMainThread(std::function<void()> fn) {
    Enqueue({std::move(fn), nullptr});
}

void TQtMainThreadDispatcher::Enqueue(TRequest request) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Queue.push_back(std::move(request));
    }
    // One queued drain at a time is enough: it serves everything queued before it runs.
    if (!DrainScheduled.exchange(true))
        QMetaObject::invokeMethod(
            this,
            [this] {
                DrainScheduled = false;
                ServePendingCalls();
            },
            Qt::QueuedConnection);
}

int TQtMainThreadDispatcher::ServePendingCalls() {
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
            request.Done->Error = error;
            request.Done->Finished = true;
            request.Done->Cond.notify_all();
        }
        // A posted call that throws has nobody to report to; the error is dropped.
    }
    return served;
}

} // namespace cw
