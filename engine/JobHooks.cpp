// Hooks and preview of a job: the video input and output hooks, the frame hooks, the audio
// hook and the preview feed.
#include "engine/JobHooks.h"

#include "engine/FFUtils.h"
#include "engine/JobContext.h"
#include "engine/JobPipeline.h"
#include "engine/TranscoderOptions.h"
#include "engine/TranscoderStreams.h"

#include <climits>
#include <cstring>
#include <mutex>

namespace cw {

std::mutex& PreviewLock() {
    static std::mutex lock;
    return lock;
}

void TJobHooks::Release() {
    std::shared_ptr<TPreviewer> previewer;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        previewer = std::move(Previewer);
        PreviewFlagsChanged = true;
    }
    previewer.reset(); // outside the lock: the window may be closed on the main thread
    AudioHookBuffer.clear();
    AudioHookBuffer.shrink_to_fit();
}

void TJobHooks::SetPreviewFlags(int flags) {
    std::shared_ptr<TPreviewer> closed;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        PreviewFlagBits = flags & (PreviewWindowFlag | PreviewBitmapFlag);
        PreviewFlagsChanged = true;
        if (!(PreviewFlagBits & PreviewWindowFlag))
            closed = std::move(Previewer);
    }
    // The window goes away outside the lock: closing it may wait for the main thread.
}

int TJobHooks::PreviewFlags() const {
    std::lock_guard<std::mutex> guard(PreviewLock());
    return PreviewFlagBits;
}

void TJobHooks::StartRun() {
    InputHookStopped = OutputHookStopped = false;
    LastPreviewTime = INT64_MIN;
}

bool TJobHooks::AudioHookOn() const {
    return Ctx.Options.AudioHook && Ctx.OnAudioHook;
}

void TJobHooks::PrepareVideoOutput(AVFrame* picture, int64_t frameNumber, int64_t pts) {
    bool converted = false;
    if (Ctx.Options.VideoOutputHook && !OutputHookStopped && Ctx.OnVideoOutputHook) {
        // The hook paints into the picture: it must not share its memory with the
        // decoder's reference pictures or with a picture the encoder still holds.
        if (ff::av_frame_make_writable(picture) < 0)
            LogV(llError, "hook buf malloc error.");
        else if (!RunVideoHook(Ctx.OnVideoOutputHook, OutputHookConverter, picture, frameNumber,
                               pts, converted))
            OutputHookStopped = true;
    }
    Preview(picture, frameNumber, pts, converted);
}

void TJobHooks::PrepareVideoInput(TInputStream& ist, AVFrame* frame) {
    const bool inputHook = Ctx.Options.VideoInputHook && !InputHookStopped && Ctx.OnVideoInputHook;
    const bool frameHooks = Ctx.Options.UsingVhook && !Ctx.Options.FrameHooks.Empty();
    if (!inputHook && !frameHooks)
        return;
    // The hooks work on a picture of their own, not on the decoder's reference pictures.
    if (ff::av_frame_make_writable(frame) < 0) {
        LogV(llError, "hook buf malloc error.");
        return;
    }
    bool converted = false;
    if (inputHook && !RunVideoHook(Ctx.OnVideoInputHook, InputHookConverter, frame,
                                   Ctx.Pipe.OutDecodedFrames(ist), Ctx.Pipe.OutPts(ist), converted))
        InputHookStopped = true;
    if (frameHooks) {
        TPicture picture = PictureOf(frame);
        RunFrameHooks(Ctx.Options.FrameHooks, picture, frame->format, frame->width, frame->height,
                      Ctx.Pipe.OutPts(ist));
    }
}

bool TJobHooks::RunVideoHook(const TJobVideoHookCallback& handler, TFormatConverter& converter,
                             AVFrame* picture, int64_t frameNumber, int64_t pts, bool& converted) {
    const auto format = static_cast<AVPixelFormat>(picture->format);
    const int width = picture->width;
    const int height = picture->height;
    const TPicture planes = PictureOf(picture);
    if (!converter.ToRGB(planes, format, true, height, width)) {
        LogV(llError, converter.LastError());
        return false;
    }
    converted = true;
    TBitmap& bitmap = converter.Bitmap();
    const int bitsPixel = bitmap.BitsPixel();
    TJobHookFrame frame{&bitmap, frameNumber, pts, true, false};
    try {
        handler(Ctx.Sender, frame);
    } catch (const std::exception& e) {
        LogV(llError, std::string("Error occurs VideoHook event: ") + e.what());
        frame.Update = false;
    } catch (...) {
        LogV(llError, "Error occurs VideoHook event: Unknown error");
        frame.Update = false;
    }
    // A bitmap of another shape cannot go back into the picture.
    if (frame.Update &&
        (bitmap.Width() != width || bitmap.Height() != height || bitmap.BitsPixel() != bitsPixel)) {
        LogV(llError, "Error occurs VideoHook event: the bitmap's size or depth was changed");
        frame.Update = false;
        converted = false;
    }
    if (frame.Update) {
        converter.BitmapToPicture();
        if (converter.WorkedOnCopy() && !converter.FromRGB(planes, format, height, width)) {
            LogV(llError, converter.LastError());
            frame.StopHook = true;
        }
    }
    return !frame.StopHook;
}

void TJobHooks::Preview(AVFrame* picture, int64_t frameNumber, int64_t pts, bool converted) {
    bool deliverBitmap = false;
    std::shared_ptr<TPreviewer> previewer;
    {
        std::lock_guard<std::mutex> guard(PreviewLock());
        const int flags = PreviewFlagBits;
        if (!flags)
            return;
        const int64_t now = ff::av_gettime();
        if (!PreviewFlagsChanged && LastPreviewTime != INT64_MIN &&
            now - LastPreviewTime < Ctx.PreviewIntervalUs)
            return;
        const bool changed = PreviewFlagsChanged;
        PreviewFlagsChanged = false;
        LastPreviewTime = now;
        int flag = 0;
        if ((flags & PreviewBitmapFlag) && Ctx.OnPreviewBitmap) {
            deliverBitmap = true;
            flag = PreviewBitmapFlag;
        } else if (flags & PreviewWindowFlag) {
            flag = PreviewWindowFlag;
        } else {
            return;
        }
        if (!converted || changed) {
            TFormatConverter& converter = OutputHookConverter;
            if (!converter.ToRGB(PictureOf(picture), static_cast<AVPixelFormat>(picture->format),
                                 true, picture->height, picture->width)) {
                LogV(llError, converter.LastError());
                PreviewFlagBits &= ~flag;
                return;
            }
        }
        if (!deliverBitmap) {
            if (!Previewer)
                Previewer = CreatePreviewer();
            previewer = Previewer;
        }
    }
    // Delivered outside the lock: the owner may hand the picture to the main thread and wait,
    // while the main thread changes the flags.
    const TBitmap& bitmap = OutputHookConverter.Bitmap();
    if (deliverBitmap) {
        Ctx.OnPreviewBitmap(Ctx.Sender, bitmap, frameNumber, pts);
    } else if (!previewer->ShowFrame(bitmap, frameNumber, pts)) {
        std::lock_guard<std::mutex> guard(PreviewLock());
        PreviewFlagBits &= ~PreviewWindowFlag;
    }
}

void TJobHooks::RunAudioHook(TInputStream& ist, AVFrame* frame) {
    if (!AudioHookOn() || frame->nb_samples <= 0)
        return;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = ff::av_get_bytes_per_sample(format);
    if (channels <= 0 || bytes <= 0 || ff::av_frame_make_writable(frame) < 0)
        return;
    const size_t size = static_cast<size_t>(frame->nb_samples) * channels * bytes;
    // The handler sees the samples one after the other, channel by channel; planar samples
    // are interleaved for it and its changes are taken back.
    const bool planar = ff::av_sample_fmt_is_planar(format) && channels > 1;
    uint8_t* samples = frame->extended_data[0];
    if (planar) {
        AudioHookBuffer.resize(size);
        for (int n = 0; n < frame->nb_samples; ++n)
            for (int c = 0; c < channels; ++c)
                std::memcpy(&AudioHookBuffer[(static_cast<size_t>(n) * channels + c) * bytes],
                            frame->extended_data[c] + static_cast<size_t>(n) * bytes, bytes);
        samples = AudioHookBuffer.data();
    }
    try {
        Ctx.OnAudioHook(Ctx.Sender, Ctx.Pipe.OutPts(ist), samples, static_cast<int>(size),
                        frame->sample_rate, channels, ff::av_get_packed_sample_fmt(format));
    } catch (const std::exception& e) {
        LogV(llError, std::string("Error occurs AudioHook event: ") + e.what());
        return;
    } catch (...) {
        LogV(llError, "Error occurs AudioHook event: Unknown error");
        return;
    }
    if (planar)
        for (int n = 0; n < frame->nb_samples; ++n)
            for (int c = 0; c < channels; ++c)
                std::memcpy(frame->extended_data[c] + static_cast<size_t>(n) * bytes,
                            &AudioHookBuffer[(static_cast<size_t>(n) * channels + c) * bytes],
                            bytes);
}

} // namespace cw
