#include "engine/Interrupt.h"

#include "engine/ThreadId.h"

#include <algorithm>
#include <atomic>

namespace cw {

namespace {

std::atomic<bool> RegistryEnded{false};

// The registry lives from its first use to process end.
struct TRegistryHolder {
    ~TRegistryHolder() {
        RegistryEnded = true;
        Registry.Clear();
    }
    TInterruptCB Registry;
};

TRegistryHolder& Holder() {
    static TRegistryHolder holder;
    return holder;
}

bool Same(const TInterruptCallback& a, const TInterruptCallback& b) {
    return a.Code == b.Code;
}

} // namespace

void TInterruptCB::AddCallback(uint32_t threadId, TInterruptCallback callback, void* opaque) {
    std::lock_guard lock(Lock);
    for (const auto& e : Entries)
        if (e.ThreadId == threadId && e.Opaque == opaque && Same(e.Callback, callback))
            return;
    Entries.push_back({threadId, callback, opaque});
}

void TInterruptCB::RemoveCallback(uint32_t threadId, TInterruptCallback callback, void* opaque) {
    std::lock_guard lock(Lock);
    auto it = std::find_if(Entries.begin(), Entries.end(), [&](const TEntry& e) {
        return e.ThreadId == threadId && e.Opaque == opaque && Same(e.Callback, callback);
    });
    if (it != Entries.end())
        Entries.erase(it);
}

bool TInterruptCB::CheckInterrupt(uint32_t threadId) {
    TEntry entry{};
    {
        std::lock_guard lock(Lock);
        auto it = std::find_if(Entries.begin(), Entries.end(),
                               [threadId](const TEntry& e) { return e.ThreadId == threadId; });
        if (it == Entries.end())
            return false;
        entry = *it;
    }
    // Asked outside the lock: the answer may log, and the other threads' checks must not wait
    // for it. The entries of a thread are removed by that thread only, which is the caller
    // here, so the entry stays valid meanwhile.
    return entry.Callback.Code && entry.Callback.Code(entry.Callback.Context, entry.Opaque);
}

void TInterruptCB::Clear() {
    std::lock_guard lock(Lock);
    Entries.clear();
}

size_t TInterruptCB::Count() const {
    std::lock_guard lock(Lock);
    return Entries.size();
}

TInterruptCB* InterruptRegistry() {
    return RegistryEnded ? nullptr : &Holder().Registry;
}

int InterruptCallback(void*) {
    TInterruptCB* registry = InterruptRegistry();
    return registry && registry->CheckInterrupt(CurrentThreadId()) ? 1 : 0;
}

AVIOInterruptCB EngineInterruptCB() {
    return AVIOInterruptCB{&InterruptCallback, nullptr};
}

TInterruptScope::TInterruptScope(TInterruptCallback callback, void* opaque)
    : ThreadId(CurrentThreadId()), Callback(callback), Opaque(opaque) {
    if (TInterruptCB* registry = InterruptRegistry())
        registry->AddCallback(ThreadId, Callback, Opaque);
}

TInterruptScope::~TInterruptScope() {
    if (TInterruptCB* registry = InterruptRegistry())
        registry->RemoveCallback(ThreadId, Callback, Opaque);
}

} // namespace cw
