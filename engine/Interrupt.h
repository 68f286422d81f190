// Aborting blocking library I/O. Each container the engine opens gets EngineInterruptCB(); the
// libraries call it from the thread doing the I/O, and it asks the per-thread registry whether
// the job running on that thread wants to stop. A job brackets its blocking calls with
// AddCallback/RemoveCallback (or a TInterruptScope) for its own thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

extern "C" {
#include <libavformat/avio.h>
}

namespace cw {

// A boolean method of Context, called with the opaque pointer; true means "abort now".
struct TInterruptCallback {
    bool (*Code)(void* context, void* opaque) = nullptr;
    void* Context = nullptr;
};

// A TInterruptCallback bound to a member function: MakeInterruptCallback<&TJob::Stopping>(job).
template <auto Method, class T> TInterruptCallback MakeInterruptCallback(T* object) {
    return {[](void* context, void* opaque) {
                return static_cast<bool>((static_cast<T*>(context)->*Method)(opaque));
            },
            object};
}

class TInterruptCB {
public:
    // Adds unless an entry with the same thread, opaque pointer and code exists.
    void AddCallback(uint32_t threadId, TInterruptCallback callback, void* opaque);
    // Removes the first entry with the same thread, opaque pointer and code.
    void RemoveCallback(uint32_t threadId, TInterruptCallback callback, void* opaque);
    // What the first entry of the thread answers; false when the thread has none. The callback
    // runs without the registry's lock held.
    bool CheckInterrupt(uint32_t threadId);
    void Clear();
    size_t Count() const;

private:
    struct TEntry {
        uint32_t ThreadId;
        TInterruptCallback Callback;
        void* Opaque;
    };
    mutable std::mutex Lock;
    std::vector<TEntry> Entries;
};

// The process's registry; null once the process is ending.
TInterruptCB* InterruptRegistry();

// 1 when the registry exists and the calling thread's entry asks to abort, else 0.
int InterruptCallback(void* opaque);
AVIOInterruptCB EngineInterruptCB();

// Registers a callback for the calling thread for its lifetime.
class TInterruptScope {
public:
    TInterruptScope(TInterruptCallback callback, void* opaque);
    ~TInterruptScope();
    TInterruptScope(const TInterruptScope&) = delete;
    TInterruptScope& operator=(const TInterruptScope&) = delete;

private:
    uint32_t ThreadId;
    TInterruptCallback Callback;
    void* Opaque;
};

} // namespace cw
