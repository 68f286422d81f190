#include "download/DelayedCall.h"

#include "base/MainThread.h"

namespace cw {

TDelayedCall::~TDelayedCall() {
    Cancel();
    {
        std::lock_guard<std::mutex> lock(Lock);
        Stop = true;
    }
    Wake.notify_all();
    if (Timer.joinable())
        Timer.join();
}

void TDelayedCall::Start(std::chrono::milliseconds delay, std::function<void()> fn) {
    Cancel();
    Token = std::make_shared<bool>(true);
    // The token decides on the main thread: a call that was handed over before a cancel
    // finds it cleared and does nothing.
    auto run = [token = Token, fn = std::move(fn)] {
        if (!*token)
            return;
        *token = false;
        fn();
    };
    if (delay.count() <= 0) {
        PostToMainThread(std::move(run));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(Lock);
        Waiting = std::move(run);
        DueAt = std::chrono::steady_clock::now() + delay;
    }
    Wake.notify_all();
    if (!Timer.joinable())
        Timer = std::thread([this] { TimerLoop(); });
}

void TDelayedCall::Cancel() {
    if (Token)
        *Token = false;
    Token.reset();
    {
        std::lock_guard<std::mutex> lock(Lock);
        Waiting = nullptr;
    }
    Wake.notify_all();
}

void TDelayedCall::TimerLoop() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
        Wake.wait(lock, [this] { return Stop || Waiting; });
        if (Stop)
            return;
        // Woken early (a new call, a cancel) the loop looks again at what waits now.
        if (std::chrono::steady_clock::now() < DueAt) {
            Wake.wait_until(lock, DueAt);
            continue;
        }
        std::function<void()> due = std::move(Waiting);
        Waiting = nullptr;
        lock.unlock();
        PostToMainThread(std::move(due));
        lock.lock();
    }
}

} // namespace cw
