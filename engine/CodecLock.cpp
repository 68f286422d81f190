#include "engine/CodecLock.h"

#include "engine/FFLogger.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace cw {

namespace {

// A mutex that knows its owner: it may be taken again by the thread holding it, and a release
// by any other thread fails instead of corrupting it.
struct TCodecMutex {
    explicit TCodecMutex(int handle) : Handle(handle) {}

    void Obtain() {
        std::unique_lock lock(Guard);
        auto me = std::this_thread::get_id();
        if (Depth > 0 && Owner == me) {
            ++Depth;
            return;
        }
        Free.wait(lock, [&] { return Depth == 0; });
        Owner = me;
        Depth = 1;
    }

    bool Release() {
        std::lock_guard lock(Guard);
        if (Depth == 0 || Owner != std::this_thread::get_id())
            return false;
        if (--Depth == 0) {
            Owner = {};
            Free.notify_one();
        }
        return true;
    }

    const int Handle;
    std::mutex Guard;
    std::condition_variable Free;
    std::thread::id Owner;
    int Depth = 0;
};

using TMutexRef = std::shared_ptr<TCodecMutex>;

std::atomic<bool> Finalizing{false};
std::mutex Bookkeeping; // guards CodecMutex itself, not the lock it stands for
TMutexRef CodecMutex;   // the one mutex every slot refers to
int LastHandle = 0;
void* EngineSlot = nullptr;

TMutexRef MutexOfSlot(void** slot) {
    if (!slot || !*slot)
        return nullptr;
    std::lock_guard lock(Bookkeeping);
    return *static_cast<TMutexRef*>(*slot);
}

TFFLogger& Logger() {
    return TFFLogger::Instance();
}

} // namespace

int CodecLockManager(void** slot, int operation) {
    if (Finalizing)
        return 0;
    switch (operation) {
    case lmCreate: {
        if (TMutexRef existing = MutexOfSlot(slot)) {
            Logger().LogF(llError, "error, codec mutex [%d] already exist.", existing->Handle);
            return -1;
        }
        TMutexRef old;
        {
            std::lock_guard lock(Bookkeeping);
            old = CodecMutex;
            CodecMutex.reset();
        }
        if (old)
            Logger().LogF(llWarning, "warning, local codec mutex [%d] not destroyed.", old->Handle);
        // The old mutex lives on only as long as a thread still waits on or holds it.
        old.reset();
        TMutexRef created;
        try {
            std::lock_guard lock(Bookkeeping);
            created = std::make_shared<TCodecMutex>(++LastHandle);
            CodecMutex = created;
        } catch (const std::bad_alloc&) {
            Logger().LogF(llError, "error, failed to create codec mutex: %s.",
                          std::strerror(ENOMEM));
            return -1;
        }
        Logger().LogF(llDebug, "create codec mutex [%d].", created->Handle);
        *slot = &CodecMutex;
        return 0;
    }
    case lmObtain: {
        TMutexRef mutex = MutexOfSlot(slot);
        if (!mutex) {
            Logger().Log(llError, "error, codec mutex not available.");
            return -1;
        }
        // Logged before the wait: nothing is logged while the mutex is held.
        Logger().LogF(llDebug, "obtain codec mutex [%d].", mutex->Handle);
        mutex->Obtain();
        return 0;
    }
    case lmRelease: {
        TMutexRef mutex = MutexOfSlot(slot);
        if (!mutex) {
            Logger().Log(llError, "error, codec mutex not available.");
            return -1;
        }
        if (!mutex->Release()) {
            Logger().LogF(llError, "error, could not release codec mutex [%d]: %s.", mutex->Handle,
                          std::strerror(EPERM));
            return -1;
        }
        Logger().LogF(llDebug, "release codec mutex [%d].", mutex->Handle);
        return 0;
    }
    case lmDestroy: {
        if (TMutexRef mutex = MutexOfSlot(slot)) {
            Logger().LogF(llDebug, "destory codec mutex [%d].", mutex->Handle);
            std::lock_guard lock(Bookkeeping);
            if (CodecMutex == mutex)
                CodecMutex.reset();
            *slot = nullptr;
        }
        return 0;
    }
    default:
        Logger().LogF(llError, "error, invalid codec mutex operation %d.", operation);
        return -1;
    }
}

void RegisterCodecLockManager() {
    // Once: a second mutex made while a thread holds the first would let two threads into
    // codec set-up at once.
    if (MutexOfSlot(&EngineSlot))
        return;
    CodecLockManager(&EngineSlot, lmCreate);
}

void UnregisterCodecLockManager() {
    CodecLockManager(&EngineSlot, lmDestroy);
}

void SetCodecLockFinalizing(bool finalizing) {
    Finalizing = finalizing;
}

TCodecLock::TCodecLock() {
    Held = CodecLockManager(&EngineSlot, lmObtain) == 0;
}

TCodecLock::~TCodecLock() {
    if (Held)
        CodecLockManager(&EngineSlot, lmRelease);
}

} // namespace cw
