// The read loop on an input thread of its own against the serial loop: the same bytes in
// the outputs, the same errors from either side, and a stop that still finishes the output.
#include "TranscoderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace cw;
using namespace cw::test;

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const char* const PipelineLine = "Reading and decoding on a thread of their own";

class PipelineTest : public TranscoderTest {
protected:
    struct TResult {
        bool Failed = false;
        std::string Error;
        std::string Output;
        bool Pipelined = false;
    };
    // One run of the job on this thread, with one codec thread so that encoders are exact.
    TResult Convert(const std::string& input, const std::string& out, const TOptions& options,
                    bool serial, const std::function<void(TCustomFFmpeg&)>& prepare = {}) {
        TRecordedJob run;
        run.Job->SerialLoop = serial;
        if (prepare)
            prepare(*run.Job);
        EXPECT_TRUE(run.Job->OpenInput(input)) << run.Job->OpenError;
        run.Job->Options.SetOption("threads", "1");
        for (const auto& [name, value] : options)
            run.Job->Options.SetOption(name, value);
        EXPECT_EQ(run.Job->OpenOutput(out, false), 1) << run.Job->OpenError;
        const size_t before = LogLines().size();
        run.Run();
        EXPECT_EQ(run.Terminations, 1);
        const auto lines = LogLines();
        TResult result{run.Job->Failed, run.Job->ErrorMessage,
                       std::filesystem::is_regular_file(out) ? Bytes(out) : "", false};
        for (size_t i = before; i < lines.size(); ++i)
            result.Pipelined = result.Pipelined || lines[i].find(PipelineLine) != std::string::npos;
        return result;
    }
};

TEST_F(PipelineTest, PipelinedAndSerialJobsWriteTheSameBytes) {
    // Sources beside the generated kinds: pictures without sound and sound without pictures
    // (an output that needs both gets a made-up track), a clock that jumps 40 s on at 1.5 s,
    // and subtitles.
    const std::string picturesOnly = Out("pictures-only.mp4");
    RemuxFixture(Source(fkMp4H264Aac, Clip(2)), picturesOnly, {.DropAudio = true});
    const std::string soundOnly = Out("sound-only.mp4");
    RemuxFixture(Source(fkMp4H264Aac, Clip(2)), soundOnly, {.DropVideo = true});
    const std::string jumped = Out("jumped.mkv");
    RemuxFixture(Source(fkMp4H264Aac, Clip(3)), jumped, {.JumpAt = 1.5, .JumpBy = 40});
    const std::string subtitled = Out("subtitled.mkv");
    WriteSubtitledMkv(subtitled, Clip(2));
    // The sound hook silences the second half; it runs on the job's own thread, pipeline or
    // not.
    const std::thread::id jobThread = std::this_thread::get_id();
    int hookCalls = 0;
    const auto audioHook = [&](TCustomFFmpeg& job) {
        job.Options.AudioHook = true;
        job.OnAudioHook = [&](TCustomFFmpeg*, int64_t pts, uint8_t* samples, int size, int, int,
                              int) {
            ++hookCalls;
            EXPECT_EQ(std::this_thread::get_id(), jobThread);
            if (pts >= 1000000)
                std::fill(samples, samples + size, uint8_t(0));
        };
    };
    struct TCase {
        const char* Name;
        TFixtureKind Kind;
        TOptions Options;
        bool Pipelined;    // whether the job can take the pipeline at all
        std::string Input; // instead of the generated kind
        std::function<void(TCustomFFmpeg&)> Prepare;
    };
    // clang-format off
    const TCase cases[] = {
        {"mpeg4-mp3.avi", fkAviMpeg4Mp3, {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}}, true, {}, {}},
        {"h264-aac.mp4", fkMp4H264Aac, {{"vcodec", "libx264"}, {"acodec", "aac"}}, true, {}, {}},
        // The filter graph sets the picture times the sync reads; the input side does not.
        {"scaled-deinterlaced.flv", fkMp4H264Aac, {{"s", "96x72"}, {"deinterlace", "1"}}, true, {}, {}},
        {"slowed.avi", fkAviMpeg4Mp3, {{"vf", "setpts=2*PTS"}}, true, {}, {}},
        {"cut.wmv", fkAviMpeg4Mp3, {{"ss", "0.5"}, {"t", "1"}}, true, {}, {}},
        {"copied.avi", fkMp4H264Aac, {{"vcodec", "copy"}, {"acodec", "copy"}}, true, {}, {}},
        {"second-audio-louder.mp3", fkMkvTwoAudio, {{"vn", "1"}, {"vol", "400"}}, true, {}, {}},
        // Timestamp repairs of a transport stream stay on one thread; with the input's own
        // times kept there is none.
        {"from-ts.mpg", fkMpegTs, {}, false, {}, {}},
        {"from-ts-own-times.mpg", fkMpegTs, {{"copyts", "1"}}, true, {}, {}},
        // Limits of size and frames count what the output side wrote: one thread.
        {"size-limit.avi", fkAviMpeg4Mp3, {{"fs", "60000"}}, false, {}, {}},
        {"picture-limit.avi", fkAviMpeg4Mp3, {{"vframes", "12"}}, false, {}, {}},
        {"sound-limit.avi", fkAviMpeg4Mp3, {{"aframes", "20"}}, false, {}, {}},
        {"data-limit.avi", fkAviMpeg4Mp3, {{"dframes", "5"}}, false, {}, {}},
        // Reading at the input's own pace.
        {"real-time.avi", fkAviMpeg4Mp3, {{"re", "1"}, {"t", "0.4"}}, false, {}, {}},
        // Decoded subtitles stay on one thread.
        {"subtitles-encoded.srt", fkAviMpeg4Mp3, {{"vn", "1"}, {"an", "1"}}, false, subtitled, {}},
        // Made-up tracks: silence beside the pictures, black pictures beside the sound.
        {"silence-filled.mp4", fkAviMpeg4Mp3, {{"f", "psp"}}, true, picturesOnly, {}},
        {"pictures-filled.mp4", fkAviMpeg4Mp3, {{"f", "psp"}, {"s", "96x72"}}, true, soundOnly, {}},
        {"audio-hook.avi", fkAviMpeg4Mp3, {{"acodec", "pcm_s16le"}}, true, {}, audioHook},
        // A clock that jumps: taken out of both streams, at another rate and with sync by
        // silence too.
        {"jump.avi", fkAviMpeg4Mp3, {{"acodec", "pcm_s16le"}}, true, jumped, {}},
        {"jump-10fps.avi", fkAviMpeg4Mp3, {{"r", "10"}}, true, jumped, {}},
        {"jump-async.avi", fkAviMpeg4Mp3, {{"async", "1"}}, true, jumped, {}},
    };
    // clang-format on
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string input = c.Input.empty() ? Source(c.Kind, Clip(2)).Path : c.Input;
        hookCalls = 0;
        const TResult serial =
            Convert(input, Out(std::string("serial-") + c.Name), c.Options, true, c.Prepare);
        const int serialHookCalls = hookCalls;
        hookCalls = 0;
        const TResult piped =
            Convert(input, Out(std::string("piped-") + c.Name), c.Options, false, c.Prepare);
        ASSERT_FALSE(serial.Failed) << serial.Error;
        ASSERT_FALSE(piped.Failed) << piped.Error;
        EXPECT_FALSE(serial.Pipelined);
        EXPECT_EQ(piped.Pipelined, c.Pipelined);
        // A subtitle file is a few lines; the others hold pictures or sound.
        EXPECT_GT(serial.Output.size(), std::string(c.Name).ends_with(".srt") ? 40u : 1000u);
        EXPECT_TRUE(serial.Output == piped.Output)
            << serial.Output.size() << " bytes serial, " << piped.Output.size() << " pipelined";
        EXPECT_EQ(hookCalls, serialHookCalls);
        if (c.Prepare) {
            EXPECT_GT(hookCalls, 0);
        }
    }
}

TEST_F(PipelineTest, ErrorsOfEitherSideEndTheJobWithTheSerialText) {
    // A decoding error raised by the input side ("xerror" on a damaged clip), a resampling
    // error raised on the audio lane (a drift compensation too large for any buffer), and a
    // write error raised by the output side.
    const std::string clean = Source(fkAviMpeg4Mp3, Clip(3)).Path;
    std::string bytes = Bytes(clean);
    for (size_t i = bytes.size() * 4 / 10; i < bytes.size() * 5 / 10; i += 7)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    const std::string garbled = Out("garbled.avi");
    std::ofstream(garbled, std::ios::binary) << bytes;
    struct TCase {
        const char* Name;
        std::string Input;
        TOptions Options;
        std::string Output;
        const char* Error;
    };
    const TCase cases[] = {
        {"decoding",
         garbled,
         {{"xerror", "1"}},
         Out("strict.mp4"),
         "Error while decoding stream #0."},
        {"sound",
         clean,
         {{"ar", "48000"}, {"async", "300000000"}},
         Out("drift.mp4"),
         "Buffer sizes too large in do_audio_out"},
        {"writing", clean, {{"f", "avi"}}, "/dev/full", "No space left on device"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TResult serial = Convert(c.Input, c.Output, c.Options, true);
        const TResult piped = Convert(c.Input, c.Output, c.Options, false);
        EXPECT_TRUE(serial.Failed);
        EXPECT_TRUE(piped.Failed);
        EXPECT_TRUE(piped.Pipelined);
        EXPECT_NE(serial.Error.find(c.Error), std::string::npos) << serial.Error;
        EXPECT_EQ(piped.Error, serial.Error);
    }
}

TEST_F(PipelineTest, AStopMidRunEndsBothSidesAndFinishesTheOutput) {
    const TFixture& source = Source(fkAviMpeg4Mp3, Clip(4));
    TRecordedJob run;
    run.Job->ProgressIntervalUs = 0;
    // The stop is asked for from the job's own progress handler, once a second is written.
    run.Job->OnProgress = [&](TCustomFFmpeg* job, const TJobProgress& progress) {
        if (progress.CurrentDuration >= 1000000)
            job->RequestStop(false);
    };
    ASSERT_TRUE(run.Job->OpenInput(source.Path));
    const std::string out = Out("stopped.avi");
    ASSERT_EQ(run.Job->OpenOutput(out, false), 1);
    TConvertThread* worker = run.Job->Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    for (int i = 0; i < 1000 && run.Terminations == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(run.Terminations, 1);
    EXPECT_FALSE(run.Job->Finished);
    EXPECT_FALSE(run.Job->Failed) << run.Job->ErrorMessage;
    EXPECT_TRUE(Logged(PipelineLine));
    // The trailer is written: the partial file opens, plays and is shorter than the source.
    const TScan scan = ScanMedia(out);
    ASSERT_EQ(scan.Error, "");
    const TScannedStream* video = scan.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(video);
    EXPECT_GE(video->Frames, 25);
    EXPECT_LT(video->Frames, source.FirstOf(AVMEDIA_TYPE_VIDEO)->Frames - 25);
    run.Job->Stop(true);
}

} // namespace
