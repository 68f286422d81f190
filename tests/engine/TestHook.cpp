// Frame-hook libraries for the tests, built in three variants (see CMakeLists.txt). The full
// one adds its first argument (default 1) to every byte of the first plane and refuses the
// argument "refuse"; it counts its releases in HookReleaseCount.
#include "engine/FrameHook.h"

#include <cstdlib>
#include <cstring>

namespace {
struct TContext {
    int Delta;
};
int Releases = 0;
} // namespace

extern "C" {

#ifdef CW_HOOK_CONFIGURE
int Configure(void** context, int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "refuse") == 0)
        return 1;
    *context = new TContext{argc > 1 ? std::atoi(argv[1]) : 1};
    return 0;
}
#endif

#ifdef CW_HOOK_PROCESS
void Process(void* context, cw::TPicture* picture, int, int width, int height, int64_t) {
    int delta = context ? static_cast<TContext*>(context)->Delta : 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture->Data[0][y * picture->Linesize[0] + x] += static_cast<uint8_t>(delta);
}
#endif

#ifdef CW_HOOK_RELEASE
void Release(void* context) {
    delete static_cast<TContext*>(context);
    ++Releases;
}
#endif

int HookReleaseCount() {
    return Releases;
}
}
