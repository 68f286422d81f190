// What the application sees of a running task through the encoder component: the video
// output and input hooks (a painted square reaches the written pictures, StopHook ends the
// calls, a throwing handler is logged and the run goes on), the audio hook (its changes reach
// the written sound), the preview bitmap (on the main thread, spaced by the preview interval)
// and the preview window interface.
#include "TranscoderTestSupport.h"

#include "base/MainThread.h"
#include "engine/FFEncoder.h"
#include "engine/Previewer.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

using namespace cw;
using namespace cw::test;

namespace {

using Clock = std::chrono::steady_clock;

// The painted square, inside 160x120 pictures.
constexpr int SquareLeft = 20, SquareTop = 20, SquareSize = 40;
const TRgb SquareColour{250, 250, 20};

void PaintSquare(TBitmap& bitmap) {
    const int bytes = TBitmap::BytesPerPixel(bitmap.BitsPixel());
    for (int y = SquareTop; y < SquareTop + SquareSize; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = SquareLeft; x < SquareLeft + SquareSize; ++x) {
            row[x * bytes] = static_cast<uint8_t>(SquareColour.B);
            row[x * bytes + 1] = static_cast<uint8_t>(SquareColour.G);
            row[x * bytes + 2] = static_cast<uint8_t>(SquareColour.R);
        }
    }
}

TRgb PixelAt(const TBitmap& bitmap, int x, int y) {
    const int bytes = TBitmap::BytesPerPixel(bitmap.BitsPixel());
    const uint8_t* pixel = bitmap.ScanLine(y) + x * bytes;
    return {pixel[2], pixel[1], pixel[0]};
}

// Per written picture, in display order: its time and whether the square is in it (the
// picture outside the square must show the source's colour of that time).
struct TPictureCheck {
    double Time;
    bool Square;
};

std::vector<TPictureCheck> ReadSquares(const std::string& path) {
    std::vector<TPictureCheck> result;
    TFFDecoder decoder;
    EXPECT_TRUE(decoder.LoadFile(path)) << path;
    while (decoder.Decode(-1)) {
        TBitmap bitmap;
        EXPECT_TRUE(decoder.CopyToBitmap(bitmap));
        const double t = static_cast<double>(decoder.FrameTime()) / 1e6;
        const TRgb outside = PixelAt(bitmap, 120, 90);
        const double inSecond = t - std::floor(t);
        if (inSecond > 0.05 && inSecond < 0.95) {
            EXPECT_TRUE(ColourNear(outside, FixtureColourAt(t)))
                << "picture at " << t << ": " << outside.R << "," << outside.G << "," << outside.B;
        }
        const TRgb inside =
            PixelAt(bitmap, SquareLeft + SquareSize / 2, SquareTop + SquareSize / 2);
        result.push_back({t, ColourNear(inside, SquareColour)});
    }
    return result;
}

class HooksTest : public TranscoderTest {
protected:
    void SetUp() override {
        TranscoderTest::SetUp();
        Previous = SetMainThreadDispatcher(&Dispatcher);
    }
    void TearDown() override {
        SetMainThreadDispatcher(Previous);
        TranscoderTest::TearDown();
    }

    static const TFixture& Clip(double seconds = 3, int rate = 10) {
        TFixtureParams p;
        p.Seconds = seconds;
        p.FrameRateNum = rate;
        return Source(fkAviMpeg4Mp3, p);
    }

    // One task from source to out, run inside StartTask (no threads); returns its outcome.
    TTerminateInfo Convert(TFFEncoder& encoder, const std::string& source, const std::string& out,
                           TOutputOptions options, const TInputOptions* input = nullptr) {
        TTerminateInfo outcome;
        encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
            if (info.TaskIndex == 0)
                outcome = info;
        };
        const int task = encoder.AddTask(source, input);
        EXPECT_EQ(task, 0) << encoder.LastErrMsg();
        options.FileName = out;
        EXPECT_TRUE(encoder.SetOutputFile(task, out, &options)) << encoder.LastErrMsg();
        encoder.StartTask(0);
        return outcome;
    }

    static TOutputOptions VideoOnly() {
        TOutputOptions options;
        options.DisableAudio = true;
        options.ExtOptions = "qscale=3";
        return options;
    }

    TQueueDispatcher Dispatcher;
    IMainThreadDispatcher* Previous = nullptr;
};

TEST_F(HooksTest, OutputHookPaintsEveryPictureUntilItAsksToStop) {
    for (int bitsPixel : {24, 32}) {
        SCOPED_TRACE(bitsPixel);
        TFFEncoder encoder;
        std::vector<int> frameNumbers;
        std::vector<int64_t> times;
        const int stopAt = bitsPixel == 24 ? 0 : 12; // 0: never
        encoder.OnVideoOutputHook = [&](TFFEncoder*, PHookInfo info) {
            EXPECT_EQ(info->TaskIndex, 0);
            EXPECT_TRUE(info->Update);
            EXPECT_FALSE(info->StopHook);
            ASSERT_EQ(info->Bitmap->Width(), 160);
            ASSERT_EQ(info->Bitmap->Height(), 120);
            ASSERT_EQ(info->Bitmap->BitsPixel(), bitsPixel);
            // The bitmap holds the picture being written.
            const TRgb seen = PixelAt(*info->Bitmap, 120, 90);
            const double t = static_cast<double>(info->PTS) / 1e6;
            if (t - std::floor(t) > 0.05) {
                EXPECT_TRUE(ColourNear(seen, FixtureColourAt(t))) << t;
            }
            frameNumbers.push_back(info->FrameNumber);
            times.push_back(info->PTS);
            PaintSquare(*info->Bitmap);
            info->StopHook = static_cast<int>(frameNumbers.size()) == stopAt;
        };
        TOutputOptions options = VideoOnly();
        options.VideoOutputHook = true;
        options.HookBitsPixel = bitsPixel;
        const std::string out = Out("square" + std::to_string(bitsPixel) + ".avi");
        TTerminateInfo outcome = Convert(encoder, Clip().Path, out, options);
        EXPECT_TRUE(outcome.Finished);
        EXPECT_FALSE(outcome.Failed) << outcome.ErrorMessage;

        const size_t expectedCalls = stopAt ? size_t(stopAt) : 30;
        ASSERT_EQ(frameNumbers.size(), expectedCalls);
        for (size_t i = 0; i < frameNumbers.size(); ++i) {
            EXPECT_EQ(frameNumbers[i], int(i) + 1);
            EXPECT_NEAR(double(times[i]), i * 100000.0, 1000.0);
        }
        std::vector<TPictureCheck> pictures = ReadSquares(out);
        ASSERT_EQ(pictures.size(), 30u);
        for (size_t i = 0; i < pictures.size(); ++i)
            EXPECT_EQ(pictures[i].Square, i < expectedCalls) << "picture " << i;
    }
}

TEST_F(HooksTest, ThrowingOutputHookIsLoggedAndTheRunFinishes) {
    TFFEncoder encoder;
    int calls = 0;
    encoder.OnVideoOutputHook = [&](TFFEncoder*, PHookInfo info) {
        ++calls;
        PaintSquare(*info->Bitmap); // painted, but the error counts as no update
        throw std::runtime_error("no paint left");
    };
    TOutputOptions options = VideoOnly();
    options.VideoOutputHook = true;
    TTerminateInfo outcome = Convert(encoder, Clip().Path, Out("thrown.avi"), options);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Failed) << outcome.ErrorMessage;
    EXPECT_EQ(calls, 30); // a failing handler is still called for every picture
    EXPECT_TRUE(Logged("Error occurs VideoHook event: no paint left"));
    std::vector<TPictureCheck> pictures = ReadSquares(Out("thrown.avi"));
    ASSERT_EQ(pictures.size(), 30u);
    for (const TPictureCheck& picture : pictures)
        EXPECT_FALSE(picture.Square) << picture.Time;
}

TEST_F(HooksTest, InputHookSeesDecodedPicturesAndAudioHookChangesTheSound) {
    TFFEncoder encoder;
    std::vector<int> inputFrames;
    encoder.OnVideoInputHook = [&](TFFEncoder*, PHookInfo info) {
        inputFrames.push_back(info->FrameNumber);
        // Only the pictures of the first second get the square.
        info->Update = info->PTS < 950000;
        PaintSquare(*info->Bitmap);
    };
    int64_t hookedSamples = 0;
    int rate = 0, channels = 0, format = -1;
    encoder.OnAudioHook = [&](TFFEncoder*, int taskIndex, int64_t pts, uint8_t* samples, int size,
                              int sampleRate, int channelCount, int sampleFormat) {
        EXPECT_EQ(taskIndex, 0);
        rate = sampleRate;
        channels = channelCount;
        format = sampleFormat;
        const int bytes = ff::av_get_bytes_per_sample(static_cast<AVSampleFormat>(sampleFormat));
        ASSERT_GT(bytes, 0);
        hookedSamples += size / (bytes * channelCount);
        // Silence from 1 s on.
        if (pts >= 1000000)
            std::fill(samples, samples + size, uint8_t(0));
    };
    TOutputOptions options;
    options.VideoInputHook = true;
    options.AudioHook = true;
    options.AudioCodec = "pcm_s16le";
    options.ExtOptions = "qscale=3";
    const TFixture& source = Clip();
    TTerminateInfo outcome = Convert(encoder, source.Path, Out("input.avi"), options);
    EXPECT_TRUE(outcome.Finished);
    EXPECT_FALSE(outcome.Failed) << outcome.ErrorMessage;

    ASSERT_EQ(inputFrames.size(), 30u);
    for (size_t i = 0; i < inputFrames.size(); ++i)
        EXPECT_EQ(inputFrames[i], int(i) + 1);
    std::vector<TPictureCheck> pictures = ReadSquares(Out("input.avi"));
    ASSERT_EQ(pictures.size(), 30u);
    for (const TPictureCheck& picture : pictures)
        EXPECT_EQ(picture.Square, picture.Time < 0.95) << picture.Time;

    // The decoded sound, interleaved, every sample of it.
    const TFixtureStream* audio = source.FirstOf(AVMEDIA_TYPE_AUDIO);
    EXPECT_EQ(rate, audio->SampleRate);
    EXPECT_EQ(channels, audio->Channels);
    EXPECT_FALSE(ff::av_sample_fmt_is_planar(static_cast<AVSampleFormat>(format)));
    EXPECT_NEAR(double(hookedSamples), double(audio->Samples), 3.0 * audio->FrameSize);
    TScan scan = ScanMedia(Out("input.avi"), true);
    const TScannedStream* written = scan.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(written, nullptr);
    auto loudest = [&](double from, double to) {
        int peak = 0;
        for (size_t i = size_t(from * written->SampleRate);
             i < size_t(to * written->SampleRate) && i < written->FirstChannel.size(); ++i)
            peak = std::max(peak, std::abs(int(written->FirstChannel[i])));
        return peak;
    };
    EXPECT_GT(loudest(0.1, 0.9), 5000);
    EXPECT_LT(loudest(1.1, 2.9), 100);
}

TEST_F(HooksTest, PreviewBitmapsReachTheMainThreadAtMostEveryInterval) {
    TFFEncoder encoder;
    encoder.SetPreviewBitmap(true);
    struct TShown {
        int FrameNumber;
        int64_t Pts;
        Clock::time_point At;
        bool OnMain;
        bool ColourRight;
    };
    std::mutex lock;
    std::vector<TShown> shown;
    encoder.OnPreviewBitmap = [&](TFFEncoder*, const TPreviewInfo& info) {
        const double t = static_cast<double>(info.PTS) / 1e6;
        const bool nearChange = t - std::floor(t) < 0.05 || t - std::floor(t) > 0.95;
        const bool colourRight =
            nearChange || ColourNear(PixelAt(*info.Bitmap, 80, 60), FixtureColourAt(t));
        std::lock_guard<std::mutex> guard(lock);
        shown.push_back({info.FrameNumber, info.PTS, Clock::now(), IsMainThread(), colourRight});
    };
    bool over = false;
    encoder.OnTerminate = [&](TFFEncoder*, const TTerminateInfo& info) {
        std::lock_guard<std::mutex> guard(lock);
        over = over || info.TaskIndex == -1;
    };
    // Read at the source's own pace: 25 pictures a second for 2 s.
    TInputOptions input;
    input.ExtOptions = "re=1";
    ASSERT_EQ(encoder.AddTask(Clip(2, 25).Path, &input), 0) << encoder.LastErrMsg();
    TOutputOptions options = VideoOnly();
    ASSERT_TRUE(encoder.SetOutputFile(0, Out("preview.avi"), &options)) << encoder.LastErrMsg();
    const Clock::time_point start = Clock::now();
    encoder.StartTask(1);
    ASSERT_TRUE(WaitServing(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            return over;
        },
        std::chrono::seconds(60)));
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    std::lock_guard<std::mutex> guard(lock);
    ASSERT_GE(shown.size(), 5u);
    EXPECT_LE(double(shown.size()), elapsedMs / 100.0 + 1);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(shown[i].OnMain);
        EXPECT_TRUE(shown[i].ColourRight) << "frame " << shown[i].FrameNumber;
        if (i == 0)
            continue;
        EXPECT_GT(shown[i].FrameNumber, shown[i - 1].FrameNumber);
        EXPECT_GT(shown[i].Pts, shown[i - 1].Pts);
        // At 25 pictures a second, every picture shown would be 40 ms apart.
        const double gapMs =
            std::chrono::duration<double, std::milli>(shown[i].At - shown[i - 1].At).count();
        EXPECT_GE(gapMs, 60.0);
    }
}

// A preview window that shows frames until the user closes it.
class TRecordingPreviewer : public TPreviewer {
public:
    explicit TRecordingPreviewer(std::vector<int64_t>* frames) : Frames(frames) {}
    bool ShowFrame(const TBitmap& bitmap, int64_t frameNumber, int64_t) override {
        EXPECT_EQ(bitmap.Width(), 160);
        Frames->push_back(frameNumber);
        return Frames->size() < 3; // closed after the third frame
    }

private:
    std::vector<int64_t>* Frames;
};

TEST_F(HooksTest, PreviewWindowShowsFramesUntilItIsClosed) {
    std::vector<int64_t> frames;
    TPreviewerFactory previous =
        SetPreviewerFactory([&frames] { return std::make_unique<TRecordingPreviewer>(&frames); });
    TRecordedJob run;
    ASSERT_TRUE(run.Job->OpenInput(Clip().Path)) << run.Job->OpenError;
    run.Job->Options.SetOption("an", "1");
    ASSERT_EQ(run.Job->OpenOutput(Out("window.avi"), false), 1) << run.Job->OpenError;
    run.Job->PreviewIntervalUs = 0; // every picture
    run.Job->SetPreviewFlags(PreviewWindowFlag);
    run.Run();
    SetPreviewerFactory(previous);
    EXPECT_TRUE(run.Job->Finished);
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_EQ(frames, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(run.Job->PreviewFlags(), 0);
}

} // namespace
