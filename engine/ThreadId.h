// The identifier the engine uses for a thread: the kernel's thread id, which fits 32 bits. Log
// lines carry it and the interrupt registry is keyed by it.
#pragma once

#include <cstdint>
#include <unistd.h>

namespace cw {

inline uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::gettid());
}

} // namespace cw
