// Hooks and preview of a transcoding job: what the owner sees of the pictures and the sound
// while a job runs (video input and output hooks as bitmaps, "vhook" frame hooks, the audio
// hook), and the preview feed (bitmaps for the owner or a preview window), all on the job's
// running thread.
#pragma once

#include "engine/Bitmap.h"
#include "engine/FFApi.h"
#include "engine/FFUtils.h"
#include "engine/Previewer.h"

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace cw {

class TCustomFFmpeg;
class TJobPipeline;
class TTranscoderOptions;
struct TInputStream;

// What a video hook handler receives and may change: the picture as a bitmap, the frame
// number (from 1) and its time (µs); Update (true on entry) copies the bitmap back into the
// picture afterwards, StopHook (false on entry) ends the calls of that hook for the job.
struct TJobHookFrame {
    TBitmap* Bitmap = nullptr;
    int64_t FrameNumber = 0;
    int64_t PTS = 0;
    bool Update = true;
    bool StopHook = false;
};
using TJobVideoHookCallback = std::function<void(TCustomFFmpeg* job, TJobHookFrame& frame)>;
// Decoded audio as interleaved samples: time stamp (µs), the samples (the handler may change
// them in place), their size in bytes, rate, channels and sample format (AVSampleFormat).
using TJobAudioHookCallback =
    std::function<void(TCustomFFmpeg* job, int64_t pts, uint8_t* samples, int size, int sampleRate,
                       int channels, int sampleFormat)>;
using TJobPreviewCallback = std::function<void(TCustomFFmpeg* job, const TBitmap& bitmap,
                                               int64_t frameNumber, int64_t pts)>;

// Bits of the preview flags.
constexpr int PreviewWindowFlag = 1;
constexpr int PreviewBitmapFlag = 2;

// The process-wide lock around preview flags and the making of one preview picture.
std::mutex& PreviewLock();

// What the hooks read: the option record (the hook switches and the frame hooks), the clocks
// of the input streams as the output side sees them, the owner's handlers with the job they
// are called for, and the preview interval.
struct TJobHooksContext {
    const TTranscoderOptions& Options;
    const TJobPipeline& Pipe;
    TCustomFFmpeg* Sender; // handed to the handlers as their first argument, nothing more
    const TJobVideoHookCallback& OnVideoInputHook;
    const TJobVideoHookCallback& OnVideoOutputHook;
    const TJobAudioHookCallback& OnAudioHook;
    const TJobPreviewCallback& OnPreviewBitmap;
    const int64_t& PreviewIntervalUs;
};

class TJobHooks {
public:
    explicit TJobHooks(const TJobHooksContext& context) : Ctx(context) {}

    // See TCustomFFmpeg::SetPreviewFlags.
    void SetPreviewFlags(int flags);
    int PreviewFlags() const;
    // Hooks of one decoded picture: the video input hook and the frame hooks.
    void PrepareVideoInput(TInputStream& ist, AVFrame* frame);
    void RunAudioHook(TInputStream& ist, AVFrame* frame);
    // The audio hook is switched on and has a handler.
    bool AudioHookOn() const;
    // A picture about to be encoded: the video output hook, then the preview.
    void PrepareVideoOutput(AVFrame* picture, int64_t frameNumber, int64_t pts);
    // A run starts: the hooks the output record switched on are called, the next picture is
    // previewed at once.
    void StartRun();
    // Lets go of the preview window and the audio hook's buffer (the job's files close).
    void Release();

    TFormatConverter InputHookConverter;
    TFormatConverter OutputHookConverter; // also makes the preview bitmaps

private:
    // Runs a video hook over the picture (which must be writable); false when the hook asked
    // to stop or failed, which removes it from the run.
    bool RunVideoHook(const TJobVideoHookCallback& handler, TFormatConverter& converter,
                      AVFrame* picture, int64_t frameNumber, int64_t pts, bool& converted);
    void Preview(AVFrame* picture, int64_t frameNumber, int64_t pts, bool converted);

    const TJobHooksContext Ctx;
    // A video hook asked to stop or failed: it is called no more in this run.
    bool InputHookStopped = false;
    bool OutputHookStopped = false;
    int PreviewFlagBits = 0; // guarded by the preview lock
    bool PreviewFlagsChanged = false;
    int64_t LastPreviewTime = INT64_MIN;
    std::shared_ptr<TPreviewer> Previewer; // shared with a frame being shown
    std::vector<uint8_t> AudioHookBuffer;  // planar samples interleaved for the audio hook
};

} // namespace cw
