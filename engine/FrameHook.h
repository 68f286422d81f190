// Frame hooks: external picture filters in shared libraries of their own, loaded by path. A
// hook library exports (with C linkage) the functions below under the names "Configure",
// "Process" and "Release"; "Process" is required, "Configure" is required when the hook is
// given arguments beyond its path.
#pragma once

#include "engine/Picture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
// Receives the address of the hook's context, the word count and the words (the first is the
// library's path); 0 on success.
typedef int TFrameHookConfigure(void** context, int argc, char* argv[]);
// Filters one picture in place.
typedef void TFrameHookProcess(void* context, cw::TPicture* picture, int pixelFormat, int width,
                               int height, int64_t pts);
typedef void TFrameHookRelease(void* context);
}

namespace cw {

// The hooks of one transcoding job, in the order they were added. Destroying the list
// releases its hooks.
class TFrameHookList {
public:
    TFrameHookList() = default;
    ~TFrameHookList();
    TFrameHookList(const TFrameHookList&) = delete;
    TFrameHookList& operator=(const TFrameHookList&) = delete;

    size_t Count() const { return Entries.size(); }
    bool Empty() const { return Entries.empty(); }

private:
    friend int AddFrameHook(TFrameHookList&, const std::vector<std::string>&);
    friend void RunFrameHooks(const TFrameHookList&, TPicture&, int, int, int, int64_t);
    friend void FreeFrameHooks(TFrameHookList&);
    struct TEntry {
        TFrameHookConfigure* Configure = nullptr;
        TFrameHookProcess* Process = nullptr;
        TFrameHookRelease* Release = nullptr;
        void* Context = nullptr;
    };
    std::vector<std::unique_ptr<TEntry>> Entries;
};

// Loads and configures one hook; words[0] is the library's path, the rest its arguments.
// 0 on success; -2 without words or without a required entry point, -1 when the library cannot
// be loaded, -12 when out of memory, -22 when the hook refuses its configuration. Failures are
// logged through the library log.
int AddFrameHook(TFrameHookList& list, const std::vector<std::string>& words);
// Runs every hook's Process in order.
void RunFrameHooks(const TFrameHookList& list, TPicture& picture, int pixelFormat, int width,
                   int height, int64_t pts);
// Releases every hook in order and empties the list.
void FreeFrameHooks(TFrameHookList& list);

} // namespace cw
