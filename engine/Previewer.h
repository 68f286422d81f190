// The preview window of a transcoding job. The engine only knows this interface: the user
// interface installs a factory whose previewers show each frame in a window of their own.
// Without one, CreatePreviewer gives a previewer that shows nothing and answers false, which
// the transcoder takes as "preview not available".
#pragma once

#include "engine/Bitmap.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace cw {

class TPreviewer {
public:
    virtual ~TPreviewer() = default;
    // Shows the frame; false once the user has closed the window (or when there is none).
    virtual bool ShowFrame(const TBitmap& bitmap, int64_t frameNumber, int64_t timeUs);
};

using TPreviewerFactory = std::function<std::unique_ptr<TPreviewer>()>;
// Installs the factory (an empty one restores the default) and returns the previous one.
TPreviewerFactory SetPreviewerFactory(TPreviewerFactory factory);
std::unique_ptr<TPreviewer> CreatePreviewer();

} // namespace cw
