// Process-wide hand-over of work to the main thread.
//
// Worker threads (encoder tasks, HTTP transfers, the logger) deliver their events on the
// main thread. The window installs an implementation bound to the Qt event loop; tests and
// the command line install TQueueDispatcher and pump it from their own loops.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace cw {

class IMainThreadDispatcher {
public:
    virtual ~IMainThreadDispatcher() = default;
    virtual bool IsMainThread() const = 0;
    // Runs fn on the main thread and returns when it has run. Called on the main thread it
    // runs at once. An exception thrown by fn is rethrown in the caller.
    virtual void RunOnMainThread(std::function<void()> fn) = 0;
    // Queues fn to run on the main thread later and returns at once.
    virtual void PostToMainThread(std::function<void()> fn) = 0;
    // On the main thread: runs the calls that are waiting. Returns how many ran.
    virtual int ServePendingCalls() = 0;
};

// A plain request queue. The thread that constructs it is the main thread. Blocking calls and
// posted calls share one queue, so they run in the order they were requested. An event loop
// can drive it by overriding CallQueued, which runs after every request is queued.
class TQueueDispatcher : public IMainThreadDispatcher {
public:
    TQueueDispatcher();
    ~TQueueDispatcher() override = default;
    bool IsMainThread() const override;
    void RunOnMainThread(std::function<void()> fn) override;
    void PostToMainThread(std::function<void()> fn) override;
    int ServePendingCalls() override;

    // Waits until a call is queued or the timeout passes, then serves what is queued.
    int WaitAndServe(std::chrono::milliseconds timeout);

protected:
    // Called on the requesting thread after a request was queued; by default nothing.
    virtual void CallQueued() {}

private:
    void Enqueue(std::function<void()> fn, std::shared_ptr<struct TCompletion> done);
    struct TRequest {
        std::function<void()> Fn;
        std::shared_ptr<struct TCompletion> Done; // null for posted calls
    };
    std::thread::id MainId;
    mutable std::mutex Lock;
    std::condition_variable Queued;
    std::deque<TRequest> Queue;
};

// Installs the process-wide dispatcher (not owned) and returns the previous one.
IMainThreadDispatcher* SetMainThreadDispatcher(IMainThreadDispatcher* dispatcher);
IMainThreadDispatcher* MainThreadDispatcher();

// Shortcuts through the installed dispatcher. Without one installed, every thread counts as
// the main thread and calls run at once on the caller's thread.
bool IsMainThread();
void RunOnMainThread(std::function<void()> fn);
void PostToMainThread(std::function<void()> fn);
int ServePendingCalls();

// Waits on the main thread until done() is true, serving main-thread calls meanwhile, so a
// worker that waits for the main thread can finish. On another thread it just polls.
// Returns false when the timeout (negative = none) passed first.
bool WaitServing(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));

} // namespace cw
