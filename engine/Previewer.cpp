#include "engine/Previewer.h"

#include <mutex>

namespace cw {

namespace {
std::mutex FactoryLock;
TPreviewerFactory& Factory() {
    static TPreviewerFactory factory;
    return factory;
}
} // namespace

bool TPreviewer::ShowFrame(const TBitmap&, int64_t, int64_t) {
    return false;
}

TPreviewerFactory SetPreviewerFactory(TPreviewerFactory factory) {
    std::lock_guard lock(FactoryLock);
    std::swap(Factory(), factory);
    return factory;
}

std::unique_ptr<TPreviewer> CreatePreviewer() {
    TPreviewerFactory factory;
    {
        std::lock_guard lock(FactoryLock);
        factory = Factory();
    }
    if (factory)
        if (auto previewer = factory())
            return previewer;
    return std::make_unique<TPreviewer>();
}

} // namespace cw
