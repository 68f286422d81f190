// A call handed to the main thread after a pause, for the download queue's delayed steps.
// One timer thread serves a TDelayedCall for its whole life: it is started with the first
// pause, sleeps until the pending call is due, hands it to the main thread and waits for the
// next one; no thread is started per call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace cw {

// Calls a function on the main thread after a pause, without holding the main thread up
// meanwhile. Cancelling (or destroying) it guarantees the function does not run any more.
class TDelayedCall {
public:
    TDelayedCall() = default;
    ~TDelayedCall();
    TDelayedCall(const TDelayedCall&) = delete;
    TDelayedCall& operator=(const TDelayedCall&) = delete;

    // On the main thread. Replaces a pending call.
    void Start(std::chrono::milliseconds delay, std::function<void()> fn);
    void Cancel();
    bool Pending() const { return Token && *Token; }

private:
    void TimerLoop();

    std::shared_ptr<bool> Token; // true while the call may still run (main thread only)
    // Shared with the timer thread, under Lock: the call waiting for its time (empty when
    // none waits) and the time it is due.
    std::mutex Lock;
    std::condition_variable Wake;
    std::function<void()> Waiting;
    std::chrono::steady_clock::time_point DueAt;
    bool Stop = false;
    std::thread Timer;
};

} // namespace cw
