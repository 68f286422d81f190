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

class TJobHooks {
public:
    explicit TJobHooks(TCustomFFmpeg& job) : Job(job) {}

    // See TCustomFFmpeg::SetPreviewFlags.
    void SetPreviewFlags(int flags);
    int PreviewFlags() const;
    // Hooks of one decoded picture: the video input hook and the frame hooks.
    void PrepareVideoInput(TInputStream& ist, AVFrame* frame);
    void RunAudioHook(TInputStream& ist, AVFrame* frame);
    // Runs a video hook over the picture (which must be writable); false when the hook asked
    // to stop or failed, which removes it from the job.
    bool RunVideoHook(TJobVideoHookCallback& handler, TFormatConverter& converter, AVFrame* picture,
                      int64_t frameNumber, int64_t pts, bool& converted);
    void Preview(AVFrame* picture, int64_t frameNumber, int64_t pts, bool converted);
    // A run starts: the next picture is previewed at once.
    void ResetPreviewTime() { LastPreviewTime = INT64_MIN; }
    // Lets go of the preview window and the audio hook's buffer (the job's files close).
    void Release();

    TFormatConverter InputHookConverter;
    TFormatConverter OutputHookConverter; // also makes the preview bitmaps

private:
    TCustomFFmpeg& Job;
    int PreviewFlagBits = 0; // guarded by the preview lock
    bool PreviewFlagsChanged = false;
    int64_t LastPreviewTime = INT64_MIN;
    std::shared_ptr<TPreviewer> Previewer; // shared with a frame being shown
    std::vector<uint8_t> AudioHookBuffer;  // planar samples interleaved for the audio hook
};

} // namespace cw
