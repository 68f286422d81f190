// The engine's codec lock: one process-wide mutex around every codec open and close the
// engine makes, so that codec set-up never runs on two threads at once. CodecLockManager keeps
// the interface of the libraries' old lock-manager hook (a mutex slot and four operations) and
// reports through the engine logger; the loader creates the mutex when it binds libavcodec and
// destroys it when it unbinds it.
#pragma once

namespace cw {

enum TLockOperation : int { lmCreate = 0, lmObtain = 1, lmRelease = 2, lmDestroy = 3 };

// 0 on success, -1 on failure.
int CodecLockManager(void** slot, int operation);

// The slot the engine's own registration uses.
void RegisterCodecLockManager();   // creates the engine's codec mutex unless it exists
void UnregisterCodecLockManager(); // destroys it
// Set at process end: from then on every lock-manager call returns 0 and does nothing.
void SetCodecLockFinalizing(bool finalizing);

// Holds the engine's codec mutex for its lifetime. Locked() is false when there is no mutex
// (libavcodec not bound); the failure has then been logged.
class TCodecLock {
public:
    TCodecLock();
    ~TCodecLock();
    TCodecLock(const TCodecLock&) = delete;
    TCodecLock& operator=(const TCodecLock&) = delete;
    bool Locked() const { return Held; }

private:
    bool Held = false;
};

} // namespace cw
