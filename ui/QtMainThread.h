// The window program's main-thread dispatcher: calls from worker threads become queued calls
// on the Qt event loop of the thread that created the dispatcher (the GUI thread).
#pragma once

#include "base/MainThread.h"

#include <QObject>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

namespace cw {

class TQtMainThreadDispatcher : public QObject, public IMainThreadDispatcher {
    Q_OBJECT
public:
    // Construct on the GUI thread, after the application object.
    TQtMainThreadDispatcher();
    ~TQtMainThreadDispatcher() override;

    bool IsMainThread() const override;
    // From a worker: queues fn and waits until the event loop (or a wait loop that serves
    // pending calls) has run it; an exception of fn is rethrown here.
    void RunOnMainThread(std::function<void()> fn) override;
    void PostToMainThread(std::function<void()> fn) override;
    int ServePendingCalls() override;

private:
    struct TRequest {
        std::function<void()> Fn;
        std::shared_ptr<struct TQtCompletion> Done; // null for posted calls
    };
    void Enqueue(TRequest request);

    // Blocking and posted calls share one queue so they run in request order.
    std::mutex Lock;
    std::deque<TRequest> Queue;
    std::atomic<bool> DrainScheduled{false};
};

} // namespace cw
